#include "app/alerts/NSAlertQVRError.h"

#include "platform/core/UserDefaults.h"
#include "store/QVRLocalizedString.h"
#include "store/QVRRunOnMainThread.h"

#include <QDesktopServices>
#include <QMessageBox>
#include <QPushButton>
#include <QUrl>

#include <cstdlib>

namespace NSAlertQVRError {

namespace {

constexpr int FatalExitStatus = 1;

std::unique_ptr<QMessageBox> makeAlert(const platform::Error& error)
{
    auto alert = std::make_unique<QMessageBox>();
    alert->setIcon(QMessageBox::Information);
    alert->setWindowTitle(QStringLiteral("Quillary"));
    alert->setText(error.localizedDescription);
    QString informative = error.recoverySuggestion;
    if (informative.isNull())
        informative = error.userInfo.value(QStringLiteral("NSLocalizedFailureReason")).toString();
    if (!informative.isNull())
        alert->setInformativeText(informative);
    return alert;
}

} // namespace

QPushButton* addDefaultButtonWithTitle(QMessageBox& alert, const QString& title)
{
    QPushButton* button = alert.addButton(title, QMessageBox::AcceptRole);
    alert.setDefaultButton(button);
    return button;
}

QPushButton* addDestructiveButtonWithTitle(QMessageBox& alert, const QString& title)
{
    QPushButton* button = alert.addButton(title, QMessageBox::DestructiveRole);
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

std::unique_ptr<QMessageBox> alertWithError(const std::optional<platform::Error>& error, bool allowCancel)
{
    if (!error)
        return nullptr;
    std::unique_ptr<QMessageBox> alert = makeAlert(*error);
    addDefaultButtonWithTitle(*alert, QVRLocalizedString(QStringLiteral("OK")));
    if (allowCancel)
        alert->addButton(QVRLocalizedString(QStringLiteral("Cancel")), QMessageBox::RejectRole);
    return alert;
}

void showError(const std::optional<platform::Error>& error, const QString& url, bool fatal)
{
    if (!error)
        return;
    QVRRunOnMainThread([error = *error, url, fatal] {
        std::unique_ptr<QMessageBox> alert = makeAlert(error);
        addDefaultButtonWithTitle(*alert, QVRLocalizedString(QStringLiteral("OK")));
        QPushButton* visit = nullptr;
        if (!url.isNull())
            visit =
                alert->addButton(QVRLocalizedString(QStringLiteral("Visit Site")), QMessageBox::ActionRole);
        alert->exec();
        if (visit && alert->clickedButton() == visit)
            QDesktopServices::openUrl(QUrl(url));
        if (fatal) {
            // Past the application's end, where held-back settings are written.
            platform::UserDefaults::synchronizeAll();
            std::exit(FatalExitStatus);
        }
    });
}

} // namespace NSAlertQVRError
