#pragma once

#include <QObject>

#include <initializer_list>
#include <vector>

class QSocketNotifier;

namespace gemvolt::program {

/**
 * Turns process signals (SIGINT, SIGTERM) into a Qt signal on the main
 * thread. The handler only writes the signal number into a pipe, the one
 * thing that is safe there; the event loop reads it and emits signalled().
 * One watcher per process; the server and the computer player each keep one
 * in main() to end politely on Ctrl-C and SIGTERM.
 */
class SignalWatcher : public QObject {
    Q_OBJECT
public:
    explicit SignalWatcher(std::initializer_list<int> numbers, QObject* parent = nullptr);
    ~SignalWatcher() override;

    /** False when the pipe or a handler could not be set up. */
    bool isValid() const { return m_valid; }

signals:
    /** One of the watched signals arrived. */
    void signalled(int signalNumber);

private:
    void readPipe();

    std::vector<int> m_numbers;
    QSocketNotifier* m_notifier = nullptr;
    bool m_valid = false;
};

} // namespace gemvolt::program
