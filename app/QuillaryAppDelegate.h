#pragma once

#include "app/session/NoteSession.h"
#include "app/window/NoteWindow.h"
#include "app/window/QVRAboutWindowController.h"
#include "calculator/ZQNumber.h"
#include "hotkey/KRRecorderControl.h"
#include "platform/core/Error.h"
#include "platform/core/NotificationCenter.h"
#include "platform/data/ObjectID.h"
#include "platform/ui/StatusItem.h"
#include "store/QVRDataStore.h"
#include "store/QVRDefaultsKeys.h"
#include "store/QVRNoteAttributes.h"
#include "sync/QVRSyncManager.h"

#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QTimer>
#include <QUrl>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class Note;
class NoteListModel;
class QVRObjectController;
class QVRPreferencesWindowController;
class RefusedFiles;
class ZQHotKeyCenter;

class CommandRegistry;
class MenuValidator;
class QVRLinkTextView;
class QVRSearchField;
class SearchFilter;
class QAction;
class QItemSelection;
class QAbstractScrollArea;
class QLocale;
class QListView;
class QMenu;
class QPushButton;
class QAction;
class QMimeData;
class QPrinter;

namespace platform {
class ApplicationShell;
class StatusItem;
class UndoManager;
class UserDefaults;
namespace animation {
class AnimationGroup;
}
} // namespace platform

