#include "ShellTestSupport.h"

#include "platform/shell/ApplicationShell.h"
#include "platform/shell/ScriptingHandler.h"

#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <optional>
#include <unistd.h>

using platform::ApplicationShell;

namespace {

// A service name of this test run's own, so a running Quillary (or another
// test) on the same bus is never disturbed.
QString uniqueServiceName()
{
    static int counter = 0;
    return QStringLiteral("com.quorvane.QuillaryTest.p%1n%2").arg(::getpid()).arg(++counter);
}

class RecordingHandler : public platform::ScriptingHandler
{
public:
    bool saveNote(const QVariantMap& item) override
    {
        saved.push_back(item);
        return true;
    }
    bool deleteNote(const QString& uuid, QString* failure) override
    {
        deleted << uuid;
        if (uuid == kUnwritable) {
            *failure = QStringLiteral("Quillary could not save the change: the disk is full.");
            return false;
        }
        return uuid.size() == 36;
    }
    static inline const QString kUnwritable = QStringLiteral("FFFFFFFF-0000-0000-0000-000000000000");
    std::vector<QVariantMap> saved;
    QStringList deleted;
};

// Stands in for the desktop's notification server, when this process may
// own its name (not beside a real one).
class NotificationServer : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    bool serve()
    {
        QDBusConnection bus = QDBusConnection::sessionBus();
        m_serving = bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), this,
                                       QDBusConnection::ExportAllSlots) &&
                    bus.registerService(QStringLiteral("org.freedesktop.Notifications"));
        return m_serving;
    }
    ~NotificationServer() override
    {
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (m_serving)
            bus.unregisterService(QStringLiteral("org.freedesktop.Notifications"));
        bus.unregisterObject(QStringLiteral("/org/freedesktop/Notifications"));
    }
    // Runs the event loop until a notification has come (30 s at most).
    bool waitForOne()
    {
        if (shown.isEmpty()) {
            QEventLoop loop;
            connect(this, &NotificationServer::notified, &loop, &QEventLoop::quit);
            QTimer::singleShot(30000, &loop, &QEventLoop::quit);
            loop.exec();
        }
        return !shown.isEmpty();
    }
    QStringList shown; // "summary: body"

signals:
    void notified();

public slots:
    uint Notify(const QString&, uint, const QString&, const QString& summary, const QString& body,
                const QStringList&, const QVariantMap&, int)
    {
        shown << summary + QStringLiteral(": ") + body;
        emit notified();
        return uint(shown.size());
    }

private:
    bool m_serving = false;
};

class ShellBus : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!QDBusConnection::sessionBus().isConnected())
            GTEST_SKIP() << "needs a session bus (scripts/test starts one)";
        service = uniqueServiceName();
        shell = std::make_unique<ApplicationShell>(nullptr, service);
        ASSERT_EQ(shell->claimSingleInstance({}), ApplicationShell::InstanceRole::Primary);
        shell->setScriptingHandler(&handler);
    }

    // Calls the shell from a second connection, as another process would,
    // running the event loop so the shell can answer.
    QDBusMessage call(const char* interface, const char* method, const QVariantList& arguments)
    {
        QDBusConnection client =
            QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("client"));
        QDBusMessage message =
            QDBusMessage::createMethodCall(service, QString::fromLatin1(ApplicationShell::kObjectPath),
                                           QString::fromLatin1(interface), QString::fromLatin1(method));
        message.setArguments(arguments);
        QDBusPendingCall pending = client.asyncCall(message);
        QDBusPendingCallWatcher watcher(pending);
        QEventLoop loop;
        QObject::connect(&watcher, &QDBusPendingCallWatcher::finished, &loop, &QEventLoop::quit);
        if (!watcher.isFinished())
            loop.exec();
        return pending.reply();
    }
    QDBusMessage save(const QVariantMap& item)
    {
        return call(ApplicationShell::kScriptingInterface, "SaveNote", {item});
    }
    QDBusMessage remove(const QVariantMap& item)
    {
        return call(ApplicationShell::kScriptingInterface, "DeleteNote", {item});
    }

    QString service;
    RecordingHandler handler;
    std::unique_ptr<ApplicationShell> shell;
};

const QString kUuid = QStringLiteral("0F8E2C1A-3B4D-4E5F-8A9B-0C1D2E3F4A5B");

struct SaveCase
{
    const char* name;
    QVariantMap sent;
    std::optional<QVariantMap> received; // nothing: the handler is not called and the answer is false
};

class SaveNoteArguments : public ShellBus, public ::testing::WithParamInterface<SaveCase>
{
};

