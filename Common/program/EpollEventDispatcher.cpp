#include "Common/program/EpollEventDispatcher.h"

#include <QCoreApplication>
#include <QMetaMethod>
#include <QSocketNotifier>
#include <QThread>
#include <QTimerEvent>

#include <algorithm>
#include <cerrno>
#include <climits>

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace gemvolt::program {

namespace {

constexpr int ReadyAtOnce = 64;

} // namespace

EpollEventDispatcher::EpollEventDispatcher(QObject* parent) : QAbstractEventDispatcher(parent) {
    m_epoll = ::epoll_create1(EPOLL_CLOEXEC);
    m_wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_epoll >= 0 && m_wakeFd >= 0) {
        epoll_event wanted{};
        wanted.events = EPOLLIN;
        wanted.data.fd = m_wakeFd;
        if (::epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_wakeFd, &wanted) != 0) {
            ::close(m_wakeFd);
            m_wakeFd = -1;
        }
    }
}

EpollEventDispatcher::~EpollEventDispatcher() {
    if (m_wakeFd >= 0) {
        ::close(m_wakeFd);
    }
    if (m_epoll >= 0) {
        ::close(m_epoll);
    }
}

bool EpollEventDispatcher::processEvents(QEventLoop::ProcessEventsFlags flags) {
    m_interrupted.store(false);
    const bool heard = m_listeners.load(std::memory_order_relaxed) > 0;
    if (heard) {
        emit awake();
    }
    m_woken.store(false);
    QCoreApplication::sendPostedEvents();

    const bool withNotifiers = !(flags & QEventLoop::ExcludeSocketNotifiers);
    const bool withTimers = !(flags & QEventLoop::X11ExcludeTimers);
    const bool mayWait = (flags & QEventLoop::WaitForMoreEvents) && !m_woken.load() &&
                         !m_interrupted.load() && !(withNotifiers && m_files > 0);
    if (mayWait && heard) {
        emit aboutToBlock();
    }
    if (m_interrupted.load()) {
        return false;
    }
    const int timeout = !mayWait ? 0 : withTimers ? timeToNextTimer(Clock::now()) : -1;

    epoll_event ready[ReadyAtOnce];
    int count = ::epoll_wait(m_epoll, ready, ReadyAtOnce, timeout);
    if (count < 0) {
        // A signal's handler ran (EINTR); the watcher's pipe reports the signal.
        count = 0;
    }
    int handled = 0;
    m_ready.clear();
    for (int i = 0; i < count; ++i) {
        const int fd = ready[i].data.fd;
        if (fd == m_wakeFd) {
            drainWake();
            continue;
        }
        const auto found = m_watches.find(fd);
        if (!withNotifiers || found == m_watches.end()) {
            continue;
        }
        const std::uint32_t what = ready[i].events;
        const Watch& watch = found->second;
        // As with poll: a hang-up or an error wakes the reader, who learns of it by reading.
        if (watch.read && (what & (EPOLLIN | EPOLLHUP | EPOLLERR))) {
            m_ready.push_back(watch.read);
        }
        if (watch.write && (what & (EPOLLOUT | EPOLLHUP | EPOLLERR))) {
            m_ready.push_back(watch.write);
        }
        if (watch.exception && (what & EPOLLPRI)) {
            m_ready.push_back(watch.exception);
        }
    }
    if (withNotifiers && m_files > 0) {
        for (const auto& [fd, watch] : m_watches) {
            if (watch.file) {
                for (QSocketNotifier* notifier : {watch.read, watch.write}) {
                    if (notifier) {
                        m_ready.push_back(notifier);
                    }
                }
            }
        }
    }
    // By index: a notifier switched off by an earlier one's handler is cleared here.
    for (std::size_t i = 0; i < m_ready.size(); ++i) {
        if (QSocketNotifier* notifier = m_ready[i]) {
            m_ready[i] = nullptr;
            activate(notifier);
            ++handled;
        }
    }
    m_ready.clear();
    if (withTimers && activateTimers()) {
        ++handled;
    }
    return handled > 0;
}

