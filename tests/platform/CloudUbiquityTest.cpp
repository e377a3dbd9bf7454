#include "CloudTestSupport.h"

#include "platform/cloud/Ubiquity.h"
#include "platform/core/Error.h"
#include "platform/core/NotificationCenter.h"
#include "platform/core/UserDefaults.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>
#include <unistd.h>

using namespace platform;

namespace {

class CloudFolder : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(temp.isValid());
        unsetenv(CloudFolderEnvironmentVariable);
        UserDefaults::standard().remove(CloudFolderDefaultsKey);
    }
    void TearDown() override
    {
        unsetenv(CloudFolderEnvironmentVariable);
        UserDefaults::standard().remove(CloudFolderDefaultsKey);
    }
    QString path(const QString& name) const { return temp.path() + QLatin1Char('/') + name; }
    static void useRoot(const QString& root)
    {
        setenv(CloudFolderEnvironmentVariable, QFile::encodeName(root).constData(), 1);
    }

    QTemporaryDir temp;
};

TEST_F(CloudFolder, TokenIsAbsentUnlessTheRootIsAnExistingDirectory)
{
    EXPECT_TRUE(ubiquityIdentityToken().isEmpty()) << "no folder configured";
    useRoot(path("missing"));
    EXPECT_TRUE(ubiquityIdentityToken().isEmpty()) << "folder does not exist";
    ASSERT_TRUE(writeFile(path("file"), "x"));
    useRoot(path("file"));
    EXPECT_TRUE(ubiquityIdentityToken().isEmpty()) << "a plain file is no folder";
    useRoot(QStringLiteral("relative/folder"));
    EXPECT_TRUE(ubiquityIdentityToken().isEmpty()) << "a relative path depends on the working directory";
    ASSERT_TRUE(QDir().mkpath(path("root")));
    useRoot(path("root"));
    EXPECT_FALSE(ubiquityIdentityToken().isEmpty());
}

TEST_F(CloudFolder, TokenNamesTheFolderNotThePathSpelling)
{
    ASSERT_TRUE(QDir().mkpath(path("a")));
    ASSERT_TRUE(QDir().mkpath(path("b")));
    ASSERT_TRUE(QFile::link(path("a"), path("link")));
    useRoot(path("a"));
    const QByteArray a = ubiquityIdentityToken();
    useRoot(path("link"));
    EXPECT_EQ(ubiquityIdentityToken(), a) << "a link to the same folder is the same account";
    useRoot(path("a") + QStringLiteral("/../a/"));
    EXPECT_EQ(ubiquityIdentityToken(), a);
    useRoot(path("b"));
    EXPECT_NE(ubiquityIdentityToken(), a) << "another folder is another account";
}

