#include "platform/shell/ApplicationShell.h"

#include "platform/core/Log.h"
#include "platform/core/UserDefaults.h"
#include "platform/shell/ScriptingHandler.h"
#include "platform/shell/ShellAdaptors.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusReply>
#include <QDBusServiceWatcher>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QSessionManager>
#include <QSocketNotifier>
#include <QTimer>
#include <QUrl>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace platform {

ScriptingHandler::~ScriptingHandler() = default;

namespace {

constexpr int kInstanceCallTimeoutMs = 10000;
constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

int g_signalPipe[2] = {-1, -1};
ApplicationShell* g_signalShell = nullptr;

extern "C" void onTerminationSignal(int signal)
{
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signal);
    [[maybe_unused]] ssize_t n = ::write(g_signalPipe[1], &byte, 1);
    errno = saved;
}

} // namespace

ApplicationShell::Arguments ApplicationShell::classifyArguments(const QStringList& operands,
                                                                const QString& workingDirectory)
{
    // A scheme is a letter and then letters, digits, "+", "-" or "."; two
    // characters at least, so that "C:..." style names stay paths.
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]+:"));
    Arguments result;
    const QDir base(workingDirectory);
    for (const QString& operand : operands) {
        if (operand.isEmpty())
            continue;
        if (operand.startsWith(QLatin1String("file:"), Qt::CaseInsensitive)) {
            const QUrl url(operand);
            if (url.isLocalFile()) {
                result.files << QDir::cleanPath(url.toLocalFile());
                continue;
            }
        }
        if (scheme.match(operand).hasMatch() && !QFileInfo::exists(base.absoluteFilePath(operand))) {
            result.urls << operand;
            continue;
        }
        result.files << QDir::cleanPath(base.absoluteFilePath(operand));
    }
    return result;
}

ApplicationShell::ApplicationShell(QObject* parent, const QString& serviceName)
    : QObject(parent), m_serviceName(serviceName)
{
    QGuiApplication::setQuitOnLastWindowClosed(false);
    if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        m_active = app->applicationState() == Qt::ApplicationActive;
        connect(app, &QGuiApplication::applicationStateChanged, this,
                &ApplicationShell::applicationStateChanged);
#if QT_CONFIG(sessionmanager)
        connect(app, &QGuiApplication::commitDataRequest, this, &ApplicationShell::commitData,
                Qt::DirectConnection);
#endif
    }
    if (auto* app = QCoreApplication::instance()) {
        app->installEventFilter(this);
        // Whatever ends the event loop, the application hears of it once.
        connect(app, &QCoreApplication::aboutToQuit, this, [this] {
            if (!m_willTerminateSent) {
                m_willTerminateSent = true;
                emit willTerminate();
            }
        });
    }
}

ApplicationShell::~ApplicationShell()
{
    if (g_signalShell == this) {
        struct sigaction action
        {
        };
        action.sa_handler = SIG_DFL;
        sigemptyset(&action.sa_mask);
        for (int signal : kSignals)
            sigaction(signal, &action, nullptr);
        g_signalShell = nullptr;
        delete m_signalNotifier;
        ::close(g_signalPipe[0]);
        ::close(g_signalPipe[1]);
        g_signalPipe[0] = g_signalPipe[1] = -1;
    }
    if (m_registered) {
        QDBusConnection bus = QDBusConnection::sessionBus();
        bus.unregisterService(m_serviceName);
        bus.unregisterObject(QString::fromLatin1(kObjectPath));
    }
}

