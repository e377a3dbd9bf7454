// Two machines, each with its own profile and cloud folder, kept in step by a
// real file-sync tool (Unison, local to local, keeping modification times).

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

const QString U1 = QStringLiteral("11111111-1111-4111-8111-111111111111");
const QString U2 = QStringLiteral("22222222-2222-4222-8222-222222222222");
const QString U3 = QStringLiteral("33333333-3333-4333-8333-333333333333");
constexpr double T = 1700000000.0;

class TwoMachines : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (QStandardPaths::findExecutable(QStringLiteral("unison")).isEmpty())
            GTEST_SKIP() << "unison is not installed";
        ASSERT_TRUE(temp.isValid());
        for (const char* name : {"A/profile", "A/Cloud", "B/profile", "B/Cloud", "unison"})
            ASSERT_TRUE(QDir().mkpath(temp.path() + "/" + name));
    }

    QProcessEnvironment environment(const QString& machine) const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        const QString profile = temp.path() + "/" + machine + "/profile";
        env.insert("HOME", profile);
        env.insert("XDG_DATA_HOME", profile + "/data");
        env.insert("XDG_CONFIG_HOME", profile + "/config");
        env.insert("XDG_CACHE_HOME", profile + "/cache");
        env.insert("QUILLARY_CLOUD_DIR", temp.path() + "/" + machine + "/Cloud");
        return env;
    }

    QString run(const QString& machine, const QStringList& args)
    {
        QProcess process;
        process.setProcessEnvironment(environment(machine));
        process.start(QStringLiteral(CLOUD_SYNC_DRIVER), args);
        EXPECT_TRUE(process.waitForFinished(60000));
        EXPECT_EQ(process.exitCode(), 0)
            << machine.toStdString() << " " << args.join(' ').toStdString() << "\n"
            << process.readAllStandardError().toStdString();
        return QString::fromUtf8(process.readAllStandardOutput());
    }

    void unison()
    {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("UNISON", temp.path() + "/unison");
        process.setProcessEnvironment(env);
        process.start(QStringLiteral("unison"),
                      {temp.path() + "/A/Cloud", temp.path() + "/B/Cloud", "-batch", "-times", "-prefer",
                       "newer", "-perms", "0", "-silent", "-confirmbigdel=false", "-ignore", "Name .*"});
        ASSERT_TRUE(process.waitForFinished(60000));
        ASSERT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    }

    // uuid -> attributes, as the machine's store holds them.
    QMap<QString, QJsonObject> notes(const QString& machine)
    {
        QMap<QString, QJsonObject> result;
        for (const QString& line : run(machine, {"dump"}).split('\n', Qt::SkipEmptyParts)) {
            const QJsonObject note = QJsonDocument::fromJson(line.toUtf8()).object();
            result.insert(note.value("uuid").toString(), note);
        }
        return result;
    }

    QTemporaryDir temp;
};

TEST_F(TwoMachines, NotesTravelAndTheNewerEditWins)
{
    run("A", {"save", U1, "Written on A\nwith two lines", QString::number(T, 'f', 6)});
    run("B", {"save", U2, "Written on B", QString::number(T + 1, 'f', 6)});
    unison();
    run("A", {"sync"});
    run("B", {"sync"});

    for (const QString machine : {"A", "B"}) {
        const auto held = notes(machine);
        ASSERT_EQ(held.size(), 2) << machine.toStdString();
        EXPECT_EQ(held[U1].value("text").toString(), QStringLiteral("Written on A\nwith two lines"));
        EXPECT_DOUBLE_EQ(held[U1].value("date").toDouble(), T);
        EXPECT_NEAR(held[U1].value("modified").toDouble(), T, 1e-6);
        EXPECT_EQ(held[U2].value("text").toString(), QStringLiteral("Written on B"));
    }

    // Both machines edit the same note; B's edit is the later one.
    run("A", {"save", U1, "A's edit", QString::number(T + 100, 'f', 6)});
    run("B", {"save", U1, "B's later edit", QString::number(T + 200.5, 'f', 6)});
    // And each writes a note of its own meanwhile.
    run("A", {"save", U3, "Only on A so far", QString::number(T + 150, 'f', 6)});
    unison();
    run("A", {"sync"});
    run("B", {"sync"});
    unison();

    for (const QString machine : {"A", "B"}) {
        const auto held = notes(machine);
        ASSERT_EQ(held.size(), 3) << "nothing lost on " << machine.toStdString();
        EXPECT_EQ(held[U1].value("text").toString(), QStringLiteral("B's later edit"))
            << machine.toStdString();
        EXPECT_NEAR(held[U1].value("modified").toDouble(), T + 200.5, 1e-6);
        EXPECT_EQ(held[U3].value("text").toString(), QStringLiteral("Only on A so far"));
    }

    // A stale edit made later on the clock of the older copy never wins:
    // A saves text dated before B's edit; it must not travel over it.
    run("A", {"save", U2, "Older text on A", QString::number(T + 0.5, 'f', 6)});
    unison();
    run("B", {"sync"});
    EXPECT_EQ(notes("B")[U2].value("text").toString(), QStringLiteral("Written on B"));
}

} // namespace
