#pragma once

#include <QString>
#include <QVariant>
#include <QVariantList>

#include <functional>
#include <memory>
#include <optional>

struct sqlite3;

namespace platform {

// A WHERE clause with its values kept apart, to be bound as parameters.
struct SqlWhere
{
    QString clause;
    QVariantList bindings;
};

// A filter written in the predicate format: key paths; YES/NO/TRUE/FALSE/NIL,
// numbers and quoted strings; %@ (value) and %K (key) arguments; the
// comparisons ==, !=, <, <=, >, >=; CONTAINS and BEGINSWITH with the options
// [c], [d] and [cd]; AND, OR, NOT (also &&, ||, !) and parentheses.
//
// A comparison against a missing value is false except `== nil`; numbers and
// booleans compare numerically; [c] folds case and [d] drops diacritics on
// both sides, as TextFolding does. An empty CONTAINS word matches everything.
class Predicate
{
public:
    struct Node;

    // nullptr, with `error` set, when `format` does not parse or the
    // arguments do not match its %@/%K placeholders.
    static std::shared_ptr<const Predicate> parse(const QString& format, const QVariantList& arguments = {},
                                                  QString* error = nullptr);

    using ValueForKey = std::function<QVariant(const QString& key)>;
    // The text of `valueForKey(key)` already passed through
    // TextFolding::fold() with these options, or nullopt to have it folded
    // here. Lets a caller that filters the same records again and again keep
    // the folded texts instead of folding every text on every pass.
    using FoldedValueForKey = std::function<std::optional<QString>(const QString& key, bool caseInsensitive,
                                                                   bool diacriticInsensitive)>;

    bool evaluate(const ValueForKey& valueForKey) const;
    bool evaluate(const ValueForKey& valueForKey, const FoldedValueForKey& foldedValueForKey) const;

    // `columnForKey` maps a key to its quoted column expression; an empty
    // result makes that comparison false. The clause needs the functions of
    // registerSqliteFunctions() on the connection.
    SqlWhere toSql(const std::function<QString(const QString& key)>& columnForKey) const;

    // The predicate written back in its own format, with arguments in place.
    QString format() const;

    explicit Predicate(std::shared_ptr<const Node> root);
    ~Predicate();

private:
    std::shared_ptr<const Node> m_root;
};

// Registers the SQL functions quillary_contains(haystack, needle, options) and
// quillary_beginswith(...) that the clauses of Predicate::toSql call, so that
// SQL and in-memory evaluation agree. Returns false if SQLite refused them.
bool registerSqliteFunctions(sqlite3* db);

} // namespace platform