TEST_P(SaveNoteArguments, ReachTheHandlerCheckedAndTyped)
{
    const SaveCase& c = GetParam();
    const QDBusMessage reply = save(c.sent);
    ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << qPrintable(reply.errorMessage());
    ASSERT_EQ(reply.arguments().size(), 1);
    if (!c.received) {
        EXPECT_FALSE(reply.arguments().at(0).toBool());
        EXPECT_TRUE(handler.saved.empty());
        return;
    }
    EXPECT_TRUE(reply.arguments().at(0).toBool());
    ASSERT_EQ(handler.saved.size(), 1u);
    EXPECT_EQ(handler.saved[0], *c.received);
}

const QString kText = QStringLiteral("text");
const QString kDate = QStringLiteral("date");

INSTANTIATE_TEST_SUITE_P(
    Scripting, SaveNoteArguments,
    ::testing::Values(
        SaveCase{"AllThree",
                 {{QString(), kUuid}, {kText, QStringLiteral("hello")}, {kDate, 1700000000.5}},
                 QVariantMap{{QString(), kUuid}, {kText, QStringLiteral("hello")}, {kDate, 1700000000.5}}},
        // A missing text must not reach the save, which would archive the note and answer true.
        SaveCase{"MissingTextSavesNothing", {{QString(), kUuid}}, std::nullopt},
        SaveCase{"NumberAsTextSavesNothing", {{QString(), kUuid}, {kText, 5}}, std::nullopt},
        SaveCase{"BlankTextIsStillText",
                 {{QString(), kUuid}, {kText, QString()}},
                 QVariantMap{{QString(), kUuid}, {kText, QString()}}},
        SaveCase{"IsoDateBecomesSeconds",
                 {{kText, QStringLiteral("t")}, {kDate, QStringLiteral("2024-01-02T03:04:05Z")}},
                 QVariantMap{{kText, QStringLiteral("t")}, {kDate, 1704164645.0}}},
        SaveCase{"IntegerDateCounts",
                 {{kText, QStringLiteral("t")}, {kDate, 86400}},
                 QVariantMap{{kText, QStringLiteral("t")}, {kDate, 86400.0}}},
        SaveCase{"WrongDateMeansNow",
                 {{kText, QStringLiteral("t")}, {kDate, true}},
                 QVariantMap{{kText, QStringLiteral("t")}}},
        SaveCase{"UnreadableDateTextMeansNow",
                 {{kText, QStringLiteral("t")}, {kDate, QStringLiteral("soon")}},
                 QVariantMap{{kText, QStringLiteral("t")}}},
        SaveCase{"NumberAsUuidIsDropped",
                 {{QString(), 7}, {kText, QStringLiteral("t")}},
                 QVariantMap{{kText, QStringLiteral("t")}}},
        SaveCase{"VariantInAVariantIsUnwrapped",
                 {{kText, QVariant::fromValue(QDBusVariant(QStringLiteral("wrapped")))}},
                 QVariantMap{{kText, QStringLiteral("wrapped")}}},
        SaveCase{"UnknownKeysAreDropped",
                 {{kText, QStringLiteral("t")}, {QStringLiteral("archived"), true}},
                 QVariantMap{{kText, QStringLiteral("t")}}}),
    [](const ::testing::TestParamInfo<SaveCase>& info) { return std::string(info.param.name); });

TEST_F(ShellBus, WrongArgumentTypesAreRefusedByTheBus)
{
    for (const char* method : {"SaveNote", "DeleteNote"}) {
        const QDBusMessage reply =
            call(ApplicationShell::kScriptingInterface, method, {QStringLiteral("text")});
        EXPECT_EQ(reply.type(), QDBusMessage::ErrorMessage) << method;
        const QDBusMessage none = call(ApplicationShell::kScriptingInterface, method, {});
        EXPECT_EQ(none.type(), QDBusMessage::ErrorMessage) << method;
    }
    EXPECT_TRUE(handler.saved.empty());
    EXPECT_TRUE(handler.deleted.isEmpty());
}

