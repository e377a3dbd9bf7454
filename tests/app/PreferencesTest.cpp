// The preferences window kit, the General pane and the "Preferences…"
// command, offscreen over a delegate of their own.
#include "AppTestSupport.h"

#include "app/preferences/QVRGeneralPreferencesViewController.h"
#include "app/preferences/QVRPasswordUtilities.h"
#include "app/preferences/QVRPreferencesWindowController.h"

#include "hotkey/KRRecorderControl.h"
#include "launcher/LoginItems.h"
#include "platform/ui/StatusItem.h"
#include "store/QVRUtilities.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QMenu>
#include <QMenuBar>
#include <QToolBar>

namespace {

// A pane of a fixed height, recording the window height it saw when it was
// about to show.
class FixedPane : public QVRPreferencesViewController
{
public:
    FixedPane(const QString& identifier, const QString& title, int height) : m_identifier(identifier)
    {
        setTitle(title);
        m_height = height;
    }
    QString identifier() const override { return m_identifier; }
    QSize sizeHint() const override { return QSize(300, m_height); }
    void viewWillAppear() override
    {
        QVRPreferencesViewController::viewWillAppear();
        heightBeforeShowing = windowController()->window()->height();
    }

    int heightBeforeShowing = -1;

private:
    QString m_identifier;
    int m_height;
};

// A tray icon that shows only when the desktop is said to have a tray.
class TrayIcon final : public platform::StatusItem
{
public:
    explicit TrayIcon(bool tray) : m_tray(tray) {}
    bool available() const override { return m_tray; }
    void setIcon(const QIcon&) override {}
    void setToolTip(const QString&) override {}
    void setMenu(QMenu*) override {}
    bool show() override { return m_visible = m_tray; }
    void hide() override { m_visible = false; }
    bool isVisible() const override { return m_visible; }
    QRect geometry() const override { return QRect(600, 0, 22, 22); }

private:
    bool m_tray;
    bool m_visible = false;
};

struct Kit
{
    FixedPane* first = new FixedPane(QStringLiteral("First"), QStringLiteral("First Pane"), 120);
    FixedPane* second = new FixedPane(QStringLiteral("Second"), QStringLiteral("Second Pane"), 320);
    FixedPane* again = new FixedPane(QStringLiteral("Second"), QStringLiteral("Same Name"), 120);
    QVRPreferencesWindowController controller{{first, second, again}};

    QStringList labels() const
    {
        QStringList result;
        for (QAction* action : controller.tabViewController()->toolBar()->actions())
            result << action->text();
        return result;
    }
    int selected() const { return controller.tabViewController()->selectedTabViewItemIndex(); }
    QString title() const { return controller.window()->windowTitle(); }
};

} // namespace

TEST(PreferencesWindow, TabsFollowThePanesInOrderWithTheirTitles)
{
    Kit kit;
    EXPECT_EQ(kit.labels(), QStringList({"First Pane", "Second Pane", "Same Name"}));
    EXPECT_EQ(kit.selected(), 0);
    EXPECT_EQ(kit.title(), QStringLiteral("First Pane"));

    // A click on a toolbar tab selects its pane and names the window after it.
    kit.controller.tabViewController()->toolBar()->actions()[2]->trigger();
    EXPECT_EQ(kit.selected(), 2);
    EXPECT_EQ(kit.title(), QStringLiteral("Same Name"));
}

