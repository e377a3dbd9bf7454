#include "app/alerts/NoteSessionAlerts.h"

#include "app/alerts/Alert.h"

#include "store/QVRLocalizedString.h"

#include <QDir>
#include <QMessageBox>

namespace NoteSessionAlerts {
namespace {

// The store's reason in one line: what failed, and why when it says.
QString describe(const platform::Error& reason)
{
    const QString why = reason.userInfo.value(QStringLiteral("reason")).toString();
    QString text = reason.localizedDescription;
    if (!why.isEmpty())
        text = text.isEmpty() ? why : QStringLiteral("%1: %2").arg(text, why);
    return text;
}

// Shown without waiting: the program goes on (and tries the save again).
void showLater(const platform::Error& error, QWidget* window)
{
    Alert::fromError(error).open(window);
}

void showSaveFailure(const platform::Error& reason, QWidget* window)
{
    platform::Error error;
    error.localizedDescription = QVRLocalizedString(QStringLiteral("Your note could not be saved."));
    error.recoverySuggestion =
        QVRLocalizedString(QStringLiteral("%1.\n\nQuillary keeps the note open and tries to save it again."))
            .arg(describe(reason));
    showLater(error, window);
}

bool askQuitWithoutSaving(const platform::Error& reason, QWidget* window)
{
    Alert question(QMessageBox::Warning, QVRLocalizedString(QStringLiteral("Quit without saving?")),
                   QVRLocalizedString(
                       QStringLiteral("Your changes to the note cannot be saved (%1). If you quit now, they "
                                      "are lost."))
                       .arg(describe(reason)));
    const int quit =
        question.addButton(QVRLocalizedString(QStringLiteral("Quit")), QMessageBox::DestructiveRole);
    const int cancel =
        question.addButton(QVRLocalizedString(QStringLiteral("Cancel")), QMessageBox::RejectRole);
    question.setDefaultButton(cancel);
    question.setEscapeButton(cancel);
    return question.run(window) == quit;
}

void showRecovered(const QStringList& paths, QWidget* window)
{
    QStringList shown;
    for (const QString& path : paths)
        shown << QDir::toNativeSeparators(path);
    platform::Error error;
    error.localizedDescription =
        QVRLocalizedString(QStringLiteral("Quillary kept unsaved notes when it last closed."));
    error.recoverySuggestion =
        QVRLocalizedString(QStringLiteral("They could not be saved, so their text is in:\n%1"))
            .arg(shown.join(QLatin1Char('\n')));
    showLater(error, window);
}

} // namespace

NoteSession::Prompts prompts(std::function<QWidget*()> window)
{
    NoteSession::Prompts prompts;
    prompts.saveFailed = [window](const platform::Error& reason) { showSaveFailure(reason, window()); };
    prompts.quitWithoutSaving = [window](const platform::Error& reason) {
        return askQuitWithoutSaving(reason, window());
    };
    prompts.recovered = [window](const QStringList& paths) { showRecovered(paths, window()); };
    return prompts;
}

} // namespace NoteSessionAlerts