ApplicationShell::InstanceRole ApplicationShell::claimSingleInstance(const QStringList& operands)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        platform::log(QStringLiteral("Quillary: no session bus (%1); running as a lone instance.")
                          .arg(bus.lastError().message()));
        return InstanceRole::Alone;
    }
    // The object first, so that a second start never finds the name without it.
    if (!m_busObject) {
        m_busObject = std::make_unique<QObject>();
        new ApplicationAdaptor(m_busObject.get(), this);
        new ScriptingAdaptor(m_busObject.get(), this);
    }
    const QString path = QString::fromLatin1(kObjectPath);
    if (!bus.registerObject(path, m_busObject.get(), QDBusConnection::ExportAdaptors)) {
        platform::log(
            QStringLiteral("Quillary: cannot export %1 on the session bus; running as a lone instance.")
                .arg(path));
        return InstanceRole::Alone;
    }
    QDBusConnectionInterface* names = bus.interface();
    // Three attempts: an owner that quits between our claim and our call
    // frees the name, and so does one that was quitting when we called.
    for (int attempt = 0; attempt < 3; ++attempt) {
        const auto reply = names->registerService(m_serviceName, QDBusConnectionInterface::DontQueueService,
                                                  QDBusConnectionInterface::DontAllowReplacement);
        if (reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceRegistered) {
            m_registered = true;
            return InstanceRole::Primary;
        }
        if (!names->isServiceRegistered(m_serviceName).value())
            continue;
        const Forwarding forwarding = forward(operands);
        // Forwarded to an instance on its way out, the start would show
        // nothing: it runs once that instance has ended instead.
        if (forwarding == Forwarding::OwnerQuitting && waitForOwnerToEnd())
            continue;
        if (forwarding != Forwarding::NoOwner) {
            bus.unregisterObject(path);
            return forwarding == Forwarding::Taken ? InstanceRole::Forwarded : InstanceRole::ForwardFailed;
        }
    }
    bus.unregisterObject(path);
    platform::log(QStringLiteral("Quillary: cannot own %1 on the session bus; running as a lone instance.")
                      .arg(m_serviceName));
    return InstanceRole::Alone;
}

ApplicationShell::Forwarding ApplicationShell::forward(const QStringList& operands)
{
    const Arguments arguments = classifyArguments(operands, QDir::currentPath());
    auto call = [&](const char* method, const QVariantList& args) {
        QDBusMessage message = QDBusMessage::createMethodCall(m_serviceName, QString::fromLatin1(kObjectPath),
                                                              QString::fromLatin1(kApplicationInterface),
                                                              QString::fromLatin1(method));
        message.setArguments(args);
        return message;
    };
    QList<QDBusMessage> calls;
    if (arguments.urls.isEmpty() && arguments.files.isEmpty())
        calls << call("Activate", {});
    for (const QString& url : arguments.urls)
        calls << call("OpenURL", {url});
    if (!arguments.files.isEmpty())
        calls << call("OpenFiles", {arguments.files});

    const QList<CallResult> results = callRunningInstance(m_serviceName, calls);
    bool answered = true;
    for (qsizetype i = 0; i < results.size(); ++i) {
        const CallResult& result = results.at(i);
        switch (result.outcome) {
        case CallOutcome::NotRunning:
            return Forwarding::NoOwner;
        case CallOutcome::NoAnswer:
            answered = false;
            break;
        case CallOutcome::Answered:
            if (result.reply.errorName() == QLatin1String(kQuittingError))
                return Forwarding::OwnerQuitting;
            if (result.reply.type() == QDBusMessage::ErrorMessage) {
                platform::log(QStringLiteral("Quillary: the running instance did not take %1: %2")
                                  .arg(calls.at(i).member(), result.reply.errorMessage()));
                return Forwarding::Refused;
            }
            break;
        }
    }
    if (!answered) {
        // Delivered all the same: asking again would open everything twice.
        platform::log(QString::fromLatin1(kNoAnswerText) +
                      QStringLiteral(" It has been handed what was asked and will open it when it answers."));
    }
    return Forwarding::Taken;
}

