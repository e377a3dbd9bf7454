#include "platform/core/Log.h"
#include "platform/core/NotificationCenter.h"
#include "platform/core/UserDefaults.h"
#include "tests/support/Wait.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSize>
#include <QTemporaryDir>
#include <QTimer>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <functional>
#include <thread>

#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using platform::UserDefaults;

namespace {

class UserDefaultsTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }
    QString path() const { return m_dir.filePath(QStringLiteral("com.quorvane.Quillary.plist")); }
    QTemporaryDir m_dir;
};

TEST_F(UserDefaultsTest, RegisteredDefaultsGiveWayToStoredValues)
{
    UserDefaults d(path());
    d.registerDefaults({{"QVRHistoryDays", 90}, {"Text Size", 13}});
    EXPECT_EQ(d.integer("QVRHistoryDays"), 90);
    d.set("QVRHistoryDays", 30);
    EXPECT_EQ(d.integer("QVRHistoryDays"), 30);
    d.remove("QVRHistoryDays");
    EXPECT_EQ(d.integer("QVRHistoryDays"), 90);
    d.set("Text Size", QVariant()); // a null value removes
    EXPECT_EQ(d.integer("Text Size"), 13);
}

// Setting a value the file already holds (an int set again reads back as a
// 64-bit integer) or removing an absent key rewrites nothing: selecting the
// same note again or saving a stamp twice costs no file write.
TEST_F(UserDefaultsTest, SettingTheValueAlreadyHeldWritesNothing)
{
    UserDefaults d(path());
    d.set("selected", QStringLiteral("A-1"));
    d.set("Text Size", 13);
    auto inode = [&] {
        struct stat info
        {
        };
        return ::stat(QFile::encodeName(path()).constData(), &info) == 0 ? info.st_ino : ino_t(0);
    };
    const ino_t written = inode();
    ASSERT_NE(written, ino_t(0));
    d.set("selected", QStringLiteral("A-1"));
    d.set("Text Size", 13);
    d.set("Text Size", qint64(13));
    d.remove("absent");
    EXPECT_EQ(inode(), written); // a write replaces the file by another
    d.set("selected", QStringLiteral("B-2"));
    EXPECT_NE(inode(), written);
}

struct TypedCase
{
    const char* name;
    QVariant stored;
    QString string;
    qint64 integer;
    double real;
    bool boolean;
    bool isDictionary;
};

void PrintTo(const TypedCase& c, std::ostream* os)
{
    *os << c.name;
}

class TypedGetters : public UserDefaultsTest, public ::testing::WithParamInterface<TypedCase>
{
};

TEST_P(TypedGetters, WrongTypeReadsAsAbsent)
{
    const TypedCase& c = GetParam();
    UserDefaults d(path());
    d.set("k", c.stored);
    EXPECT_EQ(d.string("k"), c.string);
    EXPECT_EQ(d.integer("k"), c.integer);
    if (std::isnan(c.real))
        EXPECT_TRUE(std::isnan(d.doubleValue("k")));
    else
        EXPECT_DOUBLE_EQ(d.doubleValue("k"), c.real);
    EXPECT_EQ(d.boolValue("k"), c.boolean);
    EXPECT_EQ(d.dictionary("k").isEmpty(), !c.isDictionary);
}

INSTANTIATE_TEST_SUITE_P(
    Table, TypedGetters,
    ::testing::Values(TypedCase{"string", QStringLiteral("12"), "12", 0, 0, false, false},
                      TypedCase{"integer", QVariant(qint64(12)), "", 12, 12, true, false},
                      TypedCase{"real", QVariant(2.75), "", 2, 2.75, true, false},
                      TypedCase{"hugeReal", QVariant(1e300), "", 0, 1e300, true, false},
                      TypedCase{"nan", QVariant(std::nan("")), "", 0, std::nan(""), true, false},
                      TypedCase{"boolean", QVariant(true), "", 1, 1, true, false},
                      TypedCase{"dictionary", QVariantMap{{"keyCode", 49}}, "", 0, 0, false, true},
                      TypedCase{"list", QVariantList{1, 2}, "", 0, 0, false, false}));

