#include <QProcess>
#include <QRandomGenerator>
#include <QSet>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>
#include <sqlite3.h>

namespace {

QString queryText(sqlite3* db, const char* sql)
{
    sqlite3_stmt* statement = nullptr;
    QString result;
    if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW)
        result = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(statement, 0)));
    sqlite3_finalize(statement);
    return result;
}

QSet<QString> uuidsInFile(sqlite3* db)
{
    QSet<QString> uuids;
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT uuid FROM \"Note\"", -1, &statement, nullptr) == SQLITE_OK) {
        while (sqlite3_step(statement) == SQLITE_ROW)
            uuids.insert(QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(statement, 0))));
    }
    sqlite3_finalize(statement);
    return uuids;
}

// A writer killed at a random moment leaves a file that opens, passes the
// integrity check and holds every note whose save reported success.
TEST(StoreCrash, KilledWriterLosesNoAcknowledgedSave)
{
    const QString writer = qEnvironmentVariable("QUILLARY_CRASH_WRITER");
    ASSERT_FALSE(writer.isEmpty());
    const int rounds = qEnvironmentVariableIntValue("QUILLARY_FULL_TESTS") == 1 ? 60 : 6;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Quillary.sqlite"));
    QSet<QString> acknowledged;
    for (int round = 0; round < rounds; ++round) {
        QProcess process;
        process.start(writer, {path, QString::number(round * 1000000L)});
        ASSERT_TRUE(process.waitForStarted());
        // Wait for a few saves, then kill at a random point in the next ones.
        QByteArray output;
        while (output.count('\n') < 3 && process.state() == QProcess::Running) {
            process.waitForReadyRead(2000);
            output += process.readAllStandardOutput();
        }
        QThread::msleep(QRandomGenerator::global()->bounded(1, 60));
        process.kill();
        process.waitForFinished();
        output += process.readAllStandardOutput();
        const QList<QByteArray> lines = output.split('\n');
        // The last piece is empty or a line cut short by the kill.
        for (qsizetype i = 0; i + 1 < lines.size(); ++i)
            acknowledged.insert(QStringLiteral("N") + QString::fromLatin1(lines[i]));
        ASSERT_GT(lines.size(), 3) << "the writer did not save in round " << round;

        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(path.toUtf8().constData(), &db), SQLITE_OK);
        EXPECT_EQ(queryText(db, "PRAGMA integrity_check"), QStringLiteral("ok"));
        const QSet<QString> present = uuidsInFile(db);
        sqlite3_close(db);
        for (const QString& uuid : acknowledged)
            ASSERT_TRUE(present.contains(uuid)) << "round " << round << " lost " << uuid.toStdString();
    }
}

} // namespace
