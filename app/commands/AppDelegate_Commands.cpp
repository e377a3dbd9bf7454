// The roads into the application from other programs: URLs of the quillary
// scheme, the running instance's bus interfaces and the script commands.
#include "app/QuillaryAppDelegate.h"
#include "app/commands/AppDelegateCommandState.h"
#include "app/commands/QVRURLParts.h"
#include "app/window/NoteWindow.h"

#include "platform/core/Log.h"
#include "platform/shell/ApplicationShell.h"
#include "store/QVRUtilities.h"
#include "sync/QVRiCloudSyncInstaller.h"

#include <QDir>

namespace {

constexpr qsizetype MaximumQueryLength = 3000;
const QString Scheme = QStringLiteral("quillary");

} // namespace

void QuillaryAppDelegate::CommandStateDeleter::operator()(CommandState* state) const
{
    if (state && state->shell)
        state->shell->setScriptingHandler(nullptr);
    delete state;
}

QuillaryAppDelegate::CommandState& QuillaryAppDelegate::commandState()
{
    if (!m_commandState)
        m_commandState.reset(new CommandState);
    return *m_commandState;
}

QuillaryAppDelegate::CommandPanels& QuillaryAppDelegate::commandPanels()
{
    return commandState().panels;
}

void QuillaryAppDelegate::connectShell(platform::ApplicationShell& shell, const QStringList& operands)
{
    CommandState& state = commandState();
    state.shell = &shell;
    state.scriptingHandler = std::make_unique<QVRScriptingHandler>(this);
    shell.setScriptingHandler(state.scriptingHandler.get());
    connect(&shell, &platform::ApplicationShell::openURL, this,
            [this](const QString& url) { processURL(url); });
    connect(&shell, &platform::ApplicationShell::openFiles, this, [this](const QStringList& paths) {
        if (!m_window || m_terminating)
            return;
        m_window->openWithAnimation();
        saveCurrentNote();
        openFiles(paths);
    });

    m_launchFinished = true;
    removeSharedItemsOfEarlierRuns();
    if (!m_textToInsert.isNull()) {
        const QString text = m_textToInsert;
        m_textToInsert = QString();
        insertTextAsNewNote(text);
    }
    // This process's own command line, once the window stands.
    const platform::ApplicationShell::Arguments arguments =
        platform::ApplicationShell::classifyArguments(operands, QDir::currentPath());
    for (const QString& url : arguments.urls)
        processURL(url);
    if (!arguments.files.isEmpty())
        openFiles(arguments.files);
}

bool QuillaryAppDelegate::processURL(const QString& url)
{
    const std::optional<QVRURLParts> parts = QVRURLParts::parse(url);
    // Only the application's own scheme: the bus takes any text, and a
    // javascript: or file: URL means nothing here.
    if (!parts || parts->scheme.compare(Scheme, Qt::CaseInsensitive) != 0) {
        platform::log(QStringLiteral("Refused URL: %1").arg(url.left(200)));
        return false;
    }
    if (parts->query.size() > MaximumQueryLength)
        return false;
    if (!m_window || m_terminating)
        return false;
    m_window->openWithAnimation();

    const QMap<QString, QString> query = QVRUtilities::dictionaryFromQuery(parts->query);
    if (parts->host == QLatin1String("add")) {
        const QString text = query.value(QStringLiteral("text"), QString(QLatin1String("")));
        if (m_launchFinished && m_window->isVisible() && !m_window->isMinimized())
            insertTextAsNewNote(text);
        else
            m_textToInsert = text;
    } else if (parts->host == QLatin1String("search")) {
        startSearchWithText(query.value(QStringLiteral("text")));
    } else if (parts->host == QLatin1String("icloudreset")) {
        if (auto* installer =
                m_syncManager ? dynamic_cast<QVRiCloudSyncInstaller*>(m_syncManager->iCloud()) : nullptr)
            installer->cloud()->promptForiCloudReset();
    }
    return true;
}

void QuillaryAppDelegate::insertTextAsNewNote(const QString& text)
{
    newNote();
    insertText(text, false);
    setNoteNeedsSaving(true);
    // Inserting does not count as typing, so the autosave that typing starts
    // is started here; otherwise the text would live only in the editor.
    m_session->startAutosave();
}
