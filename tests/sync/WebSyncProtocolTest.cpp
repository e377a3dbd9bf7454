#include "WebSyncFixture.h"

#include <clocale>

#include <QLocale>

namespace {

using Fault = WebSyncFakeService::Fault;
using Pairs = WebSyncFakeService::Pairs;

QString host()
{
    return QVRSyncService::host();
}

// --- request bodies -------------------------------------------------------------

TEST_F(WebSync, BodiesAreExactAndUseThePointUnderAGermanLocale)
{
    const char* previous = std::setlocale(LC_ALL, "de_DE.UTF-8");
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    clock.set(1700000047.75);
    signedIn();
    QVRDataStore::sharedDefaults().set(QStringLiteral("syncupdated"), 1700000000.5);
    QVRDataStore::sharedDefaults().set(QStringLiteral("syncoffset"), 2.25);
    const QString tail = QStringLiteral("&type=mac&version=6.2&osversion=%1&now=1700000047.750000")
                             .arg(QVRSyncService::systemVersion());

    // A stored code and client: the code login, read afresh from the keyring.
    manager->syncWithQuorvane();  // marks the code for re-reading, sends nothing yet
    auto request = manager->quorvaneRequestURL(std::nullopt, QStringLiteral("cmd=get"), true);
    ASSERT_TRUE(request);
    EXPECT_EQ(QString::fromUtf8(request->body),
              QStringLiteral("cmd=get&email=anna%2Bnotes%40example.org&client=C9&code=K-signed-in"
                             "&updated=1700000000.500000") + tail);
    EXPECT_EQ(request->timeoutSeconds, 30);
    EXPECT_EQ(request->url.toString(), fake.origin() + QStringLiteral("/sync/quillary/xml.php"));

    // A queued change: offset applied, text escaped byte for byte.
    saveNote(QStringLiteral("N-1"), QStringLiteral("100% a+b & c\nü"), 1700000010.5, false, false);
    store->context()->performAndWait([] {});
    {
        QVRSyncObject* note = nullptr;
        store->context()->performAndWait([&] { note = static_cast<QVRSyncObject*>(app->find(QStringLiteral("N-1"))); });
        manager->queueObject(note, QStringLiteral("add"));
    }
    EXPECT_EQ(manager->queueItemWithUUID(QStringLiteral("N-1")).value(QStringLiteral("query")).toString(),
              QStringLiteral("cmd=add&modified=1700000008.250000&uuid=N-1&date=1600000000.250000"
                             "&text=100%25%20a%2Bb%20%26%20c%0A%C3%BC"));

    // Registration: no login, no sync point, the form's fields escaped.
    QVRDataStore::sharedDefaults().set(QStringLiteral("syncupdated"), 0.0);
    request = manager->quorvaneRequestURL(std::nullopt, QStringLiteral("cmd=register&email=x"), false);
    ASSERT_TRUE(request);
    EXPECT_EQ(QString::fromUtf8(request->body), QStringLiteral("cmd=register&email=x") + tail);
    EXPECT_EQ(request->timeoutSeconds, 180) << "before any update the service may take long";

    std::setlocale(LC_ALL, previous ? previous : "C");
    QLocale::setDefault(QLocale::c());
}

TEST_F(WebSync, PasswordLoginWhenNoCodeIsKnownAndNothingWithoutKeyring)
{
    signedIn();
    QVRPasswordManager::deletePasswordForAccount(email + QStringLiteral(" [quillary]"), host());
    manager->syncWithQuorvane();
    auto request = manager->quorvaneRequestURL(std::nullopt, QStringLiteral("cmd=get"), true);
    ASSERT_TRUE(request);
    EXPECT_TRUE(QString::fromUtf8(request->body)
                    .startsWith(QStringLiteral("cmd=get&email=anna%2Bnotes%40example.org&client=C9&password=p%26ss%20%25w%C3%B6rd%2B1&updated=")));

    // A failing keyring is not "no password": no request, and a visible failure.
    secrets.setFailure(7);
    EXPECT_FALSE(manager->quorvaneRequestURL(std::nullopt, QStringLiteral("cmd=get"), true));
    ASSERT_TRUE(waitFor([&] { return !failureTexts.isEmpty(); }));
    EXPECT_EQ(failureTexts.last(), QStringLiteral("Couldn’t connect"));
    secrets.setFailure(0);
}

// --- sign-in, registration, log-out, switching accounts ------------------------------

TEST_F(WebSync, SignInSendsEveryNoteThenLogsInWithTheIssuedCode)
{
    fake.accounts[email] = {password, QString()};
    fake.gzipReplies = true;
    for (int i = 0; i < 3; ++i)
        saveNote(QStringLiteral("N-%1").arg(i), QStringLiteral("text %1").arg(i), 1700000000 + i, false, false);
    startAndSettle();
    EXPECT_TRUE(fake.requests.empty()) << "nothing is sent before a sign-in";

    platform::Error error;
    EXPECT_FALSE(manager->validateQuorvaneSettings({{QStringLiteral("email"), email}, {QStringLiteral("password"), password}}, &error));
    EXPECT_TRUE(error.domain.isEmpty());
    ASSERT_TRUE(waitFor([&] { return successCount == 1 && fake.notes.size() == 3; }));
    ASSERT_TRUE(waitForQuiet());

    EXPECT_TRUE(manager->quorvaneEnabled());
    EXPECT_EQ(manager->quorvaneEmail(), email);
    EXPECT_EQ(manager->quorvaneClient(), QStringLiteral("C1"));
    EXPECT_GT(manager->quorvaneUpdated(), 1.0);
    EXPECT_TRUE(manager->queueItems().empty());
    EXPECT_EQ(QVRPasswordManager::passwordForAccount(email, host(), std::nullopt, std::nullopt), password);
    EXPECT_EQ(QVRPasswordManager::passwordForAccount(email + QStringLiteral(" [quillary]"), host(), std::nullopt, std::nullopt),
              fake.codes[QStringLiteral("C1")]);
    ASSERT_GE(fake.requests.size(), 3u);
    EXPECT_TRUE(WebSyncFakeService::has(fake.requests[0], QStringLiteral("password")));
    EXPECT_FALSE(WebSyncFakeService::has(fake.requests[0], QStringLiteral("client")));
    const Pairs& later = fake.requests[1];
    EXPECT_EQ(WebSyncFakeService::keys(later).mid(5, 4),
              (QStringList{QStringLiteral("email"), QStringLiteral("client"), QStringLiteral("code"), QStringLiteral("updated")}));
    EXPECT_EQ(fake.notes[QStringLiteral("N-2")].text, QStringLiteral("text 2"));
}

TEST_F(WebSync, FormErrorsAreReportedWithTheirMessage)
{
    struct Case {
        QVariantMap form;
        QString message;
    };
    const std::vector<Case> cases = {
        {{{QStringLiteral("password"), QStringLiteral("x")}}, QStringLiteral("Email is required.")},
        {{{QStringLiteral("email"), email}}, QStringLiteral("Password is required.")},
        {{{QStringLiteral("new"), true}}, QStringLiteral("Email and Password are required.")},
        {{{QStringLiteral("new"), true}, {QStringLiteral("email"), email}, {QStringLiteral("password"), QStringLiteral("a")},
          {QStringLiteral("confirm"), QStringLiteral("b")}},
         QStringLiteral("Both password fields must match.")},
    };
    for (const Case& c : cases) {
        platform::Error error;
        EXPECT_FALSE(manager->validateQuorvaneSettings(c.form, &error));
        EXPECT_EQ(error.domain, QStringLiteral("com.quorvane.sync"));
        EXPECT_EQ(error.code, 200);
        EXPECT_EQ(error.localizedDescription, c.message);
        EXPECT_EQ(failureTexts.last(), c.message);
    }
    EXPECT_TRUE(fake.requests.empty());
}

TEST_F(WebSync, RegistrationCreatesTheAccountAndTurnsSyncOn)
{
    startAndSettle();
    manager->validateQuorvaneSettings({{QStringLiteral("new"), true}, {QStringLiteral("email"), email},
                                       {QStringLiteral("password"), password}, {QStringLiteral("confirm"), password},
                                       {QStringLiteral("terms"), QStringLiteral("true")}});
    ASSERT_TRUE(waitFor([&] { return successCount == 1; }));
    ASSERT_TRUE(fake.accounts.count(email));
    EXPECT_EQ(fake.accounts[email].password, password);
    EXPECT_EQ(WebSyncFakeService::keys(fake.requests[0]).mid(0, 6),
              (QStringList{"cmd", "email", "newpassword", "confirmpass", "name", "terms"}));
    EXPECT_TRUE(manager->quorvaneEnabled());
    EXPECT_EQ(manager->quorvaneEmail(), email);
}

TEST_F(WebSync, LogOutSendsLogoutThenClearsTheAccountAfterItsReply)
{
    signedIn();
    startAndSettle();
    ASSERT_TRUE(waitForQuiet());
    QVRDataStore::sharedDefaults().set(QStringLiteral("syncupdated"), 1700000000.0);
    manager->disableQuorvaneAndDeletePassword(true);
    ASSERT_TRUE(waitFor([&] { return fake.count(QStringLiteral("logout")) == 1 && !manager->quorvaneEnabled(); }));
    ASSERT_TRUE(waitFor([&] { return secrets.itemCount() == 0; }));
    EXPECT_TRUE(manager->quorvaneEmail().isNull());
    EXPECT_TRUE(manager->quorvaneClient().isNull());
    EXPECT_EQ(manager->quorvaneUpdated(), 0.0);
    // The log-out request itself logged in as the account it leaves.
    const Pairs& logout = fake.requests.back();
    EXPECT_EQ(WebSyncFakeService::value(logout, QStringLiteral("email")), email);
}

TEST_F(WebSync, AnotherAccountStartsFromNothingAndSameAccountKeepsPendingDeletions)
{
    signedIn();
    QVRDataStore::sharedDefaults().set(QStringLiteral("syncupdated"), 1800000000.0);
    fake.fault = Fault::Drop;
    fake.faultCount = 100;
    startAndSettle();
    saveNote(QStringLiteral("GONE"), QStringLiteral("x"), 1700000000, true);
    ASSERT_TRUE(waitFor([&] { return !failureTexts.isEmpty(); }));
    ASSERT_TRUE(waitForQuiet());
    ASSERT_EQ(manager->queueItemWithUUID(QStringLiteral("GONE")).value(QStringLiteral("cmd")), QStringLiteral("delete"));
    fake.faultCount = 0;

    // The same account signs in again: the deletion still goes out.
    manager->validateQuorvaneSettings({{QStringLiteral("email"), email}, {QStringLiteral("password"), password}});
    ASSERT_TRUE(waitFor([&] { return successCount == 1; }));
    ASSERT_TRUE(waitForQuiet());
    EXPECT_TRUE(fake.notes[QStringLiteral("GONE")].deleted);

    // Another account: no sync point, no client, no code of the first.
    const QString other = QStringLiteral("bob@example.org");
    fake.accounts[other] = {QStringLiteral("bobpw"), QString()};
    const size_t before = fake.requests.size();
    manager->validateQuorvaneSettings({{QStringLiteral("email"), other}, {QStringLiteral("password"), QStringLiteral("bobpw")}});
    ASSERT_TRUE(waitFor([&] { return successCount == 2; }));
    const Pairs& first = fake.requests[before];
    EXPECT_EQ(WebSyncFakeService::value(first, QStringLiteral("updated")), QStringLiteral("0.000000"));
    EXPECT_FALSE(WebSyncFakeService::has(first, QStringLiteral("client")));
    EXPECT_EQ(QVRPasswordManager::passwordForAccount(email + QStringLiteral(" [quillary]"), host(), QStringLiteral("none"), std::nullopt),
              QStringLiteral("none"));
    ASSERT_TRUE(waitForQuiet());
}

TEST_F(WebSync, RefusedCodeIsRetriedOnceWithThePasswordButARefusedPasswordIsNot)
{
    signedIn();
    fake.revokeCodes = true;
    startAndSettle();  // its first cycle logs in with the code
    ASSERT_TRUE(waitFor([&] { return fake.requests.size() >= 2; }));
    ASSERT_TRUE(waitForQuiet());
    ASSERT_EQ(fake.requests.size(), 2u);
    EXPECT_TRUE(WebSyncFakeService::has(fake.requests[0], QStringLiteral("code")));
    EXPECT_TRUE(WebSyncFakeService::has(fake.requests[1], QStringLiteral("password")));
    EXPECT_TRUE(manager->quorvaneEnabled());

    // The service answering retry to a password must not start a storm.
    fake.script = [](const Pairs&) { return QByteArray("<r><success value=\"false\" retry=\"true\"/></r>"); };
    QVRPasswordManager::deletePasswordForAccount(email + QStringLiteral(" [quillary]"), host());
    manager->setForceUpdate(true);
    manager->sync();
    ASSERT_TRUE(waitFor([&] { return settingsErrorCount == 1; }));
    ASSERT_TRUE(waitForQuiet());
    EXPECT_EQ(fake.requests.size(), 3u);
    EXPECT_FALSE(manager->quorvaneEnabled());
}

TEST_F(WebSync, FirstRunOffersTheAccountFoundInTheKeyring)
{
    fake.accounts[email] = {password, QString()};
    QVRPasswordManager::setPassword(password, email, host());
    startAndSettle();
    ASSERT_TRUE(waitFor([&] { return !app->prompts.isEmpty() && fake.count(QStringLiteral("get")) == 1; }));
    EXPECT_EQ(app->prompts[0], QStringLiteral("Quorvane Sync|Would you like to log in with the address %1?").arg(email));
    ASSERT_TRUE(waitForQuiet());
    EXPECT_TRUE(manager->quorvaneEnabled());
    EXPECT_FALSE(manager->firstRun());
}

// --- merging ---------------------------------------------------------------------

TEST_F(WebSync, MergeKeepsNewerLocalChangesAndLetsTheServiceWinTies)
{
    signedIn();
    struct Case {
        const char* uuid;
        double localModified;  // queued, offset 0
        QString updated;       // the service's version
        QString deleted;
        bool localKept;
    };
    const std::vector<Case> cases = {
        {"LOCAL-NEWER", 200.5, QStringLiteral("200.25"), QStringLiteral("0"), true},
        {"TIE", 300.5, QStringLiteral("300.5"), QStringLiteral("0"), false},
        {"SERVICE-NEWER", 400, QStringLiteral("401"), QStringLiteral("0"), false},
        {"DELETED-ON-SERVICE", 500, QStringLiteral("501"), QStringLiteral("1"), false},
        {"DELETED-BUT-LOCAL-NEWER", 602, QStringLiteral("601"), QStringLiteral("1"), true},
    };
    for (const Case& c : cases) {
        saveNote(QString::fromLatin1(c.uuid), QStringLiteral("local"), c.localModified, false, false);
        QVRSyncObject* note = nullptr;
        store->context()->performAndWait([&] { note = static_cast<QVRSyncObject*>(app->find(QString::fromLatin1(c.uuid))); });
        manager->queueObject(note, QStringLiteral("add"));
    }
    for (const Case& c : cases) {
        manager->operationEncounteredName(nullptr, QStringLiteral("note"), std::nullopt,
                                          QVRXMLAttributes{{QStringLiteral("uuid"), QString::fromLatin1(c.uuid)},
                                                           {QStringLiteral("updated"), c.updated},
                                                           {QStringLiteral("deleted"), c.deleted},
                                                           {QStringLiteral("modified"), c.updated},
                                                           {QStringLiteral("archived"), QStringLiteral("0")},
                                                           {QStringLiteral("text"), QStringLiteral("service")}});
        const QVariantMap note = local(QString::fromLatin1(c.uuid));
        const bool queued = !manager->queueItemWithUUID(QString::fromLatin1(c.uuid)).isEmpty();
        EXPECT_EQ(queued, c.localKept) << c.uuid;
        if (c.localKept) {
            EXPECT_EQ(note.value(QStringLiteral("text")).toString(), QStringLiteral("local")) << c.uuid;
            EXPECT_FALSE(note.value(QStringLiteral("archived")).toBool()) << c.uuid;
        } else if (c.deleted == QLatin1String("1")) {
            EXPECT_TRUE(note.value(QStringLiteral("archived")).toBool()) << c.uuid;
        } else {
            EXPECT_EQ(note.value(QStringLiteral("text")).toString(), QStringLiteral("service")) << c.uuid;
        }
    }
}

TEST_F(WebSync, UuidThatCouldNameAFileOutsideTheFolderIsDropped)
{
    signedIn();
    for (const QString& uuid : {QStringLiteral("../../x"), QStringLiteral(".."), QStringLiteral("a/b"), QString()}) {
        manager->operationEncounteredName(nullptr, QStringLiteral("note"), std::nullopt,
                                          QVRXMLAttributes{{QStringLiteral("uuid"), uuid}, {QStringLiteral("updated"), QStringLiteral("5")},
                                                           {QStringLiteral("text"), QStringLiteral("evil")}});
    }
    EXPECT_EQ(app->saved, 0);
    manager->operationEncounteredName(nullptr, QStringLiteral("note"), std::nullopt,
                                      QVRXMLAttributes{{QStringLiteral("uuid"), QStringLiteral("a1b2c3d4-lower")},
                                                       {QStringLiteral("updated"), QStringLiteral("5")},
                                                       {QStringLiteral("text"), QStringLiteral("fine")}});
    EXPECT_EQ(app->saved, 1) << "lower-case ids from other clients stay welcome";
}

TEST_F(WebSync, ServiceChangesArriveAndMessagesFollowTheRule)
{
    signedIn();
    fake.notes[QStringLiteral("REMOTE")] = {QStringLiteral("from the web <&>"), 1600000000, 1700000100, 1700000100, false, false};
    fake.notes[QStringLiteral("REMOTE-GONE")] = {QString(), 0, 1700000200, 1700000200, true, false};
    saveNote(QStringLiteral("REMOTE-GONE"), QStringLiteral("old"), 1600000000, false, false);
    startAndSettle();
    manager->setForceUpdate(true);
    manager->sync();
    ASSERT_TRUE(waitFor([&] { return fake.count(QStringLiteral("get")) >= 1; }));
    ASSERT_TRUE(waitForQuiet());
    EXPECT_EQ(local(QStringLiteral("REMOTE")).value(QStringLiteral("text")).toString(), QStringLiteral("from the web <&>"));
    EXPECT_TRUE(local(QStringLiteral("REMOTE-GONE")).value(QStringLiteral("archived")).toBool());
    EXPECT_TRUE(manager->quorvaneMessage().isEmpty()) << "\"Note synced…\" is no message";

    manager->operationEncounteredName(nullptr, QStringLiteral("message"), QStringLiteral("Your plan ends soon."), std::nullopt);
    EXPECT_EQ(manager->quorvaneMessage(), QStringLiteral("Your plan ends soon."));
    manager->operationEncounteredName(nullptr, QStringLiteral("message"), QStringLiteral("  "), std::nullopt);
    EXPECT_TRUE(manager->quorvaneMessage().isEmpty());
    manager->operationEncounteredName(nullptr, QStringLiteral("widget"), QStringLiteral("1"), std::nullopt);
    EXPECT_EQ(app->unknown, QStringList{QStringLiteral("widget")});
}

// --- failures, durability, back-off --------------------------------------------------

struct FaultCase {
    const char* name;
    Fault fault;
};

class WebSyncFaults : public WebSync, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(WebSyncFaults, FailedReplyAppliesNothingAndKeepsTheQueue)
{
    signedIn();
    QVRDataStore::sharedDefaults().set(QStringLiteral("syncupdated"), 1700000000.0);
    startAndSettle();
    const double updated = manager->quorvaneUpdated();
    fake.fault = GetParam().fault;
    // A dropped connection is retried once by the HTTP layer itself.
    fake.faultCount = 2;
    fake.slowMilliseconds = 3000;
    failureTexts.clear();
    saveNote(QStringLiteral("KEEP"), QStringLiteral("unsent"), 1700000500);
    ASSERT_TRUE(waitFor([&] { return !failureTexts.isEmpty(); }));
    ASSERT_TRUE(waitForQuiet());
    fake.faultCount = 0;
    EXPECT_EQ(failureTexts, QStringList{QStringLiteral("Couldn’t connect")});
    EXPECT_FALSE(manager->queueItemWithUUID(QStringLiteral("KEEP")).isEmpty()) << "the change must be sent again";
    EXPECT_EQ(manager->quorvaneUpdated(), updated) << "the sync point must not move";
    EXPECT_TRUE(manager->quorvaneMessage().isEmpty());
    EXPECT_EQ(QVRPasswordManager::passwordForAccount(email + QStringLiteral(" [quillary]"), host(), std::nullopt, std::nullopt),
              QStringLiteral("K-signed-in")) << "a stray <code> must not delete the login code";
    EXPECT_TRUE(manager->quorvaneErrorDate().has_value());
    EXPECT_TRUE(manager->quorvaneEnabled());

