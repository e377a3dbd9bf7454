#include "sync/QVRNoteDocument.h"

#include "platform/core/Log.h"
#include "platform/files/FileCoordinator.h"
#include "platform/files/FileOperations.h"
#include "platform/plist/PropertyList.h"
#include "platform/plist/PropertyListBounds.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Wait.h"

#include "../platform/PlistHostileInputs.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// A one-shot result handed from a document's queue to the test (mutex and
// condition variable, which every sanitizer understands).
template <typename T> class Outcome
{
public:
    void set_value(T value)
    {
        std::lock_guard lock(m_mutex);
        m_value = std::move(value);
        m_ready = true;
        m_condition.notify_all();
    }
    T get()
    {
        std::unique_lock lock(m_mutex);
        m_condition.wait(lock, [this] { return m_ready; });
        return m_value;
    }
    bool waitFor(std::chrono::milliseconds timeout)
    {
        std::unique_lock lock(m_mutex);
        return m_condition.wait_for(lock, timeout, [this] { return m_ready; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_condition;
    bool m_ready = false;
    T m_value{};
};

QString peerScript()
{
    return qEnvironmentVariable("QUILLARY_TEST_SOURCE_DIR") + QStringLiteral("/tests/sync/notefile_peer.py");
}

QString python()
{
    const QString configured = qEnvironmentVariable("QUILLARY_PYTHON");
    return configured.isEmpty() ? QStringLiteral("python3") : configured;
}

QByteArray runPeer(const QStringList& arguments)
{
    QProcess process;
    process.start(python(), QStringList{peerScript()} + arguments);
    if (!process.waitForFinished(60000) || process.exitCode() != 0) {
        ADD_FAILURE() << "peer failed: " << process.readAllStandardError().toStdString();
        return {};
    }
    return process.readAllStandardOutput();
}

bool openNow(const std::shared_ptr<QVRNoteDocument>& document)
{
    Outcome<bool> done;
    document->openWithCompletionHandler([&done](bool ok) { done.set_value(ok); });
    return done.get();
}

bool saveNow(const std::shared_ptr<QVRNoteDocument>& document, const QString& url, QVRSaveOperation op)
{
    Outcome<bool> done;
    document->saveToURL(url, op, [&done](bool ok) { done.set_value(ok); });
    return done.get();
}

using testsupport::LogCapture;

class NoteDocumentPeer : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        folder = new QTemporaryDir();
        runPeer({QStringLiteral("write"), folder->path()});
        QFile file(folder->filePath(QStringLiteral("expected.json")));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        expected = new QJsonObject(QJsonDocument::fromJson(file.readAll()).object());
    }
    static void TearDownTestSuite()
    {
        delete folder;
        delete expected;
    }
    static std::shared_ptr<QVRNoteDocument> open(const QString& name, bool* ok)
    {
        auto document =
            std::make_shared<QVRNoteDocument>(folder->filePath(name + QStringLiteral(".quillary")));
        *ok = openNow(document);
        return document;
    }
    static inline QTemporaryDir* folder = nullptr;
    static inline QJsonObject* expected = nullptr;
};

} // namespace

TEST_F(NoteDocumentPeer, ReadsCompleteFilesInBothFormats)
{
    for (const char* name : {"full_bin", "full_xml"}) {
        SCOPED_TRACE(name);
        bool ok = false;
        auto document = open(QString::fromLatin1(name), &ok);
        ASSERT_TRUE(ok);
        const QVRNoteAttributes a = document->attributes();
        EXPECT_EQ(a.value("uuid").toString(), expected->value("uuid").toString());
        EXPECT_EQ(a.value("archived").toBool(), QByteArray(name) == "full_bin");
        EXPECT_DOUBLE_EQ(a.value("date").toDouble(), 1234567890.25);
        EXPECT_EQ(a.value("text").toString(), QStringLiteral("a\nb"));
        // The file's own time, to the microsecond.
        EXPECT_NEAR(a.value("modified").toDouble(), expected->value("mtime_ns").toDouble() / 1e9, 1e-6);
        EXPECT_FALSE(document->error().has_value());
    }
}

