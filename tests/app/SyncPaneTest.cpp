// The Sync pane and the terms sheet, offscreen, driving the real sync manager
// against the loopback service, with the in-memory keyring or (label
// "keyring") the session's Secret Service.
#include "tests/sync/WebSyncFixture.h"

#include "app/alerts/Alert.h"
#include "app/preferences/QVRPreferencesWindowController.h"
#include "app/preferences/QVRSyncPreferencesViewController.h"
#include "app/preferences/QVRTermsSheetController.h"

#include "platform/cloud/Ubiquity.h"
#include "sync/QVRiCloudSyncInstaller.h"

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryFile>
#include <QTest>
#include <QTextBrowser>

namespace {

const QString TermsPath = QStringLiteral("/sync/app/legal/terms.html");
const QByteArray TermsPage = "<html><body><h1>Terms</h1><p>Be kind.</p>"
                             "<p><a href=\"privacy.html\">Privacy</a></p></body></html>";

class SyncPane : public WebSync
{
protected:
    const QString newEmail = QStringLiteral("zoë@exämple.org");
    const bool useKeyring = qgetenv("QUILLARY_SECRET_BACKEND") == "libsecret";

    QVRSyncPreferencesViewController* pane = nullptr;
    std::unique_ptr<QVRPreferencesWindowController> window;
    QList<QUrl> opened;
    AlertResponder alerts;
    QString chosenFolder;
    QTemporaryDir cloud;

    void SetUp() override
    {
        WebSync::SetUp();
        if (useKeyring)
            platform::SecretBackend::setCurrentForTesting(nullptr);
        forgetSecrets();
        platform::UserDefaults::standard().remove(platform::CloudFolderDefaultsKey);
        fake.pages[TermsPath] = TermsPage;
    }

    void TearDown() override
    {
        window.reset();
        WebSync::TearDown();
        if (useKeyring)
            forgetSecrets();
        platform::UserDefaults::standard().remove(platform::CloudFolderDefaultsKey);
        qunsetenv(platform::CloudFolderEnvironmentVariable);
    }

    // The test keyring outlives a test: nothing of one may reach the next.
    void forgetSecrets()
    {
        for (const QString& address : {email, newEmail})
            for (const QString& account : {address, address + QStringLiteral(" [quillary]")})
                QVRPasswordManager::perform([account] {
                    QVRPasswordManager::deletePasswordForAccount(account, QVRSyncService::host());
                });
        QVRPasswordManager::waitForPendingWork();
    }

    // The pane as the second of two, selected once the window shows.
    void openPaneAfterAnother()
    {
        auto* first = new QVRPreferencesViewController;
        first->setTitle(QStringLiteral("Blank"));
        openPane(first);
        window->selectControllerWithIdentifier(QStringLiteral("Sync"));
    }

    void openPane(QVRPreferencesViewController* before = nullptr)
    {
        pane = new QVRSyncPreferencesViewController(manager.get());
        pane->setURLOpener([this](const QUrl& url) { opened << url; });
        pane->setFolderChooser([this] { return chosenFolder; });
        pane->setUtilityInstalled(false);
        std::vector<QVRPreferencesViewController*> panes{pane};
        if (before)
            panes.insert(panes.begin(), before);
        window = std::make_unique<QVRPreferencesWindowController>(panes);
        window->showWindow();
    }

    // The cloud-folder half, over a cloud folder that exists (named by the
    // environment when `fixed`, else left for the pane to choose).
    QString installCloud(bool fixed)
    {
        const QString root = cloud.filePath(QStringLiteral("Cloud"));
        QDir().mkpath(root);
        if (fixed)
            qputenv(platform::CloudFolderEnvironmentVariable, QFile::encodeName(root));
        QVRiCloudSyncInstaller::install(manager.get());
        manager->setFirstRun(false);
        return root;
    }