bool ApplicationShell::waitForOwnerToEnd()
{
    platform::log(QStringLiteral("Quillary: the running instance is quitting (it may be finishing a sync); "
                                 "this start goes on once it has ended."));
    QDBusConnection bus = QDBusConnection::sessionBus();
    // A start from a launcher has no terminal for the line above: the
    // desktop's notification says why no window shows yet. A desktop without
    // a notification server simply shows nothing.
    QDBusMessage notice = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    notice.setArguments(
        {QStringLiteral("Quillary"), 0u, QString::fromLatin1(kServiceName),
         QStringLiteral("Quillary opens in a moment"),
         QStringLiteral("The Quillary that is quitting is finishing its work first (a sync, for "
                        "example)."),
         QStringList(), QVariantMap(), -1});
    bus.send(notice);
    QDBusServiceWatcher watcher(m_serviceName, bus, QDBusServiceWatcher::WatchForUnregistration);
    QEventLoop loop;
    connect(&watcher, &QDBusServiceWatcher::serviceUnregistered, &loop, &QEventLoop::quit);
    QTimer::singleShot(kQuittingInstanceWaitMs, &loop, &QEventLoop::quit);
    // Asked after the watcher is in place, so that an end in between is not missed.
    if (bus.interface()->isServiceRegistered(m_serviceName).value())
        loop.exec();
    if (!bus.interface()->isServiceRegistered(m_serviceName).value())
        return true;
    platform::log(QStringLiteral("Quillary: the running instance is still quitting after %1 s.")
                      .arg(kQuittingInstanceWaitMs / 1000));
    return false;
}

QList<ApplicationShell::CallResult> ApplicationShell::callRunningInstance(const QString& serviceName,
                                                                          const QList<QDBusMessage>& calls)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    QDBusConnectionInterface* names = bus.interface();
    QList<CallResult> results;
    // Addressed to the owner's unique name, so that every call reaches the
    // same process and a call it has not answered can be told from one whose
    // recipient has gone: a unique name is never owned again.
    const QDBusReply<QString> owner = names ? names->serviceOwner(serviceName)
                                            : QDBusReply<QString>(QDBusMessage::createError(bus.lastError()));
    if (!owner.isValid()) {
        for (qsizetype i = 0; i < calls.size(); ++i)
            results.append({CallOutcome::NotRunning, QDBusMessage::createError(owner.error())});
        return results;
    }
    // All sent before any is waited for: the bus keeps their order, and a
    // frozen instance costs one timeout, not one per call.
    const int timeout = instanceCallTimeoutMs();
    QList<QDBusPendingCall> pending;
    for (const QDBusMessage& call : calls) {
        QDBusMessage addressed =
            QDBusMessage::createMethodCall(owner.value(), call.path(), call.interface(), call.member());
        addressed.setArguments(call.arguments());
        pending.append(bus.asyncCall(addressed, timeout));
    }
    for (QDBusPendingCall& call : pending) {
        call.waitForFinished();
        const QDBusMessage reply = call.reply();
        const QString error = reply.type() == QDBusMessage::ErrorMessage ? reply.errorName() : QString();
        if (error == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") ||
            error == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner")) {
            results.append({CallOutcome::NotRunning, reply});
        } else if (error == QLatin1String("org.freedesktop.DBus.Error.NoReply") ||
                   error == QLatin1String("org.freedesktop.DBus.Error.Timeout") ||
                   error == QLatin1String("org.freedesktop.DBus.Error.TimedOut")) {
            // The bus has handed the call over. A recipient still connected
            // holds it and carries it out when it runs again; one that has
            // left the bus never will.
            const bool connected = names->isServiceRegistered(owner.value()).value();
            results.append({connected ? CallOutcome::NoAnswer : CallOutcome::NotRunning, reply});
        } else {
            results.append({CallOutcome::Answered, reply});
        }
    }
    return results;
}

int ApplicationShell::instanceCallTimeoutMs()
{
    bool number = false;
    const int ms = qEnvironmentVariableIntValue("QUILLARY_BUS_TIMEOUT_MS", &number);
    return number && ms > 0 ? ms : kInstanceCallTimeoutMs;
}

