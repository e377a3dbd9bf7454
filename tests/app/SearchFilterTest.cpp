// The search filter: what a typed search finds through the application, that
// it agrees with a stored predicate's contains[cd] on every text, from the
// store's search index and for unsaved notes alike, that what it keeps from
// one keystroke to the next never hides a note that changed, and that a store
// written without the index (or by a build without it) is searched exactly.
#include "AppTestSupport.h"

#include "app/search/QVRSearchField.h"
#include "app/search/SearchFilter.h"
#include "platform/data/ManagedObjectContext.h"
#include "platform/data/PersistentStoreCoordinator.h"
#include "platform/predicate/Predicate.h"

#include <QRandomGenerator>

#include <sqlite3.h>

#include <algorithm>
#include <array>

using apptest::AppTest;

namespace {

constexpr double kDay = 86400.0;

class SearchFilterAppTest : public AppTest
{
protected:
    void SetUp() override
    {
        AppTest::SetUp();
        const double now = clock.now();
        const struct
        {
            const char* text;
            double age;
            bool archived;
            bool removed;
        } notes[] = {
            {"Crème brûlée recipe", 10, false, false},
            {"CREME fraiche list", 20, false, false},
            {"Budget 100% done", 30, false, false},
            {"She said \"hello\" and 'bye'", 40, false, false},
            {"Path C:\\notes\\todo", 50, false, false},
            {"Regex a.*b+ [x] (y)? ^z$ {2}|", 60, false, false},
            {"Deleted crème yesterday", 1 * kDay, true, false},
            {"Deleted crème last month", 40 * kDay, true, false},
            {"Deleted crème in 1970", now, true, false},
            {"Removed crème", 100, true, true},
        };
        int i = 0;
        for (const auto& n : notes) {
            const QString uuid =
                QStringLiteral("BBBBBBBB-0000-0000-0000-%1").arg(++i, 12, 10, QLatin1Char('0'));
            app->saveItem({{"uuid", uuid},
                           {"text", n.text},
                           {"date", now - n.age},
                           {"modified", now - n.age},
                           {"archived", n.archived}},
                          false);
            if (n.removed) {
                app->noteWithId(uuid)->setRemoved(true);
                app->dataStore()->saveData();
            }
        }
    }

    QStringList search(const QString& text, qint64 days)
    {
        defaults->set("QVRHistoryDays", days);
        if (!app->searchShowing())
            app->toggleSearch();
        app->searchField()->setText(text);
        app->updateSearch();
        QStringList found = rows();
        found.sort();
        return found;
    }
};

TEST_F(SearchFilterAppTest, FindsExactlyTheNotesHoldingEveryWord)
{
    struct Row
    {
        QString query;
        qint64 days;
        QStringList found;
    };
    const QStringList allCreme{"CREME fraiche list", "Crème brûlée recipe", "Deleted crème in 1970",
                               "Deleted crème last month", "Deleted crème yesterday"};
    const Row rows[] = {
        // Case and diacritics folded on both sides.
        {"creme", -1, allCreme},
        {"CRÈME", -1, allCreme},
        {"brulee", -1, {"Crème brûlée recipe"}},
        // Two spaces make an empty word, which must not fail every search.
        {"creme  recipe", -1, {"Crème brûlée recipe"}},
        {"recipe creme", -1, {"Crème brûlée recipe"}},
        // History cut-off: none for -1 and 0 (kept for good) and for a
        // cut-off a thousand years back; 30 days keeps yesterday's only.
        {"crème", 0, allCreme},
        {"crème", 365242, allCreme},
        {"crème", 30, {"CREME fraiche list", "Crème brûlée recipe", "Deleted crème yesterday"}},
        {"deleted", 30, {"Deleted crème yesterday"}},
        // Removed notes never, whatever the words.
        {"removed", -1, {}},
        // Characters with a meaning elsewhere are searched as written.
        {"%", -1, {"Budget 100% done"}},
        {"\"hello\"", -1, {"She said \"hello\" and 'bye'"}},
        {"'bye'", -1, {"She said \"hello\" and 'bye'"}},
        {"C:\\notes\\", -1, {"Path C:\\notes\\todo"}},
        {"a.*b+", -1, {"Regex a.*b+ [x] (y)? ^z$ {2}|"}},
        {"[x] (y)? ^z$ {2}|", -1, {"Regex a.*b+ [x] (y)? ^z$ {2}|"}},
        {"b.*", -1, {}},
        {"%@", -1, {}},
    };
    for (const Row& row : rows)
        EXPECT_EQ(search(row.query, row.days), row.found) << row.query.toStdString() << " days " << row.days;
}

TEST_F(SearchFilterAppTest, NarrowingNeverHidesANoteChangedBetweenKeystrokes)
{
    EXPECT_EQ(search("fra", -1), QStringList({"CREME fraiche list"}));
    // A note that did not match is edited to match before the next key.
    app->saveItem({{"uuid", "BBBBBBBB-0000-0000-0000-000000000003"}, {"text", "Budget frais"}}, false);
    EXPECT_EQ(search("frai", -1), QStringList({"Budget frais", "CREME fraiche list"}));
    // And one that matched is edited not to.
    app->saveItem({{"uuid", "BBBBBBBB-0000-0000-0000-000000000002"}, {"text", "CREME list"}}, false);
    EXPECT_EQ(search("frais", -1), QStringList({"Budget frais"}));
    // Widening again finds the edited text, not the one folded before.
    EXPECT_EQ(search("list", -1), QStringList({"CREME list"}));
}

// A list of notes in a context of their own, filtered both ways.
class SearchFilterAgreement : public ::testing::Test
{
protected:
    QTemporaryDir dir;
    std::unique_ptr<QVRDataStore> root;
    std::shared_ptr<QVRDataStore> store;
    std::vector<platform::ManagedObject*> notes;

