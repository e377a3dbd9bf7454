#include "platform/predicate/Predicate.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <QLocale>
#include <QRandomGenerator>

#include <clocale>

using platform::Predicate;

namespace {

using Record = QVariantMap;

std::shared_ptr<const Predicate> mustParse(const QString& format, const QVariantList& args = {})
{
    QString error;
    auto p = Predicate::parse(format, args, &error);
    EXPECT_TRUE(p) << format.toStdString() << ": " << error.toStdString();
    return p;
}

bool matches(const QString& format, const Record& record, const QVariantList& args = {})
{
    auto p = mustParse(format, args);
    return p && p->evaluate([&](const QString& key) { return record.value(key); });
}

struct EvalCase
{
    const char* format;
    QVariantList args;
    Record record;
    bool expected;
};

class PredicateEvaluation : public ::testing::TestWithParam<EvalCase>
{
};

TEST_P(PredicateEvaluation, MatchesAsTheFilterLanguageDoes)
{
    const EvalCase& c = GetParam();
    EXPECT_EQ(matches(QString::fromUtf8(c.format), c.record, c.args), c.expected) << c.format;
}

const Record kNote{{"uuid", "A1"},
                   {"archived", false},
                   {"modified", 1700000000.5},
                   {"text", QString::fromUtf8("Crème Brûlée recipe")}};

INSTANTIATE_TEST_SUITE_P(
    Table, PredicateEvaluation,
    ::testing::Values(
        EvalCase{"archived == NO", {}, kNote, true}, EvalCase{"archived == 0", {}, kNote, true},
        EvalCase{"archived == YES", {}, kNote, false},
        EvalCase{"archived == NO", {}, Record{{"uuid", "x"}}, false}, // missing is not NO
        EvalCase{"archived != NO", {}, Record{{"uuid", "x"}}, false}, // nor anything else
        EvalCase{"NOT archived == NO", {}, Record{{"uuid", "x"}}, true},
        EvalCase{"archived == nil", {}, Record{{"uuid", "x"}}, true},
        EvalCase{"archived != nil", {}, Record{{"uuid", "x"}}, false},
        EvalCase{"archived != nil", {}, kNote, true}, EvalCase{"uuid == %@", {"A1"}, kNote, true},
        EvalCase{"uuid == %@", {"a1"}, kNote, false}, EvalCase{"%K == %@", {"uuid", "A1"}, kNote, true},
        EvalCase{"uuid == %@ AND modified >= %@", {"A1", 1700000000.5}, kNote, true},
        EvalCase{"uuid == %@ AND modified >= %@", {"A1", 1700000000.6}, kNote, false},
        EvalCase{"archived == YES AND modified < 1700000001.000000", {}, kNote, false},
        EvalCase{"archived == NO AND modified < 1700000001.000000", {}, kNote, true},
        EvalCase{"modified > -5", {}, kNote, true}, EvalCase{"modified == 1.7000000005e9", {}, kNote, true},
        EvalCase{"text contains[cd] %@", {"BRULEE"}, kNote, true},
        EvalCase{"text contains[c] %@", {"BRULEE"}, kNote, false},
        EvalCase{"text contains[d] %@", {"brulee"}, kNote, false},
        EvalCase{"text contains[d] %@", {"Brulee"}, kNote, true},
        EvalCase{"text CONTAINS %@", {"Brûlée"}, kNote, true},
        EvalCase{"text contains[cd] %@", {""}, kNote, true},
        EvalCase{"text contains[cd] %@", {""}, Record{}, true},
        EvalCase{"text beginswith[cd] %@", {"creme"}, kNote, true},
        EvalCase{"text beginswith %@", {"recipe"}, kNote, false},
        EvalCase{"text LIKE %@", {"*.quillary"}, Record{{"text", "A.quillary"}}, true},
        EvalCase{"text LIKE %@", {"*.quillary"}, Record{{"text", "A.quillaryx"}}, false},
        EvalCase{"text LIKE[c] %@", {"a?B"}, Record{{"text", "AxB"}}, true},
        EvalCase{"removed == NO AND ((archived == NO OR modified > 5) AND ((text contains[cd] %@) AND (text "
                 "contains[cd] %@)))",
                 {"creme", "RECIPE"},
                 Record{{"removed", false}, {"archived", true}, {"modified", 6.0}, {"text", "Crème recipe"}},
                 true},
        EvalCase{"removed == NO AND ((archived == NO OR modified > 7) AND (text contains[cd] %@))",
                 {"creme"},
                 Record{{"removed", false}, {"archived", true}, {"modified", 6.0}, {"text", "Crème"}},
                 false},
        EvalCase{"uuid == %@", {"\" OR 1 == 1"}, kNote, false},
        EvalCase{"text contains %@", {"%@"}, Record{{"text", "100%@"}}, true},
        EvalCase{"a < b", {}, Record{{"a", "abc"}, {"b", "abd"}}, true},
        EvalCase{"a < b", {}, Record{{"a", 2}, {"b", 10}}, true},
        EvalCase{"a == b", {}, Record{{"a", QVariant()}, {"b", QVariant()}}, false},
        EvalCase{"!(a == 1) && (b = 2 || c <> 3)", {}, Record{{"a", 2}, {"b", 5}, {"c", 4}}, true},
        EvalCase{"TRUEPREDICATE", {}, Record{}, true},
        EvalCase{"NOT TRUEPREDICATE OR FALSEPREDICATE", {}, Record{}, false}));

TEST(Predicate, RefusesMalformedFormatsWithAReason)
{
    const std::vector<std::pair<QString, QVariantList>> bad = {
        {"", {}},
        {"archived ==", {}},
        {"archived == NO AND", {}},
        {"(archived == NO", {}},
        {"archived == NO)", {}},
        {"uuid == %@", {}}, // missing argument
        {"%K == 1", {5}},   // %K needs a key
        {"text contains[x] %@", {"a"}},
        {"a == 1[c]", {}},
        {"uuid == \"open", {}},
        {"uuid == %d", {1}},
        {"a == 1 b == 2", {}},
        {"a ~ 1", {}},
        {"AND == 1", {}},
    };
    for (const auto& [format, args] : bad) {
        QString error;
        EXPECT_EQ(Predicate::parse(format, args, &error), nullptr) << format.toStdString();
        EXPECT_FALSE(error.isEmpty()) << format.toStdString();
    }
}

TEST(Predicate, DeepNestingIsRefusedInsteadOfOverflowingTheStack)
{
    const QString deep =
        QString(100000, QLatin1Char('(')) + QStringLiteral("a == 1") + QString(100000, QLatin1Char(')'));
    QString error;
    EXPECT_EQ(Predicate::parse(deep, {}, &error), nullptr);
    EXPECT_TRUE(error.contains(QStringLiteral("nested"))) << error.toStdString();
    const QString nots = QStringLiteral("NOT ").repeated(100000) + QStringLiteral("a == 1");
    EXPECT_EQ(Predicate::parse(nots, {}, &error), nullptr);
    // A long flat chain is not nesting and must still work.
    QStringList terms;
    for (int i = 0; i < 5000; ++i)
        terms << QStringLiteral("a != %1").arg(i);
    auto flat = mustParse(terms.join(QStringLiteral(" AND ")));
    ASSERT_TRUE(flat);
    EXPECT_TRUE(flat->evaluate([](const QString&) { return QVariant(-1); }));
}

TEST(Predicate, RandomTokenSoupNeverCrashesAndWrittenFormsReadBack)
{
    QRandomGenerator rng(4242);
    const QStringList pieces{"a",
                             "text",
                             "uuid",
                             "==",
                             "!=",
                             "<",
                             ">=",
                             "AND",
                             "OR",
                             "NOT",
                             "(",
                             ")",
                             "contains[cd]",
                             "BEGINSWITH",
                             "LIKE[c]",
                             "%@",
                             "%K",
                             "YES",
                             "nil",
                             "1.5",
                             "-2",
                             "\"q\\\"\"",
                             "'x'",
                             "[",
                             "]",
                             "&&",
                             "||",
                             "!",
                             "TRUEPREDICATE",
                             "#",
                             "1e",
                             ".5",
                             "\u00e9"};
    int parsed = 0;
    for (int round = 0; round < 20000; ++round) {
        QStringList tokens;
        for (int i = int(rng.bounded(1, 12)); i > 0; --i)
            tokens << pieces[int(rng.bounded(pieces.size()))];
        const QString format = tokens.join(QLatin1Char(' '));
        auto p = Predicate::parse(format, {"text", QStringLiteral("W"), 3, QVariant()});
        if (!p)
            continue;
        ++parsed;
        p->evaluate([](const QString& key) {
            return key == QLatin1String("a") ? QVariant(1) : QVariant(QStringLiteral("T"));
        });
        p->toSql([](const QString& key) { return QStringLiteral("\"%1\"").arg(key); });
        auto again = Predicate::parse(p->format());
        ASSERT_TRUE(again) << format.toStdString() << " -> " << p->format().toStdString();
        EXPECT_EQ(again->format(), p->format());
    }
    EXPECT_GT(parsed, 100);
    // A key named like a reserved word is written escaped, and reads back.
    auto reserved = mustParse(QStringLiteral("%K == 1"), {"AND"});
    ASSERT_TRUE(reserved);
    EXPECT_EQ(reserved->format(), QStringLiteral("#AND == 1"));
    auto back = mustParse(reserved->format());
    ASSERT_TRUE(back);
    EXPECT_TRUE(back->evaluate(
        [](const QString& key) { return key == QLatin1String("AND") ? QVariant(1) : QVariant(); }));
}

TEST(Predicate, FormatWritesNumbersInTheCLocaleUnderAGermanLocale)
{
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    std::setlocale(LC_NUMERIC, "de_DE.UTF-8"); // may be missing; QLocale covers Qt's side
    auto p = mustParse(QStringLiteral("modified < %@ AND archived == %@ AND uuid == %@"),
                       {1700000000.25, true, QStringLiteral("a\"b")});
    ASSERT_TRUE(p);
    EXPECT_EQ(p->format(),
              QStringLiteral("modified < 1700000000.25 AND archived == YES AND uuid == \"a\\\"b\""));
    // The written form reads back to the same predicate.
    auto again = mustParse(p->format());
    ASSERT_TRUE(again);
    EXPECT_EQ(again->format(), p->format());
    QLocale::setDefault(QLocale::c());
    std::setlocale(LC_NUMERIC, "C");
}

// ------------------------------------------------------------ SQL path

class SqlDatabase
{
public:
    SqlDatabase()
    {
        sqlite3_open(":memory:", &m_db);
        EXPECT_TRUE(platform::registerSqliteFunctions(m_db));
        exec("CREATE TABLE note (id INTEGER PRIMARY KEY, uuid TEXT, text TEXT, modified REAL, archived "
             "INTEGER, removed INTEGER)");
    }
    ~SqlDatabase() { sqlite3_close(m_db); }

