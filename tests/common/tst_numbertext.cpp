#include "Common/NumberText.h"

#include <QtTest>

using namespace gemvolt::common;

class TestNumberText : public QObject {
    Q_OBJECT
private slots:
    void writesBlankSigned() {
        QCOMPARE(toNumberText(7), std::string(" 7"));
        QCOMPARE(toNumberText(0), std::string(" 0"));
        QCOMPARE(toNumberText(-3), std::string("-3"));
        QCOMPARE(toNumberText(16744576), std::string(" 16744576"));
        QCOMPARE(toIdText(42), std::string("42"));
        QCOMPARE(toIdText(-5), std::string("-5"));
    }

    void readsLeadingNumber_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qint64>("value");
        QTest::newRow("blank-signed") << " 7" << qint64(7);
        QTest::newRow("negative") << "-3" << qint64(-3);
        QTest::newRow("leading zero") << "07" << qint64(7);
        QTest::newRow("many blanks") << "   120" << qint64(120);
        QTest::newRow("record with name") << "95 - Alice" << qint64(95);
        QTest::newRow("no number") << "N/A" << qint64(0);
        QTest::newRow("empty") << "" << qint64(0);
        QTest::newRow("sign only") << "-" << qint64(0);
        QTest::newRow("blank after sign") << "- 4" << qint64(0);
        QTest::newRow("plus") << "+9" << qint64(9);
        QTest::newRow("stops at dot") << "3.7" << qint64(3);
        QTest::newRow("saturates high") << "99999999999999999999999" << qint64(INT64_MAX);
        QTest::newRow("saturates low") << "-99999999999999999999999" << qint64(INT64_MIN);
        QTest::newRow("most negative") << "-9223372036854775808" << qint64(INT64_MIN);
    }
    void readsLeadingNumber() {
        QFETCH(QString, text);
        QFETCH(qint64, value);
        QCOMPARE(numberValue(text.toStdString()), value);
    }

    void roundTripsThroughText() {
        for (std::int64_t v : {std::int64_t(0), std::int64_t(1), std::int64_t(-1),
                               std::int64_t(2147483647), std::int64_t(-2147483647 - 1)}) {
            QCOMPARE(numberValue(toNumberText(v)), v);
            QCOMPARE(numberValue(toIdText(v)), v);
        }
    }

    void clampsTo32Bits() {
        QCOMPARE(numberValue32("4294967296"), 2147483647);
        QCOMPARE(numberValue32("-4294967296"), -2147483647 - 1);
        QCOMPARE(numberValue32(" 16744576"), 16744576);
    }

    void twoDigitCounter() {
        QCOMPARE(toTwoDigitText(0), std::string("00"));
        QCOMPARE(toTwoDigitText(7), std::string("07"));
        QCOMPARE(toTwoDigitText(10), std::string("10"));
        QCOMPARE(toTwoDigitText(123), std::string("123"));
    }
};

QTEST_GUILESS_MAIN(TestNumberText)
#include "tst_numbertext.moc"
