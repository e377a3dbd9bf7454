#pragma once

#include <QDBusMessage>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class QSessionManager;
class QSocketNotifier;

namespace platform {

class ScriptingHandler;

// The application object: the one instance on the session bus, the bus
// interfaces, the application's active state and every road to quitting.
//
// Single instance. claimSingleInstance() exports the object
// /com/quorvane/Quillary and claims the session-bus name
// com.quorvane.Quillary. When another process owns the name, the arguments
// go to it instead (URLs to OpenURL, files, made absolute, to OpenFiles, and
// Activate when there are none) and the caller should exit 0.
//
// Calls to the running instance wait at most instanceCallTimeoutMs(). A call
// that gets no answer in that time while its recipient is still on the bus
// has been delivered: the instance is frozen or busy and carries it out when
// it runs again. Such a call is reported as not answered (kNoAnswerText),
// never as failed, and is never sent a second time.
//
// Interfaces of the exported object:
//   com.quorvane.Quillary.Application
//     Activate()           -> reopen()
//     OpenURL(s)           -> openURL()
//     OpenFiles(as)        -> openFiles()
//   com.quorvane.Quillary.Scripting
//     SaveNote(a{sv}) -> b: "text" must be a string, else the answer is false
//       and nothing is saved; "" is kept when it is a string; "date" is kept
//       when it is a number of seconds since 1970 or an ISO-8601 text, as
//       seconds (a double); other keys and wrong types are dropped. Then
//       ScriptingHandler::saveNote().
//     DeleteNote(a{sv}): "" must be a string naming a valid UUID, else the
//       error com.quorvane.Quillary.Error.WrongDataType "A valid UUID is
//       required.". Then ScriptingHandler::deleteNote(); a delete that could
//       not be stored answers com.quorvane.Quillary.Error.NotSaved with the
//       handler's reason.
//   A call with other argument types gets the bus's own "unknown method" error.
//
// Quitting. terminate() (the Quit action), the platform's quit request (the
// session manager's "die" at the end of a logout) and SIGTERM, SIGINT and
// SIGHUP (after installSignalHandlers()) all ask the shouldTerminate callback.
// Now quits at once; Later waits for replyToApplicationShouldTerminate();
// Cancel keeps running. Before the event loop ends, willTerminate() is emitted
// once. Closing the last window does not quit.
//
// While a quit is under way the Application interface answers the error
// com.quorvane.Quillary.Error.Quitting, and a second start that gets it waits
// for this instance to end (kQuittingInstanceWaitMs at most, saying why in a
// desktop notification), then runs as the primary instance itself.
//
// The session manager's request to store everything (commitDataRequest, at a
// desktop's "save session" and as the first step of a logout) emits
// saveRequested() and never quits by itself.
class ApplicationShell : public QObject
{
    Q_OBJECT
public:
    enum class TerminateReply
    {
        Now,
        Later,
        Cancel
    };
    enum class InstanceRole
    {
        Primary,       // this process owns the name and serves the interfaces
        Forwarded,     // another instance took the arguments, or has them
                       // delivered and will take them when it answers: exit 0
        ForwardFailed, // another instance owns the name but refused them: exit 1
        Alone,         // no session bus (or the name cannot be owned): run without it
    };

    static constexpr char kServiceName[] = "com.quorvane.Quillary";
    static constexpr char kObjectPath[] = "/com/quorvane/Quillary";
    static constexpr char kApplicationInterface[] = "com.quorvane.Quillary.Application";
    static constexpr char kScriptingInterface[] = "com.quorvane.Quillary.Scripting";
    static constexpr char kWrongDataTypeError[] = "com.quorvane.Quillary.Error.WrongDataType";
    static constexpr char kNotSavedError[] = "com.quorvane.Quillary.Error.NotSaved";
    static constexpr char kQuittingError[] = "com.quorvane.Quillary.Error.Quitting";
    // How long a second start waits for a quitting instance to end; longer
    // than the application lets a sync hold its quit.
    static constexpr int kQuittingInstanceWaitMs = 120000;