void ApplicationShell::setScriptingHandler(ScriptingHandler* handler)
{
    m_scripting = handler;
}

void ApplicationShell::setShouldTerminate(std::function<TerminateReply()> callback)
{
    m_shouldTerminate = std::move(callback);
}

void ApplicationShell::terminate()
{
    if (m_termination != Termination::Running)
        return;
    const TerminateReply reply = m_shouldTerminate ? m_shouldTerminate() : TerminateReply::Now;
    if (m_termination != Termination::Running)
        return; // the callback answered through replyToApplicationShouldTerminate itself
    switch (reply) {
    case TerminateReply::Now:
        finishTermination();
        break;
    case TerminateReply::Later:
        m_termination = Termination::Pending;
        break;
    case TerminateReply::Cancel:
        break;
    }
}

void ApplicationShell::replyToApplicationShouldTerminate(bool shouldTerminate)
{
    if (m_termination != Termination::Pending)
        return;
    if (shouldTerminate)
        finishTermination();
    else
        m_termination = Termination::Running;
}

void ApplicationShell::finishTermination()
{
    m_termination = Termination::Done;
    if (!m_willTerminateSent) {
        m_willTerminateSent = true;
        emit willTerminate();
    }
    // Queued, so that a request made before the event loop runs still ends it.
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
}

void ApplicationShell::commitData(QSessionManager& manager)
{
    // Whatever happens next, the session may end this process without
    // another word: settings held back for a moment go out now.
    UserDefaults::synchronizeAll();
    Q_UNUSED(manager);
    // The session manager sends the same "save yourself" for a checkpoint (a
    // desktop's "save session") as for the first step of a logout, and Qt 6
    // does not tell them apart (neither allowsInteraction() nor the second
    // phase says which). Only a logout goes on to "die", which reaches this
    // object as the platform's quit request (eventFilter). So this stores and
    // keeps running, and a logout quits through the ordinary road.
    if (m_termination == Termination::Running)
        emit saveRequested();
}

bool ApplicationShell::eventFilter(QObject* watched, QEvent* event)
{
    // The platform's request to quit (the session manager's "die", a quit
    // from the desktop) asks the application as the Quit action does, so
    // that the note is stored and a sync may finish. Left to Qt, it would
    // try to close the windows, which only hide.
    if (event->type() == QEvent::Quit && watched == QCoreApplication::instance() &&
        m_termination != Termination::Done) {
        terminate();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

void ApplicationShell::applicationStateChanged(Qt::ApplicationState state)
{
    const bool active = state == Qt::ApplicationActive;
    if (active == m_active)
        return;
    m_active = active;
    if (active) {
        emit didBecomeActive();
    } else {
        emit willResignActive();
        emit didResignActive();
    }
}

bool ApplicationShell::installSignalHandlers()
{
    if (g_signalShell)
        return g_signalShell == this;
    if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        platform::log(QStringLiteral("Quillary: cannot catch termination signals: %1")
                          .arg(QString::fromLocal8Bit(strerror(errno))));
        return false;
    }
    g_signalShell = this;
    m_signalNotifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, this);
    connect(m_signalNotifier, &QSocketNotifier::activated, this, &ApplicationShell::readSignals);
    struct sigaction action
    {
    };
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : kSignals)
        sigaction(signal, &action, nullptr);
    return true;
}

void ApplicationShell::readSignals()
{
    unsigned char bytes[16];
    bool any = false;
    while (::read(g_signalPipe[0], bytes, sizeof bytes) > 0)
        any = true;
    // Several signals at once are one request; a request already waiting
    // for its answer is not asked again. A second signal may not wait for
    // the answer: settings held back for a moment go out first.
    if (any) {
        UserDefaults::synchronizeAll();
        terminate();
    }
}

} // namespace platform
