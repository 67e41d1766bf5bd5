// The headless server's event loop: what Qt's own loop would do with timers,
// posted events, notifiers and other threads, it must do too.
#include "Common/program/EpollEventDispatcher.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QSocketNotifier>
#include <QTemporaryFile>
#include <QTest>
#include <QTimer>

#include <memory>
#include <thread>

#include <sys/socket.h>
#include <unistd.h>

using gemvolt::program::EpollEventDispatcher;

namespace {

struct SocketPair {
    int ends[2] = {-1, -1};
    SocketPair() { ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, ends); }
    ~SocketPair() {
        ::close(ends[0]);
        ::close(ends[1]);
    }
    void poke() const { QCOMPARE_EQ(::write(ends[1], "x", 1), 1); }
};

// Runs the loop as exec() does, waiting in the system between events: QTest's own
// waits only ever ask the loop for what is ready at once.
void spin(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

class TestEpollLoop : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY(dynamic_cast<EpollEventDispatcher*>(QAbstractEventDispatcher::instance()));
    }

    void timersAndPostedEventsKeepTheirTimes() {
        int ticks = 0;
        QTimer repeating;
        repeating.setInterval(20);
        connect(&repeating, &QTimer::timeout, [&ticks] { ++ticks; });
        QTimer later;
        later.start(1000);
        QVERIFY(later.remainingTime() > 900 && later.remainingTime() <= 1000);

        bool queued = false;
        QMetaObject::invokeMethod(
            this, [&queued] { queued = true; }, Qt::QueuedConnection);
        QPointer<QObject> doomed = new QObject;
        doomed->deleteLater();

        repeating.start();
        spin(210);
        repeating.stop();
        const int seen = ticks;
        spin(60);
        QVERIFY(queued);
        QVERIFY(doomed.isNull());
        // Ten intervals passed; a loop that slept through them or spun on them fails.
        QVERIFY2(seen >= 7 && seen <= 11, qPrintable(QString::number(seen)));
        QCOMPARE(ticks, seen);
        QVERIFY(later.isActive());
        QVERIFY(later.remainingTime() < 1000 - 200);
    }

    void wakesAndWaitsAreHeardByWhoeverListens() {
        auto* loop = QAbstractEventDispatcher::instance();
        int awake = 0;
        int blocking = 0;
        auto a = connect(loop, &QAbstractEventDispatcher::awake, [&awake] { ++awake; });
        auto b =
            connect(loop, &QAbstractEventDispatcher::aboutToBlock, [&blocking] { ++blocking; });
        spin(30);
        QVERIFY(awake > 0);
        QVERIFY(blocking > 0);
        disconnect(a);
        disconnect(b);
    }

    void notifiersFollowTheirDescriptors() {
        SocketPair pair;
        QSocketNotifier reader(pair.ends[0], QSocketNotifier::Read);
        int reads = 0;
        connect(&reader, &QSocketNotifier::activated, [&] {
            char byte;
            while (::read(pair.ends[0], &byte, 1) == 1) {
                ++reads;
            }
        });
        spin(30);
        QCOMPARE(reads, 0);
        pair.poke();
        spin(50);
        QCOMPARE(reads, 1);

        // Switched off, it hears nothing; switched on again, it hears what waited.
        reader.setEnabled(false);
        pair.poke();
        spin(30);
        QCOMPARE(reads, 1);
        reader.setEnabled(true);
        spin(50);
        QCOMPARE(reads, 2);

        // The writer on the same descriptor: called while there is room, then quiet.
        int writable = 0;
        QSocketNotifier writer(pair.ends[0], QSocketNotifier::Write);
        connect(&writer, &QSocketNotifier::activated, [&] {
            ++writable;
            writer.setEnabled(false);
        });
        spin(50);
        QCOMPARE(writable, 1);
        pair.poke();
        spin(50);
        QCOMPARE(reads, 3);
        QCOMPARE(writable, 1);

        // The peer's close wakes the reader, who reads the end.
        bool ended = false;
        disconnect(&reader, nullptr, nullptr, nullptr);
        connect(&reader, &QSocketNotifier::activated, [&] {
            char byte;
            ended = ::read(pair.ends[0], &byte, 1) == 0;
            reader.setEnabled(false);
        });
        ::shutdown(pair.ends[1], SHUT_WR);
        spin(50);
        QVERIFY(ended);
    }

    void aNotifierGoneInTheSamePassIsNotCalled() {
        // Both are ready in one wait; whichever runs first deletes the other.
        SocketPair first;
        SocketPair second;
        auto* a = new QSocketNotifier(first.ends[0], QSocketNotifier::Read);
        auto* b = new QSocketNotifier(second.ends[0], QSocketNotifier::Read);
        QPointer<QSocketNotifier> pa = a;
        QPointer<QSocketNotifier> pb = b;
        int calls = 0;
        connect(a, &QSocketNotifier::activated, [&] {
            ++calls;
            delete pb.data();
            pa->setEnabled(false);
        });
        connect(b, &QSocketNotifier::activated, [&] {
            ++calls;
            delete pa.data();
            pb->setEnabled(false);
        });
        first.poke();
        second.poke();
        spin(50);
        QCOMPARE(calls, 1);
        delete pa.data();
        delete pb.data();
    }

    void aFileIsAlwaysReady() {
        QTemporaryFile file;
        QVERIFY(file.open());
        int calls = 0;
        QSocketNotifier notifier(file.handle(), QSocketNotifier::Read);
        connect(&notifier, &QSocketNotifier::activated, [&] {
            if (++calls == 3) {
                notifier.setEnabled(false);
            }
        });
        spin(50);
        QCOMPARE(calls, 3);
    }

    void anotherThreadWakesAndEndsTheLoop() {
        // Nothing here would wake the loop for a minute but the other thread.
        QTimer guard;
        guard.setSingleShot(true);
        guard.start(60000);
        bool posted = false;
        QElapsedTimer clock;
        clock.start();
        std::thread other([this, &posted] {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            QMetaObject::invokeMethod(
                this, [&posted] { posted = true; }, Qt::QueuedConnection);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            QCoreApplication::exit(7);
        });
        const int code = QCoreApplication::exec();
        other.join();
        QCOMPARE(code, 7);
        QVERIFY(posted);
        QVERIFY(clock.elapsed() < 5000);
    }
};

int main(int argc, char** argv) {
    QCoreApplication::setEventDispatcher(new EpollEventDispatcher);
    QCoreApplication app(argc, argv);
    TestEpollLoop test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_epollloop.moc"