TEST(PreferencesWindow, SelectionByIdentifierTakesTheFirstExactMatchOnly)
{
    Kit kit;
    const struct
    {
        const char* identifier;
        bool found;
        int selected;
        const char* title;
    } cases[] = {
        {"Second", true, 1, "Second Pane"},  // the first of two panes with that name
        {"second", false, 1, "Second Pane"}, // exact comparison: nothing changes
        {"", false, 1, "Second Pane"},       {"First", true, 0, "First Pane"},
        {"Sync", false, 0, "First Pane"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(kit.controller.selectControllerWithIdentifier(QString::fromUtf8(c.identifier)), c.found)
            << c.identifier;
        EXPECT_EQ(kit.selected(), c.selected) << c.identifier;
        EXPECT_EQ(kit.title(), QString::fromUtf8(c.title)) << c.identifier;
    }
}

TEST(PreferencesWindow, TallerPaneGrowsTheWindowBeforeShowingAndTheTopEdgeStays)
{
    Kit kit;
    kit.controller.showWindow();
    QWidget* window = kit.controller.window();
    window->setGeometry(QRect(100, 200, 420, window->height()));
    const QRect before = window->geometry();
    const int chrome = kit.controller.tabViewController()->chromeHeight();
    EXPECT_EQ(before.height(), 120 + chrome);

    kit.controller.selectControllerWithIdentifier(QStringLiteral("Second"));
    EXPECT_EQ(kit.second->heightBeforeShowing, 320 + chrome) << "the window grew after the pane showed";
    EXPECT_EQ(window->geometry(), QRect(100, 200, 420, 320 + chrome));

    kit.controller.selectControllerWithIdentifier(QStringLiteral("First"));
    EXPECT_EQ(window->geometry(), before) << "the shorter pane shrinks the window back, top and width kept";
}

// --- General pane ---------------------------------------------------------------------------

class GeneralPane : public apptest::AppTest
{
protected:
    QVRGeneralPreferencesViewController* pane = nullptr;
    std::unique_ptr<QVRPreferencesWindowController> controller;
    QStringList posted; // "key=value" of every settings notice
    platform::ObserverToken observer;

    void SetUp() override
    {
        AppTest::SetUp();
        observer = platform::NotificationCenter::defaultCenter().addObserver(
            QVRUserDefaultsDidChangeNotification, nullptr, [this](const platform::Notification& n) {
                posted << n.userInfo.value(QVRUserDefaultsKey).toString() + QLatin1Char('=') +
                              n.userInfo.value(QVRUserDefaultsValue).toString();
            });
    }
    void TearDown() override
    {
        observer.reset();
        controller.reset();
        AppTest::TearDown();
    }
    // Restarts the application over a desktop with or without a tray.
    void startWithTray(bool tray)
    {
        controller.reset();
        QuillaryAppDelegate::Environment environment = this->environment();
        environment.makeStatusItem = [tray] { return std::make_unique<TrayIcon>(tray); };
        app.reset();
        start(environment);
    }

    void open()
    {
        pane = new QVRGeneralPreferencesViewController(app.get());
        controller = std::make_unique<QVRPreferencesWindowController>(
            std::vector<QVRPreferencesViewController*>{pane});
        controller->showWindow();
    }
    // The user picks the next item of a pop-up from the keyboard.
    static void chooseNext(QComboBox* popup)
    {
        popup->setFocus();
        QTest::keyClick(popup, Qt::Key_Down);
    }
};

TEST_F(GeneralPane, ValuesSetFromCodeRunNoAction)
{
    // Each row is what the settings hold when the pane is shown (again):
    // the pop-ups and boxes move to it, and no action runs, so "Hide
    // Automatically" keeps its own value whatever the mode.
    const struct
    {
        bool menuBarMode;
        bool hideAutomatically;
        int textSize;
    } cases[] = {{true, false, 16}, {false, true, 20}, {true, true, 9}, {false, false, 12}};
    defaults->set(QStringLiteral("Global Shortcut"), QVariantMap{{"flags", 262144}, {"code", 49}});
    open();
    for (const auto& c : cases) {
        controller->window()->hide();
        defaults->set(QStringLiteral("Menu Bar Mode"), c.menuBarMode);
        defaults->set(QStringLiteral("Hide Automatically"), c.hideAutomatically);
        defaults->set(QStringLiteral("Text Size"), c.textSize);
        posted.clear();
        controller->showWindow();

        EXPECT_TRUE(posted.isEmpty()) << posted.join(u' ').toStdString();
        EXPECT_EQ(defaults->boolValue(QStringLiteral("Hide Automatically")), c.hideAutomatically)
            << "showing the pane overwrote hiding, menu bar mode " << c.menuBarMode;
        EXPECT_EQ(defaults->boolValue(QStringLiteral("Menu Bar Mode")), c.menuBarMode);
        EXPECT_EQ(pane->hideAutomaticallyButton()->isChecked(), c.hideAutomatically);
        EXPECT_EQ(pane->showInPopup()->currentIndex(), c.menuBarMode ? 1 : 0);
        EXPECT_EQ(pane->textSizePopup()->currentData().toInt(), c.textSize);
    }
    EXPECT_EQ(pane->keyRecorder()->keyCombo(), app->keyComboForKey(QStringLiteral("Global Shortcut")));
    EXPECT_EQ(pane->keyRecorder()->delegate(), app.get()) << "recording goes to the application";
}

TEST_F(GeneralPane, UserChoicesAreStoredAsTheirSettingsSay)
{
    defaults->set(QStringLiteral("Text Size"), 12);
    startWithTray(true);
    open();
    posted.clear();

    chooseNext(pane->textSizePopup());
    EXPECT_EQ(defaults->integer(QStringLiteral("Text Size")), 13);
    EXPECT_EQ(posted, QStringList({"Text Size=13"}));

    // Menu Bar turns hiding on, Dock turns it off; hiding is stored quietly.
    chooseNext(pane->showInPopup());
    EXPECT_TRUE(defaults->boolValue(QStringLiteral("Menu Bar Mode")));
    EXPECT_TRUE(defaults->boolValue(QStringLiteral("Hide Automatically")));
    EXPECT_TRUE(pane->hideAutomaticallyButton()->isChecked());
    pane->showInPopup()->setFocus();
    QTest::keyClick(pane->showInPopup(), Qt::Key_Up);
    EXPECT_FALSE(defaults->boolValue(QStringLiteral("Menu Bar Mode")));
    EXPECT_FALSE(defaults->boolValue(QStringLiteral("Hide Automatically")));
    EXPECT_EQ(posted, QStringList({"Text Size=13"}));

    pane->hideAutomaticallyButton()->click();
    EXPECT_TRUE(defaults->boolValue(QStringLiteral("Hide Automatically")));
    EXPECT_EQ(posted.size(), 1) << "hiding is stored without a notice";
}

TEST_F(GeneralPane, RefusedMenuBarModeLeavesDockAndHidingAsTheyWere)
{
    defaults->set(QStringLiteral("Hide Automatically"), true);
    startWithTray(false); // no tray: the switch is refused
    open();
    chooseNext(pane->showInPopup());
    EXPECT_EQ(pane->showInPopup()->currentIndex(), 0);
    EXPECT_FALSE(defaults->boolValue(QStringLiteral("Menu Bar Mode")));
    EXPECT_TRUE(defaults->boolValue(QStringLiteral("Hide Automatically")));
}

TEST_F(GeneralPane, HideAutomaticallyFollowsOtherChangesOnlyWhileShown)
{
    open();
    QVRUtilities::setBool(*defaults, true, QStringLiteral("Hide Automatically"), true);
    EXPECT_TRUE(pane->hideAutomaticallyButton()->isChecked());
    controller->window()->hide();
    QVRUtilities::setBool(*defaults, false, QStringLiteral("Hide Automatically"), true);
    EXPECT_TRUE(pane->hideAutomaticallyButton()->isChecked()) << "a hidden pane still observes";
}

TEST_F(GeneralPane, FailedLoginItemWriteShowsTheRealState)
{
    const QString launcher = dir.filePath(QStringLiteral("Quillary-Launcher"));
    const struct
    {
        const char* name;
        QString launcher;
        bool checked;
    } cases[] = {
        {"missing launcher", dir.filePath(QStringLiteral("nowhere/Quillary-Launcher")), false},
        {"launcher in place", launcher, true},
    };
    QFile file(launcher);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("#!/bin/sh\n");
    file.close();
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    for (const auto& c : cases) {
        controller.reset();
        QuillaryAppDelegate::Environment environment = this->environment();
        environment.launcherExecutable = c.launcher;
        app.reset();
        start(environment);
        open();
        pane->startAtLoginButton()->click();
        EXPECT_EQ(pane->startAtLoginButton()->isChecked(), c.checked) << c.name;
        EXPECT_EQ(defaults->boolValue(QStringLiteral("QVRStartAtLogin")), c.checked) << c.name;
        EXPECT_EQ(QFile::exists(LoginItems::autostartFilePath()), c.checked) << c.name;
        pane->startAtLoginButton()->click();
        EXPECT_FALSE(QFile::exists(LoginItems::autostartFilePath())) << c.name;
    }
}

TEST_F(GeneralPane, PreferencesCommandFollowsAboutAndOpensTheWindowOnce)
{
    QAction* preferences = nullptr;
    QMenu* menu = nullptr;
    for (QMenu* candidate : app->window()->menuBar()->findChildren<QMenu*>()) {
        const QList<QAction*> actions = candidate->actions();
        for (qsizetype i = 0; i < actions.size(); ++i)
            if (actions[i]->objectName() == QLatin1String("preferencesAction")) {
                preferences = actions[i];
                menu = candidate;
                ASSERT_GT(i, 0);
                EXPECT_EQ(actions[i - 1]->text(), QStringLiteral("About Quillary"));
            }
    }
    ASSERT_NE(preferences, nullptr);
    EXPECT_EQ(preferences->text(), QStringLiteral("Preferences…"));
    EXPECT_EQ(preferences->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Comma));
    EXPECT_TRUE(app->window()->actions().contains(preferences));
    (void)menu;
    QMenu* gear = app->window()->findChild<QMenu*>(QStringLiteral("gearMenu"));
    ASSERT_NE(gear, nullptr);
    const QList<QAction*> gearItems = gear->actions();
    const qsizetype inGear = gearItems.indexOf(preferences);
    ASSERT_GT(inGear, 0) << "the gear menu lacks Preferences…";
    EXPECT_EQ(gearItems[inGear - 1]->objectName(), QStringLiteral("hideAutoMenuItem"));

    preferences->trigger();
    QVRPreferencesWindowController* controller = app->preferencesWindowController();
    ASSERT_NE(controller, nullptr);
    EXPECT_TRUE(controller->window()->isVisible());
    EXPECT_EQ(controller->window()->windowTitle(), QStringLiteral("General"));
    preferences->trigger();
    EXPECT_EQ(app->preferencesWindowController(), controller) << "the window is kept for the run";
}

