#pragma once
// Waiting in tests without widgets: the link's tests and the window fixture share it.
#include <functional>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>

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

// Keeps the event loop running for a while.
inline void Pump(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
}

// Sets `closing` (the link's Closing) after `ms`, which ends every wait of the link, so that a
// wait that could never end fails the test instead of hanging it.
class WaitBreaker {
public:
    WaitBreaker(bool& closing, int ms)
    {
        timer_.setSingleShot(true);
        QObject::connect(&timer_, &QTimer::timeout, [&closing] { closing = true; });
        timer_.start(ms);
    }

private:
    QTimer timer_;
};

} // namespace testsupport