    // The next cycle sends it.
    manager->sync();
    ASSERT_TRUE(waitFor([&] { return manager->queueItemWithUUID(QStringLiteral("KEEP")).isEmpty(); }));
    EXPECT_EQ(fake.notes[QStringLiteral("KEEP")].text, QStringLiteral("unsent"));
}

INSTANTIATE_TEST_SUITE_P(Faults, WebSyncFaults,
                         ::testing::Values(FaultCase{"ServerError500WithPage", Fault::ServerError500},
                                           FaultCase{"TruncatedXml", Fault::Truncated},
                                           FaultCase{"MalformedXml", Fault::Malformed},
                                           FaultCase{"PortalPageWithoutSuccess", Fault::NoSuccess},
                                           FaultCase{"DroppedConnection", Fault::Drop},
                                           FaultCase{"EmptyBody", Fault::EmptyBody},
                                           FaultCase{"SlowPastTheTimeOut", Fault::Slow}),
                         [](const ::testing::TestParamInfo<FaultCase>& info) { return std::string(info.param.name); });

TEST_F(WebSync, ServerErrorStatusWithASuccessBodyIsASuccess)
{
    signedIn();
    fake.script = [](const Pairs&) { return QByteArray("<r><success value=\"true\"/></r>"); };
    startAndSettle();
    saveNote(QStringLiteral("S"), QStringLiteral("x"), 1700000000);
    ASSERT_TRUE(waitFor([&] { return manager->queueItemWithUUID(QStringLiteral("S")).isEmpty(); }));
    EXPECT_TRUE(failureTexts.isEmpty());
}

TEST_F(WebSync, QueuedChangeSurvivesARestart)
{
    signedIn();
    fake.fault = Fault::Drop;
    fake.faultCount = 100;
    startAndSettle();
    saveNote(QStringLiteral("DURABLE"), QStringLiteral("kept across restarts"), 1700000000);
    ASSERT_TRUE(waitFor([&] { return !failureTexts.isEmpty(); }));
    const QString query = manager->queueItemWithUUID(QStringLiteral("DURABLE")).value(QStringLiteral("query")).toString();
    // Gone without a save of the store: only what reached the file counts.
    manager.reset();
    app.reset();
    store.reset();
    open();
    EXPECT_EQ(manager->queueItemWithUUID(QStringLiteral("DURABLE")).value(QStringLiteral("query")).toString(), query);
    fake.faultCount = 0;
    startAndSettle();
    ASSERT_TRUE(waitFor([&] { return fake.notes.count(QStringLiteral("DURABLE")); }));
    ASSERT_TRUE(waitForQuiet());
    EXPECT_TRUE(manager->queueItems().empty());
}

TEST_F(WebSync, NewerSaveDuringARequestIsNotDroppedBySuccess)
{
    signedIn();
    startAndSettle();
    // The first save's reply arrives only after the second save.
    fake.fault = Fault::Slow;
    fake.faultCount = 1;
    fake.slowMilliseconds = 400;
    saveNote(QStringLiteral("TWICE"), QStringLiteral("first"), 1700000000);
    ASSERT_TRUE(waitFor([&] { return fake.requests.size() == 1; }));
    saveNote(QStringLiteral("TWICE"), QStringLiteral("second"), 1700000001);
    ASSERT_TRUE(waitFor([&] { return fake.notes[QStringLiteral("TWICE")].text == QStringLiteral("second"); }));
    ASSERT_TRUE(waitForQuiet());
    EXPECT_TRUE(manager->queueItems().empty());
}

TEST_F(WebSync, ErrorsBackOffOnlyRequestsWithoutChanges)
{
    signedIn();
    const double start = platform::now();
    clock.set(start);
    fake.fault = Fault::Drop;
    fake.faultCount = 100;
    startAndSettle();
    ASSERT_TRUE(waitFor([&] { return !failureTexts.isEmpty(); }));
    ASSERT_TRUE(waitForQuiet());
    fake.faultCount = 0;
    const size_t sent = fake.requests.size();

    struct Step {
        double after;
        int state;
        bool sends;
    };
    for (const Step& step : {Step{599, 0, false}, Step{1000, 2, false}, Step{1801, 2, true}}) {
        clock.set(start + step.after);
        app->state = step.state;
        manager->sync();
        ASSERT_TRUE(waitForQuiet());
        EXPECT_EQ(fake.requests.size() > sent, step.sends) << step.after;
    }
    // After a success the error is forgotten; an unforced cycle within 60 s
    // of the last update sends nothing, but a change goes at once.
    app->state = 0;
    const size_t now = fake.requests.size();
    clock.followSystemClock();
    manager->sync();
    ASSERT_TRUE(waitForQuiet());
    EXPECT_EQ(fake.requests.size(), now);
    saveNote(QStringLiteral("AT-ONCE"), QStringLiteral("x"), 1700000000);
    ASSERT_TRUE(waitFor([&] { return fake.notes.count(QStringLiteral("AT-ONCE")); }));
}

// --- manager core --------------------------------------------------------------------

TEST_F(WebSync, StepsPostOnChangeAndAnEmptiedQueueCompletes)
{
    int changes = 0;
    int completes = 0;
    auto a = platform::NotificationCenter::defaultCenter().addObserver(QVRSyncChangeNotification, manager.get(),
                                                                       [&](const platform::Notification&) { ++changes; });
    auto b = platform::NotificationCenter::defaultCenter().addObserver(QVRSyncCompleteNotification, manager.get(),
                                                                       [&](const platform::Notification&) { ++completes; });
    manager->setStep(3);
    manager->setStep(3);
    EXPECT_EQ(changes, 1);
    EXPECT_TRUE(manager->active());
    manager->setStep(6);
    manager->setStep(6);
    EXPECT_EQ(completes, 2) << "6 at 6 completes again";
    EXPECT_FALSE(manager->active());

    QElapsedTimer timer;
    timer.start();
    manager->operationQueueWithCount(1)->addOperationWithBlock([] {});
    ASSERT_TRUE(waitFor([&] { return manager->step() == 5; }));
    const qint64 five = timer.elapsed();
    ASSERT_TRUE(waitFor([&] { return manager->step() == 6; }));
    const qint64 six = timer.elapsed();
    EXPECT_GE(five, 90);
    EXPECT_GE(six - five, 250);
}

TEST_F(WebSync, BusyHoldsTheQuitForThirtySecondsWhileActive)
{
    clock.set(1700000000);
    manager->setStep(2);
    manager->prepareToStop();
    EXPECT_TRUE(manager->busy());
    clock.set(1700000030);
    EXPECT_TRUE(manager->busy());
    clock.set(1700000031);
    EXPECT_FALSE(manager->busy());
    EXPECT_FALSE(manager->active());
    manager->setStep(6);
}

TEST_F(WebSync, HistoryDaysFollowTheSetting)
{
    struct Case {
        qint64 setting;
        quint64 days;
        bool prune;
    };
    for (const Case& c : {Case{0, 365, false}, Case{365242, 365, false}, Case{30, 90, true}, Case{120, 120, true}}) {
        QVRDataStore::sharedDefaults().set(QStringLiteral("QVRHistoryDays"), c.setting);
        QVRSyncManager other(store.get());
        EXPECT_EQ(other.historyDays(), c.days) << c.setting;
        EXPECT_EQ(other.deleteOldObjects(), c.prune) << c.setting;
    }
    QVRDataStore::sharedDefaults().remove(QStringLiteral("QVRHistoryDays"));
    manager->userDefaultsDidChange({QStringLiteral("x"), nullptr, {{QStringLiteral("QVRUserDefaultsKey"), QStringLiteral("QVRHistoryDays")},
                                                                    {QStringLiteral("QVRUserDefaultsValue"), 0}}});
    EXPECT_EQ(manager->historyDays(), 90u);
    EXPECT_TRUE(manager->deleteOldObjects());

    QString offMain = QStringLiteral("unset");
    std::thread([&] { offMain = manager->status(); }).join();
    EXPECT_TRUE(offMain.isNull());
}

}  // namespace
