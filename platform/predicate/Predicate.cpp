#include "platform/predicate/Predicate.h"

namespace platform {

struct Predicate::Node {};

Predicate::Predicate(std::shared_ptr<const Node> root) : m_root(std::move(root)) {}
Predicate::~Predicate() = default;

std::shared_ptr<const Predicate> Predicate::parse(const QString&, const QVariantList&, QString* error) {
    if (error)
        *error = QStringLiteral("not implemented yet");
    return nullptr;
}

bool Predicate::evaluate(const std::function<QVariant(const QString&)>&) const { return false; }
SqlWhere Predicate::toSql(const std::function<QString(const QString&)>&) const { return {QStringLiteral("0"), {}}; }
QString Predicate::format() const { return {}; }
bool registerSqliteFunctions(sqlite3*) { return true; }
QString foldForComparison(const QString& text, bool, bool) { return text; }

}  // namespace platform
