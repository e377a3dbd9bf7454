#include "app/window/FirstPaintReport.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFile>
#include <QTimer>
#include <QWidget>

#include <cstdio>

namespace {

class FirstPaintFilter : public QObject
{
public:
    using QObject::QObject;

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint) {
            watched->removeEventFilter(this);
            // Queued, so the paint itself is done when the line goes out.
            QTimer::singleShot(0, [] {
                std::printf("first paint, resident %.1f MB\n", residentMB());
                std::fflush(stdout);
                // What the program settles at once the work after the first
                // paint is done.
                const int laterMs = qEnvironmentVariableIntValue("QUILLARY_REPORT_RESIDENT_LATER_MS");
                if (laterMs <= 0) {
                    QCoreApplication::exit(0);
                    return;
                }
                QTimer::singleShot(laterMs, [] {
                    std::printf("resident later %.1f MB\n", residentMB());
                    std::fflush(stdout);
                    QCoreApplication::exit(0);
                });
            });
            deleteLater();
        }
        return false;
    }
};

} // namespace

void reportFirstPaintIfAsked(QWidget* widget)
{
    if (!widget || qEnvironmentVariableIsEmpty("QUILLARY_REPORT_FIRST_PAINT"))
        return;
    widget->installEventFilter(new FirstPaintFilter(widget));
}

double residentMB(long long pid)
{
    QFile status(pid ? QStringLiteral("/proc/%1/status").arg(pid) : QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    }
    return -1;
}
