// Start-up, activation and quitting, and the callbacks through which the store
// and the sync manager consult the application.
#include "app/QuillaryAppDelegate.h"
#include "app/alerts/Alert.h"
#include "app/list/NoteListModel.h"
#include "app/search/QVRSearchBar.h"
#include "app/search/QVRSearchField.h"
#include "app/window/NoteWindow.h"
#include "app/window/QVRAboutWindowController.h"

#include "hotkey/ZQHotKeyCenter.h"
#include "platform/core/Clock.h"
#include "platform/core/Log.h"
#include "platform/core/UserDefaults.h"
#include "platform/core/Variant.h"
#include "platform/ui/UndoManager.h"
#include "store/Note.h"
#include "store/QVRDefaultsKeys.h"
#include "store/QVRObjectController.h"
#include "store/QVRUtilities.h"

#include <QGuiApplication>
#include <QMessageBox>

#include <utility>

QuillaryAppDelegate* QuillaryAppDelegate::s_shared = nullptr;

namespace {

// The text size from the settings: a value that is not a number, or is 0 or
// less, counts as 12; others are kept within 6 to 72.
int clampedTextSize(const QVariant& value)
{
    bool ok = false;
    const double size = value.toDouble(&ok);
    if (!ok || !(size > 0) || value.typeId() == QMetaType::QString)
        return 12;
    return int(std::clamp(size, 6.0, 72.0));
}

} // namespace

QuillaryAppDelegate::QuillaryAppDelegate(const Environment& environment, QObject* parent)
    : QObject(parent), m_rootStore(environment.rootStore), m_defaults(environment.defaults),
      m_hotKeyCenter(environment.hotKeyCenter), m_launcherExecutable(environment.launcherExecutable)
{
    s_shared = this;
    m_makeStatusItem = environment.makeStatusItem;
    m_statusTimer.setSingleShot(true);
    m_statusTimer.setInterval(200);
    connect(&m_statusTimer, &QTimer::timeout, this, &QuillaryAppDelegate::displayStatus);
    m_terminateTimer.setInterval(300);
    connect(&m_terminateTimer, &QTimer::timeout, this, &QuillaryAppDelegate::terminateWhenDone);
    m_listModel = new NoteListModel(this);
    m_undoManager = new platform::UndoManager(this);
    if (m_rootStore && m_rootStore->context())
        m_dataStore = QVRDataStore::storeWithParent(m_rootStore, platform::ConcurrencyType::MainQueue);
    buildSession(environment);

    if (!m_rootStore || !m_rootStore->context()) {
        const std::optional<platform::Error> error = m_rootStore ? m_rootStore->error() : std::nullopt;
        Alert::showError(error, QVRDataStore::supportURL(), true);
        return;
    }
    if (!m_dataStore)
        return;
    m_dataStore->setIdentifier(QStringLiteral("QuillaryAppDelegate"));
    m_dataStore->setDelegate(this);

    m_defaults->registerDefaults(QVRDefaultsKeys::registration(
        QVRDefaultsKeys::TextSize, QVRDefaultsKeys::TextCheckingTypes, QVRDefaultsKeys::MenuBarMode,
        QVRDefaultsKeys::Selected, QVRDefaultsKeys::NoteIsOpen));

    m_syncManager = environment.syncManager;
    if (m_syncManager) {
        m_syncManager->setDelegate(this);
        m_syncManager->setInterfaceDelegate(this);
    }
    m_textSize = clampedTextSize(m_defaults->object(QVRDefaultsKeys::TextSize));
    m_textCheckingTypes = QVRDefaultsKeys::value(*m_defaults, QVRDefaultsKeys::TextCheckingTypes);
    m_noteIsOpen = QVRDefaultsKeys::value(*m_defaults, QVRDefaultsKeys::NoteIsOpen);
    m_twoPane = m_fitsTwoPane = m_wantsTwoPane = true;
    m_session->restoreSelection(noteWithId(QVRDefaultsKeys::value(*m_defaults, QVRDefaultsKeys::Selected)));
    m_searchShowing = false;
    buildWindow();
    m_window->searchView()->setAnimationDuration(environment.searchAnimationMs);
}