TEST_F(NoteDocumentPeer, AcceptedVariantsTable)
{
    struct Case
    {
        const char* name;
        bool archived;
        bool hasDate;
        double date;
        bool hasText;
    };
    const Case cases[] = {
        {"empty_dict", false, false, 0, false},          {"unknown_keys", false, false, 0, true},
        {"lower_uuid", false, false, 0, true},           {"date_integer", false, true, 7, false},
        {"archived_int_nonzero", true, false, 0, false}, {"archived_real_zero", false, false, 0, false},
        {"archived_string", false, false, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        bool ok = false;
        auto document = open(QString::fromLatin1(c.name), &ok);
        ASSERT_TRUE(ok);
        const QVRNoteAttributes a = document->attributes();
        EXPECT_EQ(a.value("archived").toBool(), c.archived);
        EXPECT_EQ(a.contains("date"), c.hasDate);
        if (c.hasDate) {
            EXPECT_DOUBLE_EQ(a.value("date").toDouble(), c.date);
        }
        EXPECT_EQ(a.contains("text"), c.hasText);
        EXPECT_FALSE(a.contains("modified") && a.value("modified").toDouble() == 5.0);
    }
    bool ok = false;
    EXPECT_EQ(open(QStringLiteral("lower_uuid"), &ok)->uuid(), expected->value("uuid").toString().toLower());
}

TEST_F(NoteDocumentPeer, MissingUuidGivesAFreshUpperCaseOneEachTime)
{
    bool ok = false;
    auto first = open(QStringLiteral("empty_dict"), &ok);
    auto second = open(QStringLiteral("empty_dict"), &ok);
    EXPECT_FALSE(first->hasStoredUuid());
    EXPECT_NE(first->uuid(), second->uuid());
    EXPECT_EQ(first->uuid(), first->uuid().toUpper());
    EXPECT_EQ(first->uuid().size(), 36);
}

TEST_F(NoteDocumentPeer, KeepsNonAsciiAndVeryLongText)
{
    bool ok = false;
    for (const char* name : {"non_ascii", "non_ascii_xml"}) {
        auto document = open(QString::fromLatin1(name), &ok);
        ASSERT_TRUE(ok);
        EXPECT_EQ(document->text().value_or(QString()), expected->value("non_ascii").toString());
    }
    auto document = open(QStringLiteral("long_text"), &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(document->text().value_or(QString()), expected->value("long_text").toString());
}

// Wrong-typed entries used to be taken as they were and reached the store;
// unsafe identifiers became file names on export.
TEST_F(NoteDocumentPeer, RefusesWrongTypedEntriesAndUnsafeUuids)
{
    for (const char* name : {"text_number", "text_dict", "date_string", "date_nan", "date_infinite",
                             "uuid_number", "uuid_parent", "uuid_dotdot", "uuid_empty", "uuid_slash"}) {
        SCOPED_TRACE(name);
        LogCapture log;
        auto document =
            std::make_shared<QVRNoteDocument>(folder->filePath(QString::fromLatin1(name) + ".quillary"));
        document->setUuid(QStringLiteral("KEPT"));
        document->setArchived(true);
        document->setText(QStringLiteral("old"));
        EXPECT_FALSE(openNow(document));
        ASSERT_TRUE(document->error().has_value());
        EXPECT_EQ(document->error()->domain, QStringLiteral("com.quorvane.sync"));
        EXPECT_EQ(document->error()->code, 100);
        EXPECT_EQ(document->uuid(), QStringLiteral("KEPT"));
        EXPECT_FALSE(document->archived());
        EXPECT_EQ(document->text().value_or(QStringLiteral("unset")), QString());
        EXPECT_TRUE(
            log.contains(QStringLiteral("Error opening document: The file is not the right format.")));
    }
}

TEST_F(NoteDocumentPeer, ArrayRootFailsWithoutAnError)
{
    bool ok = true;
    auto document = open(QStringLiteral("array_root"), &ok);
    EXPECT_FALSE(ok);
    EXPECT_FALSE(document->error().has_value());
    EXPECT_EQ(document->text().value_or(QStringLiteral("unset")), QString());
}

// Opening such a file, by hand or as a cloud import, crashed the program in
// the property-list library's recursion; at every start while the file lay
// in the cloud folder.
TEST(NoteDocument, HostileNestingIsNotTheRightFormat)
{
    QTemporaryDir dir;
    const QByteArray inputs[] = {plist_inputs::deepXml(200000), plist_inputs::deepBinary(150000),
                                 plist_inputs::cyclicBinary(1)};
    for (const QByteArray& input : inputs) {
        const QString path = dir.filePath(QStringLiteral("deep.quillary"));
        ASSERT_TRUE(platform::writeFileAtomically(path, input));
        LogCapture log;
        auto document = std::make_shared<QVRNoteDocument>(path);
        EXPECT_FALSE(openNow(document));
        ASSERT_TRUE(document->error().has_value());
        EXPECT_EQ(document->error()->domain, QVRSyncErrors::domain);
        EXPECT_EQ(document->error()->code, QVRSyncErrors::NotRightFormat);
        EXPECT_TRUE(
            log.contains(QStringLiteral("Error opening document: The file is not the right format.")));
    }
}

TEST(NoteDocument, PeerReadsWhatWeWrite)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("note.quillary"));
    const double modified = 1712345678.123456;
    const QString text = QStringLiteral("Caf\u00e9 <b> \U0001F600\nline");
    auto saved = QVRNoteDocument::saveObject(
        {{"uuid", "ABC-1"}, {"archived", true}, {"date", 99.5}, {"text", text}, {"modified", modified}},
        path);
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->fileURL(), path);
    const QJsonObject out = QJsonDocument::fromJson(runPeer({QStringLiteral("read"), path})).object();
    EXPECT_EQ(out.value("header").toString(), QStringLiteral("bplist00"));
    const QJsonObject root = out.value("root").toObject();
    EXPECT_EQ(root.keys(), (QStringList{"archived", "date", "text", "uuid"}));
    EXPECT_EQ(root.value("uuid").toString(), QStringLiteral("ABC-1"));
    EXPECT_EQ(root.value("archived").toBool(), true);
    EXPECT_EQ(out.value("types").toObject().value("date").toString(), QStringLiteral("float"));
    EXPECT_DOUBLE_EQ(root.value("date").toDouble(), 99.5);
    EXPECT_EQ(root.value("text").toString(), text);
    EXPECT_NEAR(out.value("mtime_ns").toDouble() / 1e9, modified, 1e-6);

    // A document without text or date writes "" and leaves the date out.
    const QString bare = dir.filePath(QStringLiteral("bare.quillary"));
    ASSERT_TRUE(QVRNoteDocument::saveObject({{"uuid", "B"}, {"modified", 1.0}}, bare));
    const QJsonObject root2 =
        QJsonDocument::fromJson(runPeer({QStringLiteral("read"), bare})).object().value("root").toObject();
    EXPECT_EQ(root2.value("text").toString("missing"), QString());
    EXPECT_FALSE(root2.contains("date"));
    EXPECT_EQ(root2.value("archived").toBool(true), false);

    // And a later open carries the file time back as "modified".
    auto reopened = std::make_shared<QVRNoteDocument>(path);
    ASSERT_TRUE(openNow(reopened));
    EXPECT_NEAR(reopened->attributes().value("modified").toDouble(), modified, 1e-6);
}