TEST_F(ShellBus, DeleteNoteNeedsAValidUuid)
{
    const QDBusMessage ok = remove({{QString(), kUuid}});
    EXPECT_EQ(ok.type(), QDBusMessage::ReplyMessage) << qPrintable(ok.errorMessage());
    EXPECT_EQ(handler.deleted, QStringList{kUuid});

    const QVariantMap bad[] = {
        {}, {{QString(), 5}}, {{QStringLiteral("uuid"), kUuid}}, {{QString(), QStringLiteral("x")}}};
    for (const QVariantMap& item : bad) {
        const QDBusMessage reply = remove(item);
        ASSERT_EQ(reply.type(), QDBusMessage::ErrorMessage);
        EXPECT_EQ(reply.errorName(), QString::fromLatin1(ApplicationShell::kWrongDataTypeError));
        EXPECT_EQ(reply.errorMessage(), QStringLiteral("A valid UUID is required."));
    }
    // Only the string "x" reached the handler, which refused it.
    EXPECT_EQ(handler.deleted, (QStringList{kUuid, QStringLiteral("x")}));
}

TEST_F(ShellBus, DeleteThatCannotBeStoredAnswersTheHandlersReason)
{
    const QDBusMessage reply = remove({{QString(), RecordingHandler::kUnwritable}});
    ASSERT_EQ(reply.type(), QDBusMessage::ErrorMessage);
    EXPECT_EQ(reply.errorName(), QString::fromLatin1(ApplicationShell::kNotSavedError));
    EXPECT_EQ(reply.errorMessage(), QStringLiteral("Quillary could not save the change: the disk is full."));
}

TEST_F(ShellBus, ScriptingBeforeTheHandlerIsSetIsAnErrorNotACrash)
{
    shell->setScriptingHandler(nullptr);
    EXPECT_EQ(save({{kText, QStringLiteral("t")}}).type(), QDBusMessage::ErrorMessage);
    EXPECT_EQ(remove({{QString(), kUuid}}).type(), QDBusMessage::ErrorMessage);
}

TEST_F(ShellBus, ApplicationInterfaceRaisesTheShellsSignals)
{
    QStringList log;
    QObject::connect(shell.get(), &ApplicationShell::reopen, [&] { log << QStringLiteral("reopen"); });
    QObject::connect(shell.get(), &ApplicationShell::openURL, [&](const QString& url) { log << url; });
    QObject::connect(shell.get(), &ApplicationShell::openFiles,
                     [&](const QStringList& files) { log << files.join(QLatin1Char('|')); });
    EXPECT_EQ(call(ApplicationShell::kApplicationInterface, "Activate", {}).type(),
              QDBusMessage::ReplyMessage);
    call(ApplicationShell::kApplicationInterface, "OpenURL", {QStringLiteral("quillary://search?text=a")});
    call(ApplicationShell::kApplicationInterface, "OpenFiles",
         {QStringList{QStringLiteral("/a"), QStringLiteral("/b")}});
    EXPECT_EQ(log, (QStringList{QStringLiteral("reopen"), QStringLiteral("quillary://search?text=a"),
                                QStringLiteral("/a|/b")}));
}

TEST(SingleInstance, SecondStartForwardsItsArgumentsAndExitsZero)
{
    if (!QDBusConnection::sessionBus().isConnected())
        GTEST_SKIP() << "needs a session bus (scripts/test starts one)";
    const QString service = uniqueServiceName();
    HelperProcess first({QStringLiteral("instance"), service});
    ASSERT_TRUE(first.waitForLine(QStringLiteral("ready"))) << qPrintable(first.errors());

    QTemporaryDir cwd;
    HelperProcess second({QStringLiteral("instance"), service, QStringLiteral("quillary://add?text=hello"),
                          QStringLiteral("note.txt"), QStringLiteral("/abs/other.txt")},
                         cwd.path());
    ASSERT_TRUE(second.waitForExit());
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_EQ(second.lines(), QStringList{QStringLiteral("forwarded")});
    EXPECT_TRUE(first.waitForLine(QStringLiteral("url quillary://add?text=hello")));
    EXPECT_TRUE(first.waitForLine(QStringLiteral("files ") + cwd.path() +
                                  QStringLiteral("/note.txt|/abs/other.txt")));

    HelperProcess third({QStringLiteral("instance"), service});
    ASSERT_TRUE(third.waitForExit());
    EXPECT_EQ(third.exitCode(), 0);
    EXPECT_TRUE(first.waitForLine(QStringLiteral("reopen")));

    first.signal(SIGTERM);
    ASSERT_TRUE(first.waitForExit());
    EXPECT_TRUE(first.exitedNormally());
    EXPECT_EQ(first.exitCode(), 0);
}