    // What a second start or a script command says when its call was
    // delivered but not answered.
    static constexpr char kNoAnswerText[] = "Quillary is running but does not answer.";

    // How a call to the running instance ended.
    enum class CallOutcome
    {
        Answered,   // `reply` is the instance's answer (an error reply included)
        NotRunning, // no process owns the name (any more): nothing was delivered
        NoAnswer,   // delivered, not answered in time: it may still be carried out
    };
    struct CallResult
    {
        CallOutcome outcome;
        QDBusMessage reply;
    };
    // Sends `calls` (method calls addressed to `serviceName`) to the process
    // that owns the name now, all at once and in order, then waits for their
    // answers together, at most instanceCallTimeoutMs() in all.
    static QList<CallResult> callRunningInstance(const QString& serviceName,
                                                 const QList<QDBusMessage>& calls);
    // 10 s, or the milliseconds in QUILLARY_BUS_TIMEOUT_MS when that is a
    // positive number (tests freeze an instance and need not wait long).
    static int instanceCallTimeoutMs();

    // The command line's operands sorted for forwarding: a text with a URL
    // scheme ("quillary://add?text=x") is a URL; a file: URL and anything else
    // is a file path, made absolute against `workingDirectory`.
    struct Arguments
    {
        QStringList urls;
        QStringList files;
    };
    static Arguments classifyArguments(const QStringList& operands, const QString& workingDirectory);

    // `serviceName` may differ from kServiceName only so that tests do not
    // collide with a running Quillary.
    explicit ApplicationShell(QObject* parent = nullptr,
                              const QString& serviceName = QString::fromLatin1(kServiceName));
    ~ApplicationShell() override;

    // `operands` are the command-line arguments after the program name.
    InstanceRole claimSingleInstance(const QStringList& operands);

    void setScriptingHandler(ScriptingHandler* handler);
    void setShouldTerminate(std::function<TerminateReply()> callback);
    // The answer to a Later: true quits, false goes back to running.
    void replyToApplicationShouldTerminate(bool shouldTerminate);
    bool terminationPending() const { return m_termination == Termination::Pending; }

    // Routes SIGTERM, SIGINT and SIGHUP to terminate() through a self-pipe.
    // One shell at a time; false when the pipe cannot be made.
    bool installSignalHandlers();

    bool isActive() const { return m_active; }

public slots:
    // Asks to quit, as the Quit action does.
    void terminate();

signals:
    void didBecomeActive();
    // Emitted together, in this order, when the application stops being active.
    void willResignActive();
    void didResignActive();
    // Another start without arguments (a reopen).
    void reopen();
    void openURL(const QString& url);
    void openFiles(const QStringList& paths);
    void willTerminate();
    // The session is being saved: store the open note and the settings now,
    // and keep running.
    void saveRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    enum class Termination
    {
        Running,
        Pending,
        Done
    };
    friend class ApplicationAdaptor;
    friend class ScriptingAdaptor;

    void applicationStateChanged(Qt::ApplicationState state);
    void commitData(QSessionManager& manager);
    void finishTermination();
    void readSignals();
    enum class Forwarding
    {
        Taken,         // answered, or delivered to an instance that does not answer yet
        Refused,       // the instance answered with an error
        NoOwner,       // nobody owns the name any more: nothing was delivered
        OwnerQuitting, // the instance is quitting and takes nothing more
    };
    Forwarding forward(const QStringList& operands);
    bool waitForOwnerToEnd();

    QString m_serviceName;
    std::unique_ptr<QObject> m_busObject;
    bool m_registered = false;
    ScriptingHandler* m_scripting = nullptr;
    std::function<TerminateReply()> m_shouldTerminate;
    Termination m_termination = Termination::Running;
    bool m_willTerminateSent = false;
    bool m_active = false;
    QSocketNotifier* m_signalNotifier = nullptr;
};

} // namespace platform