TEST_F(UserDefaultsTest, ChangesPostTheDidChangeNotice)
{
    UserDefaults d(path());
    int posted = 0;
    const void* sender = nullptr;
    auto token = platform::NotificationCenter::defaultCenter().addObserver(
        UserDefaults::DidChangeNotification, &d, [&](const platform::Notification& n) {
            ++posted;
            sender = n.sender;
        });
    d.set("a", 1);
    d.set("a", 1); // unchanged: no notice
    d.set("a", 2);
    d.remove("a");
    d.remove("a"); // nothing to remove
    EXPECT_EQ(posted, 3);
    EXPECT_EQ(sender, &d);
}

TEST_F(UserDefaultsTest, ObserversMayReadTheDefaultsTheyAreToldAbout)
{
    UserDefaults d(path());
    qint64 seen = -1;
    auto token = platform::NotificationCenter::defaultCenter().addObserver(
        UserDefaults::DidChangeNotification, &d,
        [&](const platform::Notification&) { seen = d.integer("a"); });
    d.set("a", 5);
    EXPECT_EQ(seen, 5);
}

TEST_F(UserDefaultsTest, ConcurrentSetAndGetStayConsistent)
{
    UserDefaults d(path());
    constexpr int kThreads = 6, kRounds = 300;
    std::atomic<bool> torn{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            const QString own = QStringLiteral("key%1").arg(t);
            for (int i = 0; i < kRounds; ++i) {
                d.set(own, i);
                if (d.integer(own) != i)
                    torn = true;
                d.set(QStringLiteral("shared"), QStringLiteral("v%1-%2").arg(t).arg(i));
                const QString shared = d.string(QStringLiteral("shared"));
                if (!shared.startsWith(QLatin1Char('v')))
                    torn = true;
                d.registerDefaults({{QStringLiteral("reg%1").arg(t), i}});
            }
        });
    }
    for (auto& th : threads)
        th.join();
    EXPECT_FALSE(torn);
    for (int t = 0; t < kThreads; ++t)
        EXPECT_EQ(d.integer(QStringLiteral("key%1").arg(t)), kRounds - 1);
    UserDefaults reread(path());
    for (int t = 0; t < kThreads; ++t)
        EXPECT_EQ(reread.integer(QStringLiteral("key%1").arg(t)), kRounds - 1);
}

TEST_F(UserDefaultsTest, ValuesSurviveAReopenWithTheirTypes)
{
    {
        UserDefaults d(path());
        d.set("string", QStringLiteral("Grüße"));
        d.set("integer", qint64(1) << 40);
        d.set("real", 1700000000.123456);
        d.set("bool", true);
        d.set("Global Shortcut", QVariantMap{{"keyCode", 49}, {"modifierFlags", 1048576}});
        d.set("list", QVariantList{QStringLiteral("a"), 2});
        d.set("data", QByteArray("\x00\x01", 2));
        ASSERT_TRUE(d.synchronize());
    }
    UserDefaults d(path());
    EXPECT_EQ(d.string("string"), QStringLiteral("Grüße"));
    EXPECT_EQ(d.integer("integer"), qint64(1) << 40);
    EXPECT_DOUBLE_EQ(d.doubleValue("real"), 1700000000.123456);
    EXPECT_TRUE(d.boolValue("bool"));
    EXPECT_EQ(d.dictionary("Global Shortcut").value("keyCode").toLongLong(), 49);
    EXPECT_EQ(d.array("list").size(), 2);
    EXPECT_EQ(d.data("data"), QByteArray("\x00\x01", 2));
}

