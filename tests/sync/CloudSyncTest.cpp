#include "CloudSyncFixture.h"

#include "../platform/PlistHostileInputs.h"

#include "sync/QVRSyncOutOperation.h"
#include "tests/support/ManualClock.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

constexpr double T = 1700000000.0;
const QString U = QStringLiteral("2F1D7A10-5B3C-4E8F-9A21-0C4D5E6F7A8B");

QJsonObject peerRead(const QString& file)
{
    QProcess process;
    process.start(QStringLiteral("python3"), {CloudSyncTest::peerScript(), QStringLiteral("read"), file});
    process.waitForFinished(10000);
    return QJsonDocument::fromJson(process.readAllStandardOutput()).object();
}

// --- import -------------------------------------------------------------------

struct ImportEdge
{
    const char* name;
    double fileOffset; // seconds after the stored note's modification time
    bool imported;
};

class ImportEdges : public CloudSyncTest, public ::testing::WithParamInterface<ImportEdge>
{
};

TEST_P(ImportEdges, FileMustBeMoreThanOneMillisecondNewer)
{
    const ImportEdge edge = GetParam();
    storeNote(U, QStringLiteral("local"), T);
    peerWrite(U, QStringLiteral("remote"), T + edge.fileOffset);
    enableAndSettle();
    EXPECT_EQ(textOf(U), edge.imported ? QStringLiteral("remote") : QStringLiteral("local"));
    EXPECT_EQ(manager->noteCount(), 1);
}