QuillaryAppDelegate::~QuillaryAppDelegate()
{
    m_observers.clear();
    if (m_hotKeyCenter) {
        const KeyCombo combo = keyComboForKey(QVRDefaultsKeys::GlobalShortcut);
        if (comboNamesKey(combo))
            m_hotKeyCenter->unregisterHotKeyWithKeyCode(uint16_t(combo.code & 0xFFFF), combo.flags);
    }
    if (m_syncManager) {
        m_syncManager->setDelegate(nullptr);
        m_syncManager->setInterfaceDelegate(nullptr);
    }
    if (m_dataStore)
        m_dataStore->setDelegate(nullptr);
    // A window that goes while its editor has the focus ends the editing from
    // inside its own destructor: that must not reach this object.
    if (m_window) {
        m_window->textView()->disconnect(this);
        // Its hide on the way out must not reach the frame keeping either.
        m_window->removeEventFilter(this);
        m_frameSaveTimer.stop();
    }
    m_session->setEditor(nullptr);
    delete m_window.data();
    if (s_shared == this)
        s_shared = nullptr;
}

QuillaryAppDelegate* QuillaryAppDelegate::sharedDelegate()
{
    return s_shared;
}

void QuillaryAppDelegate::buildWindow()
{
    m_window = new NoteWindow(this);
    m_window->tableView()->setModel(m_listModel);
    connect(m_window->tableView()->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { tableViewSelectionDidChange(); });
    // A removed selected row leaves no selection behind without a change
    // notice of its own; the list then reports it as a change.
    connect(m_listModel, &QAbstractItemModel::rowsRemoved, this, [this] {
        if (!m_session->ignoresSelectionChanges() && selectedNote() &&
            m_listModel->rowOfNote(selectedNote()) < 0 &&
            !m_window->tableView()->selectionModel()->hasSelection())
            tableViewSelectionDidChange();
    });
    connect(m_window->tableView(), &NoteTableView::openRequested, this,
            [this] { activateDetailAndFocus(true, true); });
    connect(m_window->statusButton(), &QPushButton::clicked, this, &QuillaryAppDelegate::statusButtonClicked);
    connect(m_window, &NoteWindow::swipedRight, this, &QuillaryAppDelegate::showListView);
    connect(m_window, &NoteWindow::swipedLeft, this, &QuillaryAppDelegate::hideListView);
    connect(m_window->addButton(), &QPushButton::clicked, this, [this] {
        saveCurrentNote();
        newNoteWithoutSaving();
        activateDetailAndFocus(true, true);
    });
    QTextDocument* document = m_window->textView()->document();
    connect(m_window->textView(), &NoteTextView::textEdited, this, &QuillaryAppDelegate::textDidChange);
    connect(m_window->textView(), &NoteTextView::editingEnded, this, &QuillaryAppDelegate::textDidEndEditing);
    m_undoManager->attachDocument(document, QStringLiteral("Typing"));
    // Typing and note actions share one history: the editor's undo keys go
    // to the window's manager.
    m_undoManager->routeUndoKeys(m_window->textView());
    QVRSearchField* field = m_window->searchField();
    connect(field, &QLineEdit::textEdited, this, [this] { updateSearch(); });
    connect(field, &QVRSearchField::returnPressedInField, this,
            [this] { activateDetailAndFocus(true, true); });
    connect(field, &QVRSearchField::escapePressedWhenEmpty, this, &QuillaryAppDelegate::hideSearch);
    connect(field, &QVRSearchField::downPressed, this, [this] { m_window->tableView()->setFocus(); });
    buildMenus();
    installCommands(); // open, export, share, copy, print and drops
    buildPreferencesCommands();
}

