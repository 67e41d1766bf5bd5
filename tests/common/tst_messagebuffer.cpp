#include "Common/MessageBuffer.h"

#include <QtTest>

using namespace gemvolt::common;

class TestMessageBuffer : public QObject {
    Q_OBJECT
private slots:
    void rawValuesAreLittleEndianAndReadBackByWidth() {
        Bytes buffer{9, 9, 9};
        std::size_t pos = Begin(buffer);
        QCOMPARE(pos, std::size_t(0));
        QVERIFY(buffer.empty());

        PutRaw(buffer, 0xAB, 1, pos);
        PutRaw(buffer, -2, 2, pos);
        PutRaw(buffer, 0x12345678, 4, pos);
        PutRaw(buffer, std::int64_t{-2147483647} - 1, 4, pos);
        QCOMPARE(pos, std::size_t(11));
        const Bytes expected{0xAB, 0xFE, 0xFF, 0x78, 0x56, 0x34, 0x12, 0x00, 0x00, 0x00, 0x80};
        QVERIFY(buffer == expected);

        // u8 reads unsigned, i16 and i32 signed, as the wire fields are.
        std::size_t at = 0;
        QCOMPARE(GetRaw(buffer, 1, at), std::optional<std::int32_t>(0xAB));
        QCOMPARE(GetRaw(buffer, 2, at), std::optional<std::int32_t>(-2));
        QCOMPARE(GetRaw(buffer, 4, at), std::optional<std::int32_t>(0x12345678));
        QCOMPARE(GetRaw(buffer, 4, at), std::optional<std::int32_t>(-2147483647 - 1));
        QCOMPARE(at, pos);
    }

    void stringsCarryTheirLength() {
        Bytes buffer;
        std::size_t pos = Begin(buffer);
        const std::string line = "Ann:>hi, all\r\nzweite Zeile \xC3\xA4\xE2\x82\xAC";
        PutString(buffer, "", pos);
        PutString(buffer, line, pos);
        PutRaw(buffer, 7, 1, pos);
        QCOMPARE(buffer.size(), 4 + 4 + line.size() + 1);
        QVERIFY((Bytes(buffer.begin(), buffer.begin() + 4) == Bytes{0, 0, 0, 0}));
        QCOMPARE(int(buffer[4]), int(line.size()));

        std::size_t at = 0;
        QCOMPARE(GetString(buffer, at), std::optional<std::string>(""));
        QCOMPARE(at, std::size_t(4));
        QCOMPARE(GetString(buffer, at), std::optional<std::string>(line));
        QCOMPARE(GetRaw(buffer, 1, at), std::optional<std::int32_t>(7));
        QCOMPARE(at, buffer.size());
    }

    void readsPastTheEndFailAndLeaveThePosition() {
        const Bytes bytes{1, 2, 3};
        std::size_t at = 2;
        QVERIFY(!GetRaw(bytes, 2, at));
        QVERIFY(!GetRaw(bytes, 4, at));
        QVERIFY(!GetRaw(bytes, 3, at)); // not a field width
        QCOMPARE(at, std::size_t(2));
        at = 7; // a position already beyond the end
        QVERIFY(!GetRaw(bytes, 1, at));
        QVERIFY(!GetString(bytes, at));
        QCOMPARE(at, std::size_t(7));

        // A count running past the end, the largest count, and a cut count.
        const Bytes shortText{5, 0, 0, 0, 'a', 'b'};
        const Bytes hugeCount{0xFF, 0xFF, 0xFF, 0xFF, 'a'};
        const Bytes cutCount{1, 0, 0};
        for (const Bytes& b : {shortText, hugeCount, cutCount}) {
            std::size_t p = 0;
            QVERIFY(!GetString(b, p));
            QCOMPARE(p, std::size_t(0));
        }
    }

    void rejectsInvalidWriteWidth() {
        Bytes buffer;
        std::size_t pos = Begin(buffer);
        QVERIFY_THROWS_EXCEPTION(std::invalid_argument, PutRaw(buffer, 1, 3, pos));
        QCOMPARE(pos, std::size_t(0));
    }
};

QTEST_GUILESS_MAIN(TestMessageBuffer)
#include "tst_messagebuffer.moc"
