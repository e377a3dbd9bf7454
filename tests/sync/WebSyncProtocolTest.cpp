#include "WebSyncFixture.h"

#include "sync/QVRSyncSettings.h"

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
    QVRDataStore::sharedDefaults().set(QVRDefaultsKeys::SyncUpdated, 1700000000.5);
    QVRDataStore::sharedDefaults().set(QVRDefaultsKeys::SyncOffset, 2.25);
    const QString tail = QStringLiteral("&type=mac&version=6.2&osversion=%1&now=1700000047.750000")
                             .arg(QVRSyncService::systemVersion());

    // A stored code and client: the code login, read afresh from the keyring.
    manager->syncWithQuorvane(); // marks the code for re-reading, sends nothing yet
    auto request = manager->quorvaneRequestURL(std::nullopt, QStringLiteral("cmd=get"), true);
    ASSERT_TRUE(request);
    EXPECT_EQ(QString::fromUtf8(request->body),
              QStringLiteral("cmd=get&email=anna%2Bnotes%40example.org&client=C9&code=K-signed-in"
                             "&updated=1700000000.500000") +
                  tail);
    EXPECT_EQ(request->timeoutSeconds, 30);
    EXPECT_EQ(request->url.toString(), fake.origin() + QStringLiteral("/sync/quillary/xml.php"));

    // A queued change: offset applied, text escaped byte for byte.
    saveNote(QStringLiteral("N-1"), QStringLiteral("100% a+b & c\nü"), 1700000010.5, false, false);
    store->context()->performAndWait([] {});
    {
        QVRSyncObject* note = nullptr;
        store->context()->performAndWait(
            [&] { note = static_cast<QVRSyncObject*>(app->find(QStringLiteral("N-1"))); });
        manager->queueObject(note, QStringLiteral("add"));
    }
    EXPECT_EQ(manager->queueItemWithUUID(QStringLiteral("N-1")).value(QStringLiteral("query")).toString(),
              QStringLiteral("cmd=add&modified=1700000008.250000&uuid=N-1&date=1600000000.250000"
                             "&text=100%25%20a%2Bb%20%26%20c%0A%C3%BC"));

    // Registration: no login, no sync point, the form's fields escaped.
    QVRDataStore::sharedDefaults().set(QVRDefaultsKeys::SyncUpdated, 0.0);
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
                    .startsWith(QStringLiteral("cmd=get&email=anna%2Bnotes%40example.org&client=C9&password="
                                               "p%26ss%20%25w%C3%B6rd%2B1&updated=")));

    // A failing keyring is not "no password": no request, and a visible failure.
    secrets.setFailure(7);
    EXPECT_FALSE(manager->quorvaneRequestURL(std::nullopt, QStringLiteral("cmd=get"), true));
    ASSERT_TRUE(waitFor([&] { return !failureTexts.isEmpty(); }));
    EXPECT_EQ(failureTexts.last(), QStringLiteral("Couldn’t connect"));
    secrets.setFailure(0);
}

TEST_F(WebSync, PlainHttpGoesOnlyToLiteralLoopbackAddressesAndARefusalSaysWhy)
{
    struct Case
    {
        const char* url;
        bool safe;
    };
    for (const Case& c :
         {Case{"https://sync.example.org", true}, Case{"http://127.0.0.1:8080/x", true},
          Case{"http://127.8.9.10", true}, Case{"http://[::1]:8080", true},
          Case{"http://localhost:8080", false}, Case{"http://LOCALHOST", false},
          Case{"http://localhost.", false}, Case{"http://10.0.0.1", false},
          Case{"http://sync.example.org", false}, Case{"ftp://127.0.0.1", false}, Case{"http://", false}}) {
        EXPECT_EQ(QVRSyncService::isSafeURL(QUrl(QString::fromLatin1(c.url))), c.safe) << c.url;
    }

    signedIn();
    const QString refused = fake.origin().replace(QStringLiteral("127.0.0.1"), QStringLiteral("localhost"));
    qputenv("QUILLARY_SERVICE_URL", refused.toUtf8());
    manager->syncWithQuorvane();
    EXPECT_FALSE(manager->quorvaneRequestURL(std::nullopt, QStringLiteral("cmd=get"), true));
    ASSERT_TRUE(waitFor([&] { return !failureTexts.isEmpty(); }));
    EXPECT_TRUE(fake.requests.empty());
    EXPECT_TRUE(logged.filter(QStringLiteral("Sync needs the keyring")).isEmpty())
        << logged.join('\n').toStdString();
    // Said by each request refused (the sync's own may or may not have run yet).
    EXPECT_GE(logged.filter(QStringLiteral("the service address %1 is refused").arg(refused)).size(), 1)
        << logged.join('\n').toStdString();
}

