#include "CloudTestSupport.h"
#include "PlistHostileInputs.h"

#include "platform/cloud/UbiquitousKeyValueStore.h"
#include "platform/core/NotificationCenter.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdio>

#include <sys/stat.h>
#include <unistd.h>

using namespace platform;

namespace {

struct Change
{
    int reason = -1;
    QStringList keys;
};

class KeyValueFile : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(temp.isValid());
        file = temp.path() + QStringLiteral("/KeyValueStore.plist");
    }
    ObserverToken observe(const UbiquitousKeyValueStore& store)
    {
        return NotificationCenter::defaultCenter().addObserver(
            UbiquitousKeyValueStore::DidChangeExternallyNotification, &store, [this](const Notification& n) {
                changes.append({n.userInfo.value(UbiquitousKeyValueStore::ChangeReasonKey, -1).toInt(),
                                n.userInfo.value(UbiquitousKeyValueStore::ChangedKeysKey).toStringList()});
            });
    }
    // Another machine's copy arriving through the sync tool.
    void arrive(const QVariantMap& values)
    {
        UbiquitousKeyValueStore other(temp.path() + QStringLiteral("/.incoming.plist"), false);
        for (auto it = values.cbegin(); it != values.cend(); ++it)
            other.set(it.key(), it.value());
        ASSERT_EQ(
            std::rename(QFile::encodeName(other.filePath()).constData(), QFile::encodeName(file).constData()),
            0);
    }

    QTemporaryDir temp;
    QString file;
    QList<Change> changes;
};

TEST_F(KeyValueFile, ValuesPersistAndWrongTypesReadAsAbsent)
{
    {
        UbiquitousKeyValueStore store(file, true);
        EXPECT_FALSE(store.object(QStringLiteral("QVRSyncType")).isValid());
        store.set(QStringLiteral("QVRSyncType"), QStringLiteral("iCloud"));
        store.set(QStringLiteral("number"), 7);
        store.set(QStringLiteral("gone"), QStringLiteral("x"));
        store.remove(QStringLiteral("gone"));
    }
    UbiquitousKeyValueStore reopened(file, true);
    EXPECT_EQ(reopened.string(QStringLiteral("QVRSyncType")), QStringLiteral("iCloud"));
    EXPECT_EQ(reopened.object(QStringLiteral("number")).toLongLong(), 7);
    EXPECT_TRUE(reopened.string(QStringLiteral("number")).isEmpty());
    EXPECT_FALSE(reopened.object(QStringLiteral("gone")).isValid());
    QFile raw(file);
    ASSERT_TRUE(raw.open(QIODevice::ReadOnly));
    EXPECT_TRUE(raw.read(8).startsWith("bplist00"));
}

TEST_F(KeyValueFile, AnotherMachinesCopyPostsItsChangedKeysOnly)
{
    arrive({{QStringLiteral("QVRSyncType"), QStringLiteral("Quorvane")}, {QStringLiteral("same"), 1}});
    UbiquitousKeyValueStore store(file, true);
    const ObserverToken token = observe(store);
    EXPECT_EQ(store.string(QStringLiteral("QVRSyncType")), QStringLiteral("Quorvane"));
    spin(100);
    EXPECT_TRUE(changes.isEmpty()) << "the first read is not news";

    arrive({{QStringLiteral("QVRSyncType"), QStringLiteral("iCloud")}, {QStringLiteral("same"), 1}});
    ASSERT_TRUE(waitFor([this] { return !changes.isEmpty(); }));
    spin(100);
    ASSERT_EQ(changes.size(), 1);
    EXPECT_EQ(changes[0].reason, int(UbiquitousKeyValueStore::ServerChange));
    EXPECT_EQ(changes[0].keys, QStringList{"QVRSyncType"});
    EXPECT_EQ(store.string(QStringLiteral("QVRSyncType")), QStringLiteral("iCloud"));

    changes.clear();
    arrive({{QStringLiteral("same"), 1}});
    ASSERT_TRUE(waitFor([this] { return !changes.isEmpty(); }));
    EXPECT_EQ(changes[0].keys, QStringList{"QVRSyncType"}) << "a removed key is a changed key";
}

TEST_F(KeyValueFile, OwnWritesAndUnwatchedStoresPostNothing)
{
    UbiquitousKeyValueStore store(file, true);
    const ObserverToken token = observe(store);
    store.set(QStringLiteral("QVRSyncType"), QStringLiteral("iCloud"));
    store.set(QStringLiteral("QVRSyncType"), QStringLiteral("Quorvane"));
    spin(300);
    EXPECT_TRUE(changes.isEmpty());

    UbiquitousKeyValueStore local(temp.path() + QStringLiteral("/local.plist"), false);
    const ObserverToken localToken = observe(local);
    local.object(QStringLiteral("x"));
    UbiquitousKeyValueStore writer(local.filePath(), false);
    writer.set(QStringLiteral("x"), 1);
    spin(200);
    EXPECT_TRUE(changes.isEmpty());
}