    void SetUp() override
    {
        root = QVRDataStore::makeRootStore(dir.filePath(QStringLiteral("Quillary.sqlite")));
        store = QVRDataStore::storeWithParent(root.get(), platform::ConcurrencyType::MainQueue);
    }

    Note* add(const QVariant& text, bool archived, double modified, bool removed)
    {
        auto* note = static_cast<Note*>(store->context()->insert(QVRNoteEntityName));
        if (text.isValid())
            note->setText(text.toString());
        note->setArchived(archived);
        note->setModified(modified);
        note->setRemoved(removed);
        notes.push_back(note);
        return note;
    }

    // What the predicate the search used to hand over finds.
    std::vector<platform::ManagedObject*> byPredicate(const QString& text, qint64 days, double cutoff)
    {
        const auto query = QuillaryAppDelegate::searchQuery(text, days, cutoff);
        QString error;
        const auto predicate = platform::Predicate::parse(query.format, query.arguments, &error);
        EXPECT_TRUE(predicate) << error.toStdString();
        std::vector<platform::ManagedObject*> found;
        for (platform::ManagedObject* note : notes) {
            if (predicate && predicate->evaluate([note](const QString& key) { return note->value(key); }))
                found.push_back(note);
        }
        return found;
    }
};

QString randomText(QRandomGenerator& rng, int maxLength)
{
    // Letters whose folding is not plain: accents precomposed and combining,
    // enclosing marks, case pairs of several lengths, ligatures, final sigma,
    // Hangul syllables and jamo, emoji with modifiers, a lone surrogate.
    static const QStringList pieces{"a",
                                    "B",
                                    "e",
                                    "E",
                                    "é",
                                    "É",
                                    "e\u0301",
                                    "E\u0301",
                                    "\u0301",
                                    "\u20DD",
                                    "ß",
                                    "ẞ",
                                    "SS",
                                    "ss",
                                    "ﬁ",
                                    "fi",
                                    "ø",
                                    "Ø",
                                    "İ",
                                    "ı",
                                    "i",
                                    "I",
                                    "σ",
                                    "ς",
                                    "Σ",
                                    "K",
                                    "\u212A",
                                    "가",
                                    "\u1100",
                                    "\u1161",
                                    "😀",
                                    "👍\U0001F3FD",
                                    "\U0001D400",
                                    " ",
                                    "  ",
                                    "\n",
                                    "%",
                                    "_",
                                    "\\",
                                    "\"",
                                    "'",
                                    "*",
                                    "?",
                                    "ñ",
                                    "n\u0303",
                                    "\u00AD",
                                    "\u200D",
                                    "Å",
                                    "\u212B",
                                    "ǅ",
                                    "Ǆ",
                                    "ǆ",
                                    QString(QChar(0xD800))};
    QString text;
    const int length = int(rng.bounded(maxLength + 1));
    for (int i = 0; i < length; ++i)
        text += pieces[qsizetype(rng.bounded(pieces.size()))];
    return text;
}

TEST_F(SearchFilterAgreement, AgreesWithThePredicateLayerOnGeneratedTexts)
{
    QRandomGenerator rng(20261209);
    const double now = 1700000000.0;
    for (int i = 0; i < 3000; ++i) {
        const quint32 kind = rng.bounded(20);
        add(kind == 0 ? QVariant() : QVariant(randomText(rng, 24)), rng.bounded(3) == 0,
            now - double(rng.bounded(100)) * kDay, kind == 1);
    }
    // Most notes are answered by the file's index; a part of them is
    // changed and not saved, and is tested in memory.
    ASSERT_TRUE(store->saveData());
    ASSERT_TRUE(root->context()->persistentStoreCoordinator()->waitForSearchIndex(60000));
    for (int i = 0; i < 300; ++i) {
        auto* note = static_cast<Note*>(notes[rng.bounded(quint32(notes.size()))]);
        if (rng.bounded(2) == 0)
            note->setText(randomText(rng, 24));
        else
            note->setArchived(!note->archived().toBool());
    }
    add(QVariant(randomText(rng, 24)), false, now, false); // inserted, not saved
    store->context()->processPendingChanges();
    SearchFilter filter(store->context());
    ASSERT_TRUE(filter.usesIndex());
    int compared = 0;
    for (int q = 0; q < 300; ++q) {
        QString text;
        if (rng.bounded(2) == 0) {
            // Part of a stored text, so that matches are common.
            const QString source = static_cast<Note*>(notes[rng.bounded(quint32(notes.size()))])->text();
            const qsizetype from = source.isEmpty() ? 0 : qsizetype(rng.bounded(quint32(source.size())));
            text = source.mid(from, qsizetype(rng.bounded(6)) + 1);
        } else {
            text = randomText(rng, 4);
        }
        const qint64 days = std::array<qint64, 4>{-1, 0, 30, 365242}[rng.bounded(4)];
        const double cutoff = now - double(days) * kDay;
        filter.setQuery(SearchFilter::queryForText(text, days, cutoff));
        const auto expected = byPredicate(text, days, cutoff);
        ASSERT_EQ(filter.filter(notes), expected) << "query \"" << text.toStdString() << "\" days " << days;
        for (platform::ManagedObject* note : notes) {
            const bool inExpected = std::find(expected.begin(), expected.end(), note) != expected.end();
            ASSERT_EQ(filter.matches(note), inExpected) << "query \"" << text.toStdString() << "\"";
        }
        compared += int(expected.size());
    }
    // The queries were not all misses.
    EXPECT_GT(compared, 3000);
}

TEST_F(SearchFilterAgreement, EachKeystrokeOfATypedWordAgreesAndChangesAreSeen)
{
    Note* first = add(QStringLiteral("Résumé of the MEETING agenda"), false, 0, false);
    Note* second = add(QStringLiteral("meet the team"), false, 0, false);
    Note* third = add(QStringLiteral("agenda only"), false, 0, false);
    SearchFilter filter(store->context());
    // Folded ahead, one note per slice, as idle time does; at most one pass.
    size_t slices = 0;
    while (filter.prepare(notes, 1) > 0)
        ASSERT_LE(++slices, notes.size());
    const QString typed = QStringLiteral("meeting agenda");
    for (qsizetype n = 1; n <= typed.size(); ++n) {
        filter.setQuery(SearchFilter::queryForText(typed.left(n), -1, 0));
        EXPECT_EQ(filter.filter(notes), byPredicate(typed.left(n), -1, 0)) << typed.left(n).toStdString();
    }
    EXPECT_EQ(filter.filter(notes), std::vector<platform::ManagedObject*>({first}));
    // Edits reach the filter through the context's change notice; the next,
    // longer query must look at every note again, not only the last matches.
    second->setText(QStringLiteral("meeting agenda, AGENDA items"));
    third->setText(QStringLiteral("nothing"));
    store->context()->processPendingChanges();
    filter.setQuery(SearchFilter::queryForText(QStringLiteral("meeting agenda a"), -1, 0));
    EXPECT_EQ(filter.filter(notes), std::vector<platform::ManagedObject*>({first, second}));
    // Deleted objects are never found, even when narrowing.
    store->context()->remove(second);
    store->context()->processPendingChanges();
    filter.setQuery(SearchFilter::queryForText(QStringLiteral("meeting agenda ag"), -1, 0));
    EXPECT_EQ(filter.filter(notes), std::vector<platform::ManagedObject*>({first}));
}

// What a search list must hold for a query: the file's rows the index names,
// and the notes a parent context holds changes of, which the file has not
// got yet.
TEST_F(SearchFilterAgreement, CandidateKeysAddTheNotesAParentHoldsUnwritten)
{
    Note* written = add(QStringLiteral("alpha written"), true, 100, false);
    add(QStringLiteral("beta"), true, 100, false);
    ASSERT_TRUE(store->saveData());
    Note* unwritten = add(QStringLiteral("alpha unwritten"), true, 100, false);
    ASSERT_TRUE(store->context()->save()); // into the parent only
    SearchFilter filter(store->context());
    ASSERT_TRUE(filter.usesIndex());
    filter.setQuery(SearchFilter::queryForText(QStringLiteral("alpha"), -1, 0));
    std::vector<qint64> expected{written->objectID().key, unwritten->objectID().key};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(filter.candidateKeys(), expected);
    EXPECT_EQ(filter.filter(notes), (std::vector<platform::ManagedObject*>{written, unwritten}));
}

// SQL on a connection of its own, as another program (or a build without
// the index, which has not its tokenizer) runs it.
void execute(const QString& path, const char* sql, bool withTokenizer = false)
{
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.toUtf8().constData(), &db), SQLITE_OK);
    if (withTokenizer) {
        ASSERT_TRUE(platform::SearchIndex::registerTokenizer(db));
    }
    sqlite3_busy_timeout(db, 5000);
    char* message = nullptr;
    EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, &message), SQLITE_OK) << (message ? message : "");
    sqlite3_free(message);
    sqlite3_close(db);
}

