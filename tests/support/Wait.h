#pragma once
// Waiting in tests without widgets: the link's tests and the window fixture share it.
#include <functional>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

namespace testsupport {

// Pumps the event loop until pred holds or the time is up.
inline bool WaitUntil(const std::function<bool()>& pred, int timeoutMs = 8000)
{
    QElapsedTimer t;
    t.start();
    while (!pred()) {
        if (t.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(1);
    }
    return true;
}

} // namespace testsupport
