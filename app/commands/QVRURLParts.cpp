#include "app/commands/QVRURLParts.h"

#include <QRegularExpression>
#include <QUrl>

std::optional<QVRURLParts> QVRURLParts::parse(const QString& text)
{
    static const QRegularExpression schemePattern(QStringLiteral("^([A-Za-z][A-Za-z0-9+.-]*):"));
    const QRegularExpressionMatch match = schemePattern.match(text);
    if (!match.hasMatch() || !QUrl(text, QUrl::StrictMode).isValid())
        return std::nullopt;
    QVRURLParts parts;
    parts.scheme = match.captured(1);
    QStringView rest = QStringView(text).mid(match.capturedLength());
    const qsizetype fragment = rest.indexOf(QLatin1Char('#'));
    if (fragment >= 0)
        rest = rest.left(fragment);
    const qsizetype question = rest.indexOf(QLatin1Char('?'));
    if (question >= 0) {
        parts.hasQuery = true;
        parts.query = rest.mid(question + 1).toString();
        rest = rest.left(question);
    }
    if (rest.startsWith(QLatin1String("//"))) {
        QStringView authority = rest.mid(2);
        const qsizetype slash = authority.indexOf(QLatin1Char('/'));
        if (slash >= 0)
            authority = authority.left(slash);
        const qsizetype at = authority.lastIndexOf(QLatin1Char('@'));
        if (at >= 0)
            authority = authority.mid(at + 1);
        // A port follows the last ":" unless the host is a bracketed address.
        const qsizetype colon = authority.lastIndexOf(QLatin1Char(':'));
        if (colon >= 0 && !authority.mid(colon).contains(QLatin1Char(']')))
            authority = authority.left(colon);
        parts.host = authority.toString();
    }
    return parts;
}
