// Notes that come from files: the Open command, files handed over by the
// desktop or a second start, and drops on the window.
#include "app/QuillaryAppDelegate.h"
#include "app/alerts/Alert.h"
#include "app/commands/AppDelegateCommandState.h"
#include "app/commands/QVRFileTypes.h"
#include "app/list/NoteListModel.h"
#include "app/window/NoteWindow.h"

#include "platform/core/Log.h"
#include "platform/core/Variant.h"
#include "store/Note.h"
#include "store/QVRLocalizedString.h"
#include "store/QVRUtilities.h"
#include "sync/QVRNoteDocument.h"
#include "sync/QVRSyncDocument.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QMimeData>
#include <QRegularExpression>
#include <QUuid>

namespace {

const QString NotRightFormat = QStringLiteral("The file is not the right format.");
const QString TooLarge = QStringLiteral("The file is too large to open as a note.");
const QString NotANoteFile = QStringLiteral("Quillary opens note files and plain text files.");

QString newUUID()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

QString describe(const platform::Error& error)
{
    return QStringLiteral("%1, %2").arg(QVRDescribeError(error), QVRDescribeUserInfo(error.userInfo));
}

QStringList localFiles(const QMimeData* pasteboard)
{
    QStringList paths;
    if (pasteboard && pasteboard->hasUrls()) {
        for (const QUrl& url : pasteboard->urls()) {
            if (url.isLocalFile())
                paths << url.toLocalFile();
        }
    }
    return paths;
}

QStringList defaultChooseFilesToOpen(QWidget* parent)
{
    QFileDialog dialog(parent, QStringLiteral("Open"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setDirectory(QDir::homePath());
    dialog.setNameFilter(QStringLiteral("Notes and text (*.quillary *.txt *.text)"));
    return dialog.exec() == QDialog::Accepted ? dialog.selectedFiles() : QStringList();
}

// Takes drops on the window outside the editor (which takes text itself).
class DropTarget : public QObject
{
public:
    DropTarget(QuillaryAppDelegate* delegate, QWidget* window) : QObject(window), m_delegate(delegate)
    {
        window->setAcceptDrops(true);
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        switch (event->type()) {
        case QEvent::DragEnter:
        case QEvent::DragMove: {
            auto* drag = static_cast<QDropEvent*>(event);
            if (m_delegate->supportsPasteboard(drag->mimeData()))
                drag->acceptProposedAction();
            else
                drag->ignore();
            return true;
        }
        case QEvent::Drop: {
            auto* drop = static_cast<QDropEvent*>(event);
            if (m_delegate->addFromPasteboard(drop->mimeData()))
                drop->acceptProposedAction();
            return true;
        }
        default:
            return QObject::eventFilter(watched, event);
        }
    }

private:
    QuillaryAppDelegate* m_delegate;
};

} // namespace

// The files of one request to open that were refused, told in one alert once
// each file has had its turn: a user who drops twenty files hears about the
// three that failed once, by name and with the reason. Note files are read in
// the background, so the last turn can come after openFiles() returned; each
// of them holds a turn until its answer is in. Main thread only.
class RefusedFiles
{
public:
    explicit RefusedFiles(QWidget* window) : m_window(window) {}

    void refuse(const QString& path, const QString& why)
    {
        m_refused.append({QFileInfo(path).fileName(), why});
    }
    void takeTurn() { ++m_turns; }
    void endTurn()
    {
        if (--m_turns == 0 && !m_refused.isEmpty())
            tell();
    }

private:
    void tell()
    {
        if (!m_window)
            return; // the application is going; there is no one to tell
        QString text;
        QStringList reasons;
        if (m_refused.size() == 1) {
            text = QVRLocalizedString(QStringLiteral("The file \u201c%1\u201d couldn\u2019t be opened."))
                       .arg(m_refused.first().name);
            reasons << m_refused.first().why;
        } else {
            text =
                QVRLocalizedString(QStringLiteral("%1 files couldn\u2019t be opened.")).arg(m_refused.size());
            for (const Refusal& refusal : std::as_const(m_refused))
                reasons << QStringLiteral("\u201c%1\u201d: %2").arg(refusal.name, refusal.why);
        }
        m_refused.clear();
        Alert alert(QMessageBox::Warning, text, reasons.join(QLatin1Char('\n')));
        alert.setName(QStringLiteral("refusedFilesAlert"));
        alert.open(m_window);
    }

    struct Refusal
    {
        QString name;
        QString why;
    };
    QPointer<QWidget> m_window;
    QList<Refusal> m_refused;
    int m_turns = 1; // openFiles' own, ended when every file was looked at
};

void QuillaryAppDelegate::installDropTarget()
{
    if (m_window)
        new DropTarget(this, m_window);
}

void QuillaryAppDelegate::promptForOpenFiles()
{
    if (!m_window || m_terminating)
        return;
    CommandPanels& panels = commandPanels();
    const QStringList paths =
        panels.chooseFilesToOpen ? panels.chooseFilesToOpen() : defaultChooseFilesToOpen(m_window);
    if (paths.isEmpty())
        return;
    m_window->openWithAnimation();
    saveCurrentNote();
    QList<QUrl> urls;
    for (const QString& path : paths)
        urls << QUrl::fromLocalFile(path);
    openURLs(urls);
}

bool QuillaryAppDelegate::openURLs(const QList<QUrl>& urls)
{
    QStringList paths;
    for (const QUrl& url : urls) {
        if (url.isLocalFile())
            paths << url.toLocalFile();
    }
    return openFiles(paths);
}

bool QuillaryAppDelegate::openFiles(const QStringList& paths)
{
    const bool show = paths.size() == 1;
    bool accepted = false;
    const auto refused = std::make_shared<RefusedFiles>(m_window);
    for (const QString& path : paths) {
        platform::Error error;
        switch (QVRFileTypes::typeOfFile(path, &error)) {
        case QVRFileTypes::FileType::Unreadable:
            platform::log(QStringLiteral("Error opening file %1, %2")
                              .arg(QVRDescribeError(error), QVRDescribeUserInfo(error.userInfo)));
            refused->refuse(path, error.localizedDescription);
            break;
        case QVRFileTypes::FileType::NoteDocument:
            accepted = true;
            openNoteDocument(path, show, refused);
            break;
        case QVRFileTypes::FileType::PlainText:
            accepted = true;
            openTextFile(path, show, *refused);
            break;
        case QVRFileTypes::FileType::Other:
            refused->refuse(path, NotANoteFile);
            break;
        }
    }
    refused->endTurn();
    return accepted;
}

void QuillaryAppDelegate::openTextFile(const QString& path, bool show, RefusedFiles& refused)
{
    platform::Error error;
    const std::optional<QString> content = QVRFileTypes::readText(path, &error);
    if (!content) {
        platform::log(QStringLiteral("Error opening file: %1").arg(describe(error)));
        refused.refuse(path, error.localizedDescription);
        return;
    }
    const QFileInfo info(path);
    // The name heads the note; a line break in it would make it two lines.
    static const QRegularExpression breaks(QStringLiteral("[\\x{0000}-\\x{001F}\\x{2028}\\x{2029}]+"));
    const QString title = info.completeBaseName().replace(breaks, QStringLiteral(" "));
    QVariantMap item{{QStringLiteral("uuid"), newUUID()},
                     {QStringLiteral("text"),
                      QStringLiteral("%1\n\n%2").arg(title, QVRUtilities::normalizeLineEndings(*content))}};
    const QDateTime modified = info.lastModified();
    if (modified.isValid())
        item.insert(QStringLiteral("date"), double(modified.toMSecsSinceEpoch()) / 1000.0);
    saveAndSyncItem(item, show);
}

void QuillaryAppDelegate::openNoteDocument(const QString& path, bool show,
                                           const std::shared_ptr<RefusedFiles>& refused)
{
    const QFileInfo info(path);
    if (info.size() > QVRFileTypes::MaximumFileSize) {
        platform::log(QStringLiteral("Error opening document: ") + NotRightFormat);
        refused->refuse(path, TooLarge);
        return;
    }
    auto document = std::make_shared<QVRNoteDocument>(path);
    QPointer<QuillaryAppDelegate> self(this);
    refused->takeTurn();
    // The completion runs on the document's queue; the note is saved, and a
    // refusal told, on the main thread. The document lives until its
    // completion has run.
    document->openWithCompletionHandler([self, document, show, refused, path](bool success) {
        QVariantMap item;
        bool storedUuid = false;
        QString failure;
        if (success) {
            item = document->attributes();
            storedUuid = document->hasStoredUuid();
        } else {
            const std::optional<platform::Error> error = document->error();
            failure = error && !error->localizedDescription.isEmpty() ? error->localizedDescription
                                                                      : NotRightFormat;
        }
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, item, storedUuid, show, refused, path, failure]() mutable {
                // Whatever happens below, this file's turn ends with it.
                struct EndTurn
                {
                    RefusedFiles& batch;
                    ~EndTurn() { batch.endTurn(); }
                } endTurn{*refused};
                if (!failure.isNull()) {
                    refused->refuse(path, failure);
                    return;
                }
                if (!self)
                    return;
                // An identifier names the note's cloud file and goes to the
                // service: only one of the application's own forms is taken.
                const QString uuid = item.value(QStringLiteral("uuid")).toString();
                if (storedUuid && QVRUtilities::validUUID(uuid).isNull()) {
                    platform::log(QStringLiteral("Error opening document: ") + NotRightFormat);
                    refused->refuse(path, NotRightFormat);
                    return;
                }
                if (!uuid.isEmpty())
                    item.insert(QStringLiteral("uuid"), QVRUtilities::normalizedUUID(uuid));
                self->saveOpenedDocument(item, show);
            },
            Qt::QueuedConnection);
    });
}

