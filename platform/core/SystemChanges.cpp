#include "platform/core/SystemChanges.h"

#include "platform/core/Log.h"
#include "platform/core/MainThread.h"
#include "platform/core/NotificationCenter.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFile>
#include <QFileSystemWatcher>
#include <QSocketNotifier>
#include <QTimeZone>

#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <limits>
#include <memory>

namespace platform {

const QString SystemClockDidChangeNotification = QStringLiteral("NSSystemClockDidChangeNotification");
const QString SystemTimeZoneDidChangeNotification = QStringLiteral("NSSystemTimeZoneDidChangeNotification");
const QString CurrentLocaleDidChangeNotification = QStringLiteral("NSCurrentLocaleDidChangeNotification");

QString currentTimeZoneId()
{
    // tzset() makes the C library (and so Qt's fallbacks) see a changed TZ or
    // a replaced /etc/localtime.
    tzset();
    return QString::fromUtf8(QTimeZone::systemTimeZoneId());
}

QString currentLocaleName()
{
    QString name;
    for (const char* variable : {"LC_ALL", "LC_TIME", "LANG"}) {
        name = qEnvironmentVariable(variable);
        if (!name.isEmpty())
            break;
    }
    // "de_DE.UTF-8@euro" -> "de_DE"
    name = name.section(QLatin1Char('.'), 0, 0).section(QLatin1Char('@'), 0, 0);
    if (name == QLatin1String("C") || name == QLatin1String("POSIX"))
        return {};
    return name;
}

namespace {

class Watcher final : public QObject
{
public:
    Watcher()
    {
        m_timeZone = currentTimeZoneId();
        m_locale = currentLocaleName();
        armClockWatch();
        // /etc/localtime is usually a symlink that gets replaced, which a
        // watch on the file alone would lose: watch the folder too.
        m_files.addPath(QStringLiteral("/etc"));
        for (const char* path : {"/etc/localtime", "/etc/timezone"}) {
            if (QFile::exists(QLatin1String(path)))
                m_files.addPath(QLatin1String(path));
        }
        connect(&m_files, &QFileSystemWatcher::fileChanged, this, [this] { check(); });
        connect(&m_files, &QFileSystemWatcher::directoryChanged, this, [this] { check(); });
        QCoreApplication::instance()->installEventFilter(this);
    }

    ~Watcher() override
    {
        if (auto* app = QCoreApplication::instance())
            app->removeEventFilter(this);
        m_notifier.reset();
        if (m_timerFd >= 0)
            ::close(m_timerFd);
    }

    void check()
    {
        const QString zone = currentTimeZoneId();
        if (zone != m_timeZone) {
            m_timeZone = zone;
            NotificationCenter::defaultCenter().post(SystemTimeZoneDidChangeNotification);
        }
        const QString locale = currentLocaleName();
        if (locale != m_locale) {
            m_locale = locale;
            NotificationCenter::defaultCenter().post(CurrentLocaleDidChangeNotification);
        }
        // A replaced /etc/localtime drops the file from the watch list.
        if (QFile::exists(QStringLiteral("/etc/localtime")) &&
            !m_files.files().contains(QStringLiteral("/etc/localtime")))
            m_files.addPath(QStringLiteral("/etc/localtime"));
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == QCoreApplication::instance() && event->type() == QEvent::LocaleChange)
            check();
        return QObject::eventFilter(watched, event);
    }

private:
    // A timer far in the future on the real-time clock, cancelled by the
    // kernel when anyone sets that clock: a read then fails with ECANCELED.
    void armClockWatch()
    {
        if (m_timerFd < 0) {
            m_timerFd = timerfd_create(CLOCK_REALTIME, TFD_NONBLOCK | TFD_CLOEXEC);
            if (m_timerFd < 0) {
                log(QStringLiteral("Cannot watch for clock changes: timerfd_create failed (errno %1)")
                        .arg(errno));
                return;
            }
            m_notifier = std::make_unique<QSocketNotifier>(m_timerFd, QSocketNotifier::Read);
            connect(m_notifier.get(), &QSocketNotifier::activated, this, [this] { clockEvent(); });
        }
        itimerspec spec{};
        spec.it_value.tv_sec = std::numeric_limits<time_t>::max() / 2;
        if (timerfd_settime(m_timerFd, TFD_TIMER_ABSTIME | TFD_TIMER_CANCEL_ON_SET, &spec, nullptr) != 0)
            log(QStringLiteral("Cannot watch for clock changes: timerfd_settime failed (errno %1)")
                    .arg(errno));
    }

    void clockEvent()
    {
        quint64 expirations = 0;
        const ssize_t n = ::read(m_timerFd, &expirations, sizeof expirations);
        if (n < 0 && errno == ECANCELED) {
            armClockWatch();
            NotificationCenter::defaultCenter().post(SystemClockDidChangeNotification);
            // Setting the clock often goes with a zone change (e.g. travel).
            check();
        } else if (n >= 0) {
            armClockWatch();
        }
    }

    int m_timerFd = -1;
    std::unique_ptr<QSocketNotifier> m_notifier;
    QFileSystemWatcher m_files;
    QString m_timeZone;
    QString m_locale;
};

std::unique_ptr<Watcher>& watcher()
{
    static std::unique_ptr<Watcher> w;
    return w;
}

} // namespace

void SystemChanges::start()
{
    if (watcher() || !QCoreApplication::instance())
        return;
    watcher() = std::make_unique<Watcher>();
    // Stop before the application object goes, since the watcher's Qt parts
    // depend on it.
    QObject::connect(QCoreApplication::instance(), &QObject::destroyed, [] { watcher().reset(); });
}

void SystemChanges::stop()
{
    watcher().reset();
}

void SystemChanges::checkNow()
{
    if (watcher())
        watcher()->check();
}

} // namespace platform