TEST_F(SearchFilterAgreement, AStoreWithoutTheIndexGetsItInTheBackgroundAndIsSearchedExactlyMeanwhile)
{
    const QString path = dir.filePath(QStringLiteral("Quillary.sqlite"));
    add(QStringLiteral("Crème brûlée"), false, 0, false);
    add(QStringLiteral("creme fraiche"), false, 0, false);
    add(QStringLiteral("budget"), false, 0, false);
    add(QVariant(), false, 0, false);
    add(QString(), false, 0, false);
    for (int i = 0; i < 600; ++i)
        add(QStringLiteral("filler note %1 café").arg(i), false, 0, false);
    ASSERT_TRUE(store->saveData());
    notes.clear();
    store.reset();
    root.reset();
    // The file as a build without the index left it.
    execute(
        path,
        "DROP TRIGGER QuillarySearchInsert_Note_text; DROP TRIGGER QuillarySearchUpdate_Note_text;"
        "DROP TRIGGER QuillarySearchDelete_Note_text; DROP TABLE QuillarySearch_Note_text;"
        "DROP TABLE QuillarySearchShort_Note_text; DROP TABLE QuillarySearchPending_Note_text;"
        "DROP TRIGGER QuillarySearchRowsInsert_Note_text; DROP TRIGGER QuillarySearchRowsUpdate_Note_text;"
        "DROP TRIGGER QuillarySearchRowsDelete_Note_text; DROP TABLE QuillarySearchRows_Note_text;",
        true);

    const QStringList queries{"creme",        "CRÈME brulee", "é", "caf", "note 4",
                              "note 59 café", "\u0301",       "b", "zz"};
    auto agree = [&](const char* when) {
        SearchFilter filter(store->context());
        ASSERT_TRUE(filter.usesIndex()) << when;
        for (const QString& text : queries) {
            filter.setQuery(SearchFilter::queryForText(text, -1, 0));
            EXPECT_EQ(filter.filter(notes), byPredicate(text, -1, 0)) << when << ": " << text.toStdString();
        }
    };
    auto reopen = [&] {
        notes.clear();
        store.reset();
        root = QVRDataStore::makeRootStore(path);
        store = QVRDataStore::storeWithParent(root.get(), platform::ConcurrencyType::MainQueue);
        notes = store->context()->fetch(platform::FetchRequest{QVRNoteEntityName, nullptr, {}, 0});
    };
    // Opened by this build: every row waits for the background build, and
    // searches are exact while it runs and once it is done.
    reopen();
    ASSERT_EQ(notes.size(), 605u);
    agree("while the index is built");
    ASSERT_TRUE(root->context()->persistentStoreCoordinator()->waitForSearchIndex(60000));
    const platform::SearchIndex::Names names{QVRNoteEntityName, QStringLiteral("text"), {}};
    EXPECT_EQ(platform::SearchIndex::Reader(path, names).pendingCount(), 0);
    agree("built");

    // A save of this build indexes what it wrote in its own transaction.
    static_cast<Note*>(notes[2])->setText(QStringLiteral("budget révisé"));
    ASSERT_TRUE(store->saveData());
    {
        platform::SearchIndex::Reader reader(path, names);
        EXPECT_EQ(reader.pendingCount(), 0);
        EXPECT_EQ(reader.keysMatching({QStringLiteral("REVISE")}),
                  std::vector<qint64>{notes[2]->objectID().key});
    }

    // A build without the index writes the file: its rows wait and are
    // found from their texts meanwhile, the deleted one no longer.
    const qint64 fraiche = notes[1]->objectID().key;
    const qint64 budget = notes[2]->objectID().key;
    execute(path, "INSERT INTO Note (pk, uuid, text, archived, removed) VALUES (900001, 'OLD-1', 'Fraîche "
                  "elsewhere', 0, 0); UPDATE Note SET text = 'no longer' WHERE text = 'budget révisé';"
                  "DELETE FROM Note WHERE text = 'creme fraiche';");
    {
        platform::SearchIndex::Reader reader(path, names);
        EXPECT_EQ(reader.pendingCount(), 3);
        EXPECT_EQ(reader.keysMatching({QStringLiteral("fraiche")}), std::vector<qint64>{900001});
        EXPECT_EQ(reader.keysMatching({QStringLiteral("budget")}), std::vector<qint64>{});
        EXPECT_EQ(reader.keysMatching({QStringLiteral("longer"), QStringLiteral("no")}),
                  std::vector<qint64>{budget});
        (void)fraiche;
    }
    // The next start indexes them.
    reopen();
    ASSERT_TRUE(root->context()->persistentStoreCoordinator()->waitForSearchIndex(60000));
    EXPECT_EQ(platform::SearchIndex::Reader(path, names).pendingCount(), 0);
    agree("after another build's writes");
}

TEST(SearchFilterQuery, SplitsWordsAndKeepsHistoryForGoodAtZeroAndBelow)
{
    struct Row
    {
        QString text;
        qint64 days;
        QStringList words;
        std::optional<double> cutoff;
    };
    const Row rows[] = {
        {" budget  cafe\n", -1, {"budget", "cafe"}, std::nullopt},
        {"a\u2028b\u2029c\td", 90, {"a", "b", "c", "d"}, 5.0},
        {" \t ", 30, {}, 5.0},
        {"x", 0, {"x"}, std::nullopt},
        {"x", -7, {"x"}, std::nullopt},
        {"%@ \"'", 1, {"%@", "\"'"}, 5.0},
    };
    for (const Row& row : rows) {
        const SearchFilter::Query query = SearchFilter::queryForText(row.text, row.days, 5.0);
        EXPECT_EQ(query.words, row.words) << row.text.toStdString();
        EXPECT_EQ(query.cutoff, row.cutoff) << row.text.toStdString();
    }
}

} // namespace