// A note's text has no limit, but every reader refuses a note file over the
// property-list bound: a note of more than 64 MB was exported, and the file
// was then "not the right format" on every computer that read it.
TEST(NoteDocument, NoteWhoseFileWouldBeRefusedIsNeverWritten)
{
    QTemporaryDir dir;
    const qsizetype bound = qsizetype(platform::kPropertyListMaxBytes);
    struct Case
    {
        const char* name;
        QString text;
        bool written;
    };
    // Non-ASCII text is stored as UTF-16: two bytes a character.
    const Case cases[] = {
        {"ascii just under", QString(bound - 4096, QLatin1Char('a')), true},
        {"ascii over", QString(bound + 1, QLatin1Char('a')), false},
        {"utf-16 over with fewer characters", QString(bound / 2 + 1, QChar(0x00E9)), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = dir.filePath(QString::fromLatin1(c.name) + QStringLiteral(".quillary"));
        platform::Error error;
        auto saved =
            QVRNoteDocument::saveObject({{"uuid", "BIG"}, {"text", c.text}, {"modified", 1.0}}, path, &error);
        EXPECT_EQ(bool(saved), c.written);
        if (!c.written) {
            EXPECT_FALSE(QFile::exists(path));
            EXPECT_EQ(error.domain, QVRSyncErrors::domain);
            EXPECT_EQ(error.code, QVRSyncErrors::TooLarge);
            EXPECT_TRUE(error.localizedDescription.contains(QStringLiteral("too large")))
                << error.localizedDescription.toStdString();
            continue;
        }
        EXPECT_LE(QFileInfo(path).size(), bound);
        auto reread = std::make_shared<QVRNoteDocument>(path);
        ASSERT_TRUE(openNow(reread));
        EXPECT_EQ(reread->text().value_or(QString()).size(), c.text.size());
    }
}

TEST(NoteDocument, SaveOperationsCreateOrReplace)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("n.quillary"));
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("old");
    }
    platform::Error error;
    LogCapture log;
    EXPECT_FALSE(QVRNoteDocument::saveObject({{"uuid", "X"}, {"text", "new"}}, path, &error));
    EXPECT_EQ(error.code, EEXIST);
    EXPECT_TRUE(log.contains(QStringLiteral("Error writing data to file:")));
    EXPECT_EQ(platform::readFileContents(path).value_or(QByteArray()), QByteArray("old"));

    auto document = std::make_shared<QVRNoteDocument>();
    document->updateWithObject({{"uuid", "X"}, {"text", "new"}, {"modified", 5.0}});
    EXPECT_TRUE(document->unsavedChanges());
    EXPECT_TRUE(saveNow(document, path, QVRSaveOperation::Overwrite));
    EXPECT_FALSE(document->unsavedChanges());
    EXPECT_TRUE(platform::readFileContents(path).value_or(QByteArray()).startsWith("bplist00"));
    // No temporary file is left beside it.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