TEST_F(UserDefaultsTest, WritesAreAtomicSoReadersNeverSeeAPartialFile)
{
    UserDefaults writer(path());
    writer.set("seed", 1);
    std::atomic<bool> stop{false};
    std::atomic<int> bad{0}, reads{0};
    std::thread reader([&] {
        while (!stop) {
            UserDefaults r(path());
            if (r.integer("seed") != 1)
                ++bad;
            ++reads;
        }
    });
    const QString big(4000, QLatin1Char('x'));
    for (int i = 0; i < 200; ++i)
        writer.set(QStringLiteral("k%1").arg(i % 20), big + QString::number(i));
    stop = true;
    reader.join();
    EXPECT_EQ(bad.load(), 0) << "of " << reads.load() << " reads";
    // Only the settings file and its lock are left behind: no temporary files.
    const QString name = QFileInfo(path()).fileName();
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files), (QStringList{name, name + QStringLiteral(".lock")}));
}

TEST_F(UserDefaultsTest, FailedWriteKeepsTheNewValuesAndWritesThemLater)
{
    // A plain file where the settings folder should be makes every write
    // fail, also for root.
    const QString folder = m_dir.filePath(QStringLiteral("Quillary"));
    {
        QFile blocker(folder);
        ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    }
    const QString settings = folder + QStringLiteral("/com.quorvane.Quillary.plist");
    UserDefaults d(settings);
    QStringList lines;
    platform::setLogSink([&](const QString& line) { lines << line; });
    d.set("a", 2);
    EXPECT_FALSE(d.synchronize());
    platform::setLogSink({});
    EXPECT_FALSE(lines.isEmpty());
    EXPECT_EQ(d.integer("a"), 2);
    ASSERT_TRUE(QFile::remove(folder));
    ASSERT_TRUE(QDir().mkpath(folder));
    EXPECT_TRUE(d.synchronize());
    EXPECT_EQ(UserDefaults(settings).integer("a"), 2);
}

TEST_F(UserDefaultsTest, UnreadableFileIsKeptAsideNotOverwritten)
{
    {
        QFile f(path());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("this is not a property list");
    }
    UserDefaults d(path());
    EXPECT_FALSE(d.object("anything").isValid());
    d.set("a", 1);
    QFile aside(path() + QStringLiteral(".unreadable"));
    ASSERT_TRUE(aside.open(QIODevice::ReadOnly));
    EXPECT_EQ(aside.readAll(), QByteArray("this is not a property list"));
    EXPECT_EQ(UserDefaults(path()).integer("a"), 1);
}

TEST_F(UserDefaultsTest, ValueWithNoFileFormIsRefusedWithoutBlockingLaterWrites)
{
    UserDefaults d(path());
    QStringList lines;
    platform::setLogSink([&](const QString& line) { lines << line; });
    d.set("odd", QVariant::fromValue(QSize(1, 2)));
    platform::setLogSink({});
    EXPECT_EQ(lines.size(), 1);
    EXPECT_FALSE(d.object("odd").isValid());
    d.set("a", 1);
    EXPECT_TRUE(d.synchronize());
    EXPECT_EQ(UserDefaults(path()).integer("a"), 1);
}

// Two objects over one file stand for two processes: they share nothing but
// the file.
TEST_F(UserDefaultsTest, ProcessesSharingTheFileNeverResetEachOthersValues)
{
    UserDefaults first(path());
    UserDefaults second(path()); // read before the first one wrote anything
    first.set("a", 1);
    first.set("gone", 1);
    second.set("b", 2); // an unrelated write keeps "a"
    EXPECT_EQ(UserDefaults(path()).integer("a"), 1);
    second.remove("gone");
    first.set("c", 3); // keeps "b", and does not bring "gone" back
    UserDefaults reread(path());
    EXPECT_EQ(reread.integer("a"), 1);
    EXPECT_EQ(reread.integer("b"), 2);
    EXPECT_EQ(reread.integer("c"), 3);
    EXPECT_FALSE(reread.object("gone").isValid());
    // Each takes in the other's values, at a write or when asked.
    EXPECT_EQ(first.integer("b"), 2);
    EXPECT_FALSE(first.object("gone").isValid());
    EXPECT_FALSE(second.object("c").isValid());
    EXPECT_TRUE(second.synchronize());
    EXPECT_EQ(second.integer("c"), 3);
    // Setting a value this process last saw, but another one changed since,
    // still writes it.
    second.set("a", 5);
    first.set("a", 1);
    EXPECT_EQ(UserDefaults(path()).integer("a"), 1);
}