void QuillaryAppDelegate::saveOpenedDocument(QVariantMap item, bool show)
{
    item.insert(QStringLiteral("archived"), false);
    Note* existing = noteWithId(item.value(QStringLiteral("uuid")).toString());
    if (existing) {
        // Newer wins, as with notes that come from the cloud folder: an older
        // copy (last month's export) never replaces what is stored now.
        const QVariant fileModified = item.value(QStringLiteral("modified"));
        const double stored = platform::variantDoubleValue(existing->modified());
        if (!fileModified.isValid() || platform::variantDoubleValue(fileModified) <= stored) {
            if (platform::variantBoolValue(existing->archived()))
                archive(false, existing, true);
            if (show && m_listModel->rowOfNote(existing) >= 0) {
                selectNote(existing);
                activateDetailAndFocus(false, true);
            }
            return;
        }
    }
    saveAndSyncItem(item, show);
}

bool QuillaryAppDelegate::supportsPasteboard(const QMimeData* pasteboard)
{
    if (!pasteboard)
        return false;
    const QStringList paths = localFiles(pasteboard);
    if (!paths.isEmpty()) {
        for (const QString& path : paths) {
            switch (QVRFileTypes::typeOfFile(path)) {
            case QVRFileTypes::FileType::Unreadable:
                return false;
            case QVRFileTypes::FileType::NoteDocument:
            case QVRFileTypes::FileType::PlainText:
                return true;
            case QVRFileTypes::FileType::Other:
                break;
            }
        }
        return false;
    }
    return pasteboard->hasText();
}

bool QuillaryAppDelegate::addFromPasteboard(const QMimeData* pasteboard)
{
    if (!supportsPasteboard(pasteboard) || !m_window)
        return false;
    m_window->openWithAnimation();
    saveCurrentNote();
    const QStringList paths = localFiles(pasteboard);
    if (!paths.isEmpty())
        return openFiles(paths);
    Note* note =
        saveItem({{QStringLiteral("uuid"), newUUID()}, {QStringLiteral("text"), pasteboard->text()}}, true);
    if (!note)
        return false;
    selectNote(note);
    activateDetailAndFocus(true, true);
    return true;
}
