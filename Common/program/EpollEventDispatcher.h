#pragma once

#include <QAbstractEventDispatcher>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <unordered_map>
#include <vector>

namespace gemvolt::program {

/**
 * The headless server's event loop, on one epoll descriptor. Qt's own loop
 * rebuilds its poll list, walks its notifiers and reads the clock several
 * times on every wake, and the server is woken for every message it relays:
 * on a machine that runs the players' programs too, that work counts against
 * each message's delay. Here a wake costs one epoll_wait, and a notifier's
 * interest changes only when it is switched on or off.
 *
 * Posted events, socket notifiers and timers behave as in Qt's own loop:
 * posted events first, then the notifiers that are ready, then the timers
 * that are due, each timer at most once per pass. Timers are precise to the
 * millisecond whatever their type. Meant for one thread with no window:
 * a file a notifier watches (epoll refuses files) counts as always ready,
 * and a pass that leaves notifiers out still wakes when one is ready.
 */
class EpollEventDispatcher final : public QAbstractEventDispatcher {
public:
    explicit EpollEventDispatcher(QObject* parent = nullptr);
    ~EpollEventDispatcher() override;

    /** False when the system gave no epoll or event descriptor. */
    bool isValid() const { return m_epoll >= 0 && m_wakeFd >= 0; }

    bool processEvents(QEventLoop::ProcessEventsFlags flags) override;
    void registerSocketNotifier(QSocketNotifier* notifier) override;
    void unregisterSocketNotifier(QSocketNotifier* notifier) override;
    void registerTimer(int timerId, qint64 interval, Qt::TimerType timerType,
                       QObject* object) override;
    bool unregisterTimer(int timerId) override;
    bool unregisterTimers(QObject* object) override;
    QList<TimerInfo> registeredTimers(QObject* object) const override;
    int remainingTime(int timerId) override;
    void wakeUp() override;
    void interrupt() override;

protected:
    void connectNotify(const QMetaMethod& signal) override;
    void disconnectNotify(const QMetaMethod& signal) override;

private:
    using Clock = std::chrono::steady_clock;

    struct Watch {
        QSocketNotifier* read = nullptr;
        QSocketNotifier* write = nullptr;
        QSocketNotifier* exception = nullptr;
        bool inEpoll = false;
        bool file = false;
    };
    struct Timer {
        int id;
        qint64 interval;
        Qt::TimerType type;
        QObject* object;
        Clock::time_point due;
        bool firing = false;
    };

    /** Tells epoll what the descriptor's notifiers want now. */
    void rewatch(int fd, Watch& watch);
    /** Milliseconds to the nearest due timer, -1 when none. */
    int timeToNextTimer(Clock::time_point now) const;
    bool activateTimers();
    void activate(QSocketNotifier* notifier);
    void drainWake();

    int m_epoll = -1;
    int m_wakeFd = -1;
    std::unordered_map<int, Watch> m_watches;
    int m_files = 0;
    // Notifiers found ready in this pass; one switched off meanwhile is cleared here.
    std::vector<QSocketNotifier*> m_ready;
    // Connections to awake() and aboutToBlock(): with none, the pass does not emit
    // them (each emission costs a relayed message several cold cache lines).
    std::atomic<int> m_listeners{0};
    std::vector<Timer> m_timers;
    std::atomic<bool> m_woken{false};
    std::atomic<bool> m_interrupted{false};
};

} // namespace gemvolt::program