TEST_F(UserDefaultsTest, WritersWithCopiesOfTheirOwnLoseNoKeyWhenWritingAtOnce)
{
    constexpr int kWriters = 4, kRounds = 40;
    std::vector<std::thread> threads;
    for (int t = 0; t < kWriters; ++t) {
        threads.emplace_back([&, t] {
            UserDefaults own(path());
            for (int i = 0; i < kRounds; ++i)
                own.set(QStringLiteral("w%1-%2").arg(t).arg(i), i);
        });
    }
    for (auto& thread : threads)
        thread.join();
    UserDefaults reread(path());
    int missing = 0;
    for (int t = 0; t < kWriters; ++t) {
        for (int i = 0; i < kRounds; ++i)
            missing += reread.object(QStringLiteral("w%1-%2").arg(t).arg(i)).isValid() ? 0 : 1;
    }
    EXPECT_EQ(missing, 0);
}

// Writes held back by a write delay. The delay used here is short, but no
// test waits for it to pass: the changes are all made before the event loop
// runs, so none can be written in between whatever the delay.
class CoalescedWritesTest : public UserDefaultsTest
{
protected:
    void SetUp() override
    {
        UserDefaultsTest::SetUp();
        m_watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        ASSERT_GE(m_watch, 0);
        // The temporary files' creations keep the renames apart: inotify
        // merges an event into an identical one still unread.
        ASSERT_GE(::inotify_add_watch(m_watch, QFile::encodeName(m_dir.path()).constData(),
                                      IN_CREATE | IN_MOVED_TO),
                  0);
    }
    void TearDown() override { ::close(m_watch); }

    // Times the settings file was replaced since the last call.
    int writes()
    {
        int count = 0;
        alignas(inotify_event) char buffer[4096];
        const QByteArray name = QFile::encodeName(QFileInfo(path()).fileName());
        for (ssize_t n; (n = ::read(m_watch, buffer, sizeof buffer)) > 0;) {
            for (char* at = buffer; at < buffer + n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(at);
                if ((event->mask & IN_MOVED_TO) && event->len && name == event->name)
                    ++count;
                at += sizeof(inotify_event) + event->len;
            }
        }
        return count;
    }

    static constexpr std::chrono::milliseconds Short{5};
    static constexpr std::chrono::hours Never{24};
    int m_watch = -1;
};

// Moving through the note list set the selection each time, and each set
// locked, wrote and fsynced the file on the UI thread.
TEST_F(CoalescedWritesTest, ABurstOfChangesIsOneWriteNotOnePerChange)
{
    UserDefaults d(path(), Short);
    for (int row = 0; row < 20; ++row)
        d.set("selected", QStringLiteral("NOTE-%1").arg(row));
    d.set("noteIsOpen", true);
    EXPECT_EQ(writes(), 0);
    EXPECT_EQ(d.string("selected"), QStringLiteral("NOTE-19")); // read back before it is written
    ASSERT_TRUE(testsupport::waitFor([&] { return QFileInfo::exists(path()); }));
    EXPECT_EQ(writes(), 1);
    UserDefaults reread(path());
    EXPECT_EQ(reread.string("selected"), QStringLiteral("NOTE-19"));
    EXPECT_TRUE(reread.boolValue("noteIsOpen"));
}

TEST_F(CoalescedWritesTest, ChangesFromOtherThreadsAreWrittenByTheApplicationsLoop)
{
    UserDefaults d(path(), Short);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 50; ++i)
                d.set(QStringLiteral("thread%1").arg(t), i);
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(writes(), 0);
    ASSERT_TRUE(testsupport::waitFor([&] { return QFileInfo::exists(path()); }));
    EXPECT_EQ(writes(), 1);
    UserDefaults reread(path());
    for (int t = 0; t < 4; ++t)
        EXPECT_EQ(reread.integer(QStringLiteral("thread%1").arg(t)), 49);
}

