#pragma once

#include "sync/QVROperation.h"
#include "sync/QVRURLSession.h"
#include "sync/QVRXMLParser.h"

#include <QPointer>

#include <atomic>
#include <optional>

class QVRQuorvaneOperation;

// The sync manager's side of a request. quorvaneRequestURL is called on the
// queue's thread; the other three on the main thread.
class QVRQuorvaneOperationDelegate
{
public:
    virtual ~QVRQuorvaneOperationDelegate() = default;
    // The request to send, or nothing when no login is available.
    virtual std::optional<QVRURLRequest> quorvaneRequestURL(const std::optional<QUrl>& url,
                                                            const QString& query, bool login) = 0;
    virtual void operationEncounteredName(QVRQuorvaneOperation* operation, const QString& name,
                                          const std::optional<QString>& value,
                                          const std::optional<QVRXMLAttributes>& attributes) = 0;
    virtual void operationSucceeded(QVRQuorvaneOperation* operation) = 0;
    virtual void operationFailed(QVRQuorvaneOperation* operation) = 0;
};

// One request to the web sync service. The reply is read whole before the
// delegate hears anything, then delivered in document order, and only then
// does the operation finish, so the queue cannot drain while the reply is
// still being applied. Only a well-formed reply holding a "success" element
// is delivered; any other body fails the request like a lost connection.
class QVRQuorvaneOperation : public QVROperation, private QVRXMLParserDelegate
{
public:
    static std::shared_ptr<QVRQuorvaneOperation> operationWithSession(QVRURLSession* session,
                                                                      QVRQuorvaneOperationDelegate* delegate);

    void setQuery(const QString& query);
    QString query() const;
    void setRequiresLogin(bool requiresLogin) { m_requiresLogin = requiresLogin; }
    bool requiresLogin() const { return m_requiresLogin; }

    bool success() const { return m_success; }
    bool failure() const { return m_failure; }
    bool retry() const { return m_retry; }
    bool internetProblem() const { return m_internetProblem; }
    // Whether this very request logged in with the login code: only then may
    // a refusal with retry be retried with the password.
    bool loginUsedCode() const { return m_loginUsedCode; }

    void main() override;
    // Also aborts a request under way.
    void cancel() override;

private:
    void completed(const QVRURLResponse& response);
    void parserEncounteredName(QVRXMLParser* parser, const QString& name, const std::optional<QString>& value,
                               const std::optional<QVRXMLAttributes>& attributes) override;

    QVRQuorvaneOperationDelegate* m_delegate = nullptr; // not owned: the manager outlives its operations
    QPointer<QVRURLSession> m_session;                  // read on the main thread only
    mutable std::mutex m_mutex;
    QString m_query;
    bool m_requiresLogin = false;
    std::atomic<bool> m_success{false};
    std::atomic<bool> m_failure{false};
    std::atomic<bool> m_retry{false};
    std::atomic<bool> m_internetProblem{false};
    std::atomic<bool> m_loginUsedCode{false};
    std::atomic<quint64> m_task{0};
};
