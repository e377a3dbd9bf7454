#include <QProcess>
#include <QSet>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <memory>
#include <vector>

namespace {

QSet<QString> uuidsInFile(const QString& path)
{
    QSet<QString> uuids;
    sqlite3* db = nullptr;
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_open(path.toUtf8().constData(), &db) == SQLITE_OK &&
        sqlite3_prepare_v2(db, "SELECT uuid FROM \"Note\"", -1, &statement, nullptr) == SQLITE_OK) {
        while (sqlite3_step(statement) == SQLITE_ROW)
            uuids.insert(QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(statement, 0))));
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return uuids;
}

// Every note that several processes add to one file at the same time is
// saved, and no save fails.
TEST(StoreWriters, ProcessesAddingNotesAtOnceKeepEveryNote)
{
    const QString writer = qEnvironmentVariable("QUILLARY_CONCURRENT_WRITER");
    ASSERT_FALSE(writer.isEmpty());
    constexpr int Processes = 3, NotesEach = 50;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Quillary.sqlite"));
    std::vector<std::unique_ptr<QProcess>> processes;
    for (int p = 0; p < Processes; ++p) {
        auto process = std::make_unique<QProcess>();
        process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process->start(writer, {path, QStringLiteral("P%1").arg(p), QString::number(NotesEach)});
        ASSERT_TRUE(process->waitForStarted());
        processes.push_back(std::move(process));
    }
    // All of them have opened the file before any adds a note.
    for (auto& process : processes) {
        while (!process->canReadLine() && process->state() == QProcess::Running)
            process->waitForReadyRead(5000);
        ASSERT_EQ(process->readLine(), QByteArray("ready\n"));
    }
    for (auto& process : processes)
        process->write("go\n");
    for (auto& process : processes) {
        ASSERT_TRUE(process->waitForFinished(120000));
        EXPECT_EQ(process->exitCode(), 0) << process->readAllStandardOutput().toStdString();
    }
    const QSet<QString> present = uuidsInFile(path);
    EXPECT_EQ(present.size(), Processes * NotesEach);
    for (int p = 0; p < Processes; ++p) {
        for (int i = 0; i < NotesEach; ++i)
            EXPECT_TRUE(present.contains(QStringLiteral("P%1-%2").arg(p).arg(i))) << p << "-" << i;
    }
}

} // namespace
