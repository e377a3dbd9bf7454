#include "StoreTestSupport.h"

#include "platform/predicate/Predicate.h"
#include "store/Note.h"
#include "store/QVRObjectController.h"

#include <QAbstractItemModelTester>
#include <QAbstractListModel>
#include <QPersistentModelIndex>

#include <sqlite3.h>

#include <algorithm>
#include <map>

using namespace platform;
using storetest::StoreTest;

namespace {

// A note list model as the application builds one: its own copy of the rows,
// carried over by the controller's steps, read afresh on a reset.
class NoteRows : public QAbstractListModel
{
public:
    explicit NoteRows(QVRObjectController* controller) : m_controller(controller)
    {
        m_rows = controller->objectsFiltered(true);
        connect(controller, &QVRObjectController::arrangedObjectsChanged, this, &NoteRows::apply);
        connect(controller, &QVRObjectController::arrangedObjectsReset, this, [this] {
            ++resets;
            beginResetModel();
            m_rows = m_controller->objectsFiltered(true);
            endResetModel();
        });
    }

    int resets = 0;
    const std::vector<ManagedObject*>& rows() const { return m_rows; }

    int rowCount(const QModelIndex& parent = {}) const override
    {
        return parent.isValid() ? 0 : int(m_rows.size());
    }
    QVariant data(const QModelIndex& index, int role) const override
    {
        if (!checkIndex(index, CheckIndexOption::IndexIsValid) || role != Qt::DisplayRole)
            return {};
        return static_cast<Note*>(m_rows[size_t(index.row())])->text();
    }

private:
    void apply(const std::vector<ArrangementChange>& changes)
    {
        for (const auto& change : changes) {
            const int from = int(change.from);
            const int to = int(change.to);
            switch (change.kind) {
            case ArrangementChange::Kind::Insert:
                beginInsertRows({}, to, to);
                m_rows.insert(m_rows.begin() + to, change.object);
                endInsertRows();
                break;
            case ArrangementChange::Kind::Remove:
                beginRemoveRows({}, from, from);
                m_rows.erase(m_rows.begin() + from);
                endRemoveRows();
                break;
            case ArrangementChange::Kind::Move:
                beginMoveRows({}, from, from, {}, to > from ? to + 1 : to);
                m_rows.erase(m_rows.begin() + from);
                m_rows.insert(m_rows.begin() + to, change.object);
                endMoveRows();
                break;
            }
        }
    }

