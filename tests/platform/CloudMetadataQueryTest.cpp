#include "CloudTestSupport.h"

#include "platform/cloud/MetadataQuery.h"
#include "platform/core/NotificationCenter.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdio>

using namespace platform;

namespace {

QStringList names(const QList<MetadataItem>& items)
{
    QStringList result;
    for (const MetadataItem& item : items)
        result.append(item.fsName);
    return result;
}

struct Update
{
    QStringList added, changed, removed;
};

class FolderQuery : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(temp.isValid());
        ASSERT_TRUE(QDir().mkpath(path("Notes")));
        query.setSearchPath(temp.path());
        query.setDebounceInterval(100);
        gathered = NotificationCenter::defaultCenter().addObserver(
            MetadataQuery::DidFinishGatheringNotification, &query,
            [this](const Notification&) { ++gatherings; });
        updated = NotificationCenter::defaultCenter().addObserver(
            MetadataQuery::DidUpdateNotification, &query, [this](const Notification& n) {
                updates.append(
                    {names(n.userInfo.value(MetadataQuery::AddedItemsKey).value<QList<MetadataItem>>()),
                     names(n.userInfo.value(MetadataQuery::ChangedItemsKey).value<QList<MetadataItem>>()),
                     names(n.userInfo.value(MetadataQuery::RemovedItemsKey).value<QList<MetadataItem>>())});
            });
    }
    QString path(const QString& name) const { return temp.path() + QLatin1Char('/') + name; }
    // The way sync tools deliver a file: a hidden temporary, its time set,
    // then renamed into place.
    void deliver(const QString& name, const QByteArray& data, double mtime)
    {
        const QString hidden = path(QStringLiteral("Notes/.tmp-") + name);
        ASSERT_TRUE(writeFile(hidden, data));
        setMTime(hidden, mtime);
        ASSERT_EQ(std::rename(QFile::encodeName(hidden).constData(),
                              QFile::encodeName(path(QStringLiteral("Notes/") + name)).constData()),
                  0);
    }
    Update nextUpdate()
    {
        EXPECT_TRUE(waitFor([this] { return !updates.isEmpty(); }, 3000));
        spin(250);
        EXPECT_EQ(updates.size(), 1) << "one settled change, one notice";
        return updates.isEmpty() ? Update{} : updates.takeFirst();
    }

    QTemporaryDir temp;
    MetadataQuery query;
    ObserverToken gathered, updated;
    int gatherings = 0;
    QList<Update> updates;
};

TEST_F(FolderQuery, GatheringListsOnlyVisibleRegularNoteFiles)
{
    ASSERT_TRUE(writeFile(path("Notes/A.quillary"), "a"));
    ASSERT_TRUE(QDir().mkpath(path("Notes/deep/deeper")));
    ASSERT_TRUE(writeFile(path("Notes/deep/deeper/B.quillary"), "b"));
    ASSERT_TRUE(writeFile(path("Notes/.hidden.quillary"), "tmp"));
    ASSERT_TRUE(QDir().mkpath(path("Notes/.stversions")));
    ASSERT_TRUE(writeFile(path("Notes/.stversions/C.quillary"), "old"));
    ASSERT_TRUE(writeFile(path("Notes/D.QUILLARY"), "case differs"));
    ASSERT_TRUE(writeFile(path("Notes/E.quillary.part"), "partial"));
    ASSERT_TRUE(writeFile(path("Notes/.quillary"), "no name"));
    ASSERT_TRUE(QFile::link(path("Notes/A.quillary"), path("Notes/F.quillary")));
    ASSERT_TRUE(QDir().mkpath(path("Notes/G.quillary")));
    setMTime(path("Notes/A.quillary"), 1600000000.25);

    ASSERT_TRUE(query.start());
    EXPECT_TRUE(query.isStarted());
    EXPECT_EQ(gatherings, 0) << "gathering ends after start() returns";
    spin(20);
    EXPECT_EQ(gatherings, 1);
    const QList<MetadataItem> results = query.results();
    EXPECT_EQ(names(results), (QStringList{"A.quillary", "B.quillary"}));
    ASSERT_EQ(results.size(), 2);
    EXPECT_DOUBLE_EQ(results[0].contentChangeDate, 1600000000.25);
    EXPECT_TRUE(results[0].isCurrent);
    EXPECT_FALSE(results[0].isDownloading);
    EXPECT_TRUE(query.start()) << "starting twice is harmless";
    spin(20);
    EXPECT_EQ(gatherings, 1);

    // Stopped before its gathering was posted: nothing arrives.
    query.stop();
    ASSERT_TRUE(query.start());
    query.stop();
    spin(20);
    EXPECT_EQ(gatherings, 1);
}

