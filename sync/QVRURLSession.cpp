#include "sync/QVRURLSession.h"

#include "platform/core/MainThread.h"
#include "sync/QVRSyncService.h"
#include "sync/QVRXMLParser.h"

#include <QDeadlineTimer>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QPointer>
#include <QTimer>

#include <cstring>

namespace {
std::atomic<int> timeoutCap{0};

// Qt sends a request again when its connection closes before the reply, as
// long as it can rewind the body. A form POST may already have been acted on
// (a registration, a log-out) and carries the password, so the body here can
// be read once and never rewound: the attempt then fails instead of being
// repeated.
class OneShotBody : public QIODevice
{
public:
    explicit OneShotBody(const QByteArray& data) : m_data(data) { open(QIODevice::ReadOnly); }
    bool isSequential() const override { return false; }
    qint64 size() const override { return m_data.size(); }
    bool seek(qint64 pos) override
    {
        if (m_consumed && pos != QIODevice::pos())
            return false;
        return QIODevice::seek(pos);
    }
    bool reset() override { return m_consumed ? false : QIODevice::reset(); }

protected:
    qint64 readData(char* data, qint64 maxSize) override
    {
        const qint64 at = QIODevice::pos();
        const qint64 count = std::min<qint64>(maxSize, m_data.size() - at);
        if (count <= 0)
            return 0;
        std::memcpy(data, m_data.constData() + at, static_cast<size_t>(count));
        m_consumed = true;
        return count;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    QByteArray m_data;
    bool m_consumed = false;
};

// An idle kept-alive connection may be closed by the server just as a request
// goes out on it. Such a request is now failed rather than repeated, so idle
// connections are dropped soon, long before servers usually close them.
constexpr int kIdleConnectionSeconds = 2;

// Redirects are followed here rather than by Qt, which would have to send the
// one-shot body again; a loop or a chain this long is not the service.
constexpr int kMaximumRedirects = 5;

bool isRedirect(int status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

bool sameOrigin(const QUrl& a, const QUrl& b)
{
    const auto port = [](const QUrl& url) {
        return url.port(url.scheme() == QLatin1String("https") ? 443 : 80);
    };
    return a.scheme() == b.scheme() && a.host() == b.host() && port(a) == port(b);
}
} // namespace

void QVRURLSession::setTimeoutCapForTesting(int milliseconds)
{
    timeoutCap = milliseconds;
}

bool QVRURLResponse::internetProblem() const
{
    return error == QNetworkReply::HostNotFoundError ||
           error == QNetworkReply::TemporaryNetworkFailureError ||
           error == QNetworkReply::NetworkSessionFailedError;
}

QVRURLSession::QVRURLSession(QObject* parent) : QObject(parent), m_manager(new QNetworkAccessManager(this))
{
    // Redirects stay on the service's origin: a 307 elsewhere would resend the
    // body, password and all. They are followed in sendHop().
    m_manager->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
}

QVRURLSession::~QVRURLSession()
{
    invalidate();
}

quint64 QVRURLSession::dataTask(const QVRURLRequest& request, Completion completion)
{
    const quint64 task = m_nextTask++;
    QPointer<QVRURLSession> self(this);
    platform::runOnMainThread([self, task, request, completion = std::move(completion)]() mutable {
        if (!self) {
            QVRURLResponse response;
            response.error = QNetworkReply::OperationCanceledError;
            response.errorText = QStringLiteral("the session has gone");
            completion(response);
            return;
        }
        self->startOnMainThread(task, request, std::move(completion));
    });
    return task;
}

void QVRURLSession::startOnMainThread(quint64 task, const QVRURLRequest& request, Completion completion)
{
    if (!QVRSyncService::isSafeURL(request.url)) {
        QVRURLResponse response;
        response.error = QNetworkReply::ProtocolUnknownError;
        response.errorText =
            QStringLiteral("refusing to send credentials to %1").arg(request.url.toDisplayString());
        completion(response);
        return;
    }
    int timeout = request.timeoutSeconds * 1000;
    if (timeoutCap > 0)
        timeout = std::min(timeout, timeoutCap.load());
    m_tasks.insert(task, Task{nullptr, std::move(completion)});
    sendHop(task, Hop{request.url, request.url, request.body, true, QDeadlineTimer(timeout), 0});
}

void QVRURLSession::sendHop(quint64 task, const Hop& hop)
{
    auto found = m_tasks.find(task);
    if (found == m_tasks.end())
        return;
    const int timeout = int(std::max<qint64>(hop.deadline.remainingTime(), 1));
    QNetworkRequest networkRequest(hop.url);
    networkRequest.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    networkRequest.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    networkRequest.setTransferTimeout(timeout);
    networkRequest.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    networkRequest.setAttribute(QNetworkRequest::ConnectionCacheExpiryTimeoutSecondsAttribute,
                                kIdleConnectionSeconds);
    // Accept-Encoding is left to Qt, which then inflates gzip replies itself.
    QNetworkReply* reply = nullptr;
    if (hop.post) {
        networkRequest.setHeader(QNetworkRequest::ContentTypeHeader,
                                 QStringLiteral("application/x-www-form-urlencoded"));
        // Each attempt goes out exactly once: the body is handed over
        // unbuffered and cannot be rewound. HTTP/2 retries streams on its own
        // terms, so the service is spoken to in HTTP/1.1.
        networkRequest.setHeader(QNetworkRequest::ContentLengthHeader, hop.body.size());
        networkRequest.setAttribute(QNetworkRequest::DoNotBufferUploadDataAttribute, true);
        auto* body = new OneShotBody(hop.body);
        reply = m_manager->post(networkRequest, body);
        body->setParent(reply);
    } else {
        reply = m_manager->get(networkRequest);
    }
    found->reply = reply;

    // The transfer time-out only measures silence; a reply that trickles in
    // still ends when the whole request's time is up, redirects included.
    auto timedOut = std::make_shared<bool>(false);
    auto* timer = new QTimer(reply);
    timer->setSingleShot(true);
    QObject::connect(timer, &QTimer::timeout, reply, [reply, timedOut] {
        *timedOut = true;
        reply->abort();
    });
    timer->start(timeout);
    QObject::connect(reply, &QNetworkReply::readyRead, reply, [reply] {
        if (reply->bytesAvailable() > QVRXMLParser::MaximumSize)
            reply->abort();
    });
    QObject::connect(reply, &QNetworkReply::finished, this, [this, task, reply, timedOut, hop] {
        reply->deleteLater();
        auto found = m_tasks.constFind(task);
        if (found == m_tasks.constEnd() || found->reply != reply)
            return;
        QVRURLResponse response;
        response.error = reply->error();
        response.httpStatus = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        response.timedOut = *timedOut;
        if (response.error != QNetworkReply::NoError)
            response.errorText = *timedOut ? QStringLiteral("The request timed out.") : reply->errorString();
        const QVariant target = reply->attribute(QNetworkRequest::RedirectionTargetAttribute);
        if (!*timedOut && target.isValid() && isRedirect(response.httpStatus)) {
            const QUrl next = hop.url.resolved(target.toUrl());
            if (!sameOrigin(next, hop.origin)) {
                response.error = QNetworkReply::InsecureRedirectError;
                response.errorText =
                    QStringLiteral("The service redirected the request to another site (%1).")
                        .arg(next.toDisplayString(QUrl::RemoveUserInfo | QUrl::RemoveQuery));
            } else if (hop.redirects >= kMaximumRedirects) {
                response.error = QNetworkReply::TooManyRedirectsError;
                response.errorText = QStringLiteral("The service redirected the request too many times.");
            } else {
                // 307 and 308 repeat the request as it was; the others turn
                // it into a GET without the form.
                const bool keep = response.httpStatus == 307 || response.httpStatus == 308;
                sendHop(task, Hop{next, hop.origin, keep ? hop.body : QByteArray(), hop.post && keep,
                                  hop.deadline, hop.redirects + 1});
                return;
            }
        }
        Completion completion = takeCompletion(task);
        if (!completion)
            return;
        // An aborted or cut-off transfer gives no body to read, whatever
        // arrived; a server error's body is still the service's answer.
        // A body that could not be sent again means the connection closed
        // before any reply: a lost connection.
        if (response.error == QNetworkReply::ContentReSendError) {
            response.error = QNetworkReply::RemoteHostClosedError;
            response.errorText = QStringLiteral("The connection closed before the reply.");
        }
        const bool transportFailed =
            response.error != QNetworkReply::NoError && response.error < QNetworkReply::ContentAccessDenied;
        if (!transportFailed)
            response.data = reply->readAll();
        completion(response);
    });
}

void QVRURLSession::cancelTask(quint64 task)
{
    QPointer<QVRURLSession> self(this);
    platform::runOnMainThread([self, task] {
        if (!self)
            return;
        auto found = self->m_tasks.constFind(task);
        if (found != self->m_tasks.constEnd())
            found->reply->abort();
    });
}

QVRURLSession::Completion QVRURLSession::takeCompletion(quint64 task)
{
    auto found = m_tasks.find(task);
    if (found == m_tasks.end())
        return {};
    Completion completion = std::move(found->completion);
    m_tasks.erase(found);
    return completion;
}

void QVRURLSession::invalidate()
{
    // Every task ends with its completion, even one whose reply never
    // reports back, so no operation waits for ever.
    const auto tasks = m_tasks.keys();
    for (quint64 task : tasks) {
        Completion completion = takeCompletion(task);
        if (completion) {
            QVRURLResponse response;
            response.error = QNetworkReply::OperationCanceledError;
            response.errorText = QStringLiteral("The session was invalidated.");
            completion(response);
        }
    }
    for (QNetworkReply* reply : m_manager->findChildren<QNetworkReply*>())
        reply->abort();
}