    template <class T> T* child(const char* name)
    {
        T* found = pane->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    QString label(const char* name) { return child<QLabel>(name)->text(); }
    bool visible(const char* name) { return child<QWidget>(name)->isVisibleTo(pane); }
    void type(const char* name, const QString& text) { child<QLineEdit>(name)->setText(text); }
    void click(const char* name) { child<QAbstractButton>(name)->click(); }
    bool shows(QWidget* view) { return pane->currentView() == view; }

    void signInWith(const QString& address, const QString& secret)
    {
        type("syncEmailField", address);
        type("syncPasswordField", secret);
        click("signInButton");
    }
    // Fills the registration form and answers the terms sheet.
    void registerWith(const QString& address, bool agree)
    {
        click("registerSegment");
        type("registerEmailField", address);
        type("registerPasswordField", password);
        type("registerConfirmField", password);
        type("registerNameField", QStringLiteral("Zoë"));
        click("registerButton");
        QVRTermsSheetController* sheet = pane->termsController();
        ASSERT_NE(sheet, nullptr);
        ASSERT_TRUE(sheet->isVisible());
        ASSERT_TRUE(waitFor([&] { return sheet->loaded(); }));
        EXPECT_TRUE(sheet->agreeButton()->isEnabled());
        (agree ? sheet->agreeButton() : sheet->cancelButton())->click();
        EXPECT_FALSE(sheet->isVisible());
    }
};

} // namespace

TEST_F(SyncPane, FormsFollowTheSegmentedControl)
{
    openPaneAfterAnother();
    ASSERT_TRUE(waitFor([&] { return shows(pane->signInView()); }));
    EXPECT_TRUE(pane->segmentedControl()->isVisibleTo(pane));
    EXPECT_TRUE(label("syncInfo").startsWith(QStringLiteral("Sign in to a Quorvane account")));
    EXPECT_TRUE(label("syncInfo").contains(QVRSyncService::host()));
    EXPECT_FALSE(visible("syncPasswordButton")) << "no password manager installed";
    // The window is fitted to the form: the wrapped status text is not cut.
    QLabel* info = child<QLabel>("syncInfo");
    QCoreApplication::processEvents();
    EXPECT_GE(info->height(), info->heightForWidth(info->width()))
        << "window " << window->window()->height() << ", fitting "
        << pane->fittingHeight(window->window()->width());

    click("registerSegment");
    EXPECT_TRUE(shows(pane->registerView()));
    EXPECT_TRUE(pane->segmentedControl()->isVisibleTo(pane));
    click("signInSegment");
    EXPECT_TRUE(shows(pane->signInView()));
}

TEST_F(SyncPane, LoadingUntilTheManagerIsReadyThenTheCloudFolder)
{
    const QString root = installCloud(true);
    openPane();
    EXPECT_TRUE(shows(pane->loadingView()));
    EXPECT_FALSE(pane->segmentedControl()->isVisibleTo(pane));
    ASSERT_TRUE(waitFor([&] { return pane->spinnerRunning(); }));

    manager->start();
    ASSERT_TRUE(waitFor([&] { return manager->iCloudEnabled() && shows(pane->loggedInView()); }));
    EXPECT_FALSE(pane->spinnerRunning());
    EXPECT_EQ(label("loggedInTitle"), QStringLiteral("Syncing with iCloud"));
    EXPECT_TRUE(label("loggedInText").contains(root)) << label("loggedInText").toStdString();
    EXPECT_FALSE(visible("logOutButton"));
    EXPECT_TRUE(visible("switchSyncButton"));
    EXPECT_TRUE(visible("syncHelpButton"));
    EXPECT_EQ(child<QPushButton>("switchSyncButton")->text(), QStringLiteral("Switch to Quorvane"));

    // "Switch to Quorvane" shows the form until the pane is shown again.
    click("switchSyncButton");
    EXPECT_TRUE(shows(pane->signInView()));
    window->window()->hide();
    window->showWindow();
    ASSERT_TRUE(waitFor([&] { return shows(pane->loggedInView()); }));
    EXPECT_EQ(label("loggedInTitle"), QStringLiteral("Syncing with iCloud"));
    ASSERT_TRUE(waitForQuiet());
}

TEST_F(SyncPane, FormArrivingAfterLoadingIsFittedWithItsText)
{
    installCloud(false); // no folder chosen: the form follows the loading view
    openPaneAfterAnother();
    ASSERT_TRUE(shows(pane->loadingView()));
    manager->start();
    ASSERT_TRUE(waitFor([&] { return shows(pane->signInView()); }));
    QLabel* info = child<QLabel>("syncInfo");
    QCoreApplication::processEvents();
    EXPECT_GE(info->height(), info->heightForWidth(info->width())) << "the invitation is cut off";
    ASSERT_TRUE(waitForQuiet());
}

TEST_F(SyncPane, SignInFromTheFormEndsSignedInWithThePasswordKept)
{
    fake.accounts[email] = {password, QString()};
    openPane();
    signInWith(QStringLiteral(" ") + email + QStringLiteral(" "), password);
    ASSERT_TRUE(waitFor([&] { return manager->quorvaneEnabled(); }));
    ASSERT_TRUE(waitFor([&] { return shows(pane->loggedInView()); }));
    EXPECT_EQ(label("loggedInTitle"), QStringLiteral("Syncing with Quorvane"));
    EXPECT_EQ(label("loggedInText"), QStringLiteral("You are currently signed in as ") + email);
    EXPECT_TRUE(visible("logOutButton"));
    EXPECT_FALSE(visible("switchSyncButton")) << "no cloud folder to switch to";
    EXPECT_FALSE(visible("syncHelpButton"));
    EXPECT_EQ(manager->quorvaneEmail(), email) << "the address is stored without the spaces around it";
    EXPECT_EQ(secret(email), password);
    EXPECT_FALSE(pane->settings()) << "a successful sign-in drops the form";
    ASSERT_TRUE(waitForQuiet());
}

TEST_F(SyncPane, FailedSignInShowsWhyAndStoresNothing)
{
    const struct
    {
        const char* name;
        std::function<void()> arrange;
        QString status;
    } cases[] = {
        {"wrong password",
         [&] {
             fake.accounts[email] = {QStringLiteral("another one"), QString()};
         },
         QStringLiteral("Wrong e-mail or password.")},
        {"broken reply",
         [&] {
             fake.accounts[email] = {password, QString()};
             fake.fault = WebSyncFakeService::Fault::Malformed;
             fake.faultCount = 100;
         },
         QStringLiteral("Couldn’t connect")},
        {"server error",
         [&] {
             fake.fault = WebSyncFakeService::Fault::ServerError500;
             fake.faultCount = 100;
         },
         QStringLiteral("Couldn’t connect")},
        {"slow reply",
         [&] {
             fake.fault = WebSyncFakeService::Fault::Slow;
             fake.slowMilliseconds = 4000;
             fake.faultCount = 100;
         },
         QStringLiteral("Couldn’t connect")},
        {"unreachable service",
         [&] {
             QTcpServer closed;
             closed.listen(QHostAddress::LocalHost, 0);
             qputenv("QUILLARY_SERVICE_URL",
                     QStringLiteral("http://127.0.0.1:%1").arg(closed.serverPort()).toUtf8());
         },
         QStringLiteral("Couldn’t connect")},
    };
    openPane();
    for (const auto& c : cases) {
        c.arrange();
        child<QLabel>("syncInfo")->clear();
        signInWith(email, password);
        EXPECT_TRUE(waitFor([&] { return label("syncInfo") == c.status; }))
            << c.name << ": " << label("syncInfo").toStdString();
        ASSERT_TRUE(waitFor([&] { return manager->step() == QVRSyncStep::Complete; })) << c.name;
        EXPECT_FALSE(manager->quorvaneEnabled()) << c.name;
        EXPECT_TRUE(manager->quorvaneEmail().isEmpty()) << c.name;
        EXPECT_FALSE(secret(email)) << c.name << ": a refused password was kept";
        ASSERT_TRUE(waitFor([&] { return shows(pane->signInView()); })) << c.name;
        // Back from loading, the window fits the form with its new text.
        QLabel* info = child<QLabel>("syncInfo");
        QCoreApplication::processEvents();
        EXPECT_GE(info->height(), info->heightForWidth(info->width())) << c.name;
    }
}

TEST_F(SyncPane, LockedKeyringStopsTheSignInBeforeAnythingIsSent)
{
    fake.accounts[email] = {password, QString()};
    openPane();
    secrets.setFailure(-2);
    signInWith(email, password);
    ASSERT_TRUE(waitFor([&] { return label("syncInfo").contains(QStringLiteral("keyring")); }));
    pane->updateView(); // as the delayed rebuild after any notice does
    EXPECT_TRUE(label("syncInfo").contains(QStringLiteral("keyring"))) << "the reason vanished";
    EXPECT_TRUE(fake.requests.empty());
    EXPECT_FALSE(manager->quorvaneEnabled());
    EXPECT_TRUE(manager->quorvaneEmail().isEmpty());

    // Unlocked, the same form goes through.
    secrets.setFailure(0);
    click("signInButton");
    ASSERT_TRUE(waitFor([&] { return manager->quorvaneEnabled(); }));
    ASSERT_TRUE(waitForQuiet());
}

TEST_F(SyncPane, RefusedFormKeepsItsReasonWhenTheViewIsRebuilt)
{
    openPane();
    ASSERT_TRUE(waitFor([&] { return shows(pane->signInView()); }));
    signInWith(QString(), QStringLiteral("secret"));
    EXPECT_EQ(label("syncInfo"), QStringLiteral("Email is required."));
    pane->updateView(); // the delayed rebuild that follows the failure notice
    EXPECT_EQ(label("syncInfo"), QStringLiteral("Email is required."));
    // Switching forms starts afresh.
    click("registerSegment");
    EXPECT_TRUE(label("registerInfo").startsWith(QStringLiteral("Sign in to a Quorvane account")));
}

TEST_F(SyncPane, StatusTextsOfOneHundredAndOneCharactersAlsoAlert)
{
    openPane();
    ASSERT_TRUE(waitFor([&] { return shows(pane->signInView()); }));
    const QString shorter(100, QLatin1Char('s'));
    const QString longer(101, QLatin1Char('l'));
    manager->postNotificationName(QVRSyncChangeNotification, shorter);
    EXPECT_EQ(label("syncInfo"), shorter);
    EXPECT_EQ(label("registerInfo"), shorter);
    EXPECT_TRUE(alerts.shown.isEmpty());
    manager->postNotificationName(QVRSyncFailureNotification, longer);
    EXPECT_EQ(label("syncInfo"), longer);
    EXPECT_EQ(alerts.texts(), QStringList({longer}));
    // A failure without a text leaves the status line alone.
    manager->postNotificationName(QVRSyncFailureNotification);
    EXPECT_EQ(label("syncInfo"), longer);
}

TEST_F(SyncPane, RegistrationGoesThroughTheTermsSheet)
{
    openPane();
    registerWith(newEmail, true);
    ASSERT_TRUE(waitFor([&] { return manager->quorvaneEnabled(); }));
    ASSERT_EQ(fake.accounts.count(newEmail), 1u);
    EXPECT_EQ(fake.accounts[newEmail].name, QStringLiteral("Zoë"));
    EXPECT_EQ(fake.accounts[newEmail].password, password);
    EXPECT_EQ(manager->quorvaneEmail(), newEmail);
    EXPECT_EQ(secret(newEmail), password) << "a non-ASCII address keeps its password";
    EXPECT_EQ(fake.pageRequests, std::vector<QString>{TermsPath});
    ASSERT_TRUE(waitFor([&] { return shows(pane->loggedInView()); }));
    ASSERT_TRUE(waitForQuiet());
}

TEST_F(SyncPane, CancelledTermsStillSendTheFormWithoutTerms)
{
    openPane();
    registerWith(newEmail, false);
    ASSERT_TRUE(waitFor([&] { return fake.count(QStringLiteral("register")) == 1; }));
    EXPECT_EQ(WebSyncFakeService::value(fake.requests.back(), QStringLiteral("terms")), QString());
    ASSERT_TRUE(waitFor([&] {
        return label("registerInfo") == QStringLiteral("That address is already registered.");
    })) << label("registerInfo").toStdString();
    EXPECT_TRUE(fake.accounts.empty());
    EXPECT_FALSE(manager->quorvaneEnabled());
    ASSERT_TRUE(waitForQuiet());
}

TEST_F(SyncPane, LogOutRemovesTheLoginCodeAndKeepsThePassword)
{
    signedIn();
    startAndSettle();
    openPane();
    ASSERT_TRUE(waitFor([&] { return shows(pane->loggedInView()); }));
    ASSERT_EQ(secret(email + QStringLiteral(" [quillary]")), QStringLiteral("K-signed-in"));
    click("logOutButton");
    ASSERT_TRUE(waitFor([&] { return shows(pane->signInView()); }));
    EXPECT_EQ(fake.count(QStringLiteral("logout")), 1);
    EXPECT_FALSE(secret(email + QStringLiteral(" [quillary]")));
    EXPECT_EQ(secret(email), password);
    EXPECT_TRUE(manager->quorvaneEmail().isEmpty());
    EXPECT_FALSE(manager->quorvaneEnabled());
    ASSERT_TRUE(waitForQuiet());
}

TEST_F(SyncPane, LeavingTheAddressFieldFillsThePasswordFromTheKeyring)
{
    for (const QString& address : {email, newEmail})
        QVRPasswordManager::perform([this, address] {
            QVRPasswordManager::setPassword(password + address, address, QVRSyncService::host());
        });
    openPane();
    for (const QString& address : {email, newEmail, QStringLiteral("nobody@example.org")}) {
        type("syncPasswordField", QString());
        QLineEdit* field = child<QLineEdit>("syncEmailField");
        field->setText(address);
        QTest::keyClick(field, Qt::Key_Return);
        const QString expected = address.startsWith(QLatin1String("nobody")) ? QString() : password + address;
        // The unknown address is answered too: a round trip shows nothing came.
        QVRPasswordManager::waitForPendingWork();
        QCoreApplication::processEvents();
        EXPECT_TRUE(waitFor([&] { return child<QLineEdit>("syncPasswordField")->text() == expected; }))
            << address.toStdString();
    }
}

TEST_F(SyncPane, CloudFolderThatCannotBeUsedIsRefusedWithAReason)
{
    QTemporaryFile file;
    ASSERT_TRUE(file.open());
    const struct
    {
        QString folder;
        const char* says;
    } cases[] = {
        {QStringLiteral("/proc"), "cannot be written to"}, // not even root may add a file there
        {file.fileName(), "is not a folder"},
        {cloud.filePath(QStringLiteral("missing")), "is not a folder"},
    };
    openPane();
    ASSERT_TRUE(waitFor([&] { return shows(pane->signInView()); }));
    for (const auto& c : cases) {
        chosenFolder = c.folder;
        click("useCloudFolderButton");
        EXPECT_TRUE(label("syncInfo").contains(QString::fromLatin1(c.says)))
            << label("syncInfo").toStdString();
        EXPECT_TRUE(platform::UserDefaults::standard().string(platform::CloudFolderDefaultsKey).isEmpty());
    }
    chosenFolder.clear(); // the chooser cancelled
    click("useCloudFolderButton");
    EXPECT_TRUE(platform::UserDefaults::standard().string(platform::CloudFolderDefaultsKey).isEmpty());
}

TEST_F(SyncPane, ChoosingACloudFolderLeavesTheWebServiceForIt)
{
    const QString root = installCloud(false);
    signedIn();
    startAndSettle();
    openPane();
    ASSERT_TRUE(waitFor([&] { return shows(pane->loggedInView()); }));
    EXPECT_FALSE(visible("switchSyncButton"));
    ASSERT_TRUE(visible("chooseFolderButton"));
    chosenFolder = root;
    click("chooseFolderButton");
    ASSERT_TRUE(waitFor([&] { return manager->iCloudEnabled(); }));
    ASSERT_TRUE(waitFor([&] { return label("loggedInTitle") == QStringLiteral("Syncing with iCloud"); }));
    EXPECT_EQ(platform::UserDefaults::standard().string(platform::CloudFolderDefaultsKey), root);
    EXPECT_FALSE(manager->quorvaneEnabled());
    EXPECT_FALSE(secret(email + QStringLiteral(" [quillary]")));
    ASSERT_TRUE(waitForQuiet());
}

TEST_F(SyncPane, ButtonsOpenTheServicePages)
{
    openPane();
    pane->setUtilityInstalled(true);
    pane->updateView();
    ASSERT_TRUE(visible("syncPasswordButton"));
    click("forgotButton");
    click("syncPasswordButton");
    const QUrl origin = QVRSyncService::origin();
    ASSERT_EQ(opened.size(), 2);
    EXPECT_EQ(opened[0].toString(), origin.toString() + QStringLiteral("/sync/?cmd=reset"));
    EXPECT_EQ(opened[1].toString(), QStringLiteral("onepassword://search/") + QVRSyncService::host());
}

// --- the terms sheet ----------------------------------------------------------------------

TEST_F(SyncPane, TermsLinksLeaveTheSheetOnlyForWebAndMail)
{
    QVRTermsSheetController sheet;
    QList<QUrl> links;
    sheet.setURLOpener([&](const QUrl& url) { links << url; });
    sheet.loadTerms();
    ASSERT_TRUE(waitFor([&] { return sheet.loaded(); }));
    const QUrl page = QVRTermsSheetController::termsURL();
    const struct
    {
        const char* link;
        QString opens; // empty: ignored
    } cases[] = {
        {"https://example.org/privacy", QStringLiteral("https://example.org/privacy")},
        {"mailto:legal@example.org", QStringLiteral("mailto:legal@example.org")},
        {"privacy.html", page.resolved(QUrl(QStringLiteral("privacy.html"))).toString()},
        {"file:///etc/passwd", QString()},
        {"FILE:///etc/passwd", QString()},
        {"smb://server/share", QString()},
        {"quillary://add?text=x", QString()},
        {"javascript:alert(1)", QString()},
        {"http:/no-host", QString()},
        {"#section", QString()}, // stays on the page
    };
    for (const auto& c : cases) {
        links.clear();
        sheet.linkClicked(QUrl(QString::fromLatin1(c.link)));
        if (c.opens.isEmpty())
            EXPECT_TRUE(links.isEmpty()) << c.link;
        else
            EXPECT_EQ(links, QList<QUrl>({QUrl(c.opens)})) << c.link;
    }
}

TEST_F(SyncPane, TermsComeFromTheServiceOverHttps)
{
    const QByteArray loopback = qgetenv("QUILLARY_SERVICE_URL");
    qunsetenv("QUILLARY_SERVICE_URL");
    EXPECT_EQ(QVRTermsSheetController::termsURL().toString(),
              QStringLiteral("https://sync.quorvane.com/sync/app/legal/terms.html"));
    qputenv("QUILLARY_SERVICE_URL", "http://terms.example.org");
    EXPECT_TRUE(QVRTermsSheetController::termsURL().isEmpty()) << "plain http only to a loopback address";
    qputenv("QUILLARY_SERVICE_URL", loopback);
}

TEST_F(SyncPane, TermsThatFailToLoadKeepAgreeDisabled)
{
    fake.pages.clear();
    struct Delegate : QVRTermsSheetDelegate
    {
        QList<int> codes;
        void shouldEndSheet(QDialog*, int code) override { codes << code; }
    } delegate;
    QVRTermsSheetController sheet;
    sheet.setDelegate(&delegate);
    QSignalSpy finished(&sheet, &QVRTermsSheetController::finishedLoading);
    sheet.loadTerms();
    ASSERT_TRUE(waitFor([&] { return !finished.isEmpty(); }));
    EXPECT_FALSE(finished.first().first().toBool());
    EXPECT_FALSE(sheet.agreeButton()->isEnabled());
    EXPECT_TRUE(sheet.termsWebView()->toPlainText().contains(QStringLiteral("could not be loaded")));
    sheet.agreeClicked();
    sheet.cancelClicked();
    EXPECT_EQ(delegate.codes, QList<int>({QVRTermsSheetController::CancelReturnCode}));
}
