#pragma once

#include <QByteArray>
#include <QDeadlineTimer>
#include <QHash>
#include <QNetworkReply>
#include <QObject>
#include <QUrl>

#include <atomic>
#include <functional>

class QNetworkAccessManager;

// One form POST to the service.
struct QVRURLRequest
{
    QUrl url;
    QByteArray body;
    int timeoutSeconds = 30;
    // The body logs in with the login code (and not a password or nothing).
    bool loginUsedCode = false;
};

// What came back: the body (possibly empty), the transport error if any.
struct QVRURLResponse
{
    QByteArray data;
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    QString errorText;
    int httpStatus = 0;
    bool timedOut = false;
    // Offline or host not found: not the service's fault.
    bool internetProblem() const;
};

// The HTTP client of the web sync. It lives on the main thread, where it may
// be deleted at any time, so it is used there only: tasks are started and
// cancelled on the main thread, and every completion runs there.
class QVRURLSession : public QObject
{
public:
    using Completion = std::function<void(const QVRURLResponse&)>;

    explicit QVRURLSession(QObject* parent = nullptr);
    ~QVRURLSession() override;

    // Sends the request and returns its task number. A request to an address
    // that is neither https nor loopback http fails without being sent, since
    // its body carries the password.
    quint64 dataTask(const QVRURLRequest& request, Completion completion);
    // Aborts the task; its completion still runs, with an error.
    void cancelTask(quint64 task);
    // Aborts every task (a new session takes over).
    void invalidate();
    // Caps every request's time-out, so tests need not wait half a minute.
    static void setTimeoutCapForTesting(int milliseconds);

private:
    // One request of a task: the first, or one after a redirect.
    struct Hop
    {
        QUrl url;
        QUrl origin; // the first request's, the only one redirects may go to
        QByteArray body;
        bool post = true;
        QDeadlineTimer deadline; // the whole task's, redirects included
        int redirects = 0;
    };
    void startOnMainThread(quint64 task, const QVRURLRequest& request, Completion completion);
    void sendHop(quint64 task, const Hop& hop);

    QNetworkAccessManager* m_manager = nullptr;
    struct Task
    {
        QNetworkReply* reply = nullptr;
        Completion completion;
    };
    // Takes the task's completion out, so that it runs exactly once.
    Completion takeCompletion(quint64 task);
    QHash<quint64, Task> m_tasks;
    std::atomic<quint64> m_nextTask{1};
};
