#pragma once

#include <QDialog>
#include <QPointer>
#include <QUrl>

#include <functional>

class QNetworkAccessManager;
class QNetworkReply;
class QPushButton;
class QTextBrowser;

// Asked by the terms sheet to end itself with a return code.
class QVRTermsSheetDelegate
{
public:
    virtual ~QVRTermsSheetDelegate() = default;
    virtual void shouldEndSheet(QDialog* sheet, int returnCode) = 0;
};

// The service's terms page, shown before a registration, with "Cancel" and
// "I Agree". The page comes from the service's own origin (https, or plain
// http to a loopback address only); its links to other pages go to the
// browser when they are http, https or mailto, and are ignored otherwise, so
// a page altered on the way cannot make the desktop open a file or a custom
// scheme. "I Agree" stays disabled until the page has loaded.
class QVRTermsSheetController : public QDialog
{
    Q_OBJECT

public:
    static constexpr int CancelReturnCode = -1001;
    static constexpr int AgreeReturnCode = 1;

    // The service's terms page; empty when the configured origin is refused.
    static QUrl termsURL();
    // Whether a link may be handed to the desktop's opener.
    static bool linkMayLeaveSheet(const QUrl& url);

    explicit QVRTermsSheetController(QWidget* parent = nullptr);
    ~QVRTermsSheetController() override;

    void setDelegate(QVRTermsSheetDelegate* delegate) { m_delegate = delegate; }
    // Where links that leave the sheet go: the default browser unless set.
    void setURLOpener(std::function<void(const QUrl&)> opener) { m_urlOpener = std::move(opener); }

    // Fetches the terms page again unless it is already shown.
    void loadTerms();
    bool loaded() const { return m_loaded; }
    void cancelClicked();
    void agreeClicked();
    void linkClicked(const QUrl& url);

    QTextBrowser* termsWebView() const { return m_termsWebView; }
    QPushButton* cancelButton() const { return m_cancelButton; }
    QPushButton* agreeButton() const { return m_agreeButton; }

signals:
    // The page has loaded (true) or failed to (false).
    void finishedLoading(bool loaded);

private:
    void showFailure(const QString& reason);

    QVRTermsSheetDelegate* m_delegate = nullptr; // not owned
    std::function<void(const QUrl&)> m_urlOpener;
    QNetworkAccessManager* m_network;
    QPointer<QNetworkReply> m_reply;
    bool m_loaded = false;
    QTextBrowser* m_termsWebView;
    QPushButton* m_cancelButton;
    QPushButton* m_agreeButton;
};