void QuillaryAppDelegate::applicationWillFinishLaunching()
{
    if (!m_dataStore)
        return;
    if (QVRDefaultsKeys::value(*m_defaults, QVRDefaultsKeys::MenuBarMode))
        setMenuBarMode(true);
    else
        restoreWindowFrame();
    resetTextViewAttributes();
    displayStatus();
    observeNotifications();
    observeScrolling();
    observeListRefresh();
    reloadList();
    adjustWindowContent();

    const quint64 index = noteController()->indexOfObject(selectedNote(), true);
    if (selectedNote() && index < quint64(m_listModel->rowCount())) {
        selectNote(selectedNote());
        if (m_twoPane || m_noteIsOpen)
            activateDetailAndFocus(false, false);
    } else {
        m_session->restoreSelection(nullptr);
        updateDetailView();
    }
    updateStatus();
    setKeyCombo(keyComboForKey(QVRDefaultsKeys::GlobalShortcut));
    if (m_syncManager)
        QTimer::singleShot(100, m_syncManager, [manager = m_syncManager] { manager->start(); });
    m_window->openWithAnimation();
    // Notes that the last run could not save and kept in recovery files.
    m_session->announceRecoveredTexts();
}

void QuillaryAppDelegate::observeNotifications()
{
    platform::NotificationCenter& center = platform::NotificationCenter::defaultCenter();
    // Sync notices can come from any thread; the window is touched only here.
    auto onMain = [this](void (QuillaryAppDelegate::*operation)()) {
        return [this, operation](const platform::Notification&) {
            QMetaObject::invokeMethod(
                this, [this, operation] { (this->*operation)(); }, Qt::AutoConnection);
        };
    };
    m_observers.push_back(center.addObserver(QVRSyncChangeNotification, nullptr,
                                             onMain(qOverload<>(&QuillaryAppDelegate::updateStatus))));
    m_observers.push_back(center.addObserver(QVRSyncFailureNotification, nullptr,
                                             onMain(qOverload<>(&QuillaryAppDelegate::updateStatus))));
    m_observers.push_back(
        center.addObserver(QVRSyncCompleteNotification, nullptr, onMain(&QuillaryAppDelegate::finishedSync)));
    m_observers.push_back(center.addObserver(
        QVRUserDefaultsDidChangeNotification, nullptr, [this](const platform::Notification& notification) {
            const QString key = notification.userInfo.value(QVRUserDefaultsKey).toString();
            const QVariant value = notification.userInfo.value(QVRUserDefaultsValue);
            QMetaObject::invokeMethod(
                this, [this, key, value] { userDefaultsDidChange(key, value); }, Qt::AutoConnection);
        }));
}

void QuillaryAppDelegate::userDefaultsDidChange(const QString& key, const QVariant& value)
{
    if (key == QVRDefaultsKeys::MenuBarMode.key) {
        if (platform::variantBoolValue(value) != (m_statusItem != nullptr))
            setMenuBarMode(platform::variantBoolValue(value));
        return;
    }
    if (key != QVRDefaultsKeys::TextSize.key)
        return;
    saveCurrentNote();
    m_textSize = clampedTextSize(value);
    if (textView()) {
        insertText(editorText(), true);
        m_undoManager->removeAllActionsWithTarget(textView()->document());
    }
    m_listModel->reloadAll();
    displayStatus();
}

void QuillaryAppDelegate::applicationDidBecomeActive()
{
    if (m_window && !m_window->menuBarMode() && !m_window->isVisible() && !m_terminating)
        m_window->openWithAnimation();
}

void QuillaryAppDelegate::applicationShouldHandleReopen()
{
    if (m_window && !m_terminating)
        m_window->openWithAnimation();
}

void QuillaryAppDelegate::applicationWillResignActive()
{
    saveNoteAndSettings();
}

void QuillaryAppDelegate::saveNoteAndSettings()
{
    saveCurrentNote();
    saveData();
}