TEST(NoteDocument, CreateOnlySavesRacingFromManyThreadsHaveOneWinner)
{
    QTemporaryDir dir;
    for (int round = 0; round < 20; ++round) {
        const QString path = dir.filePath(QStringLiteral("race-%1.quillary").arg(round));
        std::atomic<int> winners{0};
        std::atomic<bool> go{false};
        std::vector<std::thread> threads;
        for (int i = 0; i < 8; ++i)
            threads.emplace_back([&, i] {
                while (!go)
                    std::this_thread::yield();
                if (platform::writeFileCreatingOnly(path, QByteArray::number(i)))
                    ++winners;
            });
        go = true;
        for (auto& t : threads)
            t.join();
        EXPECT_EQ(winners.load(), 1);
        EXPECT_EQ(platform::readFileContents(path).value_or(QByteArray()).size(), 1);
    }
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 20);
}

TEST(NoteDocument, SaveObjectTimesOutWithoutTouchingTheCallersError)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("slow.quillary"));
    QVRSyncDocument::setSaveTimeoutForTesting(200);
    platform::Error error;
    error.code = -7;
    {
        // Someone else holds the file: the save cannot start in time.
        auto held = platform::FileCoordinator::coordinate(path);
        EXPECT_FALSE(QVRNoteDocument::saveObject({{"uuid", "S"}}, path, &error));
    }
    QVRSyncDocument::setSaveTimeoutForTesting(120000);
    // The late save finishes on its own and leaves the caller's error alone.
    EXPECT_TRUE(testsupport::waitFor([&] { return QFile::exists(path); }));
    EXPECT_EQ(error.code, -7);
}

TEST(NoteDocument, OperationsWithoutUrlFailAtOnce)
{
    LogCapture log;
    auto document = std::make_shared<QVRNoteDocument>();
    bool called = false;
    document->openWithCompletionHandler([&](bool ok) { called = !ok; });
    EXPECT_TRUE(called);
    called = false;
    document->deleteWithCompletionHandler([&](bool ok) { called = !ok; });
    EXPECT_TRUE(called);
    called = false;
    document->modificationDateWithCompletionHandler(
        [&](bool ok, std::optional<double> d) { called = !ok && !d; });
    EXPECT_TRUE(called);
    called = false;
    document->saveToURL(QString(), QVRSaveOperation::Overwrite, [&](bool ok) { called = !ok; });
    EXPECT_TRUE(called);
    for (const char* line : {"Error reading data: no URL", "Error deleting: no URL",
                             "Error checking modification date: no URL", "Error writing data: no URL"})
        EXPECT_TRUE(log.contains(QString::fromLatin1(line))) << line;
}

