#include "Client/net/SleepPause.h"

#include <QThread>

namespace gemvolt::net {

void SleepPause::pause(int milliseconds) {
    if (milliseconds > 0)
        QThread::msleep(static_cast<unsigned long>(milliseconds));
}

} // namespace gemvolt::net
