// The shell against a real X session manager: a small XSMP manager in this
// process, the helper program as its client on the X server scripts/test
// starts.
#include "ShellTestSupport.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include <X11/ICE/ICElib.h>
#include <X11/SM/SMlib.h>

#include <cstdlib>
#include <functional>
#include <poll.h>
#include <vector>

namespace {

// The manager's side of the protocol, for one client: it grants every
// interaction, keeps no properties and counts the "save yourself done"
// answers. Driven by pumpUntil(); nothing runs in the background.
class SessionManager
{
public:
    SessionManager()
    {
        // The default handler ends the process when a client goes away.
        IceSetIOErrorHandler([](IceConn) {});
        char error[256] = "";
        if (!SmsInitialize("quillary-test", "1.0", newClient, this, allowHost, sizeof error, error)) {
            m_error = QString::fromLocal8Bit(error);
            return;
        }
        int count = 0;
        if (!IceListenForConnections(&count, &m_listenArray, sizeof error, error)) {
            m_error = QString::fromLocal8Bit(error);
            return;
        }
        m_listeners.assign(m_listenArray, m_listenArray + count);
        for (IceListenObj listener : m_listeners)
            IceSetHostBasedAuthProc(listener, allowHost);
        char* ids = IceComposeNetworkIdList(count, m_listenArray);
        m_networkIds = QString::fromLatin1(ids);
        std::free(ids);
    }
    ~SessionManager()
    {
        if (m_ice)
            IceCloseConnection(m_ice);
        if (m_listenArray)
            IceFreeListenObjs(int(m_listeners.size()), m_listenArray);
    }

    QString error() const { return m_error; }
    // The value of SESSION_MANAGER for a client.
    QString networkIds() const { return m_networkIds; }
    bool registered() const { return m_client != nullptr; }
    int savesDone() const { return m_savesDone; }
    bool lastSaveSucceeded() const { return m_lastSaveSucceeded; }

    void saveYourself(int type, bool shutdown, int interactStyle)
    {
        SmsSaveYourself(m_client, type, shutdown, interactStyle, False);
    }
    void die() { SmsDie(m_client); }

    // Accepts the client and handles its messages, while also running this
    // process's event loop, until `done` holds; false after 30 s without.
    bool pumpUntil(const std::function<bool()>& done)
    {
        QElapsedTimer elapsed;
        elapsed.start();
        while (!done()) {
            if (elapsed.elapsed() > 30000)
                return false;
            std::vector<pollfd> fds;
            for (IceListenObj listener : m_listeners)
                fds.push_back({IceGetListenConnectionNumber(listener), POLLIN, 0});
            if (m_ice)
                fds.push_back({IceConnectionNumber(m_ice), POLLIN, 0});
            ::poll(fds.data(), fds.size(), 50);
            for (size_t i = 0; i < m_listeners.size(); ++i) {
                if (!(fds[i].revents & POLLIN))
                    continue;
                IceAcceptStatus status;
                if (IceConn connection = IceAcceptConnection(m_listeners[i], &status))
                    m_ice = connection;
            }
            if (m_ice && (fds.back().revents & (POLLIN | POLLHUP)) &&
                IceProcessMessages(m_ice, nullptr, nullptr) == IceProcessMessagesIOError) {
                IceCloseConnection(m_ice);
                m_ice = nullptr;
            }
            QCoreApplication::processEvents();
        }
        return true;
    }

private:
    static Bool allowHost(char*) { return True; }

    static Status newClient(SmsConn, SmPointer data, unsigned long* mask, SmsCallbacks* callbacks, char**)
    {
        auto* self = static_cast<SessionManager*>(data);
        *mask = SmsRegisterClientProcMask | SmsInteractRequestProcMask | SmsInteractDoneProcMask |
                SmsSaveYourselfRequestProcMask | SmsSaveYourselfP2RequestProcMask |
                SmsSaveYourselfDoneProcMask | SmsCloseConnectionProcMask | SmsSetPropertiesProcMask |
                SmsDeletePropertiesProcMask | SmsGetPropertiesProcMask;
        callbacks->register_client = {registerClient, self};
        callbacks->interact_request = {[](SmsConn c, SmPointer, int) { SmsInteract(c); }, self};
        callbacks->interact_done = {[](SmsConn, SmPointer, Bool) {}, self};
        callbacks->save_yourself_request = {[](SmsConn, SmPointer, int, Bool, int, Bool, Bool) {}, self};
        callbacks->save_yourself_phase2_request = {[](SmsConn c, SmPointer) { SmsSaveYourselfPhase2(c); },
                                                   self};
        callbacks->save_yourself_done = {[](SmsConn, SmPointer data, Bool success) {
                                             auto* self = static_cast<SessionManager*>(data);
                                             ++self->m_savesDone;
                                             self->m_lastSaveSucceeded = success;
                                         },
                                         self};
        callbacks->close_connection = {[](SmsConn c, SmPointer data, int count, char** reasons) {
                                           SmFreeReasons(count, reasons);
                                           SmsCleanUp(c);
                                           static_cast<SessionManager*>(data)->m_client = nullptr;
                                       },
                                       self};
        callbacks->set_properties = {[](SmsConn, SmPointer, int count, SmProp** properties) {
                                         for (int i = 0; i < count; ++i)
                                             SmFreeProperty(properties[i]);
                                         std::free(properties);
                                     },
                                     self};
        callbacks->delete_properties = {[](SmsConn, SmPointer, int count, char** names) {
                                            for (int i = 0; i < count; ++i)
                                                std::free(names[i]);
                                            std::free(names);
                                        },
                                        self};
        callbacks->get_properties = {[](SmsConn c, SmPointer) { SmsReturnProperties(c, 0, nullptr); }, self};
        return 1;
    }

