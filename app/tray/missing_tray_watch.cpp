#include "tray/missing_tray_watch.h"

MissingTrayWatch::MissingTrayWatch(std::chrono::milliseconds grace, QObject* parent) : QObject(parent)
{
    m_timer.setSingleShot(true);
    m_timer.setInterval(grace);
    connect(&m_timer, &QTimer::timeout, this, [this] { Q_EMIT missing(!m_everShown); });
    m_timer.start();
}

void MissingTrayWatch::setHostPresent(bool present)
{
    if (present == m_present)
        return;
    m_present = present;
    if (present) {
        m_everShown = true;
        m_timer.stop();
    } else {
        m_timer.start();
    }
}