TEST_F(WebSync, KeyringIsNeverCalledOnTheMainThread)
{
    // First run: the keyring's account is offered and signed in with.
    fake.accounts[email] = {password, QString()};
    QVRPasswordManager::setPassword(password, email, host());
    secrets.watching = true;
    startAndSettle();
    ASSERT_TRUE(waitFor([&] { return !app->prompts.isEmpty() && fake.count(QStringLiteral("get")) == 1; }));
    ASSERT_TRUE(waitForQuiet());

    // A sign-in form stores the password and the issued code; a log-out
    // deletes them again.
    manager->validateQuorvaneSettings(
        {{QStringLiteral("email"), email}, {QStringLiteral("password"), password}});
    ASSERT_TRUE(waitFor([&] { return successCount == 1; }));
    ASSERT_TRUE(waitForQuiet());
    manager->disableQuorvaneAndDeletePassword(true);
    ASSERT_TRUE(
        waitFor([&] { return fake.count(QStringLiteral("logout")) == 1 && !manager->quorvaneEnabled(); }));
    ASSERT_TRUE(waitForQuiet());
    QVRPasswordManager::waitForPendingWork();
    secrets.watching = false;
    EXPECT_EQ(secrets.mainThreadCalls.load(), 0);
    EXPECT_EQ(secrets.itemCount(), 0u);
}

// --- sign-in, registration, log-out, switching accounts ------------------------------

TEST_F(WebSync, SignInSendsEveryNoteThenLogsInWithTheIssuedCode)
{
    fake.accounts[email] = {password, QString()};
    fake.gzipReplies = true;
    for (int i = 0; i < 3; ++i)
        saveNote(QStringLiteral("N-%1").arg(i), QStringLiteral("text %1").arg(i), 1700000000 + i, false,
                 false);
    startAndSettle();
    EXPECT_TRUE(fake.requests.empty()) << "nothing is sent before a sign-in";

    platform::Error error;
    EXPECT_FALSE(manager->validateQuorvaneSettings(
        {{QStringLiteral("email"), email}, {QStringLiteral("password"), password}}, &error));
    EXPECT_TRUE(error.domain.isEmpty());
    ASSERT_TRUE(waitFor([&] { return successCount == 1 && fake.notes.size() == 3; }));
    ASSERT_TRUE(waitForQuiet());

    EXPECT_TRUE(manager->quorvaneEnabled());
    EXPECT_EQ(manager->quorvaneEmail(), email);
    EXPECT_EQ(manager->quorvaneClient(), QStringLiteral("C1"));
    EXPECT_GT(manager->quorvaneUpdated(), 1.0);
    EXPECT_TRUE(manager->queueItems().empty());
    EXPECT_EQ(secret(email), password);
    EXPECT_EQ(secret(email + QStringLiteral(" [quillary]")), fake.codes[QStringLiteral("C1")]);
    ASSERT_GE(fake.requests.size(), 3u);
    EXPECT_TRUE(WebSyncFakeService::has(fake.requests[0], QStringLiteral("password")));
    EXPECT_FALSE(WebSyncFakeService::has(fake.requests[0], QStringLiteral("client")));
    const Pairs& later = fake.requests[1];
    EXPECT_EQ(WebSyncFakeService::keys(later).mid(5, 4),
              (QStringList{QStringLiteral("email"), QStringLiteral("client"), QStringLiteral("code"),
                           QStringLiteral("updated")}));
    EXPECT_EQ(fake.notes[QStringLiteral("N-2")].text, QStringLiteral("text 2"));
}

