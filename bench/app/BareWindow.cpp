// The floor for start-up: a bare Qt program that shows an empty main window
// and reports its first paint the way quillary does, then exits.
#include <QApplication>
#include <QEvent>
#include <QFile>
#include <QMainWindow>
#include <QTimer>

#include <cstdio>

namespace {

class FirstPaint : public QObject
{
public:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && !m_seen) {
            m_seen = true;
            // Reported once the paint has been done.
            QTimer::singleShot(0, [] {
                QFile status(QStringLiteral("/proc/self/status"));
                double mb = -1;
                if (status.open(QIODevice::ReadOnly)) {
                    for (const QByteArray& line : status.readAll().split('\n')) {
                        if (line.startsWith("VmRSS:"))
                            mb = line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
                    }
                }
                std::printf("first paint, resident %.1f MB\n", mb);
                std::fflush(stdout);
                QCoreApplication::exit(0);
            });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    bool m_seen = false;
};

} // namespace

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    QMainWindow window;
    window.resize(1000, 700);
    FirstPaint firstPaint;
    window.installEventFilter(&firstPaint);
    window.show();
    return application.exec();
}
