// The roads out of the application other than sync: export to files, sharing
// by e-mail, copying a note and printing it.
#include "app/QuillaryAppDelegate.h"
#include "app/alerts/Alert.h"
#include "app/commands/AppDelegateCommandState.h"
#include "app/commands/CommandRegistry.h"
#include "app/window/NoteWindow.h"

#include "platform/core/Log.h"
#include "platform/core/Variant.h"
#include "store/Note.h"
#include "store/QVRDataStore.h"
#include "store/QVRLocalizedString.h"
#include "store/QVRObjectController.h"
#include "store/QVRUtilities.h"
#include "sync/QVRNoteDocument.h"

#include <QAction>
#include <QClipboard>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QPageSetupDialog>
#include <QPrintDialog>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>

namespace {

const QString NoteExtension = QStringLiteral("quillary");
const QString TextExtension = QStringLiteral("txt");
const QString SharedItemsName = QStringLiteral("SharedItems");

// xdg-email hands the message on as one mailto: address with the body
// percent-encoded (up to nine bytes for one character), and the kernel
// refuses to start a program with any single argument of 128 KiB or more
// (E2BIG), a failure the user never sees. A message whose encoded subject and
// body pass this bound goes as an attachment instead; the margin leaves room
// for the address's other parts.
constexpr qsizetype LongestMailtoText = 96 * 1024;

bool fitsInMailto(const QString& subject, const QString& body)
{
    return QUrl::toPercentEncoding(subject).size() + QUrl::toPercentEncoding(body).size() <=
           LongestMailtoText;
}

QString emailProgram()
{
    return QStandardPaths::findExecutable(QStringLiteral("xdg-email"));
}

std::optional<QuillaryAppDelegate::ExportChoice> defaultChooseExportFolder(QWidget* parent,
                                                                           const QString& extension)
{
    QFileDialog dialog(parent, QVRLocalizedString(QStringLiteral("Export")));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setDirectory(QDir::homePath());
    dialog.setLabelText(QFileDialog::Accept, QVRLocalizedString(QStringLiteral("Export")));
    auto* format = new QComboBox(&dialog);
    format->addItem(QVRLocalizedString(QStringLiteral("Quillary Note")));
    format->addItem(QVRLocalizedString(QStringLiteral("Plain Text")));
    format->setCurrentIndex(extension == TextExtension ? 1 : 0);
    if (auto* grid = qobject_cast<QGridLayout*>(dialog.layout())) {
        const int row = grid->rowCount();
        grid->addWidget(new QLabel(QVRLocalizedString(QStringLiteral("Format:")), &dialog), row, 0);
        grid->addWidget(format, row, 1);
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return QuillaryAppDelegate::ExportChoice{dialog.selectedFiles().first(),
                                             format->currentIndex() == 0 ? NoteExtension : TextExtension};
}

// Shows an export failure; false when the user chose Cancel.
bool showExportError(QWidget* parent, const platform::Error& error, bool allowCancel)
{
    Alert alert = Alert::fromError(error);
    alert.setDefaultButton(
        alert.addButton(QVRLocalizedString(QStringLiteral("OK")), QMessageBox::AcceptRole));
    const int cancel =
        allowCancel ? alert.addButton(QVRLocalizedString(QStringLiteral("Cancel")), QMessageBox::RejectRole)
                    : Alert::NoButton;
    const int chosen = alert.run(parent);
    return cancel == Alert::NoButton || chosen != cancel;
}

platform::Error fileError(const QString& description, const QString& path)
{
    platform::Error error;
    error.domain = QStringLiteral("NSCocoaErrorDomain");
    error.code = 512;
    error.localizedDescription = description;
    error.userInfo.insert(QStringLiteral("NSFilePath"), path);
    return error;
}

} // namespace

bool QuillaryAppDelegate::noteHasText(Note* note) const
{
    return note && QVRUtilities::hasValue(note->text());
}

void QuillaryAppDelegate::changeFileFormat(int index)
{
    m_exportFileExtension = index == 0 ? NoteExtension : TextExtension;
}

std::optional<QuillaryAppDelegate::ExportChoice> QuillaryAppDelegate::runExportPanel()
{
    const QString extension = m_exportFileExtension.isNull() ? NoteExtension : m_exportFileExtension;
    CommandPanels& panels = commandPanels();
    std::optional<ExportChoice> choice = panels.chooseExportFolder
                                             ? panels.chooseExportFolder(extension)
                                             : defaultChooseExportFolder(m_window, extension);
    if (!choice || choice->folder.isEmpty())
        return std::nullopt;
    changeFileFormat(choice->extension == TextExtension ? 1 : 0);
    saveCurrentNote();
    return choice;
}

void QuillaryAppDelegate::exportSelectedNote()
{
    saveCurrentNote();
    if (!noteHasText(selectedNote()))
        return;
    const std::optional<ExportChoice> choice = runExportPanel();
    // The panel saved the editor, which may have emptied or deleted the note.
    if (!choice || !noteHasText(selectedNote()))
        return;
    platform::Error error;
    if (exportNote(selectedNote(), m_exportFileExtension, choice->folder, &error).isEmpty() &&
        !error.localizedDescription.isEmpty()) {
        showExportError(m_window, error, false);
    }
}

void QuillaryAppDelegate::exportAllNotes()
{
    saveCurrentNote();
    if (noteCount() == 0)
        return;
    const std::optional<ExportChoice> choice = runExportPanel();
    if (!choice)
        return;
    // Uuids rather than objects: an alert runs the event loop, and a sync
    // meanwhile may change the list.
    QStringList uuids;
    for (platform::ManagedObject* object : noteController()->objectsFiltered(false))
        uuids << static_cast<Note*>(object)->uuid();
    for (const QString& uuid : uuids) {
        Note* note = noteWithId(uuid);
        if (!note)
            continue;
        platform::Error error;
        if (!exportNote(note, m_exportFileExtension, choice->folder, &error).isEmpty() ||
            error.localizedDescription.isEmpty())
            continue;
        if (!showExportError(m_window, error, true))
            break;
    }
}

QString QuillaryAppDelegate::exportNote(Note* note, const QString& extension, const QString& folder,
                                        platform::Error* error)
{
    if (!note)
        return {};
    const QString path = QVRUtilities::urlForFileName(note->title(), extension, folder);
    if (extension == NoteExtension) {
        platform::Error saveError;
        if (!QVRNoteDocument::saveObject(note->attributes(), path, &saveError)) {
            if (error)
                *error = saveError;
            return {};
        }
        return path;
    }
    QSaveFile file(path);
    // Create only: the name was free a moment ago, and another file that
    // appeared there meanwhile is not replaced.
    const bool written = !QFileInfo::exists(path) && file.open(QIODevice::WriteOnly) &&
                         file.write(note->text().toUtf8()) >= 0 && file.commit();
    if (!written) {
        const platform::Error failure =
            fileError(file.errorString().isEmpty() ? QStringLiteral("The file could not be written.")
                                                   : file.errorString(),
                      path);
        platform::log(QStringLiteral("File could not be exported: %1 %2")
                          .arg(QVRDescribeError(failure), QVRDescribeUserInfo(failure.userInfo)));
        if (error)
            *error = failure;
        return {};
    }
    QFile stamped(path);
    if (stamped.open(QIODevice::ReadWrite)) {
        const double date = platform::variantDoubleValue(note->date());
        stamped.setFileTime(QDateTime::fromMSecsSinceEpoch(qint64(date * 1000.0)),
                            QFileDevice::FileModificationTime);
    }
    return path;
}

// --- Sharing -----------------------------------------------------------------

QList<QAction*> QuillaryAppDelegate::sharingMenuItemsForNote(Note* note, QMenu* menu)
{
    (void)note; // the items act on the selected note
    QList<QAction*> items;
    if (emailProgram().isEmpty())
        return items;
    const QIcon icon = QIcon::fromTheme(QStringLiteral("mail-send"));
    for (const char* id : {"emailMenuItem", "emailAttachmentMenuItem"}) {
        if (QAction* item = m_commands->addEcho(menu, QString::fromLatin1(id))) {
            item->setIcon(icon);
            items << item;
        }
    }
    return items;
}

QString QuillaryAppDelegate::sharedItemsURL()
{
    return QVRDataStore::cacheURLNamed(SharedItemsName, false, true);
}

// Attachments are not removed when xdg-email returns, nor at quit: the mail
// program reads the file when the message is sent, which may be long after
// (a compose window left open outlives both). Each run instead removes what
// earlier runs left, once it is the running instance.
void QuillaryAppDelegate::removeSharedItemsOfEarlierRuns()
{
    QVRDataStore::cacheURLNamed(SharedItemsName, false, false);
    // Earlier versions left them beside the store, in the data folder.
    if (QFileInfo::exists(QVRDataStore::sharedContainerURL() + QStringLiteral("/Library/Caches/") +
                          SharedItemsName))
        QVRDataStore::cacheURLNamed(SharedItemsName, true, false);
}

// The note as a plain-text file in a folder of its own under the shared-items
// folder; empty when it cannot be written.
QString QuillaryAppDelegate::writeSharedAttachment(Note* note)
{
    CommandState& state = commandState();
    if (state.sharedItemsFolder.isEmpty())
        state.sharedItemsFolder = sharedItemsURL();
    if (state.sharedItemsFolder.isEmpty())
        return {};
    QTemporaryDir folder(QDir(state.sharedItemsFolder).filePath(QStringLiteral("share-XXXXXX")));
    folder.setAutoRemove(false);
    return folder.isValid() ? exportNote(note, TextExtension, folder.path(), nullptr) : QString();
}

const QString QuillaryAppDelegate::EmailService = QStringLiteral("email");
const QString QuillaryAppDelegate::AttachmentService = QStringLiteral("email-attachment");

void QuillaryAppDelegate::share(const QString& service)
{
    saveCurrentNote();
    Note* note = selectedNote();
    if (!noteHasText(note))
        return;
    const QString program = emailProgram();
    if (program.isEmpty() || (service != AttachmentService && service != EmailService))
        return;
    QStringList arguments;
    if (service == EmailService && fitsInMailto(note->title(), note->text())) {
        arguments << QStringLiteral("--subject") << note->title() << QStringLiteral("--body") << note->text();
    } else {
        const QString file = writeSharedAttachment(note);
        if (file.isEmpty())
            return;
        // A body too long for the mail address keeps its subject.
        if (service == EmailService)
            arguments << QStringLiteral("--subject") << note->title();
        arguments << QStringLiteral("--attach") << file;
    }
    auto* process = new QProcess(this);
    process->setProgram(program);
    process->setArguments(arguments);
    process->setStandardInputFile(QProcess::nullDevice());
    process->setStandardOutputFile(QProcess::nullDevice());
    connect(process, &QProcess::finished, this, [process](int code, QProcess::ExitStatus status) {
        if (status != QProcess::NormalExit || code != 0)
            platform::log(QStringLiteral("Sharing failed: %1, %2")
                              .arg(status == QProcess::NormalExit ? QStringLiteral("exit status %1").arg(code)
                                                                  : QStringLiteral("crashed"),
                                   QString::fromLocal8Bit(process->readAllStandardError()).trimmed()));
        process->deleteLater();
    });
    connect(process, &QProcess::errorOccurred, this, [process](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;
        platform::log(
            QStringLiteral("Sharing failed: %1, %2").arg(process->program(), process->errorString()));
        process->deleteLater();
    });
    process->start();
}

// --- Copy and print ----------------------------------------------------------

void QuillaryAppDelegate::copy()
{
    saveCurrentNote();
    // Without a note there is nothing to copy, and the clipboard keeps what
    // the user put there.
    if (!selectedNote())
        return;
    QGuiApplication::clipboard()->setText(selectedNote()->text(), QClipboard::Clipboard);
}

QPrinter& QuillaryAppDelegate::printInfo()
{
    CommandState& state = commandState();
    if (!state.printInfo)
        state.printInfo = std::make_unique<QPrinter>(QPrinter::HighResolution);
    return *state.printInfo;
}

void QuillaryAppDelegate::showPageSetup()
{
    if (!m_window)
        return;
    // Qt's page-setup dialog writes the user's choices into the printer from
    // exec() alone: shown with open(), an accepted Landscape never reached
    // the next print.
    QPageSetupDialog dialog(&printInfo(), m_window);
    dialog.setWindowModality(Qt::WindowModal);
    dialog.exec();
}

void QuillaryAppDelegate::print()
{
    saveCurrentNote();
    if (!noteHasText(selectedNote()))
        return;
    const QString uuid = selectedNote()->uuid();
    QPrinter& printer = printInfo();
    CommandPanels& panels = commandPanels();
    bool accepted = false;
    if (panels.preparePrinter) {
        accepted = panels.preparePrinter(printer);
    } else {
        QPrintDialog dialog(&printer, m_window);
        accepted = dialog.exec() == QDialog::Accepted;
    }
    // The dialog ran the event loop: take the note again by its uuid.
    Note* note = noteWithId(uuid);
    if (!accepted || !noteHasText(note))
        return;
    CommandState& state = commandState();
    if (!state.printView)
        state.printView = std::make_unique<QTextDocument>();
    state.printView->setPlainText(note->text());
    state.printView->print(&printer);
}