TEST_F(WebSync, FormErrorsAreReportedWithTheirMessage)
{
    struct Case
    {
        QVariantMap form;
        QString message;
    };
    const std::vector<Case> cases = {
        {{{QStringLiteral("password"), QStringLiteral("x")}}, QStringLiteral("Email is required.")},
        {{{QStringLiteral("email"), email}}, QStringLiteral("Password is required.")},
        {{{QStringLiteral("new"), true}}, QStringLiteral("Email and Password are required.")},
        {{{QStringLiteral("new"), true},
          {QStringLiteral("email"), email},
          {QStringLiteral("password"), QStringLiteral("a")},
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
    manager->validateQuorvaneSettings({{QStringLiteral("new"), true},
                                       {QStringLiteral("email"), email},
                                       {QStringLiteral("password"), password},
                                       {QStringLiteral("confirm"), password},
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
    QVRDataStore::sharedDefaults().set(QVRDefaultsKeys::SyncUpdated, 1700000000.0);
    manager->disableQuorvaneAndDeletePassword(true);
    ASSERT_TRUE(
        waitFor([&] { return fake.count(QStringLiteral("logout")) == 1 && !manager->quorvaneEnabled(); }));
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
    QVRDataStore::sharedDefaults().set(QVRDefaultsKeys::SyncUpdated, 1800000000.0);
    fake.fault = Fault::Drop;
    fake.faultCount = 100;
    startAndSettle();
    saveNote(QStringLiteral("GONE"), QStringLiteral("x"), 1700000000, true);
    ASSERT_TRUE(waitFor([&] { return !failureTexts.isEmpty(); }));
    ASSERT_TRUE(waitForQuiet());
    ASSERT_EQ(manager->queueItemWithUUID(QStringLiteral("GONE")).value(QStringLiteral("cmd")),
              QStringLiteral("delete"));
    fake.faultCount = 0;

    // The same account signs in again: the deletion still goes out.
    manager->validateQuorvaneSettings(
        {{QStringLiteral("email"), email}, {QStringLiteral("password"), password}});
    ASSERT_TRUE(waitFor([&] { return successCount == 1; }));
    ASSERT_TRUE(waitForQuiet());
    EXPECT_TRUE(fake.notes[QStringLiteral("GONE")].deleted);

    // Another account: no sync point, no client, no code of the first.
    const QString other = QStringLiteral("bob@example.org");
    fake.accounts[other] = {QStringLiteral("bobpw"), QString()};
    const size_t before = fake.requests.size();
    manager->validateQuorvaneSettings(
        {{QStringLiteral("email"), other}, {QStringLiteral("password"), QStringLiteral("bobpw")}});
    ASSERT_TRUE(waitFor([&] { return successCount == 2; }));
    const Pairs& first = fake.requests[before];
    EXPECT_EQ(WebSyncFakeService::value(first, QStringLiteral("updated")), QStringLiteral("0.000000"));
    EXPECT_FALSE(WebSyncFakeService::has(first, QStringLiteral("client")));
    EXPECT_EQ(secret(email + QStringLiteral(" [quillary]"), QStringLiteral("none")), QStringLiteral("none"));
    ASSERT_TRUE(waitForQuiet());
}

TEST_F(WebSync, RefusedCodeIsRetriedOnceWithThePasswordButARefusedPasswordIsNot)
{
    signedIn();
    fake.revokeCodes = true;
    startAndSettle(); // its first cycle logs in with the code
    ASSERT_TRUE(waitFor([&] { return fake.requests.size() >= 2; }));
    ASSERT_TRUE(waitForQuiet());
    ASSERT_EQ(fake.requests.size(), 2u);
    EXPECT_TRUE(WebSyncFakeService::has(fake.requests[0], QStringLiteral("code")));
    EXPECT_TRUE(WebSyncFakeService::has(fake.requests[1], QStringLiteral("password")));
    EXPECT_TRUE(manager->quorvaneEnabled());

    // The service answering retry to a password must not start a storm.
    fake.script = [](const Pairs&) { return QByteArray("<r><success value=\"false\" retry=\"true\"/></r>"); };
    QVRPasswordManager::waitForPendingWork();
    QVRPasswordManager::deletePasswordForAccount(email + QStringLiteral(" [quillary]"), host());
    manager->setForceUpdate(true);
    manager->sync();
    ASSERT_TRUE(waitFor([&] { return settingsErrorCount == 1; }));
    ASSERT_TRUE(waitForQuiet());
    EXPECT_EQ(fake.requests.size(), 3u);
    EXPECT_FALSE(manager->quorvaneEnabled());
}

TEST_F(WebSync, RefusedRegistrationIsNeverRetriedUnderThePreviousAccount)
{
    signedIn();
    saveNote(QStringLiteral("MINE"), QStringLiteral("x"), 1700000000, false, false);
    startAndSettle(); // its cycle logs in with the code
    ASSERT_FALSE(fake.requests.empty());
    ASSERT_TRUE(WebSyncFakeService::has(fake.requests.back(), QStringLiteral("code")));
    const size_t before = fake.requests.size();

    // The retry flag belongs to a code login; a registration logs in with nothing.
    fake.script = [](const Pairs& pairs) {
        return WebSyncFakeService::value(pairs, QStringLiteral("cmd")) == QLatin1String("register")
                   ? QByteArray("<r><success value=\"false\" retry=\"true\"/></r>")
                   : QByteArray();
    };
    const QString other = QStringLiteral("new@example.org");
    manager->validateQuorvaneSettings({{QStringLiteral("new"), true},
                                       {QStringLiteral("email"), other},
                                       {QStringLiteral("password"), QStringLiteral("pw")},
                                       {QStringLiteral("confirm"), QStringLiteral("pw")},
                                       {QStringLiteral("terms"), QStringLiteral("true")}});
    ASSERT_TRUE(waitFor([&] { return settingsErrorCount == 1 || fake.requests.size() > before + 1; }));
    ASSERT_TRUE(waitForQuiet());
    ASSERT_EQ(fake.requests.size(), before + 1);
    EXPECT_EQ(WebSyncFakeService::value(fake.requests.back(), QStringLiteral("cmd")),
              QStringLiteral("register"));
    EXPECT_FALSE(manager->quorvaneEnabled()) << "web sync must not come back on as the old account";
    EXPECT_EQ(fake.notes.count(QStringLiteral("MINE")), 0u);
}

TEST_F(WebSync, QueuedAddsWaitForTheNextSyncAfterARegistration)
{
    signedIn();
    // A cycle that held rows back, then failed.
    fake.fault = Fault::Drop;
    fake.faultCount = 100;
    for (const char* uuid : {"HELD-1", "HELD-2"}) {
        saveNote(QString::fromLatin1(uuid), QStringLiteral("x"), 1700000000, false, false);
        QVRSyncObject* note = nullptr;
        store->context()->performAndWait(
            [&] { note = static_cast<QVRSyncObject*>(app->find(QString::fromLatin1(uuid))); });
        manager->queueObject(note, QStringLiteral("add"));
    }
    startAndSettle();
    ASSERT_TRUE(waitFor([&] { return !failureTexts.isEmpty(); }));
    ASSERT_TRUE(waitForQuiet());
    fake.faultCount = 0;

    const size_t before = fake.requests.size();
    manager->validateQuorvaneSettings({{QStringLiteral("new"), true},
                                       {QStringLiteral("email"), QStringLiteral("new@example.org")},
                                       {QStringLiteral("password"), QStringLiteral("pw")},
                                       {QStringLiteral("confirm"), QStringLiteral("pw")},
                                       {QStringLiteral("terms"), QStringLiteral("true")}});
    ASSERT_TRUE(waitFor([&] { return successCount == 1; }));
    ASSERT_TRUE(waitForQuiet());
    EXPECT_EQ(fake.requests.size(), before + 1) << "only the registration goes out";
    EXPECT_EQ(manager->queueItems().size(), 2u);

    manager->sync();
    ASSERT_TRUE(waitFor([&] { return fake.notes.size() == 2; }));
    ASSERT_TRUE(waitForQuiet());
    EXPECT_TRUE(manager->queueItems().empty());
}

TEST_F(WebSync, FirstRunOffersTheAccountFoundInTheKeyring)
{
    fake.accounts[email] = {password, QString()};
    QVRPasswordManager::setPassword(password, email, host());
    startAndSettle();
    ASSERT_TRUE(waitFor([&] { return !app->prompts.isEmpty() && fake.count(QStringLiteral("get")) == 1; }));
    EXPECT_EQ(app->prompts[0],
              QStringLiteral("Quorvane Sync|Would you like to log in with the address %1?").arg(email));
    ASSERT_TRUE(waitForQuiet());
    EXPECT_TRUE(manager->quorvaneEnabled());
    EXPECT_FALSE(manager->firstRun());
}

// --- merging ---------------------------------------------------------------------

TEST_F(WebSync, MergeKeepsNewerLocalChangesAndLetsTheServiceWinTies)
{
    signedIn();
    struct Case
    {
        const char* uuid;
        double localModified; // queued, offset 0
        QString updated;      // the service's version
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
        store->context()->performAndWait(
            [&] { note = static_cast<QVRSyncObject*>(app->find(QString::fromLatin1(c.uuid))); });
        manager->queueObject(note, QStringLiteral("add"));
    }
    for (const Case& c : cases) {
        manager->operationEncounteredName(
            nullptr, QStringLiteral("note"), std::nullopt,
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
    for (const QString& uuid :
         {QStringLiteral("../../x"), QStringLiteral(".."), QStringLiteral("a/b"), QString()}) {
        manager->operationEncounteredName(nullptr, QStringLiteral("note"), std::nullopt,
                                          QVRXMLAttributes{{QStringLiteral("uuid"), uuid},
                                                           {QStringLiteral("updated"), QStringLiteral("5")},
                                                           {QStringLiteral("text"), QStringLiteral("evil")}});
    }
    EXPECT_EQ(app->saved, 0);
    manager->operationEncounteredName(
        nullptr, QStringLiteral("note"), std::nullopt,
        QVRXMLAttributes{{QStringLiteral("uuid"), QStringLiteral("a1b2c3d4-lower")},
                         {QStringLiteral("updated"), QStringLiteral("5")},
                         {QStringLiteral("text"), QStringLiteral("fine")}});
    EXPECT_EQ(app->saved, 1) << "lower-case ids from other clients stay welcome";
}

TEST_F(WebSync, NumbersOutsideASaneRangeAreRefused)
{
    signedIn();
    QVRDataStore::sharedDefaults().set(QVRDefaultsKeys::SyncUpdated, 1700000000.0);
    QVRDataStore::sharedDefaults().set(QVRDefaultsKeys::SyncOffset, 2.5);
    struct Case
    {
        const char* name;
        QString value;
        double updated; // what the settings hold afterwards
        double offset;
    };
    const std::vector<Case> cases = {
        {"updated", QStringLiteral("1e300"), 1700000000, 2.5},
        {"updated", QStringLiteral("1e999"), 1700000000, 2.5},
        {"updated", QStringLiteral("200000000000"), 1700000000, 2.5},
        {"updated", QStringLiteral("-1700000000"), 1700000000, 2.5},
        {"updated", QStringLiteral("1700000100.5"), 1700000100.5, 2.5},
        {"offset", QStringLiteral("-1e300"), 1700000100.5, 2.5},
        {"offset", QStringLiteral("1e300"), 1700000100.5, 2.5},
        {"offset", QStringLiteral("-20000000000"), 1700000100.5, 2.5},
        {"offset", QStringLiteral("-3600.25"), 1700000100.5, -3600.25},
    };
    for (const Case& c : cases) {
        manager->operationEncounteredName(nullptr, QString::fromLatin1(c.name), c.value, std::nullopt);
        EXPECT_EQ(manager->quorvaneUpdated(), c.updated) << c.name << " " << c.value.toStdString();
        EXPECT_EQ(manager->quorvaneOffset(), c.offset) << c.name << " " << c.value.toStdString();
    }
    manager->syncWithQuorvane();
    const auto request = manager->quorvaneRequestURL(std::nullopt, QStringLiteral("cmd=get"), true);
    ASSERT_TRUE(request);
    EXPECT_TRUE(QString::fromUtf8(request->body).contains(QStringLiteral("&updated=1700000100.500000&")));

    // Values stored before replies were checked read as nothing.
    QVRDataStore::sharedDefaults().set(QVRDefaultsKeys::SyncUpdated, 1e300);
    QVRDataStore::sharedDefaults().set(QVRDefaultsKeys::SyncOffset, -1e300);
    EXPECT_EQ(manager->quorvaneUpdated(), 0.0);
    EXPECT_EQ(manager->quorvaneOffset(), 0.0);
}

TEST_F(WebSync, DeletedFlagIsReadWithoutOverflowAndHostileNotesAreRefused)
{
    signedIn();
    struct Case
    {
        const char* uuid;
        QString deleted;
        QString updated;
        const char* outcome; // "archived", "saved" or "untouched"
    };
    const std::vector<Case> cases = {
        {"HUGE-DELETED", QStringLiteral("99999999999999999999"), QStringLiteral("10"), "archived"},
        {"PLAIN-DELETED", QStringLiteral("1"), QStringLiteral("10"), "archived"},
        {"PADDED-DELETED", QStringLiteral(" 0002 "), QStringLiteral("10"), "archived"},
        {"LIVE", QStringLiteral("0"), QStringLiteral("10"), "saved"},
        {"LIVE-LONG-ZERO", QStringLiteral("000000000000000000000"), QStringLiteral("10"), "saved"},
        {"GARBLED-DELETED", QStringLiteral("yes"), QStringLiteral("10"), "untouched"},
        {"NEGATIVE-DELETED", QStringLiteral("-1"), QStringLiteral("10"), "untouched"},
        {"HUGE-TIME", QStringLiteral("0"), QStringLiteral("1e300"), "untouched"},
        {"HUGE-TIME-NO-DIGITS", QStringLiteral("0"), QStringLiteral("-1e999"), "untouched"},
    };
    for (const Case& c : cases) {
        const QString uuid = QString::fromLatin1(c.uuid);
        saveNote(uuid, QStringLiteral("local"), 1, false, false);
        manager->operationEncounteredName(
            nullptr, QStringLiteral("note"), std::nullopt,
            QVRXMLAttributes{{QStringLiteral("uuid"), uuid},
                             {QStringLiteral("updated"), c.updated},
                             {QStringLiteral("deleted"), c.deleted},
                             {QStringLiteral("modified"), QStringLiteral("5")},
                             {QStringLiteral("archived"), QStringLiteral("0")},
                             {QStringLiteral("text"), QStringLiteral("service")}});
        const QVariantMap note = local(uuid);
        const QString outcome = note.value(QStringLiteral("archived")).toBool() ? QStringLiteral("archived")
                                : note.value(QStringLiteral("text")).toString() == QLatin1String("service")
                                    ? QStringLiteral("saved")
                                    : QStringLiteral("untouched");
        EXPECT_EQ(outcome.toStdString(), c.outcome) << c.uuid;
    }
}

TEST_F(WebSync, ServiceChangesArriveAndMessagesFollowTheRule)
{
    signedIn();
    fake.notes[QStringLiteral("REMOTE")] = {
        QStringLiteral("from the web <&>"), 1600000000, 1700000100, 1700000100, false, false};
    fake.notes[QStringLiteral("REMOTE-GONE")] = {QString(), 0, 1700000200, 1700000200, true, false};
    saveNote(QStringLiteral("REMOTE-GONE"), QStringLiteral("old"), 1600000000, false, false);
    startAndSettle();
    manager->setForceUpdate(true);
    manager->sync();
    ASSERT_TRUE(waitFor([&] { return fake.count(QStringLiteral("get")) >= 1; }));
    ASSERT_TRUE(waitForQuiet());
    EXPECT_EQ(local(QStringLiteral("REMOTE")).value(QStringLiteral("text")).toString(),
              QStringLiteral("from the web <&>"));
    EXPECT_TRUE(local(QStringLiteral("REMOTE-GONE")).value(QStringLiteral("archived")).toBool());
    EXPECT_TRUE(manager->quorvaneMessage().isEmpty()) << "\"Note synced…\" is no message";

    manager->operationEncounteredName(nullptr, QStringLiteral("message"),
                                      QStringLiteral("Your plan ends soon."), std::nullopt);
    EXPECT_EQ(manager->quorvaneMessage(), QStringLiteral("Your plan ends soon."));
    manager->operationEncounteredName(nullptr, QStringLiteral("message"), QStringLiteral("  "), std::nullopt);
    EXPECT_TRUE(manager->quorvaneMessage().isEmpty());
    manager->operationEncounteredName(nullptr, QStringLiteral("widget"), QStringLiteral("1"), std::nullopt);
    EXPECT_EQ(app->unknown, QStringList{QStringLiteral("widget")});
}

// --- failures, durability, back-off --------------------------------------------------

struct FaultCase
{
    const char* name;
    Fault fault;
};

class WebSyncFaults : public WebSync, public ::testing::WithParamInterface<FaultCase>
{
};

TEST_P(WebSyncFaults, FailedReplyAppliesNothingAndKeepsTheQueue)
{
    signedIn();
    QVRDataStore::sharedDefaults().set(QVRDefaultsKeys::SyncUpdated, 1700000000.0);
    startAndSettle();
    const double updated = manager->quorvaneUpdated();
    fake.fault = GetParam().fault;
    fake.faultCount = 1;
    fake.slowMilliseconds = 3000;
    failureTexts.clear();
    saveNote(QStringLiteral("KEEP"), QStringLiteral("unsent"), 1700000500);
    ASSERT_TRUE(waitFor([&] { return !failureTexts.isEmpty(); }));
    ASSERT_TRUE(waitForQuiet());
    fake.faultCount = 0;
    EXPECT_EQ(failureTexts, QStringList{QStringLiteral("Couldn’t connect")});
    EXPECT_FALSE(manager->queueItemWithUUID(QStringLiteral("KEEP")).isEmpty())
        << "the change must be sent again";
    EXPECT_EQ(manager->quorvaneUpdated(), updated) << "the sync point must not move";
    EXPECT_TRUE(manager->quorvaneMessage().isEmpty());
    EXPECT_EQ(secret(email + QStringLiteral(" [quillary]")), QStringLiteral("K-signed-in"))
        << "a stray <code> must not delete the login code";
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
                         [](const ::testing::TestParamInfo<FaultCase>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(WebSync, RequestWhoseConnectionClosesBeforeTheReplyIsSentOnceAndFails)
{
    signedIn();
    QVRDataStore::sharedDefaults().set(QVRDefaultsKeys::SyncUpdated, 1700000000.0);
    startAndSettle();
    struct Case
    {
        const char* name;
        std::function<void()> act;
        QString cmd;
    };
    const std::vector<Case> cases = {
        {"add", [&] { saveNote(QStringLiteral("ONCE"), QStringLiteral("x"), 1700000500); },
         QStringLiteral("add")},
        {"logout", [&] { manager->disableQuorvaneAndDeletePassword(false); }, QStringLiteral("logout")},
    };
    for (const Case& c : cases) {
        fake.fault = Fault::Drop;
        fake.faultCount = 1;
        failureTexts.clear();
        const size_t before = fake.requests.size();
        c.act();
        ASSERT_TRUE(waitFor([&] { return !failureTexts.isEmpty() || fake.requests.size() > before + 1; }))
            << c.name;
        ASSERT_TRUE(waitForQuiet());
        EXPECT_EQ(fake.requests.size(), before + 1) << c.name << ": the service saw the request twice";
        EXPECT_EQ(fake.count(c.cmd), 1) << c.name;
        EXPECT_EQ(failureTexts, QStringList{QStringLiteral("Couldn’t connect")}) << c.name;
    }
}

// --- redirects -------------------------------------------------------------------

// Qt followed a 307 or 308 by sending the one-shot body again, which it
// cannot, so a service that moved its address failed every sync with "the
// connection closed before the reply".
TEST_F(WebSync, SameOriginRedirectsAreFollowedSendingTheBodyOncePerHop)
{
    signedIn();
    startAndSettle();
    const QString path = QStringLiteral("/sync/quillary/xml.php");
    for (int status : {307, 308}) {
        SCOPED_TRACE(status);
        // One relative hop, then one absolute.
        fake.redirects = {{path, {status, "?hop=1"}},
                          {path + QStringLiteral("?hop=1"),
                           {status, (fake.origin() + path + QStringLiteral("?hop=2")).toUtf8()}}};
        const QString uuid = QStringLiteral("MOVED-%1").arg(status);
        const size_t before = fake.rawBodies.size();
        saveNote(uuid, QStringLiteral("moved along"), 1700000000);
        ASSERT_TRUE(
            waitFor([&] { return fake.notes.count(uuid) && manager->queueItemWithUUID(uuid).isEmpty(); }));
        ASSERT_TRUE(waitForQuiet());
        EXPECT_TRUE(failureTexts.isEmpty()) << failureTexts.join(QLatin1Char('|')).toStdString();
        ASSERT_EQ(fake.rawBodies.size(), before + 3);
        EXPECT_EQ(fake.rawBodies[before + 1], fake.rawBodies[before]);
        EXPECT_EQ(fake.rawBodies[before + 2], fake.rawBodies[before]);
        const std::vector<QString> hops(fake.postPaths.end() - 3, fake.postPaths.end());
        EXPECT_EQ(hops, (std::vector<QString>{path, path + QStringLiteral("?hop=1"),
                                              path + QStringLiteral("?hop=2")}));
    }
}

// The form carries the password: it never follows a redirect to another
// origin, a redirect loop ends, and a 303 is looked up without the form.
TEST_F(WebSync, RedirectsElsewhereInALoopOrToAPageNeverResendTheForm)
{
    WebSyncFakeService elsewhere;
    signedIn();
    startAndSettle();
    const QString path = QStringLiteral("/sync/quillary/xml.php");
    struct Case
    {
        const char* name;
        int status;
        QByteArray location;
        size_t posts; // the form's sends, at most
    };
    const std::vector<Case> cases = {
        {"another origin", 307, (elsewhere.origin() + path).toUtf8(), 1},
        {"loop", 308, path.toUtf8(), 10},
        {"see other", 303, "/moved.html", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake.redirects = {{path, {c.status, c.location}}};
        failureTexts.clear();
        const QString uuid = QStringLiteral("STAYS-%1").arg(QLatin1String(c.name));
        const size_t before = fake.rawBodies.size();
        saveNote(uuid, QStringLiteral("x"), 1700000000);
        ASSERT_TRUE(waitFor([&] { return !failureTexts.isEmpty(); }));
        ASSERT_TRUE(waitForQuiet());
        EXPECT_GE(fake.rawBodies.size(), before + 1);
        EXPECT_LE(fake.rawBodies.size(), before + c.posts);
        EXPECT_FALSE(manager->queueItemWithUUID(uuid).isEmpty());
    }
    EXPECT_TRUE(elsewhere.requests.empty());
    EXPECT_TRUE(elsewhere.pageRequests.empty());
    EXPECT_EQ(fake.pageRequests, std::vector<QString>{QStringLiteral("/moved.html")});
}

TEST_F(WebSync, SessionDeletedWhileARequestIsBuiltIsNeverTouched)
{
    // Builds its request on the queue's thread while the main thread deletes
    // the session underneath.
    struct Delegate : QVRQuorvaneOperationDelegate
    {
        std::function<void()> duringBuild;
        QUrl url;
        int outcomes = 0;
        std::optional<QVRURLRequest> quorvaneRequestURL(const std::optional<QUrl>&, const QString&,
                                                        bool) override
        {
            duringBuild();
            QVRURLRequest request;
            request.url = url;
            request.body = "cmd=get";
            return request;
        }
        void operationEncounteredName(QVRQuorvaneOperation*, const QString&, const std::optional<QString>&,
                                      const std::optional<QVRXMLAttributes>&) override
        {
        }
        void operationSucceeded(QVRQuorvaneOperation*) override { ++outcomes; }
        void operationFailed(QVRQuorvaneOperation*) override { ++outcomes; }
    };
    auto* session = new QVRURLSession;
    Delegate delegate;
    delegate.url = QVRSyncService::syncURL();
    delegate.duringBuild = [&] { platform::runOnMainThreadAndWait([&] { delete session; }); };
    auto operation = QVRQuorvaneOperation::operationWithSession(session, &delegate);
    platform::OperationQueue queue;
    queue.addOperation(operation);
    ASSERT_TRUE(waitFor([&] { return operation->isFinished(); }));
    EXPECT_TRUE(fake.requests.empty());
    EXPECT_EQ(delegate.outcomes, 0);
}

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
    const QString query =
        manager->queueItemWithUUID(QStringLiteral("DURABLE")).value(QStringLiteral("query")).toString();
    // Gone without a save of the store: only what reached the file counts.
    manager.reset();
    app.reset();
    store.reset();
    open();
    EXPECT_EQ(manager->queueItemWithUUID(QStringLiteral("DURABLE")).value(QStringLiteral("query")).toString(),
              query);
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
    ASSERT_TRUE(
        waitFor([&] { return fake.notes[QStringLiteral("TWICE")].text == QStringLiteral("second"); }));
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

    struct Step
    {
        double after;
        QVRApplicationState state;
        bool sends;
    };
    for (const Step& step :
         {Step{599, QVRApplicationState::Active, false}, Step{1000, QVRApplicationState::Background, false},
          Step{1801, QVRApplicationState::Background, true}}) {
        clock.set(start + step.after);
        app->state = step.state;
        manager->sync();
        ASSERT_TRUE(waitForQuiet());
        EXPECT_EQ(fake.requests.size() > sent, step.sends) << step.after;
    }
    // After a success the error is forgotten; an unforced cycle within 60 s
    // of the last update sends nothing, but a change goes at once.
    app->state = QVRApplicationState::Active;
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
    auto a = platform::NotificationCenter::defaultCenter().addObserver(
        QVRSyncChangeNotification, manager.get(), [&](const platform::Notification&) { ++changes; });
    auto b = platform::NotificationCenter::defaultCenter().addObserver(
        QVRSyncCompleteNotification, manager.get(), [&](const platform::Notification&) { ++completes; });
    manager->setStep(QVRSyncStep::Transferred);
    manager->setStep(QVRSyncStep::Transferred);
    EXPECT_EQ(changes, 1);
    EXPECT_TRUE(manager->active());
    manager->setStep(QVRSyncStep::Complete);
    manager->setStep(QVRSyncStep::Complete);
    EXPECT_EQ(completes, 2) << "6 at 6 completes again";
    EXPECT_FALSE(manager->active());

    QElapsedTimer timer;
    timer.start();
    manager->operationQueueWithCount(1)->addOperationWithBlock([] {});
    ASSERT_TRUE(waitFor([&] { return manager->step() == QVRSyncStep::Finishing; }));
    const qint64 five = timer.elapsed();
    ASSERT_TRUE(waitFor([&] { return manager->step() == QVRSyncStep::Complete; }));
    const qint64 six = timer.elapsed();
    EXPECT_GE(five, 90);
    EXPECT_GE(six - five, 250);
}

TEST_F(WebSync, BusyHoldsTheQuitForThirtySecondsWhileActive)
{
    clock.set(1700000000);
    manager->setStep(QVRSyncStep::Syncing);
    manager->prepareToStop();
    EXPECT_TRUE(manager->busy());
    clock.set(1700000030);
    EXPECT_TRUE(manager->busy());
    clock.set(1700000031);
    EXPECT_FALSE(manager->busy());
    EXPECT_FALSE(manager->active());
    manager->setStep(QVRSyncStep::Complete);
}

TEST_F(WebSync, StoreDelegateIsRemovedOnlyByAnExplicitTakeOver)
{
    QVRDataStoreDelegate storeDelegate;
    store->setDelegate(&storeDelegate);
    {
        QVRSyncManager other(store.get());
        EXPECT_EQ(store->delegate(), &storeDelegate) << "making a manager must not clear it silently";
        other.attachToStore();
        EXPECT_EQ(store->delegate(), nullptr);
    }
    EXPECT_EQ(logged.filter(QStringLiteral("takes over the note store")).size(), 1);
}

TEST_F(WebSync, HistoryDaysFollowTheSetting)
{
    struct Case
    {
        qint64 setting;
        quint64 days;
        bool prune;
    };
    for (const Case& c :
         {Case{0, 365, false}, Case{365242, 365, false}, Case{30, 90, true}, Case{120, 120, true}}) {
        QVRDataStore::sharedDefaults().set(QVRDefaultsKeys::HistoryDays, c.setting);
        QVRSyncManager other(store.get());
        EXPECT_EQ(other.historyDays(), c.days) << c.setting;
        EXPECT_EQ(other.deleteOldObjects(), c.prune) << c.setting;
    }
    QVRDataStore::sharedDefaults().remove(QVRDefaultsKeys::HistoryDays);
    manager->userDefaultsDidChange({QStringLiteral("x"),
                                    nullptr,
                                    {{QStringLiteral("QVRUserDefaultsKey"), QVRDefaultsKeys::HistoryDays.key},
                                     {QStringLiteral("QVRUserDefaultsValue"), 0}}});
    EXPECT_EQ(manager->historyDays(), 90u);
    EXPECT_TRUE(manager->deleteOldObjects());

    QString offMain = QStringLiteral("unset");
    std::thread([&] { offMain = manager->status(); }).join();
    EXPECT_TRUE(offMain.isNull());
}

} // namespace

// Replies carry a new update time each; it is written to the settings once,
// when the cycle ends, and that write holds the last reply's time.
TEST_F(WebSync, UpdateTimeOfTheLastReplyIsStoredWhenTheCycleEnds)
{
    signedIn();
    startAndSettle();
    for (int i = 0; i < 4; ++i)
        saveNote(QStringLiteral("U-%1").arg(i), QStringLiteral("text %1").arg(i), 1700000000 + i);
    ASSERT_TRUE(waitFor([&] { return fake.notes.size() == 4; }));
    ASSERT_TRUE(waitForQuiet());
    const double stored = QVRDataStore::sharedDefaults().doubleValue(QVRDefaultsKeys::SyncUpdated);
    EXPECT_GT(stored, 1.0);
    EXPECT_EQ(stored, manager->quorvaneUpdated());
}

// A plain set (an account reset to 0) made while a reply's time is held must
// not be overwritten by that older time when the cycle ends.
TEST_F(WebSync, HeldUpdateTimeNeverOverwritesALaterReset)
{
    QVRSyncSettings settings;
    auto& defaults = QVRDataStore::sharedDefaults();
    defaults.set(QVRDefaultsKeys::SyncUpdated, 100.0);
    defaults.set(QVRDefaultsKeys::SyncOffset, 1.0);
    settings.holdUpdated(200.0);
    settings.holdOffset(2.0);
    // Seen at once through the settings, written only by writeHeld.
    EXPECT_EQ(settings.updated(), 200.0);
    EXPECT_EQ(settings.offset(), 2.0);
    EXPECT_EQ(defaults.doubleValue(QVRDefaultsKeys::SyncUpdated), 100.0);
    QVRSyncSettings::writeHeld();
    EXPECT_EQ(defaults.doubleValue(QVRDefaultsKeys::SyncUpdated), 200.0);
    EXPECT_EQ(defaults.doubleValue(QVRDefaultsKeys::SyncOffset), 2.0);

    settings.holdUpdated(300.0);
    settings.setUpdated(0);
    EXPECT_EQ(settings.updated(), 0.0);
    QVRSyncSettings::writeHeld();
    EXPECT_EQ(defaults.doubleValue(QVRDefaultsKeys::SyncUpdated), 0.0);
    EXPECT_EQ(settings.updated(), 0.0);

    // Written into the settings directly (as another process does) while a
    // value is held: the written one stands.
    settings.holdOffset(3.0);
    defaults.set(QVRDefaultsKeys::SyncOffset, 7.0);
    EXPECT_EQ(settings.offset(), 7.0);
    settings.holdOffset(4.0);
    defaults.set(QVRDefaultsKeys::SyncOffset, 8.0);
    QVRSyncSettings::writeHeld();
    EXPECT_EQ(defaults.doubleValue(QVRDefaultsKeys::SyncOffset), 8.0);
}