TEST_F(FolderQuery, StartFailsWithoutAFolder)
{
    MetadataQuery missing;
    EXPECT_FALSE(missing.start()) << "no search path";
    missing.setSearchPath(path("absent"));
    EXPECT_FALSE(missing.start());
    EXPECT_FALSE(missing.isStarted());
}

TEST_F(FolderQuery, ReportsAddedChangedRemovedAndRenamed)
{
    ASSERT_TRUE(writeFile(path("Notes/A.quillary"), "a"));
    ASSERT_TRUE(writeFile(path("Notes/B.quillary"), "b"));
    ASSERT_TRUE(query.start());

    deliver(QStringLiteral("C.quillary"), "c", 1700000000.5);
    Update u = nextUpdate();
    EXPECT_EQ(u.added, QStringList{"C.quillary"});
    EXPECT_TRUE(u.changed.isEmpty());
    EXPECT_TRUE(u.removed.isEmpty());

    deliver(QStringLiteral("A.quillary"), "a2", 1700000001.5);
    u = nextUpdate();
    EXPECT_EQ(u.changed, QStringList{"A.quillary"}) << "replaced by rename";

    // Rewritten in place with the same size, only the time differs.
    ASSERT_TRUE(writeFile(path("Notes/B.quillary"), "B"));
    setMTime(path("Notes/B.quillary"), 1500000000);
    u = nextUpdate();
    EXPECT_EQ(u.changed, QStringList{"B.quillary"});

    ASSERT_TRUE(QFile::remove(path("Notes/C.quillary")));
    u = nextUpdate();
    EXPECT_EQ(u.removed, QStringList{"C.quillary"});

    ASSERT_TRUE(QFile::rename(path("Notes/B.quillary"), path("Notes/B 2.quillary")));
    u = nextUpdate();
    EXPECT_EQ(u.added, QStringList{"B 2.quillary"});
    EXPECT_EQ(u.removed, QStringList{"B.quillary"});
    EXPECT_EQ(query.resultCount(), 2);
}

TEST_F(FolderQuery, WatchesFoldersMadeAfterTheStart)
{
    ASSERT_TRUE(query.start());
    ASSERT_TRUE(QDir().mkpath(path("Notes/later")));
    ASSERT_TRUE(writeFile(path("Notes/later/X.quillary"), "x"));
    EXPECT_EQ(nextUpdate().added, QStringList{"X.quillary"});
    ASSERT_TRUE(writeFile(path("Notes/later/Y.quillary"), "y"));
    EXPECT_EQ(nextUpdate().added, QStringList{"Y.quillary"}) << "the new folder is watched too";
    ASSERT_TRUE(QDir(path("Notes/later")).removeRecursively());
    EXPECT_EQ(nextUpdate().removed, (QStringList{"X.quillary", "Y.quillary"}));
}

TEST_F(FolderQuery, DebounceReportsTheSettledTimeOfAnInPlaceWrite)
{
    ASSERT_TRUE(query.start());
    // A tool that writes in place and sets the time afterwards: the notice
    // must carry the time it set, not the moment of the write.
    ASSERT_TRUE(writeFile(path("Notes/A.quillary"), "first"));
    ASSERT_TRUE(writeFile(path("Notes/A.quillary"), "second"));
    setMTime(path("Notes/A.quillary"), 1234567890.5);
    ASSERT_TRUE(waitFor([this] { return !updates.isEmpty(); }, 3000));
    spin(250);
    ASSERT_EQ(updates.size(), 1);
    EXPECT_EQ(updates[0].added, QStringList{"A.quillary"});
    ASSERT_EQ(query.results().size(), 1);
    EXPECT_DOUBLE_EQ(query.results()[0].contentChangeDate, 1234567890.5);
}

TEST_F(FolderQuery, StoppedQueryPostsNothingAndRestartsAfresh)
{
    ASSERT_TRUE(query.start());
    ASSERT_TRUE(waitFor([this] { return gatherings == 1; }));
    query.stop();
    EXPECT_FALSE(query.isStarted());
    ASSERT_TRUE(writeFile(path("Notes/A.quillary"), "a"));
    spin(300);
    EXPECT_TRUE(updates.isEmpty());
    ASSERT_TRUE(query.start());
    EXPECT_TRUE(waitFor([this] { return gatherings == 2; }));
    EXPECT_EQ(query.resultCount(), 1);
}

TEST_F(FolderQuery, UnchangedTouchOfAFolderPostsNothing)
{
    ASSERT_TRUE(writeFile(path("Notes/A.quillary"), "a"));
    ASSERT_TRUE(query.start());
    ASSERT_TRUE(writeFile(path("Notes/readme.txt"), "not a note"));
    ASSERT_TRUE(writeFile(path("Notes/.syncthing.tmp"), "temp"));
    spin(400);
    EXPECT_TRUE(updates.isEmpty());
}

} // namespace
