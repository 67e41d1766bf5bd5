#include "Common/transport/ControlMessages.h"
#include "Common/transport/FrameReader.h"
#include "Common/transport/WireFormat.h"

#include <QtTest>

#include <string>
#include <vector>

using namespace gemvolt::transport;

namespace {

std::string bytes(std::initializer_list<int> values) {
    std::string out;
    for (int v : values) {
        out.push_back(static_cast<char>(v));
    }
    return out;
}

struct Taken {
    FrameKind kind;
    std::string body;
};

// Feeds the stream in pieces of the given size and collects what comes out.
std::vector<Taken> readAll(const std::string& stream, std::size_t piece,
                           FrameReader::Result* last = nullptr) {
    FrameReader reader;
    std::vector<Taken> out;
    FrameReader::Result result = FrameReader::Result::NeedMore;
    for (std::size_t pos = 0; pos < stream.size(); pos += piece) {
        reader.append(std::string_view(stream).substr(pos, piece));
        Frame frame;
        while ((result = reader.next(frame)) == FrameReader::Result::FrameReady) {
            out.push_back({frame.kind, std::string(frame.body)});
        }
        if (result == FrameReader::Result::Error) {
            break;
        }
    }
    if (last) {
        *last = result;
    }
    return out;
}

std::string sampleStream() {
    std::string s;
    appendFrame(s, FrameKind::Hello, encodeHello({1, std::string(ApplicationId), "Alice"}));
    appendFrame(s, FrameKind::Data, bytes({0x01, 0x00, 0xFF}));
    appendFrame(s, FrameKind::Bye, {});
    appendFrame(s, FrameKind::Ping, encodeToken(0xDEADBEEF));
    appendFrame(s, FrameKind::Data, std::string(3000, 'x'));
    return s;
}

} // namespace

