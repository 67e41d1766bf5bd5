#include "Client/board/RandomSource.h"

#include <QtTest>

using gemvolt::board::RandomSource;

class TestRandom : public QObject {
    Q_OBJECT
private slots:
    void firstDrawsAreFixed() {
        RandomSource r;
        QCOMPARE(r.nextRaw(), 3499211612u);
        QCOMPARE(r.nextRaw(), 581869302u);
    }

    void singlesAreTopBitsOverTwoToThe24() {
        RandomSource r;
        QCOMPARE(r.nextSingle(), 13668795.0f / 16777216.0f);
        QCOMPARE(r.nextSingle(), 2272926.0f / 16777216.0f);
    }

    void firstPairIsGreenCrashUnderRedNormal() {
        // lower gem: 8 kinds, 4..7 are crash gems red/yellow/green/blue; upper: 4 normal colours
        RandomSource r;
        QCOMPARE(r.nextBelow(8), 6);
        QCOMPARE(r.nextBelow(4), 0);
    }

    void copiesDrawIndependently() {
        RandomSource live;
        live.nextRaw();
        RandomSource sim = live;
        const auto simDraw = sim.nextRaw();
        sim.nextRaw();
        QCOMPARE(live.nextRaw(), simDraw);
    }

    void valuesStayBelowOne() {
        RandomSource r;
        for (int i = 0; i < 100000; ++i) {
            const float v = r.nextSingle();
            QVERIFY(v >= 0.0f && v < 1.0f);
        }
    }
};

QTEST_GUILESS_MAIN(TestRandom)
#include "tst_random.moc"