    static Status registerClient(SmsConn connection, SmPointer data, char* previousId)
    {
        std::free(previousId);
        char* id = SmsGenerateClientID(connection);
        if (!id || !SmsRegisterClientReply(connection, id))
            return 0;
        static_cast<SessionManager*>(data)->m_client = connection;
        return 1;
    }

    QString m_error;
    QString m_networkIds;
    IceListenObj* m_listenArray = nullptr; // freed by the library
    std::vector<IceListenObj> m_listeners;
    IceConn m_ice = nullptr;
    SmsConn m_client = nullptr;
    int m_savesDone = 0;
    bool m_lastSaveSucceeded = false;
};

// A desktop's "save session" used to quit the program.
TEST(SessionManager, CheckpointStoresAndKeepsRunningAndLogoutStoresAndQuits)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        GTEST_SKIP() << "needs an X server (scripts/test starts one)";
    SessionManager manager;
    ASSERT_TRUE(manager.error().isEmpty()) << qPrintable(manager.error());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment.insert(QStringLiteral("SESSION_MANAGER"), manager.networkIds());
    HelperProcess helper({QStringLiteral("signals"), QStringLiteral("later")}, QString(), environment);

    // The client registers while its application object is made, and gets
    // the save every new client gets: its state only, which stores nothing.
    ASSERT_TRUE(manager.pumpUntil([&] { return manager.registered() || !helper.running(); }))
        << qPrintable(helper.errors());
    ASSERT_TRUE(manager.registered()) << qPrintable(helper.errors());
    manager.saveYourself(SmSaveLocal, false, SmInteractStyleNone);
    ASSERT_TRUE(manager.pumpUntil([&] { return manager.savesDone() == 1; }));
    ASSERT_TRUE(manager.pumpUntil([&] { return helper.linesSoFar().contains(QStringLiteral("ready")); }));

    // Two checkpoints: the answer to the second shows the first left the
    // program running.
    for (int checkpoint = 1; checkpoint <= 2; ++checkpoint) {
        manager.saveYourself(SmSaveBoth, false, SmInteractStyleAny);
        ASSERT_TRUE(manager.pumpUntil([&] { return manager.savesDone() == 1 + checkpoint; }))
            << "checkpoint " << checkpoint << ": " << qPrintable(helper.linesSoFar().join(QLatin1Char(' ')));
        EXPECT_TRUE(manager.lastSaveSucceeded());
    }
    EXPECT_EQ(helper.linesSoFar(),
              (QStringList{QStringLiteral("ready"), QStringLiteral("saved"), QStringLiteral("saved")}));
    EXPECT_TRUE(helper.running());

    // A logout: the same save, then "die", which quits through the ordinary road.
    manager.saveYourself(SmSaveBoth, true, SmInteractStyleAny);
    ASSERT_TRUE(manager.pumpUntil([&] { return manager.savesDone() == 4; }));
    EXPECT_TRUE(manager.lastSaveSucceeded());
    manager.die();
    ASSERT_TRUE(manager.pumpUntil([&] { return !helper.running(); }));
    ASSERT_TRUE(helper.waitForExit());
    EXPECT_TRUE(helper.exitedNormally());
    EXPECT_EQ(helper.exitCode(), 0);
    EXPECT_EQ(helper.lines(),
              (QStringList{QStringLiteral("ready"), QStringLiteral("saved"), QStringLiteral("saved"),
                           QStringLiteral("saved"), QStringLiteral("should-terminate 1"),
                           QStringLiteral("will-terminate"), QStringLiteral("exited")}));
}

} // namespace