    QVRObjectController* m_controller;
    std::vector<ManagedObject*> m_rows;
};

class ObjectController : public storetest::NoteListTest
{
protected:
    static QStringList texts(const std::vector<ManagedObject*>& rows)
    {
        QStringList list;
        for (auto* row : rows)
            list << static_cast<Note*>(row)->text();
        return list;
    }
    static std::shared_ptr<const Predicate> search(const QString& word)
    {
        return Predicate::parse(
            QStringLiteral("removed == NO AND (archived == NO AND (text contains[cd] %@))"), {word});
    }
};

TEST_F(ObjectController, ListsAreArrangedWithoutAskingAfterConstructionAndANewFilter)
{
    add(QStringLiteral("cafe old"), 1);
    add(QStringLiteral("other"), 2);
    add(QStringLiteral("Caf\u00e9 new"), 3);
    add(QStringLiteral("cafe archived"), 4, true);
    ASSERT_TRUE(child->saveData());

    auto list = controller();
    EXPECT_EQ(
        texts(list->objectsFiltered(false)),
        (QStringList{QStringLiteral("Caf\u00e9 new"), QStringLiteral("other"), QStringLiteral("cafe old")}));
    EXPECT_EQ(list->countFiltered(true), 3u);

    list->setFilterPredicate(search(QStringLiteral("CAFE")));
    EXPECT_EQ(texts(list->objectsFiltered(true)),
              (QStringList{QStringLiteral("Caf\u00e9 new"), QStringLiteral("cafe old")}));
    list->setFilterPredicate(search(QStringLiteral("new")));
    EXPECT_EQ(texts(list->objectsFiltered(true)), QStringList{QStringLiteral("Caf\u00e9 new")});
    list->setFilterPredicate(nullptr);
    EXPECT_EQ(list->countFiltered(true), 3u);
}

// A search list picked by a function takes the full list's records (archived
// ones too) without a fetch, sorts what the function picks, follows later
// saves at the next rearrangement and is dropped again without a filter.
TEST_F(ObjectController, ContentFilterSearchListFollowsSavesAndDrops)
{
    add(QStringLiteral("alpha live"), 1);
    add(QStringLiteral("alpha archived"), 3, true);
    add(QStringLiteral("beta"), 2);
    ASSERT_TRUE(child->saveData());
    auto list = controller();
    NoteRows rows(list.get());
    int calls = 0;
    auto alpha = [&calls](const std::vector<ManagedObject*>& content) {
        ++calls;
        std::vector<ManagedObject*> picked;
        for (ManagedObject* object : content) {
            if (static_cast<Note*>(object)->text().startsWith(QStringLiteral("alpha")))
                picked.push_back(object);
        }
        return picked;
    };
    list->setContentFilter(alpha);
    EXPECT_TRUE(list->filtered());
    EXPECT_EQ(texts(rows.rows()), (QStringList{"alpha archived", "alpha live"}));
    Note* later = add(QStringLiteral("alpha later"), 5);
    ASSERT_TRUE(child->saveData());
    list->rearrangeObjects();
    EXPECT_EQ(texts(rows.rows()), (QStringList{"alpha later", "alpha archived", "alpha live"}));
    child->context()->remove(later);
    ASSERT_TRUE(child->saveData());
    list->rearrangeObjects();
    EXPECT_EQ(texts(rows.rows()), (QStringList{"alpha archived", "alpha live"}));
    EXPECT_GE(calls, 3);
    list->setContentFilter(nullptr);
    EXPECT_FALSE(list->filtered());
    EXPECT_EQ(texts(rows.rows()), (QStringList{"beta", "alpha live"}));
}

// A search list for a history with a cut-off holds the archived notes
// modified after it and no older ones, and still every note the filter can
// pick: one brought back from the archive, one changed and not saved, and
// the older ones once a later filter reaches back further.
TEST_F(ObjectController, ContentFilterSearchListHoldsTheHistoryItCanPick)
{
    const auto modified = [](Note* note, double when) { note->setValue(QStringLiteral("modified"), when); };
    add(QStringLiteral("alpha live"), 1);
    modified(add(QStringLiteral("alpha recent"), 2, true), 200);
    modified(add(QStringLiteral("alpha old"), 3, true), 50);
    modified(add(QStringLiteral("alpha older"), 4, true), 20);
    modified(add(QStringLiteral("alpha oldest"), 5, true), 10);
    ASSERT_TRUE(child->saveData());
    reopen();
    auto list = controller();
    NoteRows rows(list.get());
    const auto every = [](const std::vector<ManagedObject*>& content) { return content; };
    list->setContentFilter(every, 100.0);
    EXPECT_EQ(texts(rows.rows()), (QStringList{"alpha recent", "alpha live"}));

    // Changed in memory, not saved: in the list at once.
    Note* old = nullptr;
    Note* oldest = nullptr;
    for (ManagedObject* object : child->context()->fetch(FetchRequest{QVRNoteEntityName, nullptr, {}, 0})) {
        auto* note = static_cast<Note*>(object);
        if (note->text() == QStringLiteral("alpha old"))
            old = note;
        else if (note->text() == QStringLiteral("alpha oldest"))
            oldest = note;
    }
    ASSERT_TRUE(old && oldest);
    old->setArchived(false);
    child->context()->processPendingChanges();
    list->rearrangeObjects();
    EXPECT_EQ(texts(rows.rows()), (QStringList{"alpha old", "alpha recent", "alpha live"}));
    ASSERT_TRUE(child->saveData());
    list->rearrangeObjects();
    EXPECT_EQ(texts(rows.rows()), (QStringList{"alpha old", "alpha recent", "alpha live"}));

    // Made while a note is changed and not saved: it is held too.
    list->setContentFilter({});
    modified(oldest, 300);
    list->setContentFilter(every, 100.0);
    EXPECT_EQ(texts(rows.rows()), (QStringList{"alpha oldest", "alpha old", "alpha recent", "alpha live"}));
    ASSERT_TRUE(child->saveData());

    // A longer history: the older notes join.
    list->setContentFilter(every, 15.0);
    EXPECT_EQ(texts(rows.rows()),
              (QStringList{"alpha oldest", "alpha older", "alpha old", "alpha recent", "alpha live"}));
    list->setContentFilter(every, 100.0);
    EXPECT_EQ(rows.rows().size(), 5u);
}

// With candidates (the search index's answer), a search list reads only the
// archived notes they name that it lacks: more when a later query names more
// (also a row with a key far beyond the others), the same again after
// another process's save, and by date once candidates cannot be had.
TEST_F(ObjectController, ContentFilterSearchListReadsTheArchivedNotesItsCandidatesName)
{
    std::map<QString, qint64> keys;
    add(QStringLiteral("live"), 1);
    for (const char* text : {"first", "second", "third"})
        add(QString::fromLatin1(text), 2, true)->setValue(QStringLiteral("modified"), 200.0);
    ASSERT_TRUE(child->saveData());
    for (ManagedObject* object : child->context()->fetch(FetchRequest{QVRNoteEntityName, nullptr, {}, 0}))
        keys[static_cast<Note*>(object)->text()] = object->objectID().key;
    reopen();
    auto list = controller();
    NoteRows rows(list.get());
    std::vector<qint64> named{keys["first"]};
    bool indexed = true;
    const auto candidates = [&]() -> std::optional<std::vector<qint64>> {
        if (!indexed)
            return std::nullopt;
        std::vector<qint64> sorted = named;
        std::sort(sorted.begin(), sorted.end());
        return sorted;
    };
    const auto every = [](const std::vector<ManagedObject*>& content) { return content; };
    const auto held = [&] {
        QStringList names;
        for (ManagedObject* object : list->searchController()->content())
            names << static_cast<Note*>(object)->text();
        names.sort();
        return names;
    };
    list->setContentFilter(every, 100.0, candidates);
    // The archived note is read for its date and flags alone; its uuid and
    // text wait until it is shown or opened.
    Note* first = nullptr;
    for (ManagedObject* object : list->searchController()->content()) {
        if (object->objectID().key == keys["first"])
            first = static_cast<Note*>(object);
    }
    ASSERT_NE(first, nullptr);
    EXPECT_FALSE(first->isLoaded(QStringLiteral("text")));
    EXPECT_FALSE(first->isLoaded(QStringLiteral("uuid")));
    EXPECT_EQ(first->value(QStringLiteral("modified")), QVariant(200.0));
    EXPECT_EQ(first->title(), QStringLiteral("first"));
    EXPECT_FALSE(first->isLoaded(QStringLiteral("text")));
    EXPECT_EQ(held(), (QStringList{"first", "live"}));
    EXPECT_EQ(texts(rows.rows()), (QStringList{"first", "live"}));

    named = {keys["third"], keys["first"]};
    list->setContentFilter(every, 100.0, candidates);
    EXPECT_EQ(held(), (QStringList{"first", "live", "third"}));

    // Another program wrote a row with a key far beyond the others.
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(path().toUtf8().constData(), &db), SQLITE_OK);
        sqlite3_busy_timeout(db, 5000);
        EXPECT_EQ(sqlite3_exec(db,
                               "INSERT INTO Note (pk, uuid, text, date, modified, archived, removed) VALUES "
                               "(4611686018427387904, 'far', 'far', 3, 200, 1, 0)",
                               nullptr, nullptr, nullptr),
                  SQLITE_OK);
        sqlite3_close(db);
    }
    named.push_back(qint64(1) << 62);
    list->setContentFilter(every, 100.0, candidates);
    EXPECT_EQ(held(), (QStringList{"far", "first", "live", "third"}));
    for (ManagedObject* object : list->searchController()->content()) {
        if (object->objectID().key == qint64(1) << 62) {
            EXPECT_EQ(static_cast<Note*>(object)->uuid(), QStringLiteral("far"));
        }
    }

    list->reloadRecords();
    EXPECT_EQ(held(), (QStringList{"far", "first", "live", "third"}));

    indexed = false;
    list->setContentFilter(every, 100.0, candidates);
    EXPECT_EQ(held(), (QStringList{"far", "first", "live", "second", "third"}));
}