// --- password manager look-up -----------------------------------------------------------------

TEST(PasswordUtilities, LookUpShowsOnlyWithAHandlerForItsScheme)
{
    const struct
    {
        const char* name;
        const char* file; // relative to the temporary root
        const char* text;
        bool installed;
    } cases[] = {
        {"nothing", nullptr, nullptr, false},
        {"application entry", "data/applications/vault.desktop",
         "[Desktop Entry]\nName=Vault\nExec=vault %u\nMimeType=text/plain;x-scheme-handler/onepassword;\n",
         true},
        {"entry for another scheme", "data/applications/other.desktop",
         "[Desktop Entry]\nName=Other\nMimeType=x-scheme-handler/onepasswordx;\n", false},
        {"type outside the entry group", "data/applications/action.desktop",
         "[Desktop Entry]\nName=Act\n[Desktop Action x]\nMimeType=x-scheme-handler/onepassword;\n", false},
        {"default association", "config/mimeapps.list",
         "[Default Applications]\nx-scheme-handler/onepassword=vault.desktop\n", true},
        {"removed association", "config/mimeapps.list",
         "[Removed Associations]\nx-scheme-handler/onepassword=vault.desktop\n", false},
    };
    const QByteArray saved[] = {qgetenv("XDG_DATA_HOME"), qgetenv("XDG_DATA_DIRS"),
                                qgetenv("XDG_CONFIG_HOME"), qgetenv("XDG_CONFIG_DIRS")};
    for (const auto& c : cases) {
        QTemporaryDir root;
        for (const char* sub : {"data/applications", "config", "none"})
            QDir(root.path()).mkpath(QString::fromLatin1(sub));
        qputenv("XDG_DATA_HOME", QFile::encodeName(root.filePath(QStringLiteral("data"))));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(root.filePath(QStringLiteral("config"))));
        qputenv("XDG_DATA_DIRS", QFile::encodeName(root.filePath(QStringLiteral("none"))));
        qputenv("XDG_CONFIG_DIRS", QFile::encodeName(root.filePath(QStringLiteral("none"))));
        if (c.file) {
            QFile file(root.filePath(QString::fromLatin1(c.file)));
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(c.text);
        }
        EXPECT_EQ(QVRPasswordUtilities::utilityIsInstalled(), c.installed) << c.name;
    }
    const char* names[] = {"XDG_DATA_HOME", "XDG_DATA_DIRS", "XDG_CONFIG_HOME", "XDG_CONFIG_DIRS"};
    for (int i = 0; i < 4; ++i)
        saved[i].isNull() ? qunsetenv(names[i]) : qputenv(names[i], saved[i]);

    EXPECT_EQ(QVRPasswordUtilities::utilityURLForSearch(QStringLiteral("sync.quorvane.com")).toString(),
              QStringLiteral("onepassword://search/sync.quorvane.com"));
}