// A start while the running instance waited for a sync before quitting used
// to be forwarded to it and show nothing.
TEST_F(ShellBus, SecondStartDuringAQuitRunsOnceTheQuittingInstanceHasEnded)
{
    int reopens = 0;
    QObject::connect(shell.get(), &ApplicationShell::reopen, [&] { ++reopens; });
    shell->setShouldTerminate([] { return ApplicationShell::TerminateReply::Later; });
    shell->terminate();
    ASSERT_TRUE(shell->terminationPending());

    NotificationServer notifications;
    const bool notificationsServed = notifications.serve();
    HelperProcess second({QStringLiteral("instance"), service});
    ASSERT_TRUE(second.serveEventsUntil([&] {
        return second.errors().contains(QStringLiteral("goes on once it has ended"));
    })) << qPrintable(second.errors())
        << qPrintable(second.lines().join(QLatin1Char('\n')));
    EXPECT_TRUE(second.lines().isEmpty());
    // Started from a launcher, it says why nothing shows yet.
    if (notificationsServed) {
        EXPECT_TRUE(notifications.waitForOne());
        EXPECT_TRUE(notifications.shown.value(0).startsWith(QStringLiteral("Quillary opens in a moment")));
    }
    // And a script's call meanwhile is refused too, not dropped.
    EXPECT_EQ(
        call(ApplicationShell::kApplicationInterface, "OpenURL", {QStringLiteral("quillary://add?text=a")})
            .errorName(),
        QLatin1String(ApplicationShell::kQuittingError));

    shell.reset(); // the quitting instance ends
    ASSERT_TRUE(second.serveEventsUntil([&] { return second.lines().contains(QStringLiteral("ready")); }))
        << qPrintable(second.errors());
    EXPECT_EQ(reopens, 0);
    second.signal(SIGTERM);
    ASSERT_TRUE(second.waitForExit());
    EXPECT_EQ(second.exitCode(), 0);
}

TEST(SingleInstance, FrozenOwnerIsToldAboutAndTakesTheArgumentsOnceWhenItResumes)
{
    if (!QDBusConnection::sessionBus().isConnected())
        GTEST_SKIP() << "needs a session bus (scripts/test starts one)";
    const QString service = uniqueServiceName();
    HelperProcess first({QStringLiteral("instance"), service});
    ASSERT_TRUE(first.waitForLine(QStringLiteral("ready"))) << qPrintable(first.errors());

    first.signal(SIGSTOP);
    QProcessEnvironment impatient = QProcessEnvironment::systemEnvironment();
    impatient.insert(QStringLiteral("QUILLARY_BUS_TIMEOUT_MS"), QStringLiteral("300"));
    HelperProcess second({QStringLiteral("instance"), service, QStringLiteral("quillary://add?text=frozen"),
                          QStringLiteral("/abs/frozen.txt")},
                         QString(), impatient);
    const bool secondEnded = second.waitForExit();
    first.signal(SIGCONT);
    ASSERT_TRUE(secondEnded);
    EXPECT_EQ(second.exitCode(), 0) << "a delivered request is not a failure";
    EXPECT_EQ(second.lines(), QStringList{QStringLiteral("forwarded")});
    EXPECT_TRUE(second.errors().contains(QString::fromLatin1(ApplicationShell::kNoAnswerText)))
        << qPrintable(second.errors());

    // A reopen after them comes back once everything before it is handled.
    HelperProcess third({QStringLiteral("instance"), service});
    ASSERT_TRUE(third.waitForExit());
    EXPECT_EQ(third.exitCode(), 0);
    ASSERT_TRUE(first.waitForLine(QStringLiteral("reopen")));
    EXPECT_EQ(first.lines(),
              (QStringList{QStringLiteral("ready"), QStringLiteral("url quillary://add?text=frozen"),
                           QStringLiteral("files /abs/frozen.txt"), QStringLiteral("reopen")}));

    first.signal(SIGTERM);
    ASSERT_TRUE(first.waitForExit());
    EXPECT_EQ(first.exitCode(), 0);
}

TEST(SingleInstance, OwnerThatDoesNotAnswerIsAFailureNotASuccess)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        GTEST_SKIP() << "needs a session bus (scripts/test starts one)";
    // This process owns the name but serves no object under it.
    const QString service = uniqueServiceName();
    ASSERT_TRUE(bus.registerService(service));
    HelperProcess second({QStringLiteral("instance"), service, QStringLiteral("quillary://add?text=lost")});
    ASSERT_TRUE(second.waitForExitServingEvents());
    EXPECT_EQ(second.exitCode(), 1);
    EXPECT_EQ(second.lines(), QStringList{QStringLiteral("forward failed")});
    EXPECT_TRUE(second.errors().contains(QStringLiteral("did not take OpenURL")));
    bus.unregisterService(service);
}

} // namespace

#include "ShellBusTest.moc"
