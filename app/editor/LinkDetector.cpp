#include "app/editor/LinkDetector.h"

#include <QRegularExpression>

namespace LinkDetector {

namespace {

// A link never runs into white space, angle brackets or quotes; trailing
// sentence punctuation is trimmed afterwards. A match starts only where no
// address character comes before it, so that a long run of such characters
// is scanned once rather than from each of its positions.
const QRegularExpression& linkPattern()
{
    static const QRegularExpression pattern(
        QStringLiteral(
            R"((?<![\w@.%+\-])(?:(?:https?://|www\.)[^\s<>"]+|(?:mailto:)?[\w.%+\-]+@[\w\-]+(?:\.[\w\-]+)+))"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::UseUnicodePropertiesOption);
    return pattern;
}

// Drops punctuation that ends a sentence rather than the address, and a
// closing bracket that has no opening one inside the link.
qsizetype trimmedLength(QStringView link)
{
    const char16_t closers[] = {u')', u']', u'}'};
    const char16_t openers[] = {u'(', u'[', u'{'};
    qsizetype balance[3] = {0, 0, 0}; // closers minus openers
    for (QChar c : link) {
        for (int i = 0; i < 3; ++i) {
            if (c == closers[i])
                ++balance[i];
            else if (c == openers[i])
                --balance[i];
        }
    }
    qsizetype length = link.size();
    while (length > 0) {
        const QChar last = link.at(length - 1);
        if (QStringView(u".,:;!?'").contains(last)) {
            --length;
            continue;
        }
        const qsizetype bracket = QStringView(closers, 3).indexOf(last);
        if (bracket >= 0 && balance[bracket] > 0) {
            --balance[bracket];
            --length;
            continue;
        }
        break;
    }
    return length;
}

QUrl urlForMatch(QStringView text)
{
    const QString s = text.toString();
    if (s.startsWith(QLatin1String("http://"), Qt::CaseInsensitive) ||
        s.startsWith(QLatin1String("https://"), Qt::CaseInsensitive))
        return QUrl(s, QUrl::StrictMode);
    if (s.startsWith(QLatin1String("www."), Qt::CaseInsensitive))
        return QUrl(QStringLiteral("http://") + s, QUrl::StrictMode);
    if (s.startsWith(QLatin1String("mailto:"), Qt::CaseInsensitive))
        return QUrl(s, QUrl::StrictMode);
    return QUrl(QStringLiteral("mailto:") + s, QUrl::StrictMode);
}

} // namespace

QList<Link> linksInText(QStringView text)
{
    QList<Link> links;
    QRegularExpressionMatchIterator it = linkPattern().globalMatch(text);
    while (it.hasNext()) {
        const QRegularExpressionMatch match = it.next();
        const qsizetype length = trimmedLength(match.capturedView());
        if (length == 0)
            continue;
        const QUrl url = urlForMatch(match.capturedView().left(length));
        if (url.isValid() && isSafeLink(url))
            links.append({match.capturedStart(), length, url});
    }
    return links;
}

bool isSafeLink(const QUrl& url)
{
    if (!url.isValid())
        return false;
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("http") || scheme == QLatin1String("https"))
        return !url.host().isEmpty();
    return scheme == QLatin1String("mailto") && !url.path().isEmpty();
}

} // namespace LinkDetector