    void exec(const char* sql)
    {
        char* message = nullptr;
        ASSERT_EQ(sqlite3_exec(m_db, sql, nullptr, nullptr, &message), SQLITE_OK) << (message ? message : "");
    }

    void insert(int id, const Record& r)
    {
        sqlite3_stmt* stmt = nullptr;
        sqlite3_prepare_v2(m_db, "INSERT INTO note VALUES (?,?,?,?,?,?)", -1, &stmt, nullptr);
        sqlite3_bind_int(stmt, 1, id);
        bind(stmt, 2, r.value("uuid"));
        bind(stmt, 3, r.value("text"));
        bind(stmt, 4, r.value("modified"));
        bind(stmt, 5, r.value("archived"));
        bind(stmt, 6, r.value("removed"));
        EXPECT_EQ(sqlite3_step(stmt), SQLITE_DONE);
        sqlite3_finalize(stmt);
    }

    std::vector<int> select(const Predicate& p)
    {
        const platform::SqlWhere where = p.toSql([](const QString& key) {
            static const QStringList columns{"uuid", "text", "modified", "archived", "removed"};
            return columns.contains(key) ? QStringLiteral("\"%1\"").arg(key) : QString();
        });
        const QByteArray sql = ("SELECT id FROM note WHERE " + where.clause + " ORDER BY id").toUtf8();
        sqlite3_stmt* stmt = nullptr;
        std::vector<int> ids;
        const int rc = sqlite3_prepare_v2(m_db, sql.constData(), -1, &stmt, nullptr);
        EXPECT_EQ(rc, SQLITE_OK) << sql.constData() << ": " << sqlite3_errmsg(m_db);
        if (rc != SQLITE_OK)
            return ids;
        for (int i = 0; i < where.bindings.size(); ++i)
            bind(stmt, i + 1, where.bindings[i]);
        while (sqlite3_step(stmt) == SQLITE_ROW)
            ids.push_back(sqlite3_column_int(stmt, 0));
        sqlite3_finalize(stmt);
        return ids;
    }

private:
    static void bind(sqlite3_stmt* stmt, int index, const QVariant& v)
    {
        if (!v.isValid() || v.isNull()) {
            sqlite3_bind_null(stmt, index);
        } else if (v.typeId() == QMetaType::QString) {
            const QByteArray utf8 = v.toString().toUtf8();
            sqlite3_bind_text(stmt, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
        } else if (v.typeId() == QMetaType::Double) {
            sqlite3_bind_double(stmt, index, v.toDouble());
        } else {
            sqlite3_bind_int64(stmt, index, v.toLongLong());
        }
    }
    sqlite3* m_db = nullptr;
};

std::vector<Record> generatedNotes(int count)
{
    QRandomGenerator rng(20240601);
    const QStringList words{"Crème", "brûlée", "ÉCOLE",      "ecole", "Straße", "naïve",
                            "100%",  "it's",   "\"quoted\"", "",      "日本語"};
    std::vector<Record> notes;
    for (int i = 0; i < count; ++i) {
        Record r;
        if (rng.bounded(10))
            r["uuid"] = QStringLiteral("U%1").arg(rng.bounded(20));
        if (rng.bounded(8)) {
            QStringList text;
            for (int w = int(rng.bounded(4)); w > 0; --w)
                text << words[int(rng.bounded(words.size()))];
            r["text"] = text.join(QLatin1Char(' '));
        }
        if (rng.bounded(8))
            r["modified"] = 1700000000.0 + rng.bounded(100) / 4.0;
        if (rng.bounded(8))
            r["archived"] = bool(rng.bounded(2));
        if (rng.bounded(8))
            r["removed"] = bool(rng.bounded(2));
        notes.push_back(r);
    }
    return notes;
}

TEST(PredicateSql, AgreesWithInMemoryEvaluationOnGeneratedNotes)
{
    SqlDatabase db;
    const auto notes = generatedNotes(400);
    for (int i = 0; i < int(notes.size()); ++i)
        db.insert(i, notes[i]);

    const std::vector<std::pair<QString, QVariantList>> filters = {
        {"archived == NO", {}},
        {"archived != YES", {}},
        {"NOT archived == YES", {}},
        {"NOT (archived == YES OR removed == YES)", {}},
        {"uuid == %@", {"U3"}},
        {"uuid == nil", {}},
        {"NOT uuid != nil", {}},
        {"uuid == %@ AND modified >= %@", {"U4", 1700000010.0}},
        {"archived == YES AND modified < 1700000012.500000", {}},
        {"removed == NO AND ((archived == NO OR modified > 1700000020.000000) AND ((text contains[cd] %@) "
         "AND (text contains[cd] %@)))",
         {"ecole", ""}},
        {"text contains[cd] %@", {"STRASSE"}},
        {"text contains[cd] %@", {"straße"}},
        {"text contains[d] %@", {"Creme"}},
        {"text contains[c] %@", {"école"}},
        {"text contains %@", {"100%"}},
        {"text contains %@", {"' OR 1=1 --"}},
        {"text beginswith[cd] %@", {"naive"}},
        {"NOT text contains[cd] %@", {"brulee"}},
        {"text LIKE[cd] %@", {"*ecole*"}},
        {"modified > %@", {QStringLiteral("1700000015")}},
        {"unknownKey == 1 OR archived == YES", {}},
        {"NOT unknownKey == 1", {}},
        {"text contains[cd] %@", {QString::fromUtf8("日本")}},
    };
    for (const auto& [format, args] : filters) {
        auto p = mustParse(format, args);
        ASSERT_TRUE(p);
        std::vector<int> expected;
        for (int i = 0; i < int(notes.size()); ++i) {
            if (p->evaluate([&](const QString& key) { return notes[i].value(key); }))
                expected.push_back(i);
        }
        EXPECT_EQ(db.select(*p), expected) << format.toStdString();
    }
}

TEST(PredicateSql, ArgumentsAreBoundNotPasted)
{
    auto p =
        mustParse(QStringLiteral("uuid == %@ AND text contains[cd] %@"), {"x'); DROP TABLE note; --", "%_"});
    ASSERT_TRUE(p);
    const auto where = p->toSql([](const QString& key) { return QStringLiteral("\"%1\"").arg(key); });
    EXPECT_FALSE(where.clause.contains(QStringLiteral("DROP")));
    EXPECT_EQ(where.bindings, (QVariantList{"x'); DROP TABLE note; --", "%_"}));
}

} // namespace