// A search list readied while the search opens, a slice at a time, is not
// shown until the first filter, which then picks from it exactly what a list
// made at that filter picks: also when notes changed meanwhile, when the
// filter came before the last slice, and when the lists were reloaded in
// between.
TEST_F(ObjectController, ContentFilterSearchListReadiedAheadPicksAsOneMadeAtTheFilter)
{
    add(QStringLiteral("alpha live"), 1);
    add(QStringLiteral("beta live"), 6);
    for (int i = 0; i < 4; ++i)
        add(QStringLiteral("alpha archived %1").arg(i), 2 + i, true)
            ->setValue(QStringLiteral("modified"), 200.0);
    add(QStringLiteral("alpha too old"), 7, true)->setValue(QStringLiteral("modified"), 50.0);
    ASSERT_TRUE(child->saveData());
    // The index's answer: the notes in the history, as the file has them.
    std::vector<qint64> history;
    for (ManagedObject* object : child->context()->fetch(FetchRequest{QVRNoteEntityName, nullptr, {}, 0})) {
        if (static_cast<Note*>(object)->text() != QStringLiteral("alpha too old"))
            history.push_back(object->objectID().key);
    }
    std::sort(history.begin(), history.end());
    const auto candidates = [&]() -> std::optional<std::vector<qint64>> { return history; };
    const auto alpha = [](const std::vector<ManagedObject*>& content) {
        std::vector<ManagedObject*> picked;
        for (ManagedObject* object : content) {
            if (static_cast<Note*>(object)->text().startsWith(QStringLiteral("alpha")))
                picked.push_back(object);
        }
        return picked;
    };
    const auto madeAtTheFilter = [&] {
        auto fresh = controller();
        fresh->setContentFilter(alpha, 100.0, candidates);
        return texts(fresh->objectsFiltered(true));
    };
    reopen();

    auto list = controller();
    NoteRows rows(list.get());
    int calls = 1;
    while (!list->prepareContentFilter(100.0, candidates, 1))
        ++calls;
    EXPECT_EQ(calls, 5); // what to read with the first note, three more one by one, the list
    EXPECT_FALSE(list->filtered());
    EXPECT_EQ(texts(rows.rows()), (QStringList{"beta live", "alpha live"}));
    // Meanwhile a note is added and one brought back, neither saved.
    add(QStringLiteral("alpha new"), 9);
    Note* back = nullptr;
    for (ManagedObject* object : child->context()->registeredObjects()) {
        if (static_cast<Note*>(object)->text() == QStringLiteral("alpha archived 1"))
            back = static_cast<Note*>(object);
    }
    ASSERT_NE(back, nullptr);
    back->setArchived(false);
    child->context()->processPendingChanges();
    list->setContentFilter(alpha, 100.0, candidates);
    EXPECT_TRUE(list->filtered());
    EXPECT_EQ(texts(rows.rows()), madeAtTheFilter());
    EXPECT_EQ(rows.rows().size(), 6u);
    ASSERT_TRUE(child->saveData());

    // The filter before the last slices: the rest is read then.
    list->setContentFilter(nullptr);
    EXPECT_FALSE(list->prepareContentFilter(100.0, candidates, 1));
    EXPECT_FALSE(list->prepareContentFilter(100.0, candidates, 1));
    list->setContentFilter(alpha, 100.0, candidates);
    EXPECT_EQ(texts(rows.rows()), madeAtTheFilter());

    // Readied, then the lists reloaded: made afresh at the filter.
    list->setContentFilter(nullptr);
    while (!list->prepareContentFilter(100.0, candidates, 2)) {
    }
    list->reloadRecords();
    list->setContentFilter(alpha, 100.0, candidates);
    EXPECT_EQ(texts(rows.rows()), madeAtTheFilter());
}

