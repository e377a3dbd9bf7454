#pragma once

#include "platform/core/Error.h"

#include <QString>

#include <memory>
#include <optional>

class QMessageBox;
class QPushButton;

// Error alerts built from an error record: the description as the message,
// the recovery suggestion (or else the failure reason) as the informative
// text.
namespace NSAlertQVRError {

// Shows the alert on the main thread (at once when called there; queued from
// any other thread). With `url`, a "Visit Site" button opens it. A fatal
// alert ends the process with status 1 once dismissed. No error, no alert.
void showError(const std::optional<platform::Error>& error, const QString& url, bool fatal);

// A new alert with "OK" and, with `allowCancel`, "Cancel"; null without an
// error. The caller runs it.
std::unique_ptr<QMessageBox> alertWithError(const std::optional<platform::Error>& error, bool allowCancel);

// A button that answers Return.
QPushButton* addDefaultButtonWithTitle(QMessageBox& alert, const QString& title);
// A button that answers no key.
QPushButton* addDestructiveButtonWithTitle(QMessageBox& alert, const QString& title);

} // namespace NSAlertQVRError