TEST(NoteDocument, DeleteAndDateCheck)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("d.quillary"));
    ASSERT_TRUE(QVRNoteDocument::saveObject({{"uuid", "D"}, {"modified", 1000.5}}, path));
    auto document = std::make_shared<QVRNoteDocument>(path);
    Outcome<std::optional<double>> date;
    document->modificationDateWithCompletionHandler(
        [&](bool, std::optional<double> d) { date.set_value(d); });
    EXPECT_NEAR(date.get().value_or(0), 1000.5, 1e-6);
    EXPECT_FALSE(document->fileModificationDate().has_value());

    Outcome<bool> deleted;
    document->deleteWithCompletionHandler([&](bool ok) { deleted.set_value(ok); });
    EXPECT_TRUE(deleted.get());
    EXPECT_FALSE(QFile::exists(path));

    LogCapture log;
    Outcome<bool> again;
    document->deleteWithCompletionHandler([&](bool ok) { again.set_value(ok); });
    EXPECT_FALSE(again.get());
    EXPECT_TRUE(document->error().has_value());
    EXPECT_TRUE(log.contains(QStringLiteral("Error deleting file:")));
}

TEST(NoteDocument, BaseDocumentHasNoFormat)
{
    QVRSyncDocument base;
    platform::Error error;
    EXPECT_FALSE(base.loadFromContents(QVariant(QByteArray("x")), base.documentType(), &error));
    EXPECT_EQ(error.code, 101);
    EXPECT_FALSE(base.contentsForType(base.documentType(), &error));
    EXPECT_EQ(error.code, 102);
    EXPECT_EQ(base.documentType(), QStringLiteral("com.apple.binary-property-list"));
    EXPECT_TRUE(base.attributes().isEmpty());

    QVRNoteDocument note;
    EXPECT_FALSE(note.loadFromContents(QVariant(QStringLiteral("not data")), note.documentType(), &error));
    EXPECT_EQ(error.code, 100);
    EXPECT_EQ(error.localizedDescription, QStringLiteral("The file is not the right format."));
}

TEST(NoteDocument, FolderHelpers)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("plain"));
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    const QString empty = dir.filePath(QStringLiteral("empty"));
    QDir().mkdir(empty);
    const QString nested = dir.filePath(QStringLiteral("a/b/c"));

    EXPECT_FALSE(SyncUtilities::directoryHasContents(file));
    EXPECT_FALSE(SyncUtilities::directoryHasContents(empty));
    EXPECT_FALSE(SyncUtilities::directoryHasContents(dir.filePath(QStringLiteral("missing"))));
    EXPECT_TRUE(SyncUtilities::directoryHasContents(dir.path()));

    EXPECT_TRUE(SyncOutUtilities::ensureDirectoryAtPath(file));
    EXPECT_TRUE(QFileInfo(file).isFile());
    EXPECT_TRUE(SyncOutUtilities::ensureDirectoryAtPath(nested));
    EXPECT_TRUE(QFileInfo(nested).isDir());
    LogCapture log;
    EXPECT_FALSE(SyncOutUtilities::ensureDirectoryAtPath(file + QStringLiteral("/under")));
    EXPECT_TRUE(log.contains(QStringLiteral("Error creating directory ")));
}

// A handler that waits for another document's work on the same file must not
// wait for its own hold on that file.
TEST(NoteDocument, HandlerMayWaitForWorkOnTheSameFile)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("same.quillary"));
    ASSERT_TRUE(QVRNoteDocument::saveObject({{"uuid", "A"}, {"modified", 10.0}}, path));
    auto reader = std::make_shared<QVRNoteDocument>(path);
    Outcome<bool> done;
    reader->openWithCompletionHandler([&done, path](bool) {
        auto writer = std::make_shared<QVRNoteDocument>();
        writer->updateWithObject({{"uuid", "B"}, {"modified", 20.0}});
        Outcome<bool> saved;
        writer->saveToURL(path, QVRSaveOperation::Overwrite, [&saved](bool ok) { saved.set_value(ok); });
        done.set_value(saved.waitFor(std::chrono::seconds(10)) && saved.get());
    });
    EXPECT_TRUE(done.get());
}

