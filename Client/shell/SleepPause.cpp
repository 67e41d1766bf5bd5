#include "Client/shell/SleepPause.h"

#include <QThread>

namespace gemvolt::shell {

void SleepPause::pause(int milliseconds) {
    if (milliseconds > 0)
        QThread::msleep(static_cast<unsigned long>(milliseconds));
    if (m_repaint)
        m_repaint();
}

} // namespace gemvolt::shell