bool QuillaryAppDelegate::applicationShouldTerminate()
{
    if (m_terminating)
        return false;
    // Saves the note; when it cannot be written, the user's own quit may be
    // cancelled here, and any other end keeps its text in a recovery file.
    if (!m_session->prepareToQuit(std::exchange(m_quitChosenByUser, false)))
        return false;
    m_terminating = true;
    disableInterface();
    if (m_syncManager)
        m_syncManager->prepareToStop();
    saveCurrentNote();
    saveData();
    if (m_syncManager && m_syncManager->busy()) {
        startQuitWait();
        return false;
    }
    finishTermination();
    return true;
}

void QuillaryAppDelegate::startQuitWait()
{
    m_quitWaitStartedAt = platform::now();
    m_terminateTimer.start();
}

void QuillaryAppDelegate::terminateWhenDone()
{
    // The sync manager stays busy while its queue holds operations, and a
    // queue that keeps refilling, or a server that answers each request just
    // before its time-out, would keep the process (and its bus name: a new
    // start waits for it) for ever. Changes not sent yet are sent at the next
    // start.
    if (m_syncManager && m_syncManager->busy()) {
        const double waited = platform::now() - m_quitWaitStartedAt;
        if (waited < LongestQuitWaitSeconds)
            return;
        platform::log(QStringLiteral("Quillary: quitting with the sync still busy after %1 s").arg(waited));
    }
    m_terminateTimer.stop();
    finishTermination();
    emit terminationReady();
}

void QuillaryAppDelegate::finishTermination()
{
    saveWindowFrame();
    if (m_syncManager)
        m_syncManager->stop();
    if (m_dataStore) {
        m_dataStore->setDelegate(nullptr);
        m_dataStore->close();
    }
    m_noteController.reset();
    m_listModel->reloadFrom(nullptr);
    m_session->restoreSelection(nullptr);
    m_dataStore.reset();
}

void QuillaryAppDelegate::disableInterface()
{
    if (!m_window)
        return;
    if (m_aboutWindowController)
        m_aboutWindowController->close();
    m_window->closeWithAnimation();
    m_window->textView()->setReadOnly(true);
    m_window->textView()->setTextInteractionFlags(Qt::NoTextInteraction);
    m_window->tableView()->setEnabled(false);
    m_window->statusButton()->setEnabled(false);
    m_window->addButton()->setEnabled(false);
    m_window->gearButton()->setEnabled(false);
    showEditorDisabled();
}

// --- Sync interface and store callbacks ------------------------------------------

QVRApplicationState QuillaryAppDelegate::applicationState()
{
    return QGuiApplication::applicationState() == Qt::ApplicationActive ? QVRApplicationState::Active
                                                                        : QVRApplicationState::Background;
}

void QuillaryAppDelegate::shouldPromptWithTitle(const QString& title, const QString& message,
                                                const QString& accept, const QString& cancel,
                                                std::function<void(bool)> handler)
{
    // Any web page can raise this prompt (the reset one through a link), so
    // a key pressed without reading must answer Cancel: Return as Escape.
    Alert prompt(QMessageBox::Information, title, message);
    prompt.setWindowTitle(title);
    const int acceptButton = prompt.addButton(accept, QMessageBox::AcceptRole);
    const int cancelButton = prompt.addButton(cancel, QMessageBox::RejectRole);
    prompt.setDefaultButton(cancelButton);
    prompt.setEscapeButton(cancelButton);
    const int chosen = prompt.run(m_window);
    if (handler)
        handler(chosen == acceptButton);
}

bool QuillaryAppDelegate::dataStoreShouldSave(QVRDataStore* store)
{
    return store && store == m_dataStore.get();
}

bool QuillaryAppDelegate::dataStoreInUse(QVRDataStore* store)
{
    (void)store;
    return false;
}

void QuillaryAppDelegate::dataStoreRefreshed(QVRDataStore* store, bool refreshed)
{
    // Another process saved: the notes it added join the lists, the ones it
    // removed leave them and the changed ones move, row by row.
    QVRObjectController* controller = m_noteController.get();
    if (!refreshed || !controller || store != m_dataStore.get())
        return;
    rearrangeList([controller] { controller->reloadRecords(); });
}
