// The terms sheet: the service's terms page in a text browser.
#include "app/preferences/QVRTermsSheetController.h"

#include "platform/core/Log.h"
#include "store/QVRLocalizedString.h"
#include "sync/QVRSyncService.h"

#include <QDesktopServices>
#include <QHBoxLayout>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPushButton>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace {

// The look of the terms page inside the sheet.
const char* const TermsStyleSheet = "body { font-size: 12px; margin: 8px; }"
                                    "h1, h2, h3 { font-weight: bold; }"
                                    "h1 { font-size: 16px; } h2 { font-size: 14px; } h3 { font-size: 13px; }"
                                    "a { color: #1a6fd1; text-decoration: none; }";

// A reply larger than this is not a terms page.
constexpr qint64 MaximumPageSize = 2 * 1024 * 1024;

// Shows the page's text only: nothing the page names (images, style sheets)
// is read, from the network or from local files.
class TermsBrowser : public QTextBrowser
{
public:
    using QTextBrowser::QTextBrowser;
    QVariant loadResource(int type, const QUrl& name) override
    {
        (void)type;
        (void)name;
        return {};
    }
};

} // namespace

QUrl QVRTermsSheetController::termsURL()
{
    QUrl url = QVRSyncService::origin();
    if (url.isEmpty())
        return {};
    url.setPath(QStringLiteral("/sync/app/legal/terms.html"));
    return QVRSyncService::isSafeURL(url) ? url : QUrl();
}

bool QVRTermsSheetController::linkMayLeaveSheet(const QUrl& url)
{
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("mailto"))
        return !url.path().isEmpty();
    return (scheme == QLatin1String("http") || scheme == QLatin1String("https")) && !url.host().isEmpty();
}

QVRTermsSheetController::QVRTermsSheetController(QWidget* parent)
    : QDialog(parent), m_network(new QNetworkAccessManager(this)), m_termsWebView(new TermsBrowser(this)),
      m_cancelButton(new QPushButton(this)), m_agreeButton(new QPushButton(this))
{
    setObjectName(QStringLiteral("termsSheet"));
    setWindowTitle(QVRLocalizedString(QStringLiteral("Terms")));
    setWindowModality(Qt::WindowModal);
    resize(520, 480);
    m_urlOpener = [](const QUrl& url) { QDesktopServices::openUrl(url); };

    m_termsWebView->setObjectName(QStringLiteral("termsWebView"));
    m_termsWebView->setAccessibleName(QVRLocalizedString(QStringLiteral("Terms")));
    m_termsWebView->setOpenLinks(false);
    m_termsWebView->setOpenExternalLinks(false);
    m_termsWebView->setFrameShape(QFrame::NoFrame);
    m_termsWebView->viewport()->setAutoFillBackground(false);
    m_termsWebView->document()->setDefaultStyleSheet(QString::fromLatin1(TermsStyleSheet));
    m_cancelButton->setObjectName(QStringLiteral("cancelButton"));
    m_cancelButton->setText(QVRLocalizedString(QStringLiteral("Cancel")));
    m_agreeButton->setObjectName(QStringLiteral("agreeButton"));
    m_agreeButton->setText(QVRLocalizedString(QStringLiteral("I Agree")));
    m_agreeButton->setEnabled(false);
    m_agreeButton->setDefault(true);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_cancelButton);
    buttons->addWidget(m_agreeButton);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_termsWebView, 1);
    layout->addLayout(buttons);

    connect(m_cancelButton, &QPushButton::clicked, this, &QVRTermsSheetController::cancelClicked);
    connect(m_agreeButton, &QPushButton::clicked, this, &QVRTermsSheetController::agreeClicked);
    connect(m_termsWebView, &QTextBrowser::anchorClicked, this, &QVRTermsSheetController::linkClicked);
}

QVRTermsSheetController::~QVRTermsSheetController()
{
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->abort();
    }
}

void QVRTermsSheetController::loadTerms()
{
    if (m_loaded || m_reply)
        return;
    const QUrl url = termsURL();
    if (url.isEmpty()) {
        showFailure(QVRSyncService::originError());
        return;
    }
    m_termsWebView->setPlainText(QVRLocalizedString(QStringLiteral("Loading…")));
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::SameOriginRedirectPolicy);
    request.setTransferTimeout(30000);
    QNetworkReply* reply = m_network->get(request);
    m_reply = reply;
    connect(reply, &QNetworkReply::downloadProgress, this, [reply](qint64 received, qint64) {
        if (received > MaximumPageSize)
            reply->abort();
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply, url] {
        reply->deleteLater();
        m_reply = nullptr;
        if (reply->error() != QNetworkReply::NoError) {
            platform::log(QStringLiteral("The terms page did not load: %1").arg(reply->errorString()));
            showFailure(reply->errorString());
            return;
        }
        const QByteArray body = reply->readAll();
        // A redirect may only stay on the origin; the page's links resolve
        // against where it really came from.
        const QUrl base = reply->url().isValid() ? reply->url() : url;
        m_termsWebView->document()->setBaseUrl(base);
        m_termsWebView->setHtml(QString::fromUtf8(body));
        m_loaded = true;
        m_agreeButton->setEnabled(true);
        emit finishedLoading(true);
    });
}

void QVRTermsSheetController::showFailure(const QString& reason)
{
    m_loaded = false;
    m_agreeButton->setEnabled(false);
    QString text =
        QVRLocalizedString(QStringLiteral("The terms could not be loaded. Check your connection and "
                                          "try again."));
    if (!reason.isEmpty())
        text += QStringLiteral("\n\n") + reason;
    m_termsWebView->setPlainText(text);
    emit finishedLoading(false);
}

void QVRTermsSheetController::cancelClicked()
{
    if (m_delegate)
        m_delegate->shouldEndSheet(this, CancelReturnCode);
}

void QVRTermsSheetController::agreeClicked()
{
    if (m_delegate && m_loaded)
        m_delegate->shouldEndSheet(this, AgreeReturnCode);
}

void QVRTermsSheetController::linkClicked(const QUrl& link)
{
    const QUrl page = termsURL();
    const QUrl url = m_termsWebView->document()->baseUrl().resolved(link);
    if (url.adjusted(QUrl::RemoveFragment) == page) {
        if (url.hasFragment())
            m_termsWebView->scrollToAnchor(url.fragment());
        else {
            m_loaded = false;
            loadTerms();
        }
        return;
    }
    if (!linkMayLeaveSheet(url)) {
        platform::log(
            QStringLiteral("Ignored a link with the scheme \"%1\" on the terms page").arg(url.scheme()));
        return;
    }
    m_urlOpener(url);
}