TEST_F(KeyValueFile, UnreadableCopyIsIgnoredAndLosesNothing)
{
    UbiquitousKeyValueStore store(file, true);
    store.set(QStringLiteral("QVRSyncType"), QStringLiteral("iCloud"));
    const ObserverToken token = observe(store);
    for (const QByteArray& junk :
         {QByteArray("bplist00\xff\xff"), QByteArray("<plist><array/></plist>"), QByteArray()}) {
        ASSERT_TRUE(writeFile(file, junk));
        spin(150);
        EXPECT_EQ(store.string(QStringLiteral("QVRSyncType")), QStringLiteral("iCloud")) << junk.constData();
    }
    EXPECT_TRUE(changes.isEmpty());
}

// The file lies in a folder the sync tool fills from other machines, and
// links travel with it: the store wrote a property list through a link to
// any file of the user's, at every start.
TEST_F(KeyValueFile, LinkedFileIsNeitherReadNorWrittenThrough)
{
    const QString victim = temp.path() + QStringLiteral("/bashrc");
    ASSERT_TRUE(writeFile(victim, "keep me"));
    {
        UbiquitousKeyValueStore seed(victim + QStringLiteral(".plist"), false);
        seed.set(QStringLiteral("QVRSyncType"), QStringLiteral("Quorvane"));
    }
    for (const QString& target : {victim, victim + QStringLiteral(".plist")}) {
        QFile::remove(file);
        ASSERT_TRUE(QFile::link(target, file));
        UbiquitousKeyValueStore store(file, true);
        EXPECT_FALSE(store.object(QStringLiteral("QVRSyncType")).isValid()) << "a link is not read either";
        store.set(QStringLiteral("QVRSyncType"), QStringLiteral("iCloud"));
        EXPECT_TRUE(QFileInfo(file).isSymLink());
    }
    QFile kept(victim);
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), "keep me");
    EXPECT_EQ(UbiquitousKeyValueStore(victim + QStringLiteral(".plist"), false)
                  .string(QStringLiteral("QVRSyncType")),
              QStringLiteral("Quorvane"));
}

// Every start set the sync type again and so rewrote the shared file, which
// the sync tool then carried to every machine.
TEST_F(KeyValueFile, SettingTheSameValueWritesNothing)
{
    // A second name for the file as written: any rewrite (a new file renamed
    // into place) parts the two.
    const QString witness = temp.path() + QStringLiteral("/witness");
    auto rewritten = [&] {
        struct stat a, b;
        return ::stat(QFile::encodeName(file).constData(), &a) != 0 ||
               ::stat(QFile::encodeName(witness).constData(), &b) != 0 || a.st_ino != b.st_ino;
    };
    UbiquitousKeyValueStore store(file, true);
    store.set(QStringLiteral("QVRSyncType"), QStringLiteral("iCloud"));
    ASSERT_EQ(::link(QFile::encodeName(file).constData(), QFile::encodeName(witness).constData()), 0);
    store.set(QStringLiteral("QVRSyncType"), QStringLiteral("iCloud"));
    UbiquitousKeyValueStore(file, false).set(QStringLiteral("QVRSyncType"), QStringLiteral("iCloud"));
    EXPECT_FALSE(rewritten()) << "an unchanged value must not replace the file";
    store.set(QStringLiteral("QVRSyncType"), QStringLiteral("Quorvane"));
    EXPECT_TRUE(rewritten());
}

// Read at start: nesting the property-list library follows by recursion
// crashed the program before its window opened.
TEST_F(KeyValueFile, HostileNestingReadsAsEmpty)
{
    for (const QByteArray& hostile : {plist_inputs::deepXml(200000), plist_inputs::deepBinary(150000)}) {
        ASSERT_TRUE(writeFile(file, hostile));
        UbiquitousKeyValueStore store(file, true);
        EXPECT_TRUE(store.dictionaryRepresentation().isEmpty());
    }
}

// A watched store lives in the cloud folder's container. With the cloud
// folder gone (removed, unmounted) nothing may bring it back.
TEST_F(KeyValueFile, MissingCloudFolderIsNeverMadeAgain)
{
    const QString root = temp.path() + QStringLiteral("/Cloud");
    const QString container = root + QStringLiteral("/XW9K2ZQ7TM.com.quorvane.Quillary");
    UbiquitousKeyValueStore store(container + QStringLiteral("/KeyValueStore.plist"), true);
    store.set(QStringLiteral("QVRSyncType"), QStringLiteral("iCloud"));
    EXPECT_FALSE(QFileInfo::exists(root));

    ASSERT_TRUE(QDir().mkpath(root));
    store.set(QStringLiteral("QVRSyncType"), QStringLiteral("Quorvane"));
    EXPECT_EQ(UbiquitousKeyValueStore(store.filePath(), false).string(QStringLiteral("QVRSyncType")),
              QStringLiteral("Quorvane"))
        << "the container inside an existing cloud folder is made on demand";
}

} // namespace