class TestFrames : public QObject {
    Q_OBJECT
private slots:
    void pinsTheBytesOfAFrame() {
        // Length 11 (kind + 10-byte body) little-endian, kind 1, u16 version 1, two empty strings.
        const std::string frame = encodeFrame(FrameKind::Hello, encodeHello({1, "", ""}));
        QCOMPARE(frame, bytes({11, 0, 0, 0, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
        const std::string welcome = encodeWelcome({0x01020304, "ab"});
        QCOMPARE(welcome, bytes({4, 3, 2, 1, 2, 0, 0, 0, 'a', 'b'}));
        QCOMPARE(encodeToken(0x0A0B0C0D), bytes({0x0D, 0x0C, 0x0B, 0x0A}));
    }

    void readsAStreamInPiecesOfAnySize() {
        const std::string stream = sampleStream();
        const std::vector<Taken> whole = readAll(stream, stream.size());
        QCOMPARE(whole.size(), std::size_t(5));
        QCOMPARE(whole[0].kind, FrameKind::Hello);
        QCOMPARE(whole[1].body, bytes({0x01, 0x00, 0xFF}));
        QCOMPARE(whole[2].kind, FrameKind::Bye);
        QVERIFY(whole[2].body.empty());
        QCOMPARE(whole[4].body, std::string(3000, 'x'));
        for (std::size_t piece : {1, 2, 3, 4, 5, 7, 13, 64, 1000}) {
            const std::vector<Taken> split = readAll(stream, piece);
            QCOMPARE(split.size(), whole.size());
            for (std::size_t i = 0; i < whole.size(); ++i) {
                QCOMPARE(split[i].kind, whole[i].kind);
                QCOMPARE(split[i].body, whole[i].body);
            }
        }
    }

    void splitsAtEveryPosition() {
        const std::string stream = sampleStream().substr(0, 120);
        for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
            FrameReader reader;
            reader.append(stream.substr(0, cut));
            std::vector<std::string> bodies;
            Frame frame;
            while (reader.next(frame) == FrameReader::Result::FrameReady) {
                bodies.emplace_back(frame.body);
            }
            reader.append(stream.substr(cut));
            FrameReader::Result r;
            while ((r = reader.next(frame)) == FrameReader::Result::FrameReady) {
                bodies.emplace_back(frame.body);
            }
            QCOMPARE(r, FrameReader::Result::NeedMore);
            QCOMPARE(bodies.size(), std::size_t(4)); // the fifth frame is cut off at 120 bytes
        }
    }

    void everyTruncationWaitsForMore() {
        const std::string frame = encodeFrame(FrameKind::Data, "message");
        for (std::size_t n = 0; n < frame.size(); ++n) {
            FrameReader reader;
            reader.append(frame.substr(0, n));
            Frame f;
            QCOMPARE(reader.next(f), FrameReader::Result::NeedMore);
            QCOMPARE(reader.error(), FrameError::None);
            QCOMPARE(reader.pendingBytes(), n);
        }
    }

    void acceptsTheLengthLimits() {
        // Length 1: a kind and no body; length 1,048,576: the largest body.
        FrameReader reader;
        reader.append(bytes({1, 0, 0, 0, 7}));
        Frame f;
        QCOMPARE(reader.next(f), FrameReader::Result::FrameReady);
        QCOMPARE(f.kind, FrameKind::Bye);

        const std::string big = encodeFrame(FrameKind::Data, std::string(MaxFrameBody, 'b'));
        QCOMPARE(getU32(big.data()), MaxFrameLength);
        reader.append(big);
        QCOMPARE(reader.next(f), FrameReader::Result::FrameReady);
        QCOMPARE(f.body.size(), MaxFrameBody);
    }

    void rejectsBadLengthsAtOnce_data() {
        QTest::addColumn<quint32>("length");
        QTest::newRow("zero") << quint32(0);
        QTest::newRow("one above the limit") << quint32(MaxFrameLength + 1);
        QTest::newRow("largest u32") << quint32(0xFFFFFFFF);
        QTest::newRow("sign bit") << quint32(0x80000001);
    }
    void rejectsBadLengthsAtOnce() {
        QFETCH(quint32, length);
        char header[4];
        putU32(header, length);
        FrameReader reader;
        reader.append(header, 3);
        Frame f;
        QCOMPARE(reader.next(f), FrameReader::Result::NeedMore);
        // The fourth length byte decides: no kind byte or body is waited for.
        reader.append(header + 3, 1);
        QCOMPARE(reader.next(f), FrameReader::Result::Error);
        QCOMPARE(reader.error(), FrameError::BadLength);
        // The stream stays broken whatever follows.
        reader.append(encodeFrame(FrameKind::Bye, {}));
        QCOMPARE(reader.next(f), FrameReader::Result::Error);
    }

    void rejectsUnknownKinds() {
        for (int kind : {0, 9, 10, 0x7F, 0xFF}) {
            FrameReader reader;
            reader.append(bytes({100, 0, 0, 0, kind}));
            Frame f;
            QCOMPARE(reader.next(f), FrameReader::Result::Error);
            QCOMPARE(reader.error(), FrameError::UnknownKind);
        }
        for (int kind = 1; kind <= 8; ++kind) {
            QVERIFY(isKnownFrameKind(std::uint8_t(kind)));
        }
    }

    void goodFramesBeforeAFaultAreDelivered() {
        std::string stream = encodeFrame(FrameKind::Data, "one");
        stream += bytes({0, 0, 0, 0});
        FrameReader::Result last;
        const std::vector<Taken> got = readAll(stream, 2, &last);
        QCOMPARE(got.size(), std::size_t(1));
        QCOMPARE(got[0].body, std::string("one"));
        QCOMPARE(last, FrameReader::Result::Error);
    }

    void directReadsIntoTheBuffer() {
        const std::string stream = sampleStream();
        FrameReader reader;
        char* room = reader.prepare(stream.size() + 100);
        std::copy(stream.begin(), stream.end(), room);
        reader.commit(stream.size());
        QCOMPARE(reader.pendingBytes(), stream.size());
        int count = 0;
        Frame f;
        while (reader.next(f) == FrameReader::Result::FrameReady) {
            ++count;
        }
        QCOMPARE(count, 5);
        QCOMPARE(reader.pendingBytes(), std::size_t(0));
    }

    void handshakeBodiesRoundTrip() {
        const std::string longName(255, 'n');
        for (const Hello& in : {Hello{1, std::string(ApplicationId), "Myself"}, Hello{7, "", ""},
                                Hello{65535, "x", longName}}) {
            Hello out;
            QVERIFY(decodeHello(encodeHello(in), out));
            QCOMPARE(out.version, in.version);
            QCOMPARE(out.applicationId, in.applicationId);
            QCOMPARE(out.playerName, in.playerName);
        }
        for (std::int32_t id : {1, 2147483647, -5}) {
            Welcome out;
            QVERIFY(decodeWelcome(encodeWelcome({id, std::string(SessionName)}), out));
            QCOMPARE(out.playerId, id);
            QCOMPARE(out.sessionName, std::string(SessionName));
        }
        Refuse refuse;
        QVERIFY(decodeRefuse(encodeRefuse({200, "why \xC3\xA9"}), refuse));
        QCOMPARE(int(refuse.reason), 200);
        QCOMPARE(refuse.text, std::string("why \xC3\xA9"));
        std::uint32_t token = 0;
        QVERIFY(decodeToken(encodeToken(0xFFFFFFFF), token));
        QCOMPARE(token, 0xFFFFFFFFu);
        QVERIFY(decodeBye(""));
        QVERIFY(!decodeBye(bytes({0})));
    }

    void bodiesAreAllOrNothing() {
        const std::string hello = encodeHello({1, std::string(ApplicationId), "Alice"});
        const std::string welcome = encodeWelcome({42, "session"});
        const std::string refuse = encodeRefuse({2, "full"});
        const std::string token = encodeToken(9);
        // Every shorter body fails and leaves the output untouched.
        for (std::size_t n = 0; n < hello.size(); ++n) {
            Hello out{9, "keep", "keep"};
            QVERIFY(!decodeHello(hello.substr(0, n), out));
            QCOMPARE(out.playerName, std::string("keep"));
            QCOMPARE(int(out.version), 9);
        }
        for (std::size_t n = 0; n < welcome.size(); ++n) {
            Welcome out{7, "keep"};
            QVERIFY(!decodeWelcome(welcome.substr(0, n), out));
            QCOMPARE(out.playerId, 7);
        }
        for (std::size_t n = 0; n < refuse.size(); ++n) {
            Refuse out{3, "keep"};
            QVERIFY(!decodeRefuse(refuse.substr(0, n), out));
            QCOMPARE(out.text, std::string("keep"));
        }
        for (std::size_t n = 0; n < token.size(); ++n) {
            std::uint32_t out = 5;
            QVERIFY(!decodeToken(token.substr(0, n), out));
            QCOMPARE(out, 5u);
        }
        // A byte too many is as wrong as one too few.
        Hello h;
        Welcome w;
        Refuse r;
        std::uint32_t t = 0;
        QVERIFY(!decodeHello(hello + 'x', h));
        QVERIFY(!decodeWelcome(welcome + 'x', w));
        QVERIFY(!decodeRefuse(refuse + 'x', r));
        QVERIFY(!decodeToken(token + 'x', t));
    }

    void stringLengthsPastTheEndAreRejected() {
        // Version 1, then a string claiming 0xFFFFFFFF bytes: must not wrap or read past the end.
        Hello h;
        QVERIFY(!decodeHello(bytes({1, 0, 0xFF, 0xFF, 0xFF, 0xFF, 'a'}), h));
        QVERIFY(!decodeHello(bytes({1, 0, 2, 0, 0, 0, 'a'}), h));
        Welcome w;
        QVERIFY(!decodeWelcome(bytes({1, 0, 0, 0, 0xFE, 0xFF, 0xFF, 0xFF}), w));
    }

    void readsTheVersionOfAnyHello() {
        std::uint16_t version = 0;
        QVERIFY(peekHelloVersion(bytes({2, 1, 'r', 'e', 's', 't'}), version));
        QCOMPARE(int(version), 0x0102);
        QVERIFY(!peekHelloVersion(bytes({2}), version));
    }

    void validatesUtf8_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("valid");
        QTest::newRow("empty") << QByteArray() << true;
        QTest::newRow("ascii") << QByteArray("Myself") << true;
        QTest::newRow("two bytes") << QByteArray("J\xC3\xBCrgen") << true;
        QTest::newRow("three bytes") << QByteArray("\xE2\x82\xAC") << true;
        QTest::newRow("four bytes") << QByteArray("\xF0\x9F\x92\x8E") << true;
        QTest::newRow("largest") << QByteArray("\xF4\x8F\xBF\xBF") << true;
        QTest::newRow("lone continuation") << QByteArray("\x80") << false;
        QTest::newRow("cut two-byte") << QByteArray("a\xC3") << false;
        QTest::newRow("cut four-byte") << QByteArray("\xF0\x9F\x92") << false;
        QTest::newRow("overlong slash") << QByteArray("\xC0\xAF") << false;
        QTest::newRow("overlong three") << QByteArray("\xE0\x80\xAF") << false;
        QTest::newRow("surrogate") << QByteArray("\xED\xA0\x80") << false;
        QTest::newRow("above range") << QByteArray("\xF4\x90\x80\x80") << false;
        QTest::newRow("five-byte lead") << QByteArray("\xF8\x88\x80\x80\x80") << false;
        QTest::newRow("latin-1") << QByteArray("caf\xE9") << false;
        QTest::newRow("nul inside") << QByteArray("a\0b", 3) << true;
    }
    void validatesUtf8() {
        QFETCH(QByteArray, text);
        QFETCH(bool, valid);
        QCOMPARE(isValidUtf8(text.toStdString()), valid);
    }

    void limitsPlayerNames() {
        QVERIFY(isValidPlayerName(std::string(255, 'a')));
        QVERIFY(!isValidPlayerName(std::string(256, 'a')));
        // 127 two-byte characters are 254 bytes; one more is 256.
        std::string accented;
        for (int i = 0; i < 127; ++i) {
            accented += "\xC3\xA9";
        }
        QVERIFY(isValidPlayerName(accented));
        QVERIFY(!isValidPlayerName(accented + "\xC3\xA9"));
        QVERIFY(!isValidPlayerName("bad\xFF"));
    }
};

QTEST_GUILESS_MAIN(TestFrames)
#include "tst_frames.moc"