// Files that report no size (procfs) or less than they hold must still be
// read to their end, and an empty file reads as empty data, not as a failure.
TEST(NoteDocument, FileReadsAreWholeWhateverSizeTheFileReports)
{
    QTemporaryDir dir;
    struct Case
    {
        const char* name;
        QByteArray contents;
    };
    const Case cases[] = {
        {"empty", QByteArray()}, {"one", QByteArray("x")}, {"large", QByteArray(200000, 'n')}};
    for (const Case& c : cases) {
        const QString path = dir.filePath(QString::fromLatin1(c.name));
        ASSERT_TRUE(platform::writeFileAtomically(path, c.contents)) << c.name;
        const std::optional<QByteArray> read = platform::readFileContents(path);
        ASSERT_TRUE(read.has_value()) << c.name;
        EXPECT_EQ(*read, c.contents) << c.name;
    }
    QFile cmdline(QStringLiteral("/proc/self/cmdline"));
    ASSERT_TRUE(cmdline.open(QIODevice::ReadOnly));
    EXPECT_EQ(platform::readFileContents(QStringLiteral("/proc/self/cmdline")).value_or(QByteArray()),
              cmdline.readAll());
    // Longer than any first guess at its size.
    const QByteArray maps =
        platform::readFileContents(QStringLiteral("/proc/self/maps")).value_or(QByteArray());
    EXPECT_GT(maps.size(), 4096);
    EXPECT_TRUE(maps.endsWith('\n'));
}

// Documents share worker threads; a block that waits for another document's
// block must still get a thread for that one, however many wait in a chain.
TEST(NoteDocument, QueuesWaitingOnEachOtherEachGetAThread)
{
    constexpr int kChain = 24;
    std::vector<std::shared_ptr<QVRNoteDocument>> documents;
    std::vector<std::unique_ptr<Outcome<bool>>> finished;
    for (int i = 0; i < kChain; ++i) {
        documents.push_back(std::make_shared<QVRNoteDocument>());
        finished.push_back(std::make_unique<Outcome<bool>>());
    }
    for (int i = 0; i < kChain; ++i) {
        documents[i]->performAsynchronousFileAccessUsingBlock([&finished, i] {
            const bool ok = i + 1 == kChain ||
                            (finished[i + 1]->waitFor(std::chrono::seconds(20)) && finished[i + 1]->get());
            finished[i]->set_value(ok);
        });
    }
    EXPECT_TRUE(finished[0]->get());
}

// Blocks of one document run one at a time and in the order they were added,
// even while many documents share the worker threads.
TEST(NoteDocument, OneQueueRunsItsBlocksInOrderAndOneAtATime)
{
    constexpr int kDocuments = 8;
    constexpr int kBlocks = 300;
    struct Track
    {
        std::atomic<bool> inside{false};
        std::atomic<int> overlaps{0};
        std::vector<int> order;
        Outcome<bool> done;
    };
    std::vector<std::shared_ptr<QVRNoteDocument>> documents;
    std::vector<std::unique_ptr<Track>> tracks;
    for (int d = 0; d < kDocuments; ++d) {
        documents.push_back(std::make_shared<QVRNoteDocument>());
        tracks.push_back(std::make_unique<Track>());
    }
    for (int b = 0; b < kBlocks; ++b) {
        for (int d = 0; d < kDocuments; ++d) {
            Track* track = tracks[d].get();
            documents[d]->performAsynchronousFileAccessUsingBlock([track, b] {
                if (track->inside.exchange(true))
                    ++track->overlaps;
                track->order.push_back(b);
                if (b % 7 == 0)
                    std::this_thread::yield();
                track->inside = false;
                if (b + 1 == kBlocks)
                    track->done.set_value(true);
            });
        }
    }
    std::vector<int> expected(kBlocks);
    for (int b = 0; b < kBlocks; ++b)
        expected[b] = b;
    for (const auto& track : tracks) {
        ASSERT_TRUE(track->done.get());
        EXPECT_EQ(track->overlaps.load(), 0);
        EXPECT_EQ(track->order, expected);
    }
}

