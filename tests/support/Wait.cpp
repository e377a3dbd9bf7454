#include "tests/support/Wait.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

namespace testsupport {
namespace {

void runEvents()
{
    // Works with or without an application object: without one there is no
    // event loop to run, and the condition is only polled.
    if (QCoreApplication::instance())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

} // namespace

bool waitFor(const std::function<bool()>& condition, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        if (condition())
            return true;
        if (deadline.hasExpired())
            return false;
        runEvents();
        QThread::msleep(1);
    }
}

void spin(int ms)
{
    const QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired()) {
        runEvents();
        QThread::msleep(1);
    }
}

} // namespace testsupport
