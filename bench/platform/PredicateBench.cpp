#include "platform/predicate/Predicate.h"

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <QRandomGenerator>
#include <QStringList>
#include <QVariantMap>

namespace {

const QString kSearch =
    QStringLiteral("removed == NO AND ((archived == NO OR modified > 1700000000.000000) AND "
                   "((text contains[cd] %@) AND (text contains[cd] %@) AND (text contains[cd] %@)))");

// Notes of about 2,000 characters of mixed accented text.
std::vector<QVariantMap> makeNotes(int count)
{
    QRandomGenerator rng(7);
    const QStringList words{"Crème", "brûlée", "école", "Straße", "naïve", "meeting", "notes",     "garçon",
                            "Ærø",   "résumé", "plan",  "budget", "über",  "façade",  "coöperate", "piñata"};
    std::vector<QVariantMap> notes;
    for (int i = 0; i < count; ++i) {
        QStringList text;
        for (int w = 0; w < 250; ++w)
            text << words[int(rng.bounded(words.size()))];
        notes.push_back({{"text", text.join(' ')},
                         {"removed", false},
                         {"archived", bool(rng.bounded(2))},
                         {"modified", 1690000000.0 + rng.bounded(20000000)}});
    }
    return notes;
}

void BM_FilterInMemory(benchmark::State& state)
{
    const auto notes = makeNotes(int(state.range(0)));
    auto p = platform::Predicate::parse(kSearch, {"ECOLE", "resume", "zzz"});
    for (auto _ : state) {
        int hits = 0;
        for (const auto& note : notes)
            hits += p->evaluate([&](const QString& key) { return note.value(key); });
        benchmark::DoNotOptimize(hits);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_FilterInMemory)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_FilterInSqlite(benchmark::State& state)
{
    const auto notes = makeNotes(int(state.range(0)));
    sqlite3* db = nullptr;
    sqlite3_open(":memory:", &db);
    platform::registerSqliteFunctions(db);
    sqlite3_exec(db, "CREATE TABLE note (text TEXT, removed INTEGER, archived INTEGER, modified REAL)",
                 nullptr, nullptr, nullptr);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO note VALUES (?,?,?,?)", -1, &insert, nullptr);
    for (const auto& n : notes) {
        const QByteArray text = n.value("text").toString().toUtf8();
        sqlite3_bind_text(insert, 1, text.constData(), int(text.size()), SQLITE_TRANSIENT);
        sqlite3_bind_int(insert, 2, 0);
        sqlite3_bind_int(insert, 3, n.value("archived").toBool());
        sqlite3_bind_double(insert, 4, n.value("modified").toDouble());
        sqlite3_step(insert);
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    auto p = platform::Predicate::parse(kSearch, {"ECOLE", "resume", "zzz"});
    const auto where = p->toSql([](const QString& key) { return QStringLiteral("\"%1\"").arg(key); });
    const QByteArray sql = ("SELECT count(*) FROM note WHERE " + where.clause).toUtf8();
    for (auto _ : state) {
        sqlite3_stmt* stmt = nullptr;
        sqlite3_prepare_v2(db, sql.constData(), -1, &stmt, nullptr);
        for (int i = 0; i < where.bindings.size(); ++i) {
            const QVariant& v = where.bindings[i];
            if (v.typeId() == QMetaType::QString) {
                const QByteArray s = v.toString().toUtf8();
                sqlite3_bind_text(stmt, i + 1, s.constData(), int(s.size()), SQLITE_TRANSIENT);
            } else if (v.typeId() == QMetaType::Double) {
                sqlite3_bind_double(stmt, i + 1, v.toDouble());
            } else {
                sqlite3_bind_int64(stmt, i + 1, v.toLongLong());
            }
        }
        sqlite3_step(stmt);
        benchmark::DoNotOptimize(sqlite3_column_int(stmt, 0));
        sqlite3_finalize(stmt);
    }
    sqlite3_close(db);
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_FilterInSqlite)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_Parse(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(platform::Predicate::parse(kSearch, {"a", "b", "c"}));
}
BENCHMARK(BM_Parse);

} // namespace
