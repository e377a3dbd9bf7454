// Notes that come from files: the Open command, files handed over by the
// desktop or a second start, and drops on the window.
#include "app/QuillaryAppDelegate.h"
#include "app/commands/AppDelegateCommandState.h"
#include "app/commands/QVRFileTypes.h"
#include "app/list/NoteListModel.h"
#include "app/window/NoteWindow.h"

#include "platform/core/Log.h"
#include "platform/core/Variant.h"
#include "store/Note.h"
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
    for (const QString& path : paths) {
        platform::Error error;
        switch (QVRFileTypes::typeOfFile(path, &error)) {
        case QVRFileTypes::FileType::Unreadable:
            platform::log(QStringLiteral("Error opening file %1, %2")
                              .arg(QVRDescribeError(error), QVRDescribeUserInfo(error.userInfo)));
            break;
        case QVRFileTypes::FileType::NoteDocument:
            accepted = true;
            openNoteDocument(path, show);
            break;
        case QVRFileTypes::FileType::PlainText:
            accepted = true;
            openTextFile(path, show);
            break;
        case QVRFileTypes::FileType::Other:
            break;
        }
    }
    return accepted;
}

void QuillaryAppDelegate::openTextFile(const QString& path, bool show)
{
    platform::Error error;
    const std::optional<QString> content = QVRFileTypes::readText(path, &error);
    if (!content) {
        platform::log(QStringLiteral("Error opening file: %1").arg(describe(error)));
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

void QuillaryAppDelegate::openNoteDocument(const QString& path, bool show)
{
    const QFileInfo info(path);
    if (info.size() > QVRFileTypes::MaximumFileSize) {
        platform::log(QStringLiteral("Error opening document: ") + NotRightFormat);
        return;
    }
    auto document = std::make_shared<QVRNoteDocument>(path);
    QPointer<QuillaryAppDelegate> self(this);
    // The completion runs on the document's queue; the note is saved on the
    // main thread. The document lives until its completion has run.
    document->openWithCompletionHandler([self, document, show](bool success) {
        if (!success)
            return;
        QVariantMap item = document->attributes();
        const bool storedUuid = document->hasStoredUuid();
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, item, storedUuid, show]() mutable {
                if (!self)
                    return;
                // An identifier names the note's cloud file and goes to the
                // service: only one of the application's own forms is taken.
                const QString uuid = item.value(QStringLiteral("uuid")).toString();
                if (storedUuid && QVRUtilities::validUUID(uuid).isNull()) {
                    platform::log(QStringLiteral("Error opening document: ") + NotRightFormat);
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