void EpollEventDispatcher::connectNotify(const QMetaMethod& signal) {
    if (signal == QMetaMethod::fromSignal(&QAbstractEventDispatcher::awake) ||
        signal == QMetaMethod::fromSignal(&QAbstractEventDispatcher::aboutToBlock)) {
        m_listeners.fetch_add(1, std::memory_order_relaxed);
    }
}

void EpollEventDispatcher::disconnectNotify(const QMetaMethod& signal) {
    // A disconnection from every signal at once names none: the count stays, and
    // the signals are emitted as before.
    if (signal == QMetaMethod::fromSignal(&QAbstractEventDispatcher::awake) ||
        signal == QMetaMethod::fromSignal(&QAbstractEventDispatcher::aboutToBlock)) {
        m_listeners.fetch_sub(1, std::memory_order_relaxed);
    }
}

void EpollEventDispatcher::activate(QSocketNotifier* notifier) {
    QEvent event(QEvent::SockAct);
    QCoreApplication::sendEvent(notifier, &event);
}

void EpollEventDispatcher::drainWake() {
    eventfd_t count = 0;
    ::eventfd_read(m_wakeFd, &count);
}

void EpollEventDispatcher::registerSocketNotifier(QSocketNotifier* notifier) {
    const int fd = int(notifier->socket());
    if (fd < 0 || m_epoll < 0) {
        return;
    }
    Watch& watch = m_watches[fd];
    switch (notifier->type()) {
    case QSocketNotifier::Read:
        watch.read = notifier;
        break;
    case QSocketNotifier::Write:
        watch.write = notifier;
        break;
    case QSocketNotifier::Exception:
        watch.exception = notifier;
        break;
    }
    rewatch(fd, watch);
}

void EpollEventDispatcher::unregisterSocketNotifier(QSocketNotifier* notifier) {
    const int fd = int(notifier->socket());
    const auto found = m_watches.find(fd);
    if (found == m_watches.end()) {
        return;
    }
    Watch& watch = found->second;
    for (QSocketNotifier** slot : {&watch.read, &watch.write, &watch.exception}) {
        if (*slot == notifier) {
            *slot = nullptr;
        }
    }
    std::replace(m_ready.begin(), m_ready.end(), notifier, static_cast<QSocketNotifier*>(nullptr));
    rewatch(fd, watch);
    if (!watch.read && !watch.write && !watch.exception) {
        m_files -= watch.file ? 1 : 0;
        m_watches.erase(found);
    }
}

void EpollEventDispatcher::rewatch(int fd, Watch& watch) {
    if (watch.file) {
        return;
    }
    epoll_event wanted{};
    wanted.events = (watch.read ? EPOLLIN : 0u) | (watch.write ? EPOLLOUT : 0u) |
                    (watch.exception ? EPOLLPRI : 0u);
    wanted.data.fd = fd;
    if (wanted.events == 0) {
        if (watch.inEpoll) {
            // Fails harmlessly when the descriptor was closed first: epoll forgot it then.
            ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, fd, nullptr);
            watch.inEpoll = false;
        }
        return;
    }
    int result = ::epoll_ctl(m_epoll, watch.inEpoll ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, fd, &wanted);
    if (result != 0 && errno == ENOENT) {
        // Closed and opened again under the same number while watched.
        result = ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &wanted);
    } else if (result != 0 && errno == EEXIST) {
        result = ::epoll_ctl(m_epoll, EPOLL_CTL_MOD, fd, &wanted);
    }
    if (result == 0) {
        watch.inEpoll = true;
    } else if (errno == EPERM) {
        // A regular file: poll would call it ready every time, and so does this loop.
        watch.file = true;
        ++m_files;
    } else {
        qWarning("gemvolt: cannot watch descriptor %d: %s", fd, qPrintable(qt_error_string(errno)));
    }
}