INSTANTIATE_TEST_SUITE_P(CloudImport, ImportEdges,
                         ::testing::Values(ImportEdge{"Equal", 0, false},
                                           ImportEdge{"HalfMillisecond", 0.0005, false},
                                           ImportEdge{"OneMillisecond", 0.001, false},
                                           ImportEdge{"TwoMilliseconds", 0.002, true},
                                           ImportEdge{"Older", -60, false}, ImportEdge{"Newer", 60, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(CloudSyncTest, ImportsPeerFilesWithTextDateAndTime)
{
    peerWrite(U, QStringLiteral("Hello from the other machine\nsecond line"), T + 0.25,
              {"--date", "1600000000.5"});
    peerWrite(QStringLiteral("B0000000-0000-0000-0000-000000000001"), QStringLiteral("xml peer"), T,
              {"--xml"});
    enableAndSettle();
    const QVRNoteAttributes note = manager->note(U);
    EXPECT_EQ(note.value("text").toString(), QStringLiteral("Hello from the other machine\nsecond line"));
    EXPECT_DOUBLE_EQ(note.value("date").toDouble(), 1600000000.5);
    EXPECT_NEAR(note.value("modified").toDouble(), T + 0.25, 1e-6);
    EXPECT_EQ(textOf(QStringLiteral("B0000000-0000-0000-0000-000000000001")), QStringLiteral("xml peer"));
}

TEST_F(CloudSyncTest, NameWithSpaceAndNumberBelongsToItsIdentifier)
{
    storeNote(U, QStringLiteral("local newer"), T + 100);
    peerWrite(U, QStringLiteral("old copy"), T, {"--name", U + " 2.quillary"});
    enableAndSettle();
    EXPECT_EQ(textOf(U), QStringLiteral("local newer"));
    EXPECT_EQ(QVRSyncInOperation::uuidFromURL(notes + "/" + U + " 2.quillary"), U);
}

TEST_F(CloudSyncTest, ConflictCopyNeverOverwritesNewerText)
{
    // A sync tool's conflict copy holds the note's identifier inside, not in
    // its name: newer-wins must be judged by the identifier it saves under.
    storeNote(U, QStringLiteral("newest local text"), T + 100);
    peerWrite(U, QStringLiteral("stale conflict copy"), T,
              {"--name", U + ".sync-conflict-20250101-120000-ABC.quillary"});
    enableAndSettle();
    EXPECT_EQ(textOf(U), QStringLiteral("newest local text"));
    cloud->stopMetadataQuery();
    cloud->startMetadataQuery();
    EXPECT_TRUE(cycleEnds());
    EXPECT_EQ(textOf(U), QStringLiteral("newest local text")) << "not on a later pass either";
    EXPECT_EQ(manager->noteCount(), 1);
}

TEST_F(CloudSyncTest, FileWithoutUuidTakesItsNameAndIsNotDuplicated)
{
    peerWrite(U, QStringLiteral("no identifier inside"), T, {"--no-uuid"});
    enableAndSettle();
    EXPECT_EQ(textOf(U), QStringLiteral("no identifier inside"));
    for (int pass = 0; pass < 2; ++pass) {
        cloud->stopMetadataQuery();
        cloud->startMetadataQuery();
        ASSERT_TRUE(cycleEnds());
    }
    EXPECT_EQ(manager->noteCount(), 1) << "every pass must meet the same note";
}

TEST_F(CloudSyncTest, UnsafeIdentifierInsideAFileWritesNothingOutside)
{
    for (const char* bad : {"../../escape", "..", "a/b"})
        peerWrite(QString::fromLatin1(bad), QStringLiteral("hostile"), T,
                  {"--name", QStringLiteral("hostile-%1.quillary").arg(qHash(QString::fromLatin1(bad)))});
    enableAndSettle();
    EXPECT_EQ(manager->noteCount(), 0);
    EXPECT_FALSE(QFileInfo::exists(root + QStringLiteral("/escape.quillary")));
    EXPECT_FALSE(QFileInfo::exists(temp.path() + QStringLiteral("/escape.quillary")));
}

// Importing such a file crashed the program in the property-list library,
// and again at every start for as long as the file stayed in the folder.
TEST_F(CloudSyncTest, HostileNestingInTheFolderIsSkippedNotACrashLoop)
{
    ASSERT_TRUE(QDir().mkpath(notes));
    QFile deep(fileFor(QStringLiteral("F0000000-0000-0000-0000-000000000001")));
    ASSERT_TRUE(deep.open(QIODevice::WriteOnly));
    deep.write(plist_inputs::deepXml(200000));
    deep.close();
    QFile cyclic(fileFor(QStringLiteral("F0000000-0000-0000-0000-000000000002")));
    ASSERT_TRUE(cyclic.open(QIODevice::WriteOnly));
    cyclic.write(plist_inputs::deepBinary(150000));
    cyclic.close();
    peerWrite(U, QStringLiteral("a good note beside them"), T);
    enableAndSettle();
    EXPECT_EQ(manager->noteCount(), 1);
    EXPECT_EQ(textOf(U), QStringLiteral("a good note beside them"));
}

TEST_F(CloudSyncTest, OldArchivedFilesAreDeletedNewerOnesImportedAsArchived)
{
    manager->history = T;
    const QString old = QStringLiteral("A0000000-0000-0000-0000-000000000001");
    const QString recent = QStringLiteral("A0000000-0000-0000-0000-000000000002");
    const QString liveOld = QStringLiteral("A0000000-0000-0000-0000-000000000003");
    peerWrite(old, QStringLiteral("old archived"), T - 86400, {"--archived"});
    peerWrite(recent, QStringLiteral("recent archived"), T + 1, {"--archived"});
    peerWrite(liveOld, QStringLiteral("old but live"), T - 86400);
    enableAndSettle();
    EXPECT_FALSE(QFileInfo::exists(fileFor(old)));
    EXPECT_TRUE(manager->note(old).isEmpty());
    EXPECT_TRUE(manager->note(recent).value("archived").toBool());
    EXPECT_TRUE(QFileInfo::exists(fileFor(recent)));
    EXPECT_EQ(textOf(liveOld), QStringLiteral("old but live"));
}

TEST_F(CloudSyncTest, LateLocalEditIsNotReplacedByAnImportInFlight)
{
    // The operation judged the file newer; before its result reached the
    // main thread the user saved newer text.
    storeNote(U, QStringLiteral("before"), T);
    cloud->saveObjectWithAttributes(
        {{"uuid", U}, {"text", QStringLiteral("from file")}, {"modified", T + 5}});
    EXPECT_EQ(textOf(U), QStringLiteral("from file"));
    storeNote(U, QStringLiteral("typed just now"), T + 10);
    cloud->saveObjectWithAttributes(
        {{"uuid", U}, {"text", QStringLiteral("from older file")}, {"modified", T + 9}});
    EXPECT_EQ(textOf(U), QStringLiteral("typed just now"));
}

// --- export -------------------------------------------------------------------

TEST_F(CloudSyncTest, EmptyFolderExportsEveryLiveNote)
{
    storeNote(U, QStringLiteral("first note"), T + 0.123456);
    storeNote(QStringLiteral("C0000000-0000-0000-0000-000000000001"), QStringLiteral("archived"), T, true);
    enableAndSettle();
    EXPECT_TRUE(logged(QStringLiteral("iCloud storage is empty")));
    const QJsonObject file = peerRead(fileFor(U));
    EXPECT_EQ(file.value("text").toString(), QStringLiteral("first note"));
    EXPECT_EQ(file.value("uuid").toString(), U);
    EXPECT_TRUE(file.value("binary").toBool());
    EXPECT_NEAR(file.value("mtime").toDouble(), T + 0.123456, 2e-6);
    EXPECT_FALSE(QFileInfo::exists(fileFor(QStringLiteral("C0000000-0000-0000-0000-000000000001"))));
    EXPECT_FALSE(QVRDataStore::sharedDefaults().data(QStringLiteral("iCloudToken")).isEmpty());
}

TEST_F(CloudSyncTest, ExportOverwritesOnlyAStrictlyOlderFile)
{
    enableAndSettle();
    peerWrite(U, QStringLiteral("file text"), T);
    ASSERT_TRUE(waitFor([this] { return textOf(U) == QStringLiteral("file text"); }));
    ASSERT_TRUE(cycleEnds());

    // Same time: the file stays as it is and the refusal is logged.
    cloud->saveObjectToiCloud(U);
    ASSERT_TRUE(cycleEnds());
    EXPECT_TRUE(logged(QStringLiteral("Existing file is newer: ")));
    EXPECT_EQ(peerRead(fileFor(U)).value("text").toString(), QStringLiteral("file text"));

    storeNote(U, QStringLiteral("edited here"), T + 0.000002);
    cloud->saveObjectToiCloud(U);
    ASSERT_TRUE(cycleEnds());
    const QJsonObject file = peerRead(fileFor(U));
    EXPECT_EQ(file.value("text").toString(), QStringLiteral("edited here"));
    EXPECT_NEAR(file.value("mtime").toDouble(), T + 0.000002, 1e-6);
}

TEST_F(CloudSyncTest, StaleTemporaryFileIsNeverPublished)
{
    // What an earlier failed export left in the caches folder.
    const QString caches = temp.path() + QStringLiteral("/caches");
    ASSERT_TRUE(QDir().mkpath(caches));
    QFile leftover(caches + "/" + U + ".quillary");
    ASSERT_TRUE(leftover.open(QIODevice::WriteOnly));
    leftover.write("stale");
    leftover.close();
    storeNote(U, QStringLiteral("current text"), T);
    ASSERT_TRUE(QDir().mkpath(notes));

    auto operation = QVRSyncOutOperation::operationForUUID(U);
    operation->setParentObjectContext(manager->store->context());
    operation->setCloudURL(notes);
    operation->setCachesURL(caches);
    manager->queue.addOperation(operation);
    manager->queue.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(peerRead(fileFor(U)).value("text").toString(), QStringLiteral("current text"));
    EXPECT_EQ(QDir(caches).entryList(QDir::Files), QStringList{U + ".quillary"})
        << "no temporary file of ours stays";
}

TEST_F(CloudSyncTest, ExportNeverWritesOutsideTheFolder)
{
    ASSERT_TRUE(QDir().mkpath(notes));
    for (const char* bad : {"../outside", "..", "."}) {
        storeNote(QString::fromLatin1(bad), QStringLiteral("x"), T);
        auto operation = QVRSyncOutOperation::operationForUUID(QString::fromLatin1(bad));
        operation->setParentObjectContext(manager->store->context());
        operation->setCloudURL(notes);
        manager->queue.addOperation(operation);
    }
    // A link in the folder pointing outside it is never written through.
    const QString outside = temp.path() + QStringLiteral("/outside.txt");
    QFile victim(outside);
    ASSERT_TRUE(victim.open(QIODevice::WriteOnly));
    victim.write("keep me");
    victim.close();
    ASSERT_TRUE(QFile::link(outside, fileFor(U)));
    storeNote(U, QStringLiteral("x"), 4e9); // newer than anything the link could show
    auto linked = QVRSyncOutOperation::operationForUUID(U);
    linked->setParentObjectContext(manager->store->context());
    linked->setCloudURL(notes);
    manager->queue.addOperation(linked);
    manager->queue.waitUntilAllOperationsAreFinished();
    ASSERT_TRUE(victim.open(QIODevice::ReadOnly));
    EXPECT_EQ(victim.readAll(), "keep me");
    ASSERT_TRUE(QFile::remove(fileFor(U)));
    EXPECT_TRUE(QDir(notes).entryList(QDir::Files | QDir::Hidden).isEmpty());
    EXPECT_FALSE(
        QFileInfo::exists(root + QStringLiteral("/XW9K2ZQ7TM.com.quorvane.Quillary/outside.quillary")));
}

TEST_F(CloudSyncTest, ConcurrentExportsOfOneNoteLeaveTheNewest)
{
    storeNote(U, QStringLiteral("one"), T);
    ASSERT_TRUE(QDir().mkpath(notes));
    manager->queue.setMaxConcurrentOperationCount(30);
    for (int i = 0; i < 8; ++i) {
        auto operation = QVRSyncOutOperation::operationForUUID(U);
        operation->setParentObjectContext(manager->store->context());
        operation->setCloudURL(notes);
        manager->queue.addOperation(operation);
    }
    storeNote(U, QStringLiteral("two"), T + 1);
    for (int i = 0; i < 8; ++i) {
        auto operation = QVRSyncOutOperation::operationForUUID(U);
        operation->setParentObjectContext(manager->store->context());
        operation->setCloudURL(notes);
        manager->queue.addOperation(operation);
    }
    manager->queue.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(peerRead(fileFor(U)).value("text").toString(), QStringLiteral("two"));
}

// --- the manager's half ------------------------------------------------------------

TEST_F(CloudSyncTest, EmptyGatheringStillEndsTheCycle)
{
    // A new installation: no notes and an empty folder. The cycle must end in
    // the wait and complete steps, not hang in processing.
    enableAndSettle();
    EXPECT_EQ(manager->step(), QVRSyncStep::Complete);
    EXPECT_FALSE(manager->active());
    EXPECT_TRUE(manager->iCloudEnabled());
    EXPECT_TRUE(manager->started());
    EXPECT_TRUE(manager->ready());
    EXPECT_EQ(manager->syncs, 1);
    EXPECT_EQ(manager->registrations, 1);
    EXPECT_EQ(keyValues->string(QVRDefaultsKeys::SyncType), QStringLiteral("iCloud"));
}

TEST_F(CloudSyncTest, TokenFollowsTheFolder)
{
    storeNote(U, QStringLiteral("note"), T);
    enableAndSettle();
    const QByteArray first = QVRDataStore::sharedDefaults().data(QStringLiteral("iCloudToken"));
    ASSERT_FALSE(first.isEmpty());

    // Unchanged token, folder not empty: no full export.
    ASSERT_TRUE(QFile::remove(fileFor(U)));
    peerWrite(QStringLiteral("D0000000-0000-0000-0000-000000000001"),
              QStringLiteral("keeps folder non-empty"), T);
    logLines.clear();
    cloud->enableiCloud();
    ASSERT_TRUE(cycleEnds());
    EXPECT_FALSE(logged(QStringLiteral("iCloud token changed")));
    EXPECT_FALSE(QFileInfo::exists(fileFor(U)));

    // Another folder is another account: full export there.
    const QString other = temp.path() + QStringLiteral("/Other");
    ASSERT_TRUE(QDir().mkpath(other + QStringLiteral("/XW9K2ZQ7TM.com.quorvane.Quillary/Notes/sub")));
    setenv("QUILLARY_CLOUD_DIR", QFile::encodeName(other).constData(), 1);
    cloud->disableiCloud();
    cloud->enableiCloud();
    ASSERT_TRUE(cycleEnds());
    EXPECT_TRUE(logged(QStringLiteral("iCloud token changed: ")));
    EXPECT_TRUE(QFileInfo::exists(other + QStringLiteral("/XW9K2ZQ7TM.com.quorvane.Quillary/Notes/") + U +
                                  ".quillary"));
    EXPECT_NE(QVRDataStore::sharedDefaults().data(QStringLiteral("iCloudToken")), first);

    // The folder vanishes: signed out, the stored token goes.
    ASSERT_TRUE(QDir(other).removeRecursively());
    cloud->compareiCloudToken();
    ASSERT_TRUE(
        waitFor([] { return QVRDataStore::sharedDefaults().data(QStringLiteral("iCloudToken")).isEmpty(); }));
}

TEST_F(CloudSyncTest, IdentityNoticeIsHandledOncePerNotice)
{
    int reads = 0;
    cloud->setTokenReader([&reads] {
        ++reads;
        return platform::ubiquityIdentityToken();
    });
    enableAndSettle();
    cloud->restartMetadataQuery();
    manager->setForceUpdate(true);
    cloud->restartMetadataQuery();
    ASSERT_TRUE(cycleEnds());
    reads = 0;
    platform::NotificationCenter::defaultCenter().post(platform::UbiquityIdentityDidChangeNotification);
    spin(300);
    EXPECT_EQ(reads, 1) << "passes must not pile up subscriptions";
}

TEST_F(CloudSyncTest, QueryNoticeQueuesEachImportOnce)
{
    enableAndSettle();
    cloud->stopMetadataQuery();
    cloud->stopMetadataQuery();
    cloud->startMetadataQuery();
    cloud->startMetadataQuery();
    ASSERT_TRUE(cycleEnds());
    manager->imports = 0;
    peerWrite(U, QStringLiteral("once"), T);
    ASSERT_TRUE(waitFor([this] { return manager->imports > 0; }));
    ASSERT_TRUE(cycleEnds());
    EXPECT_EQ(manager->imports, 1);
}

struct RestartCase
{
    const char* name;
    QVRApplicationState appState;
    double minutes;
    bool restarts;
};

class RestartRule : public CloudSyncTest, public ::testing::WithParamInterface<RestartCase>
{
};

TEST_P(RestartRule, QueryRestartsOnlyAfterTheLimit)
{
    testsupport::ManualClock clock;
    enableAndSettle();
    const double started = cloud->metadataQueryDate();
    EXPECT_EQ(started, clock.now());
    manager->appState = GetParam().appState;
    clock.advance(GetParam().minutes * 60);
    cloud->restartMetadataQuery();
    ASSERT_TRUE(cycleEnds());
    EXPECT_EQ(cloud->metadataQueryDate() != started, GetParam().restarts);
}

INSTANTIATE_TEST_SUITE_P(
    CloudQuery, RestartRule,
    ::testing::Values(RestartCase{"ActiveFiveMinutes", QVRApplicationState::Active, 5, false},
                      RestartCase{"ActiveElevenMinutes", QVRApplicationState::Active, 11, true},
                      RestartCase{"ActiveTenAndAHalf", QVRApplicationState::Active, 10.5, false},
                      RestartCase{"BackgroundElevenMinutes", QVRApplicationState::Background, 11, false},
                      RestartCase{"BackgroundTwentyNine", QVRApplicationState::Background, 29, false},
                      RestartCase{"BackgroundThirtyOne", QVRApplicationState::Background, 31, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CloudSyncTest, NoRestartWhileACycleIsActive)
{
    enableAndSettle();
    const double started = cloud->metadataQueryDate();
    manager->setForceUpdate(true);
    manager->setStep(QVRSyncStep::Transferred);
    cloud->restartMetadataQuery();
    spin(100);
    EXPECT_EQ(cloud->metadataQueryDate(), started);
    EXPECT_TRUE(manager->forceUpdate());
}

TEST_F(CloudSyncTest, WebAccountKeepsTheCloudOff)
{
    manager->email = QStringLiteral("someone@example.com");
    cloud->enableiCloud();
    ASSERT_TRUE(waitFor([this] { return manager->started(); }));
    EXPECT_FALSE(manager->iCloudEnabled());
    EXPECT_TRUE(cloud->iCloudAvailable());

    manager->email.clear();
    cloud->enableiCloud();
    ASSERT_TRUE(cycleEnds());
    EXPECT_TRUE(manager->iCloudEnabled());
    manager->quorvane = true;
    cloud->enableiCloud();
    ASSERT_TRUE(waitFor([this] { return !manager->iCloudEnabled(); }));
    EXPECT_FALSE(cloud->metadataQuery()->isStarted());
}

TEST_F(CloudSyncTest, ResetRemovesTheFolderAndExportsAgain)
{
    storeNote(U, QStringLiteral("kept in the store"), T);
    enableAndSettle();
    peerWrite(QStringLiteral("E0000000-0000-0000-0000-000000000001"), QStringLiteral("remote only"), T);
    ASSERT_TRUE(waitFor([this] { return manager->noteCount() == 2; }));
    ASSERT_TRUE(cycleEnds());

    cloud->promptForiCloudReset();
    EXPECT_EQ(manager->promptTitle, QStringLiteral("Reset iCloud Sync"));
    EXPECT_TRUE(manager->promptMessage.endsWith(QStringLiteral("back to\u00a0iCloud.")));
    ASSERT_TRUE(waitFor([this] { return logged(QStringLiteral("iCloud reset was a complete success")); }));
    ASSERT_TRUE(cycleEnds());
    EXPECT_TRUE(std::find(manager->steps.begin(), manager->steps.end(), QVRSyncStep::Resetting) !=
                manager->steps.end());
    EXPECT_TRUE(manager->iCloudEnabled());
    EXPECT_EQ(peerRead(fileFor(U)).value("text").toString(), QStringLiteral("kept in the store"));
    EXPECT_TRUE(QFileInfo::exists(fileFor(QStringLiteral("E0000000-0000-0000-0000-000000000001"))))
        << "every live note goes back, the imported one too";
}

// Sync tools carry links between machines, so the Notes folder, or a folder
// inside it, may be a link to anywhere. The reset emptied what the link led
// to, files that were never notes included.
TEST_F(CloudSyncTest, ResetNeverFollowsALink)
{
    struct Case
    {
        const char* name;
        bool notesFolderIsTheLink;
    };
    enableAndSettle();
    for (const Case c :
         {Case{"Notes folder is a link", true}, Case{"folder inside Notes is a link", false}}) {
        SCOPED_TRACE(c.name);
        const QString elsewhere =
            temp.path() + QStringLiteral("/Elsewhere-") + QString::number(c.notesFolderIsTheLink);
        ASSERT_TRUE(QDir().mkpath(elsewhere + QStringLiteral("/inner")));
        ASSERT_TRUE(QFile::copy(peerScript(), elsewhere + QStringLiteral("/thesis.txt")));
        ASSERT_TRUE(QFile::copy(peerScript(), elsewhere + QStringLiteral("/inner/keep.quillary")));
        QDir(notes).removeRecursively();
        QFile::remove(notes);
        ASSERT_TRUE(QDir().mkpath(QFileInfo(notes).path()));
        if (c.notesFolderIsTheLink) {
            ASSERT_TRUE(QFile::link(elsewhere, notes));
        } else {
            ASSERT_TRUE(QDir().mkpath(notes));
            ASSERT_TRUE(QFile::link(elsewhere, notes + QStringLiteral("/linked")));
        }
        logLines.clear();
        cloud->resetiCloud();
        ASSERT_TRUE(
            waitFor([this] { return logged(QStringLiteral("iCloud reset was a complete success")); }));
        ASSERT_TRUE(cycleEnds());
        EXPECT_TRUE(QFileInfo::exists(elsewhere + QStringLiteral("/thesis.txt")));
        EXPECT_TRUE(QFileInfo::exists(elsewhere + QStringLiteral("/inner/keep.quillary")));
        EXPECT_FALSE(QFileInfo(notes).isSymLink()) << "the link itself goes";
    }
}

// The export kept the Notes folder's path from when the cloud was enabled and
// made it again with all its parents: a removed or unmounted cloud folder
// came back empty, was taken for a new account and received every note.
TEST_F(CloudSyncTest, ExportNeverMakesAMissingCloudFolderAgain)
{
    storeNote(U, QStringLiteral("note"), T);
    enableAndSettle();
    ASSERT_TRUE(QFileInfo::exists(fileFor(U)));

    // Inside an existing cloud folder, the container and Notes folder are ours
    // to make again.
    ASSERT_TRUE(QDir(QFileInfo(notes).path()).removeRecursively());
    storeNote(U, QStringLiteral("edited"), T + 1);
    cloud->saveObjectToiCloud(U);
    ASSERT_TRUE(cycleEnds());
    EXPECT_EQ(peerRead(fileFor(U)).value("text").toString(), QStringLiteral("edited"));

    ASSERT_TRUE(QDir(root).removeRecursively());
    storeNote(U, QStringLiteral("edited again"), T + 2);
    cloud->saveObjectToiCloud(U);
    ASSERT_TRUE(cycleEnds());
    cloud->saveAllObjectsToiCloud();
    ASSERT_TRUE(cycleEnds());
    EXPECT_FALSE(QFileInfo::exists(root));
    EXPECT_TRUE(logged(QStringLiteral("iCloud container is missing")));
}

TEST_F(CloudSyncTest, ResetWithoutAFolderStillEnablesAgain)
{
    enableAndSettle();
    unsetenv("QUILLARY_CLOUD_DIR");
    cloud->resetiCloud();
    ASSERT_TRUE(waitFor([this] { return logged(QStringLiteral("Error removing folder from iCloud: ")); }));
    ASSERT_TRUE(waitFor([this] { return manager->step() != QVRSyncStep::Resetting && manager->started(); }));
    EXPECT_NE(manager->step(), QVRSyncStep::Resetting) << "a reset must never stay in its step";
    manager->interfaceDelegate = false;
    manager->promptTitle.clear();
    cloud->promptForiCloudReset();
    EXPECT_NE(manager->step(), QVRSyncStep::Resetting) << "no interface, no reset";
}

// --- choosing the method --------------------------------------------------------

TEST_F(CloudSyncTest, FirstRunWaitsLongerWithoutAChoiceOnRecord)
{
    manager->firstRun_ = true;
    cloud->start();
    EXPECT_EQ(manager->delays[QStringLiteral("compareSyncType:")], 15.0);
    keyValues->set(QVRDefaultsKeys::SyncType, QStringLiteral("iCloud"));
    cloud->start();
    EXPECT_EQ(manager->delays[QStringLiteral("compareSyncType:")], 5.0);
    manager->cancelPerform(QStringLiteral("compareSyncType:"));

    // Without a cloud folder no choice can come from another machine.
    cloud->setTokenReader([] { return QByteArray(); });
    cloud->start();
    EXPECT_EQ(manager->delays[QStringLiteral("compareSyncType:")], 0.0);
    manager->cancelPerform(QStringLiteral("compareSyncType:"));
}

TEST_F(CloudSyncTest, ChoiceFromAnotherMachineDecidesTheFirstRun)
{
    manager->firstRun_ = true;
    cloud->start();
    platform::UbiquitousKeyValueStore peer(keyValues->filePath() + QStringLiteral(".peer"), false);
    peer.set(QVRDefaultsKeys::SyncType, QStringLiteral("iCloud"));
    ASSERT_EQ(::rename(QFile::encodeName(peer.filePath()).constData(),
                       QFile::encodeName(keyValues->filePath()).constData()),
              0);
    ASSERT_TRUE(waitFor([this] { return manager->iCloudEnabled(); }));
    ASSERT_TRUE(cycleEnds());
    EXPECT_EQ(manager->quorvanePrompts, 0);
    EXPECT_TRUE(manager->timers.find(QStringLiteral("compareSyncType:")) == manager->timers.end());

    // Later notices, and reasons other than a server change, decide nothing.
    manager->quorvanePrompts = 0;
    cloud->updateStoreItems(
        {platform::UbiquitousKeyValueStore::DidChangeExternallyNotification,
         keyValues.get(),
         {{platform::UbiquitousKeyValueStore::ChangeReasonKey, 2},
          {platform::UbiquitousKeyValueStore::ChangedKeysKey, QStringList{QVRDefaultsKeys::SyncType}}}});
    EXPECT_EQ(manager->quorvanePrompts, 0);
}

TEST_F(CloudSyncTest, WebChoiceOffersSignInFirst)
{
    manager->offerShown = true;
    cloud->compareSyncType(QStringLiteral("Quorvane"));
    EXPECT_EQ(manager->quorvanePrompts, 1);
    spin(100);
    EXPECT_FALSE(manager->iCloudEnabled()) << "the offer's answer decides";
    manager->offerShown = false;
    cloud->compareSyncType(QVariant());
    ASSERT_TRUE(cycleEnds());
    EXPECT_TRUE(manager->iCloudEnabled());
}

} // namespace
