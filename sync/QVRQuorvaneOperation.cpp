#include "sync/QVRQuorvaneOperation.h"

#include "platform/core/Log.h"
#include "platform/core/MainThread.h"

std::shared_ptr<QVRQuorvaneOperation>
QVRQuorvaneOperation::operationWithSession(QVRURLSession* session, QVRQuorvaneOperationDelegate* delegate)
{
    auto operation = std::make_shared<QVRQuorvaneOperation>();
    operation->m_session = session;
    operation->m_delegate = delegate;
    return operation;
}

void QVRQuorvaneOperation::setQuery(const QString& query)
{
    std::lock_guard lock(m_mutex);
    m_query = query;
}

QString QVRQuorvaneOperation::query() const
{
    std::lock_guard lock(m_mutex);
    return m_query;
}

void QVRQuorvaneOperation::main()
{
    if (isCancelled() || !m_delegate) {
        finish();
        return;
    }
    // Built here, on the queue's thread: it may wait for the keyring.
    std::optional<QVRURLRequest> request =
        m_delegate->quorvaneRequestURL(std::nullopt, query(), m_requiresLogin);
    if (!request) {
        finish();
        return;
    }
    m_loginUsedCode = request->loginUsedCode;
    // The session belongs to the main thread, which may delete it at any
    // time; it is looked at only there. The operation stays alive until its
    // completion has run.
    auto self = std::static_pointer_cast<QVRQuorvaneOperation>(shared_from_this());
    platform::runOnMainThread([self, request = std::move(*request)] {
        QVRURLSession* session = self->m_session;
        if (!session || self->isCancelled()) {
            self->finish();
            return;
        }
        self->m_task =
            session->dataTask(request, [self](const QVRURLResponse& response) { self->completed(response); });
    });
}

void QVRQuorvaneOperation::cancel()
{
    QVROperation::cancel();
    std::weak_ptr<platform::Operation> weak = weak_from_this();
    platform::runOnMainThread([weak] {
        auto self = std::static_pointer_cast<QVRQuorvaneOperation>(weak.lock());
        if (!self)
            return;
        const quint64 task = self->m_task.load();
        if (task != 0 && self->m_session)
            self->m_session->cancelTask(task);
    });
}

void QVRQuorvaneOperation::completed(const QVRURLResponse& response)
{
    if (isCancelled()) {
        finish();
        return;
    }
    if (response.data.isEmpty()) {
        if (response.error != QNetworkReply::NoError) {
            platform::log(
                QStringLiteral("Error syncing: %1, %2")
                    .arg(response.errorText, QStringLiteral("{code = %1}").arg(int(response.error))));
            if (response.internetProblem())
                m_internetProblem = true;
        }
        m_delegate->operationFailed(this);
        finish();
        return;
    }

    QVRXMLParser parser;
    parser.setDelegate(this);
    if (!parser.read(response.data)) {
        platform::log(QStringLiteral("Unable to parse XML"));
        platform::log(QStringLiteral("Error parsing XML: %1, %2").arg(parser.error(), QStringLiteral("{}")));
        m_delegate->operationFailed(this);
        finish();
        return;
    }
    const auto& reports = parser.reports();
    const bool answered = std::any_of(reports.begin(), reports.end(), [](const QVRXMLParser::Report& report) {
        return report.name == QLatin1String("success");
    });
    if (!answered) {
        // Not the service talking (a portal's or proxy's page): none of its
        // elements may touch the login code or the sync point.
        platform::log(QStringLiteral("Error parsing XML: %1, %2")
                          .arg(QStringLiteral("reply without a success element"), QStringLiteral("{}")));
        m_delegate->operationFailed(this);
        finish();
        return;
    }
    // Once delivery has begun it runs to the end, even when a callback
    // cancels this very operation.
    for (const QVRXMLParser::Report& report : reports)
        parserEncounteredName(&parser, report.name, report.value, report.attributes);
    if (m_failure)
        m_delegate->operationFailed(this);
    finish();
}

void QVRQuorvaneOperation::parserEncounteredName(QVRXMLParser*, const QString& name,
                                                 const std::optional<QString>& value,
                                                 const std::optional<QVRXMLAttributes>& attributes)
{
    if (name == QLatin1String("success")) {
        const QString text = value.value_or(QString());
        if (QVRXMLExtentions::isTrue(text)) {
            m_success = true;
            m_delegate->operationSucceeded(this);
        } else if (QVRXMLExtentions::isFalse(text)) {
            m_failure = true;
            if (attributes && QVRXMLExtentions::isTrue(attributes->value(QStringLiteral("retry"))))
                m_retry = true;
        }
        return;
    }
    m_delegate->operationEncounteredName(this, name, value, attributes);
}