void EpollEventDispatcher::registerTimer(int timerId, qint64 interval, Qt::TimerType timerType,
                                         QObject* object) {
    m_timers.push_back(Timer{timerId, std::max<qint64>(interval, 0), timerType, object,
                             Clock::now() + std::chrono::milliseconds(interval)});
}

bool EpollEventDispatcher::unregisterTimer(int timerId) {
    const auto found = std::find_if(m_timers.begin(), m_timers.end(),
                                    [timerId](const Timer& timer) { return timer.id == timerId; });
    if (found == m_timers.end()) {
        return false;
    }
    m_timers.erase(found);
    return true;
}

bool EpollEventDispatcher::unregisterTimers(QObject* object) {
    return std::erase_if(m_timers,
                         [object](const Timer& timer) { return timer.object == object; }) > 0;
}

QList<QAbstractEventDispatcher::TimerInfo>
EpollEventDispatcher::registeredTimers(QObject* object) const {
    QList<TimerInfo> list;
    for (const Timer& timer : m_timers) {
        if (timer.object == object) {
            list.append(TimerInfo(timer.id, int(timer.interval), timer.type));
        }
    }
    return list;
}

int EpollEventDispatcher::remainingTime(int timerId) {
    const Clock::time_point now = Clock::now();
    for (const Timer& timer : m_timers) {
        if (timer.id == timerId) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(timer.due - now).count();
            return int(std::clamp<qint64>(left, 0, INT_MAX));
        }
    }
    return -1;
}

int EpollEventDispatcher::timeToNextTimer(Clock::time_point now) const {
    qint64 nearest = -1;
    for (const Timer& timer : m_timers) {
        if (timer.firing) {
            // Its handler runs a loop of its own: it is not due again until it returns.
            continue;
        }
        const qint64 left = std::max<qint64>(
            std::chrono::ceil<std::chrono::milliseconds>(timer.due - now).count(), 0);
        nearest = nearest < 0 ? left : std::min(nearest, left);
    }
    return int(std::min<qint64>(nearest, INT_MAX));
}

bool EpollEventDispatcher::activateTimers() {
    if (m_timers.empty()) {
        return false;
    }
    const Clock::time_point now = Clock::now();
    std::vector<std::pair<Clock::time_point, int>> due;
    for (const Timer& timer : m_timers) {
        if (!timer.firing && timer.due <= now) {
            due.emplace_back(timer.due, timer.id);
        }
    }
    // The longest overdue first, each once: one started by a handler waits for the next pass.
    std::sort(due.begin(), due.end());
    const auto find = [this](int id) {
        return std::find_if(m_timers.begin(), m_timers.end(),
                            [id](const Timer& timer) { return timer.id == id; });
    };
    for (const auto& [when, id] : due) {
        auto timer = find(id);
        if (timer == m_timers.end() || timer->firing) {
            continue;
        }
        const auto interval = std::chrono::milliseconds(timer->interval);
        timer->due += interval;
        if (timer->due <= now) {
            // Fallen behind (a long handler, a suspended machine): no burst to catch up.
            timer->due = now + interval;
        }
        timer->firing = true;
        QObject* object = timer->object;
        QTimerEvent event(id);
        QCoreApplication::sendEvent(object, &event);
        timer = find(id);
        if (timer != m_timers.end()) {
            timer->firing = false;
        }
    }
    return !due.empty();
}

void EpollEventDispatcher::wakeUp() {
    if (m_woken.exchange(true)) {
        return;
    }
    // On our own thread the loop sees the flag before it waits; another thread's
    // post may find it waiting already.
    if (QThread::currentThread() != thread()) {
        ::eventfd_write(m_wakeFd, 1);
    }
}

void EpollEventDispatcher::interrupt() {
    m_interrupted.store(true);
    if (QThread::currentThread() != thread()) {
        ::eventfd_write(m_wakeFd, 1);
    }
}

} // namespace gemvolt::program