// Nothing written is lost at a normal end, however long the delay.
TEST_F(CoalescedWritesTest, PendingChangesAreWrittenWhenTheEventLoopEnds)
{
    UserDefaults d(path(), Never);
    d.set("a", 1);
    QTimer::singleShot(0, QCoreApplication::instance(), [] { QCoreApplication::exit(0); });
    QCoreApplication::exec();
    EXPECT_EQ(writes(), 1);
    EXPECT_EQ(UserDefaults(path()).integer("a"), 1);
}

TEST_F(CoalescedWritesTest, PendingChangesAreWrittenAtDestructionAndByAnyoneAskingForAll)
{
    {
        UserDefaults d(path(), Never);
        d.set("a", 1);
        EXPECT_EQ(writes(), 0);
    }
    EXPECT_EQ(UserDefaults(path()).integer("a"), 1);
    UserDefaults d(path(), Never);
    d.set("b", 2);
    UserDefaults::synchronizeAll(); // as on a signal or a session save
    EXPECT_EQ(UserDefaults(path()).integer("b"), 2);
}

TEST_F(CoalescedWritesTest, HeldBackChangesStillMergeWithAnotherProcesssWrites)
{
    UserDefaults other(path()); // writes at once
    other.set("gone", 1);
    UserDefaults held(path(), Never);
    held.set("a", 1);
    held.remove("gone");
    other.set("b", 2);
    other.set("a", 5); // before ours is written: ours is the later change
    EXPECT_TRUE(held.synchronize());
    UserDefaults reread(path());
    EXPECT_EQ(reread.integer("a"), 1);
    EXPECT_EQ(reread.integer("b"), 2);
    EXPECT_FALSE(reread.object("gone").isValid());
    // Taking in the other's values (setting one already held makes it look)
    // keeps what is still held back here.
    held.set("c", 3);
    other.set("a", 7);
    other.set("d", 4);
    held.set("a", 1);
    EXPECT_EQ(held.integer("c"), 3);
    EXPECT_EQ(held.integer("d"), 4);
    EXPECT_TRUE(held.synchronize());
    EXPECT_EQ(UserDefaults(path()).integer("a"), 1);
    EXPECT_EQ(UserDefaults(path()).integer("c"), 3);
}

// Runs `body` in a child process and answers how it ended. A body that hangs
// (a read that never ends) is ended by an alarm, and one that reads without
// bound hits the child's memory limit, so that the fault fails the test
// instead of hanging it or exhausting the machine.
struct ChildEnd
{
    bool exited = false;
    int status = -1; // the exit status, or the signal that ended the child
};

ChildEnd inChild(const std::function<int()>& body)
{
    const pid_t child = ::fork();
    if (child == 0) {
        ::alarm(30);
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
        // A gigabyte above what the process maps already (the sanitizers
        // reserve far more address space than they use, so not under them).
        unsigned long long pages = 0;
        if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
            if (std::fscanf(statm, "%llu", &pages) != 1)
                pages = 0;
            std::fclose(statm);
        }
        const rlim_t limit = rlim_t(pages) * rlim_t(::sysconf(_SC_PAGESIZE)) + (rlim_t(1) << 30);
        const rlimit memory{limit, limit};
        ::setrlimit(RLIMIT_AS, &memory);
#endif
        // Nothing may leave the child but its status: an exception would
        // carry on with the test program's other tests in here.
        int status = 125;
        try {
            status = body();
        } catch (...) {
        }
        ::_exit(status);
    }
    ChildEnd end;
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child)
        return end;
    end.exited = WIFEXITED(status);
    end.status = end.exited ? WEXITSTATUS(status) : WTERMSIG(status);
    return end;
}