// Saves, edits, archives, deletions and searches, each followed by the list
// model: the model checker finds no inconsistent signal, the model's rows
// always match the controller's, and a row held across changes (the selected
// note) follows its note instead of being lost to a reset.
TEST_F(ObjectController, ListModelFollowsEveryChangeWithoutResetting)
{
    Note* a = add(QStringLiteral("a"), 1);
    Note* b = add(QStringLiteral("b"), 2);
    Note* c = add(QStringLiteral("c"), 3);
    Note* d = add(QStringLiteral("d"), 4);
    ASSERT_TRUE(child->saveData());
    auto list = controller();
    NoteRows model(list.get());
    QStringList modelWarnings;
    static QStringList* s_warnings = nullptr;
    s_warnings = &modelWarnings;
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext& context, const QString& message) {
            if (s_warnings && QByteArray(context.category ? context.category : "").startsWith("qt.modeltest"))
                *s_warnings << message;
        });
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Warning);

    QPersistentModelIndex selected = model.index(2); // "b"
    ASSERT_EQ(selected.data().toString(), QStringLiteral("b"));
    auto settle = [&](const char* step) {
        list->rearrangeObjects();
        EXPECT_EQ(model.rows(), list->objectsFiltered(true)) << step;
        EXPECT_TRUE(modelWarnings.isEmpty())
            << step << ": " << modelWarnings.join(QLatin1Char('\n')).toStdString();
    };

    add(QStringLiteral("e"), 5);
    ASSERT_TRUE(child->saveData());
    settle("new note");
    a->setDate(10); // edited: to the top
    ASSERT_TRUE(child->saveData());
    settle("moved up");
    d->setDate(0.5); // to the bottom
    ASSERT_TRUE(child->saveData());
    settle("moved down");
    c->setArchived(true);
    ASSERT_TRUE(child->saveData());
    settle("archived");
    EXPECT_EQ(selected.data().toString(), QStringLiteral("b"));
    EXPECT_EQ(selected.row(), 2);

    list->setFilterPredicate(search(QString())); // a search starts: a fresh list
    EXPECT_EQ(model.resets, 1);
    EXPECT_EQ(model.rows(), list->objectsFiltered(true));
    selected = model.index(int(list->indexOfObject(b, true)));
    list->setFilterPredicate(search(QStringLiteral("b")));
    EXPECT_EQ(model.rows(), list->objectsFiltered(true));
    EXPECT_EQ(selected.data().toString(), QStringLiteral("b"));
    child->context()->remove(b);
    ASSERT_TRUE(child->saveData());
    settle("deleted");
    EXPECT_FALSE(selected.isValid());
    list->setFilterPredicate(nullptr); // the search ends
    EXPECT_EQ(model.rows(), list->objectsFiltered(true));
    EXPECT_EQ(texts(model.rows()),
              (QStringList{QStringLiteral("a"), QStringLiteral("e"), QStringLiteral("d")}));
    EXPECT_EQ(model.resets, 2);
    EXPECT_TRUE(modelWarnings.isEmpty()) << modelWarnings.join(QLatin1Char('\n')).toStdString();

    qInstallMessageHandler(previous);
    s_warnings = nullptr;
}

// Changes to the full list while a search is shown are not the model's rows.
TEST_F(ObjectController, OnlyTheDisplayedListIsSignalled)
{
    add(QStringLiteral("x"), 1);
    ASSERT_TRUE(child->saveData());
    auto list = controller();
    list->setFilterPredicate(search(QStringLiteral("nothing")));
    NoteRows model(list.get());
    int steps = 0;
    QObject::connect(list.get(), &QVRObjectController::arrangedObjectsChanged, [&] { ++steps; });
    add(QStringLiteral("y"), 2);
    ASSERT_TRUE(child->saveData());
    list->rearrangeObjects();
    EXPECT_EQ(list->countFiltered(false), 2u);
    EXPECT_EQ(steps, 0);
    EXPECT_TRUE(model.rows().empty());
}

} // namespace