// The application's controller: owns the note list and the main window,
// builds the open note's owner (NoteSession, whose central save every change
// to a note goes through) over them, and answers the store's and the sync
// manager's callbacks. One object per
// process; its operations are split over one source file per area
// (AppDelegate_*.cpp). Main thread only.
class QuillaryAppDelegate : public QObject,
                            public QVRDataStoreDelegate,
                            public QVRSyncManagerDelegate,
                            public QVRSyncInterfaceDelegate,
                            public KRRecorderDelegate
{
    Q_OBJECT

public:
    // What the delegate is built over. A test passes its own root store,
    // defaults and (optionally) no sync manager.
    struct Environment
    {
        QVRDataStore* rootStore = nullptr;
        platform::UserDefaults* defaults = nullptr;
        QVRSyncManager* syncManager = nullptr;
        int autosaveIntervalMs = 60000;
        ZQHotKeyCenter* hotKeyCenter = nullptr;
        // The login-item launcher that the autostart entry runs.
        QString launcherExecutable;
        // Window modes: makes the tray icon of menu-bar mode (the system
        // tray's when not set).
        std::function<std::unique_ptr<platform::StatusItem>()> makeStatusItem;
        // Editor and search bar: how long the bar slides (0: at once).
        int searchAnimationMs = 300;
        // Where a session end that cannot wait keeps unsaved notes (see
        // NoteSession); empty: $XDG_DATA_HOME/Quillary/Recovered.
        QString recoveryFolder;
    };

    explicit QuillaryAppDelegate(const Environment& environment, QObject* parent = nullptr);
    ~QuillaryAppDelegate() override;

    static QuillaryAppDelegate* sharedDelegate();

    // False when the root store could not be opened (the fatal alert was
    // shown); nothing else is usable then.
    bool isUsable() const { return m_dataStore != nullptr; }

    // --- Start-up and shutdown -------------------------------------------
    void applicationWillFinishLaunching();
    void applicationDidBecomeActive();
    void applicationWillResignActive();
    // Another start without arguments: bring the window forward.
    void applicationShouldHandleReopen();
    // True: end now. False: the caller waits for terminationReady(), which
    // comes when the sync manager is no longer busy, or after
    // LongestQuitWaitSeconds at most; unless terminating() is false: then the
    // user chose to keep the program (a note that cannot be saved). A quit the
    // user chose (quitRequested) may ask; any other end (a signal, a logout)
    // keeps unsaved text in a recovery file instead.
    bool applicationShouldTerminate();
    bool terminating() const { return m_terminating; }
    static constexpr double LongestQuitWaitSeconds = 60;
    // The session manager saves the session: the open note, the store and
    // the settings are stored at once, and the application keeps running.
    void saveNoteAndSettings();
    void disableInterface();
    void userDefaultsDidChange(const QString& key, const QVariant& value);

    // --- Note operations --------------------------------------------------
    // The open note's owner: selection, editing item, unsaved flag, central
    // save, autosave and the outcome of each save. The operations below that
    // it owns only pass the call on.
    NoteSession* noteSession() const { return m_session; }
    Note* saveItem(const QVariantMap& item, bool sync);
    void saveAndSyncItem(const QVariantMap& item, bool show);
    void deleteItemWithUUID(const QString& uuid, bool sync = true);
    void archive(bool archived, Note* note, bool sync);
    void undoDeletingObjectID(const platform::ObjectID& objectID);
    quint64 noteCount();
    Note* noteWithId(const QString& uuid);
    Note* selectNoteWithIndex(quint64 index, bool filtered);
    void selectNote(Note* note);
    void reloadRowIndexes(const QSet<int>& rows);
    bool saveCurrentNote();
    void saveData();
    void setNoteNeedsSaving(bool flag);
    bool noteNeedsSaving() const { return m_session->noteNeedsSaving(); }
    bool quietlySaveItem(const QVariantMap& item);
    bool quietlyDeleteUUID(const QString& uuid);

    // --- Sync manager and store callbacks ---------------------------------
    void saveObjectWithAttributes(const QVRNoteAttributes& attributes, bool sync) override;
    void unknownObjectNamed(const QString& name, const QVariantMap& attributes) override;
    void deleteObjectWithUUID(const QString& uuid) override;
    void didDeleteOldObjects(const std::vector<platform::ObjectID>& objectIDs) override;
    QVRApplicationState applicationState() override;
    void shouldPromptWithTitle(const QString& title, const QString& message, const QString& accept,
                               const QString& cancel, std::function<void(bool)> handler) override;
    bool dataStoreShouldSave(QVRDataStore* store) override;
    bool dataStoreInUse(QVRDataStore* store) override;
    void dataStoreRefreshed(QVRDataStore* store, bool refreshed) override;

    // --- Note list and status line ----------------------------------------
    QVRObjectController* noteController();
    Note* selectedNote() const { return m_session->selectedNote(); }
    void setSelectedNote(Note* note);
    void tableViewSelectionDidChange();
    void reloadList();
    // Runs `rearrange`, which changes the note controller's lists, and
    // carries the displayed list's changes into the rows one by one; the
    // selection and the open note stay. Reads the list afresh only when the
    // controller asks for that (a search that starts or ends, too much moved).
    void rearrangeList(const std::function<void()>& rearrange);
    void updateStatus();
    void updateStatus(const QString& text);
    QString currentStatus() const { return m_currentStatus; }
    void displayStatus();
    void statusButtonClicked();
    void finishedSync();
    // Redraws the list's relative dates and the status line: every 60 s
    // while the main window is active, and at once when it comes back after
    // being closed.
    void refreshView();
    static int listTextSizeForTextSize(int size);
    static int smallTextSizeForTextSize(int size);

    // --- Layout -------------------------------------------------------------
    void adjustWindowContent();
    bool detailShowing() const;
    void setNoteIsOpen(bool open);
    bool twoPane() const { return m_twoPane; }
    void activateDetailAndFocus(bool focus, bool animated);
    void hideDetailsAndSave(bool save, bool sync);
    void updateViews();

    // --- Editor -----------------------------------------------------------
    bool updateDetailView();
    void insertText(const QString& text, bool preserveInsertion);
    void resetTextViewAttributes();
    // Gives the emptied editor the note font, colour, line height, tab stops
    // and the natural alignment of `text`, which is about to go in.
    void prepareEmptyTextView(const QString& text);
    void newNoteWithoutSaving();
    void textDidChange();
    void textDidEndEditing();
    int textSize() const { return m_textSize; }
    const QVariantMap& editingItem() const { return m_session->editingItem(); }
    static Qt::Alignment naturalTextAligmentForString(const QString& text);

    NoteWindow* window() const { return m_window; }
    QListView* tableView() const;
    QVRLinkTextView* textView() const;
    NoteListModel* listModel() const { return m_listModel; }
    QVRDataStore* dataStore() const { return m_dataStore.get(); }
    platform::UserDefaults& defaults() const { return *m_defaults; }
    platform::UndoManager* undoManager() const { return m_undoManager; }

    // --- Global shortcut and start at login --------------------------------
    KeyCombo keyComboForKey(const QString& key) const;
    // Whether a combination names a key that may be grabbed system-wide.
    static bool comboNamesKey(const KeyCombo& combo);
    void setKeyCombo(const KeyCombo& combo);
    // The application claims no combination for itself: the recorder's
    // default answer (not taken) stands.
    void keyRecorderKeyComboDidChange(KRRecorderControl* recorder, KeyCombo combo) override;
    bool startAtLogin() const;
    void setStartAtLogin(bool flag);

    // --- Search -----------------------------------------------------------
    // The filter's predicate text and its bound words.
    struct SearchQuery
    {
        QString format;
        QVariantList arguments;
    };
    // `cutoff` (seconds since 1970) counts only for a positive `historyDays`.
    static SearchQuery searchQuery(const QString& text, qint64 historyDays, double cutoff);
    void toggleSearch();
    void hideSearch();
    void startSearchWithText(const QString& text);
    void updateSearch();
    bool searchFieldVisible() const;
    bool searchShowing() const { return m_searchShowing; }
    // Editor and search bar.
    bool animatingSearch() const { return m_animatingSearch; }
    void showEditorDisabled();
    // The editor's text as the note keeps it, line endings included.
    QString editorText() const;
    QVRSearchField* searchField() const;

    // --- Menus ------------------------------------------------------------
    void newNote();
    void showAbout();
    QVRAboutWindowController* aboutWindowController() const;
    void deleteSelectedNote();
    void restoreSelectedNote();
    // Opens the note of a recent-notes item: saves first, then shows the note
    // with that uuid. A note deleted or gone since the menu was built is not
    // shown.
    void showNoteForMenuItem(const QString& uuid);
    void toggleListView();
    // Pops the gear menu up at `sender`; the first call also puts it into the
    // menu bar as "Settings".
    void openGearMenu(QWidget* sender);
    // The "More" menu for a note of the list (nullptr for none), owned by the
    // caller. Its commands act on the selected note; `note` only decides
    // between Delete and Restore: Copy, Export…, Print…, a separator, then
    // Delete or Restore, each without its keys.
    QMenu* contextualMenuForNote(Note* note, QWidget* parent = nullptr);
    // The editor's context menu at `position` (viewport coordinates): the
    // standard editing items, a separator and Calculate. Owned by the caller.
    QMenu* editorContextMenu(const QPoint& position);
    // The menu commands by identifier (see CommandRegistry), and the enabling
    // and guard they share.
    CommandRegistry* commands() const;
    MenuValidator* menuValidator() const;
    // Built with the menu bar; it joins the bar on the first gear click.
    QMenu* gearMenu() const;

    // --- Calculate ----------------------------------------------------------
    // A selection longer than this is never evaluated.
    static constexpr int MaximumCalculationLength = 1000;
    // The number that `string` evaluates to once the locale's digit grouping
    // and decimal separator are taken out; nothing for no number, an error,
    // a non-finite result or an overlong string.
    static std::optional<ZQNumber> calculateString(const QString& string, const QLocale& locale);
    // The number written as the locale writes it, without grouping and with at
    // most 10 fraction digits.
    static QString formattedCalculation(const ZQNumber& number, const QLocale& locale);
    bool selectionLooksLikeMath();
    void calculateSelection();

    // --- Window modes, tray and pane animations -----------------------------
    void applicationDidResignActive();
    bool menuBarMode() const;
    // Menu-bar mode shows a tray icon and keeps the window out of the
    // taskbar. Without a tray the mode is refused with an alert and the
    // setting is set back.
    void setMenuBarMode(bool flag);
    // Each mode keeps its own window frame in the settings, under
    // "NSWindow Frame " + the mode's name ("Quillary Dock", "Quillary Menu Bar").
    static QString frameAutosaveName(bool menuBarMode);
    void saveWindowFrame();
    void restoreWindowFrame();
    bool eventFilter(QObject* watched, QEvent* event) override;
    void setHideDockIcon(bool hide);
    void statusBarButtonAction();
    platform::StatusItem* statusItem() const { return m_statusItem.get(); }
    QMenu* trayMenu();
    // Dock menu (recent notes and New Note).
    // Appends the recent notes (the first ten live notes, newest first), a
    // separator when there are any, and "New Note". The tray menu calls it
    // each time it opens.
    void populateDockMenu(QMenu* menu);
    void showSinglePaneShowingDetails(bool showEditor, bool animated);
    void showSidebarWithAnimation();
    void hideSidebarWithAnimation();
    void showListView();
    void hideListView();
    bool animatingPanes() const { return m_animatingPanes; }
    // Ends a running slide at once, completion included (tests; a new slide).
    void finishPaneAnimation();
    QSize idealSizeForZoom();
    void bringToFront();
    // The divider lines show only while content is scrolled under them.
    void updateDividersAnimated(bool animated = true);
    void updateDividersAfterDelay();
    void updateDividersPeriodically();
    bool topDividerHiddenForScrollView(const QAbstractScrollArea* scrollView) const;
    bool bottomDividerHiddenForScrollView(const QAbstractScrollArea* scrollView) const;
    bool searchDividerHidden() const;
    // --- Preferences --------------------------------------------------------
    // Builds the window on first use (General, then Sync when there is a
    // sync manager) and shows it, selecting the pane named, if any.
    void showPreferences();
    void showPreferencesWithIdentifier(const QString& identifier);
    QVRPreferencesWindowController* preferencesWindowController() const;

    // --- Opening files and URLs, scripting, export, sharing and printing ---
    // What the commands ask the user; tests put answers in their place.
    struct ExportChoice
    {
        QString folder;
        QString extension; // "quillary" or "txt"
    };
    struct CommandPanels
    {
        std::function<QStringList()> chooseFilesToOpen;
        // Given the format to preselect; nothing when cancelled.
        std::function<std::optional<ExportChoice>(const QString& extension)> chooseExportFolder;
        // Lets the user set up the printer; false when cancelled.
        std::function<bool(QPrinter& printer)> preparePrinter;
    };
    CommandPanels& commandPanels();
    // Serves the running instance's bus interfaces and handles the URLs and
    // files of this process's own command line once launch has finished.
    void connectShell(platform::ApplicationShell& shell, const QStringList& operands);
    // The window's drop target (the commands' menu items are built with the
    // menus).
    void installCommands();
    void promptForOpenFiles();
    bool openURLs(const QList<QUrl>& urls);
    bool openFiles(const QStringList& paths);
    bool supportsPasteboard(const QMimeData* pasteboard);
    bool addFromPasteboard(const QMimeData* pasteboard);
    bool processURL(const QString& url);
    QString textToInsert() const { return m_textToInsert; }
    void exportSelectedNote();
    void exportAllNotes();
    // The written file's path; empty with `error` set on failure.
    QString exportNote(Note* note, const QString& extension, const QString& folder, platform::Error* error);
    QString exportFileExtension() const { return m_exportFileExtension; }
    void changeFileFormat(int index);
    // Appends one item per way of sharing a note to `menu` and returns them;
    // each shares the selected note.
    QList<QAction*> sharingMenuItemsForNote(Note* note, QMenu* menu);
    // The ways of sharing that share() takes: the note as the message, or
    // as a text file attached to it.
    static const QString EmailService;
    static const QString AttachmentService;
    void share(const QString& service);
    QString sharedItemsURL();
    void copy();
    void showPageSetup();
    void print();
    QPrinter& printInfo();

signals:
    // A deferred termination may go on now.
    void terminationReady();
    // The user chose Quit: the application asks applicationShouldTerminate().
    void quitRequested();

private:
    void buildWindow();
    void buildMenus();
    void observeNotifications();
    void selectRow(int row);
    void clearSelectionQuietly();
    void finishTermination();
    void startQuitWait();
    // The open note's owner, its view of the editor, and what it asks of the
    // window.
    void buildSession(const Environment& environment);
    NoteSession* m_session = nullptr; // owned by this object
    std::unique_ptr<NoteSession::Editor> m_sessionEditor;
    bool m_quitChosenByUser = false; // quitRequested was emitted for the quit being asked
    void terminateWhenDone();
    // Menus
    void declareCommands();
    void refillShareMenu(QMenu* menu);
    // Sharing: the attachment's file, and the files earlier runs left.
    QString writeSharedAttachment(Note* note);
    void removeSharedItemsOfEarlierRuns();
    void showListContextMenu(const QPoint& position);
    QString selectedCalculationText() const;
    // Preferences: the Sync pane shown on refused settings.
    void buildPreferencesCommands();

    // Window modes, tray and pane animations.
    void startPaneAnimation(std::function<void(platform::animation::AnimationGroup&)> animate,
                            std::function<void()> completion);
    void refuseMenuBarMode();
    void observeScrolling();
    // Relative dates: the refresh timer follows the main window.
    void observeListRefresh();
    void listWindowEvent(QEvent* event);
    QTimer* m_refreshTimer = nullptr;
    bool m_needsRefresh = false;
    QTimer m_dividerTimer;
    bool m_dividerTimerActive = false;
    std::function<std::unique_ptr<platform::StatusItem>()> m_makeStatusItem;
    std::unique_ptr<platform::StatusItem> m_statusItem;
    std::unique_ptr<QMenu> m_trayMenu;
    QPointer<platform::animation::AnimationGroup> m_paneAnimation;
    bool m_animatingPanes = false;
    bool m_hideDockIcon = false;
    double m_autoHiddenAt = -1;

    static QuillaryAppDelegate* s_shared;

    QVRDataStore* m_rootStore = nullptr;
    platform::UserDefaults* m_defaults = nullptr;
    QVRSyncManager* m_syncManager = nullptr;
    std::shared_ptr<QVRDataStore> m_dataStore;
    std::unique_ptr<QVRObjectController> m_noteController;
    NoteListModel* m_listModel = nullptr; // owned by this object
    QPointer<NoteWindow> m_window;
    platform::UndoManager* m_undoManager = nullptr; // owned by this object
    ZQHotKeyCenter* m_hotKeyCenter = nullptr;
    QPointer<QVRAboutWindowController> m_aboutWindowController;
    QString m_launcherExecutable;

    int m_textSize = 12;
    qint64 m_textCheckingTypes = QVRDefaultsKeys::TextCheckingTypes.fallback;
    bool m_noteIsOpen = false;
    bool m_twoPane = true;
    bool m_fitsTwoPane = true;
    bool m_wantsTwoPane = true;
    bool m_searchShowing = false;
    bool m_terminating = false;
    Qt::Alignment m_naturalTextAlignment = Qt::AlignLeft;
    // Editor and search bar.
    bool m_animatingSearch = false;

    QString m_currentStatus;
    QTimer m_statusTimer;
    QTimer m_terminateTimer;
    double m_quitWaitStartedAt = 0;
    // Window frame kept per mode: the name in use, and a short wait so that a
    // drag writes the settings once.
    QString m_frameAutosaveName;
    QTimer m_frameSaveTimer;
    std::vector<platform::ObserverToken> m_observers;

    // Search speed: the folded texts of the current list controller's notes.
    SearchFilter& searchFilterFor(QVRObjectController* controller);
    void prepareSearch();
    void setSearchQuery(const QString& text);
    std::shared_ptr<SearchFilter> m_searchFilter;
    QPointer<QVRObjectController> m_searchFilterController;
    bool m_preparingSearch = false;

    // Menus
    CommandRegistry* m_commands = nullptr; // owned by the window
    QPointer<QMenu> m_gearMenu;
    bool m_gearMenuInMenuBar = false;
    // Opening files and URLs, scripting, export, sharing and printing.
    void installDropTarget();
    void openNoteDocument(const QString& path, bool show, const std::shared_ptr<RefusedFiles>& refused);
    void openTextFile(const QString& path, bool show, RefusedFiles& refused);
    void saveOpenedDocument(QVariantMap item, bool show);
    void insertTextAsNewNote(const QString& text);
    bool noteHasText(Note* note) const;
    std::optional<ExportChoice> runExportPanel();
    struct CommandState; // the panels, the scripting handler, the printer and its view
    struct CommandStateDeleter
    {
        void operator()(CommandState* state) const;
    };
    CommandState& commandState();
    std::unique_ptr<CommandState, CommandStateDeleter> m_commandState;
    QString m_exportFileExtension;
    QString m_textToInsert;
    bool m_launchFinished = false;
    // Preferences
    QPointer<QVRPreferencesWindowController> m_preferencesWindowController;
    platform::ObserverToken m_syncSettingsErrorObserver;
};