TEST_F(CloudFolder, TokenRefusesAReadOnlyFolder)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "permissions do not bind the super-user";
    ASSERT_TRUE(QDir().mkpath(path("ro")));
    QFile::setPermissions(path("ro"), QFile::ReadOwner | QFile::ExeOwner);
    useRoot(path("ro"));
    EXPECT_TRUE(ubiquityIdentityToken().isEmpty());
    QFile::setPermissions(path("ro"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

TEST_F(CloudFolder, SettingIsUsedWhenTheEnvironmentIsUnsetAndHomeIsExpanded)
{
    ASSERT_TRUE(QDir().mkpath(path("fromSetting")));
    UserDefaults::standard().set(CloudFolderDefaultsKey, path("fromSetting"));
    EXPECT_EQ(cloudRootPath(), path("fromSetting"));
    ASSERT_TRUE(QDir().mkpath(path("fromEnv")));
    useRoot(path("fromEnv"));
    EXPECT_EQ(cloudRootPath(), path("fromEnv")) << "the environment wins over the setting";
    unsetenv(CloudFolderEnvironmentVariable);
    UserDefaults::standard().set(CloudFolderDefaultsKey, QStringLiteral("~/Cloud"));
    EXPECT_EQ(cloudRootPath(), QDir::homePath() + QStringLiteral("/Cloud"));
}

TEST_F(CloudFolder, ContainerIsMadeOnDemandAndOnlyInsideTheRoot)
{
    EXPECT_TRUE(ubiquityContainerPath().isEmpty()) << "no root, no container";
    ASSERT_TRUE(QDir().mkpath(path("root")));
    useRoot(path("root"));
    const QString container = ubiquityContainerPath();
    EXPECT_EQ(container, path("root/XW9K2ZQ7TM.com.quorvane.Quillary"));
    EXPECT_TRUE(QFileInfo(container).isDir());
    for (const char* bad : {"", ".", "..", "../escape", "a/b"})
        EXPECT_TRUE(ubiquityContainerPath(QString::fromLatin1(bad)).isEmpty()) << bad;
    EXPECT_FALSE(QFileInfo::exists(path("escape")));
}

// --- the identity notice -----------------------------------------------------

class IdentityMonitor : public CloudFolder
{
protected:
    void SetUp() override
    {
        CloudFolder::SetUp();
        observer = NotificationCenter::defaultCenter().addObserver(
            UbiquityIdentityDidChangeNotification, nullptr, [this](const Notification&) { ++posts; });
    }
    void TearDown() override
    {
        monitor.stop();
        observer.reset();
        CloudFolder::TearDown();
    }
    // Waits for the notice, then makes sure no second one follows.
    bool postedOnce()
    {
        const bool arrived = waitFor([this] { return posts > 0; }, 3000);
        spin(200);
        const bool once = posts == 1;
        posts = 0;
        return arrived && once;
    }

    UbiquityIdentityMonitor monitor;
    ObserverToken observer;
    int posts = 0;
};

TEST_F(IdentityMonitor, PostsOnceWhenTheRootAppearsVanishesOrMoves)
{
    ASSERT_TRUE(QDir().mkpath(path("parent")));
    useRoot(path("parent/root"));
    monitor.start();
    EXPECT_TRUE(monitor.currentToken().isEmpty());

    ASSERT_TRUE(QDir().mkpath(path("parent/root")));
    EXPECT_TRUE(postedOnce()) << "root created";
    EXPECT_FALSE(monitor.currentToken().isEmpty());

    ASSERT_TRUE(writeFile(path("parent/unrelated"), "x"));
    ASSERT_TRUE(writeFile(path("parent/root/note"), "x"));
    spin(300);
    EXPECT_EQ(posts, 0) << "files beside or inside the root change nothing";

    ASSERT_EQ(::rename(QFile::encodeName(path("parent/root")).constData(),
                       QFile::encodeName(path("parent/gone")).constData()),
              0);
    EXPECT_TRUE(postedOnce()) << "root renamed away";
    EXPECT_TRUE(monitor.currentToken().isEmpty());

    ASSERT_EQ(::rename(QFile::encodeName(path("parent/gone")).constData(),
                       QFile::encodeName(path("parent/root")).constData()),
              0);
    EXPECT_TRUE(postedOnce()) << "root moved back";

    ASSERT_TRUE(QDir(path("parent")).removeRecursively());
    EXPECT_TRUE(postedOnce()) << "root and its parent removed";

    ASSERT_TRUE(QDir().mkpath(path("parent/root")));
    EXPECT_TRUE(postedOnce()) << "a missing parent is watched through the nearest folder above";
}

TEST_F(IdentityMonitor, PostsWhenTheSettingPointsElsewhere)
{
    ASSERT_TRUE(QDir().mkpath(path("one")));
    ASSERT_TRUE(QDir().mkpath(path("two")));
    UserDefaults::standard().set(CloudFolderDefaultsKey, path("one"));
    monitor.start();
    const QByteArray first = monitor.currentToken();
    UserDefaults::standard().set(CloudFolderDefaultsKey, path("two"));
    EXPECT_TRUE(postedOnce());
    EXPECT_NE(monitor.currentToken(), first);
    UserDefaults::standard().set(CloudFolderDefaultsKey, path("two"));
    spin(200);
    EXPECT_EQ(posts, 0) << "setting the same folder again is no change";
    UserDefaults::standard().remove(CloudFolderDefaultsKey);
    EXPECT_TRUE(postedOnce()) << "no folder is signing out";
}

// --- moves -----------------------------------------------------------------

QString otherFilesystemFolder(const QString& besides)
{
    struct stat a, b;
    if (stat("/dev/shm", &a) != 0 || stat(QFile::encodeName(besides).constData(), &b) != 0 ||
        a.st_dev == b.st_dev)
        return {};
    return QStringLiteral("/dev/shm");
}

TEST_F(CloudFolder, MoveNeverReplacesAnExistingItem)
{
    ASSERT_TRUE(writeFile(path("new.quillary"), "new"));
    ASSERT_TRUE(writeFile(path("there.quillary"), "old"));
    Error error;
    EXPECT_FALSE(moveItemIntoCloud(path("new.quillary"), path("there.quillary"), &error));
    EXPECT_EQ(error.code, EEXIST);
    EXPECT_FALSE(error.localizedDescription.isEmpty());
    QFile there(path("there.quillary"));
    ASSERT_TRUE(there.open(QIODevice::ReadOnly));
    EXPECT_EQ(there.readAll(), "old");
    EXPECT_TRUE(QFileInfo::exists(path("new.quillary"))) << "a refused move keeps its source";

    EXPECT_TRUE(moveItemIntoCloud(path("new.quillary"), path("moved.quillary"), &error));
    EXPECT_FALSE(QFileInfo::exists(path("new.quillary")));
    EXPECT_FALSE(moveItemIntoCloud(path("absent"), path("x"), &error));
    EXPECT_EQ(error.code, ENOENT);
}

TEST_F(CloudFolder, MoveAcrossFilesystemsKeepsContentsAndTimes)
{
    const QString other = otherFilesystemFolder(temp.path());
    if (other.isEmpty())
        GTEST_SKIP() << "no second filesystem here";
    QTemporaryDir elsewhere(other + QStringLiteral("/quillary-move-XXXXXX"));
    ASSERT_TRUE(elsewhere.isValid());
    const QString source = elsewhere.path() + QStringLiteral("/A.quillary");
    ASSERT_TRUE(writeFile(source, "payload"));
    setMTime(source, 1700000000.123456789);

    ASSERT_TRUE(moveItemIntoCloud(source, path("A.quillary")));
    EXPECT_FALSE(QFileInfo::exists(source));
    EXPECT_NEAR(mtimeOf(path("A.quillary")), 1700000000.123456789, 1e-6);
    QFile moved(path("A.quillary"));
    ASSERT_TRUE(moved.open(QIODevice::ReadOnly));
    EXPECT_EQ(moved.readAll(), "payload");
    EXPECT_TRUE(
        QDir(temp.path()).entryList(QDir::Hidden | QDir::Files).filter(QStringLiteral(".moving")).isEmpty())
        << "no temporary copy stays behind";

    // A refused cross-device move leaves both sides as they were.
    ASSERT_TRUE(writeFile(source, "second"));
    EXPECT_FALSE(moveItemIntoCloud(source, path("A.quillary")));
    EXPECT_TRUE(QFileInfo::exists(source));

    // Folders move out of the cloud whole, across filesystems too.
    ASSERT_TRUE(QDir().mkpath(path("Notes/sub")));
    ASSERT_TRUE(writeFile(path("Notes/sub/B.quillary"), "b"));
    const QString target = elsewhere.path() + QStringLiteral("/Notes");
    ASSERT_TRUE(moveItemOutOfCloud(path("Notes"), target));
    EXPECT_FALSE(QFileInfo::exists(path("Notes")));
    EXPECT_TRUE(QFileInfo::exists(target + QStringLiteral("/sub/B.quillary")));
}

} // namespace