// What a user may find at the settings path that is not a settings file. Each
// is left as it is, and the settings run on their defaults meanwhile.
TEST_F(UserDefaultsTest, SettingsPathThatIsNoRegularFileNeitherHangsNorIsReplaced)
{
    struct Row
    {
        const char* name;
        std::function<bool(const QByteArray& path)> make;
        mode_t type;
    };
    const Row rows[] = {
        {"a FIFO", [](const QByteArray& path) { return ::mkfifo(path.constData(), 0600) == 0; }, S_IFIFO},
        {"a link to /dev/zero",
         [](const QByteArray& path) { return ::symlink("/dev/zero", path.constData()) == 0; }, S_IFLNK},
        {"a folder", [](const QByteArray& path) { return ::mkdir(path.constData(), 0700) == 0; }, S_IFDIR},
        {"a huge file",
         [](const QByteArray& path) {
             QFile file(QFile::decodeName(path)); // sparse: nothing is written
             return file.open(QIODevice::WriteOnly) && file.resize(qint64(64) << 20);
         },
         S_IFREG},
    };
    for (const Row& row : rows) {
        const QByteArray path = QFile::encodeName(this->path());
        ASSERT_TRUE(row.make(path)) << row.name;
        const ChildEnd end = inChild([&] {
            QStringList lines;
            platform::setLogSink([&](const QString& line) { lines << line; });
            UserDefaults d(this->path());
            d.registerDefaults({{"a", 7}});
            if (d.integer("a") != 7)
                return 2; // not the defaults
            d.set("a", 1);
            if (d.synchronize() || d.integer("a") != 1)
                return 3; // written over the odd file, or the change lost
            const QString said = lines.join('\n');
            if (!said.contains(this->path()) || lines.size() != 1)
                return 4; // not said, or said at every write
            return 0;
        });
        EXPECT_TRUE(end.exited) << row.name << ": ended by signal " << end.status;
        EXPECT_EQ(end.status, 0) << row.name;
        struct stat st
        {
        };
        ASSERT_EQ(::lstat(path.constData(), &st), 0) << row.name;
        EXPECT_EQ(st.st_mode & S_IFMT, row.type) << row.name << ": the odd file is left as it was";
        EXPECT_FALSE(QFileInfo::exists(this->path() + QStringLiteral(".unreadable"))) << row.name;
        // Clear the path for the next row.
        if (S_ISDIR(st.st_mode))
            ::rmdir(path.constData());
        else
            ::unlink(path.constData());
    }
}

TEST_F(UserDefaultsTest, LockFileIsNeverCreatedThroughALink)
{
    const QString elsewhere = m_dir.filePath(QStringLiteral("elsewhere"));
    ASSERT_EQ(::symlink(QFile::encodeName(elsewhere).constData(),
                        QFile::encodeName(path() + QStringLiteral(".lock")).constData()),
              0);
    UserDefaults d(path());
    QStringList lines;
    platform::setLogSink([&](const QString& line) { lines << line; });
    d.set("a", 1);
    const bool written = d.synchronize();
    platform::setLogSink({});
    EXPECT_FALSE(written);
    EXPECT_FALSE(QFileInfo::exists(elsewhere)) << "created through the dangling link";
    EXPECT_FALSE(QFileInfo::exists(path())) << "written without its lock";
    EXPECT_TRUE(lines.join('\n').contains(QStringLiteral("lock"))) << qPrintable(lines.join('\n'));
    EXPECT_EQ(d.integer("a"), 1) << "the value stays for a later write";
    // Once the link is gone, the change is written.
    ASSERT_TRUE(QFile::remove(path() + QStringLiteral(".lock")));
    EXPECT_TRUE(d.synchronize());
    EXPECT_EQ(UserDefaults(path()).integer("a"), 1);
}

TEST_F(UserDefaultsTest, StandardDefaultsLiveInTheConfigFolder)
{
    EXPECT_TRUE(UserDefaults::standard().filePath().endsWith(
        QStringLiteral("/Quillary/com.quorvane.Quillary.plist")));
}

} // namespace