// Work run on the caller's thread still takes its turn: after what the queue
// already holds, and before what is added while it runs.
TEST(NoteDocument, SynchronousWorkKeepsItsPlaceInTheQueue)
{
    QVRSerialQueue queue(QStringLiteral("sync test"));
    std::mutex mutex;
    std::vector<QString> order;
    auto note = [&](const QString& step) {
        std::lock_guard lock(mutex);
        order.push_back(step);
    };

    // Idle: the block runs right here, and one it adds waits for it.
    Outcome<bool> added;
    std::thread::id ranOn;
    queue.sync([&] {
        ranOn = std::this_thread::get_id();
        queue.add([&] {
            note(QStringLiteral("added"));
            added.set_value(true);
        });
        note(QStringLiteral("sync"));
    });
    EXPECT_EQ(ranOn, std::this_thread::get_id());
    ASSERT_TRUE(added.get());
    EXPECT_EQ(order, (std::vector<QString>{"sync", "added"}));

    // Busy: the block waits for the one ahead of it.
    order.clear();
    Outcome<bool> gate;
    Outcome<bool> calling;
    queue.add([&] {
        gate.get();
        note(QStringLiteral("ahead"));
    });
    std::thread caller([&] {
        calling.set_value(true);
        queue.sync([&] { note(QStringLiteral("behind")); });
    });
    calling.get();
    gate.set_value(true);
    caller.join();
    EXPECT_EQ(order, (std::vector<QString>{"ahead", "behind"}));
}

TEST(NoteDocument, SynchronousOpenReadsOrSaysWhyNot)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("now.quillary"));
    ASSERT_TRUE(QVRNoteDocument::saveObject(
        {{"uuid", "N"}, {"text", "read here"}, {"date", 3.5}, {"modified", 1700000000.25}}, path));
    auto document = std::make_shared<QVRNoteDocument>(path);
    ASSERT_TRUE(document->openSynchronously());
    EXPECT_EQ(document->text().value_or(QString()), QStringLiteral("read here"));
    EXPECT_EQ(document->date().value_or(0), 3.5);
    EXPECT_NEAR(document->fileModificationDate().value_or(0), 1700000000.25, 1e-6);

    LogCapture log;
    auto missing = std::make_shared<QVRNoteDocument>(dir.filePath(QStringLiteral("gone.quillary")));
    EXPECT_FALSE(missing->openSynchronously());
    ASSERT_TRUE(missing->error().has_value());
    EXPECT_EQ(missing->error()->code, ENOENT);
    EXPECT_TRUE(log.contains(QStringLiteral("Error reading data from URL:")));
    EXPECT_FALSE(std::make_shared<QVRNoteDocument>()->openSynchronously());
    EXPECT_TRUE(log.contains(QStringLiteral("Error reading data: no URL")));
}

// A date no file can have does not cost the note its file.
TEST(NoteDocument, ImpossibleDateStillSavesTheNote)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("nan.quillary"));
    LogCapture log;
    ASSERT_TRUE(QVRNoteDocument::saveObject({{"uuid", "D"}, {"text", "kept"}, {"modified", qQNaN()}}, path));
    EXPECT_TRUE(log.contains(QStringLiteral("Error setting modification date:")));
    auto reopened = std::make_shared<QVRNoteDocument>(path);
    ASSERT_TRUE(reopened->openSynchronously());
    EXPECT_EQ(reopened->text().value_or(QString()), QStringLiteral("kept"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

// One file reached through a linked folder is still one file to coordinate,
// also after the link is pointed elsewhere.
TEST(NoteDocument, EverySpellingOfAFileSharesItsLock)
{
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("real")));
    ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("other")));
    const QString link = dir.filePath(QStringLiteral("link"));
    ASSERT_TRUE(QFile::link(dir.filePath(QStringLiteral("real")), link));
    const QString real = dir.filePath(QStringLiteral("real/n.quillary"));
    const QString linked = link + QStringLiteral("/n.quillary");
    {
        auto held = platform::FileCoordinator::coordinate(real);
        EXPECT_FALSE(platform::FileCoordinator::tryCoordinate(linked).has_value());
        EXPECT_FALSE(
            platform::FileCoordinator::tryCoordinate(dir.filePath(QStringLiteral("other/../real/n.quillary")))
                .has_value());
        EXPECT_TRUE(platform::FileCoordinator::tryCoordinate(dir.filePath(QStringLiteral("real/m.quillary")))
                        .has_value());
        ASSERT_TRUE(QFile::remove(link));
        ASSERT_TRUE(QFile::link(dir.filePath(QStringLiteral("other")), link));
        EXPECT_TRUE(platform::FileCoordinator::tryCoordinate(linked).has_value());
    }
    EXPECT_TRUE(platform::FileCoordinator::tryCoordinate(real).has_value());
}
