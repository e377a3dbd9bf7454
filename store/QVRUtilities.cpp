#include "store/QVRUtilities.h"

#include "platform/core/Log.h"
#include "platform/core/NotificationCenter.h"
#include "platform/core/UserDefaults.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QStringList>
#include <QTextBoundaryFinder>
#include <QUrl>

const QString QVRUserDefaultsDidChangeNotification = QStringLiteral("QVRUserDefaultsDidChangeNotification");
const QString QVRUserDefaultsKey = QStringLiteral("QVRUserDefaultsKey");
const QString QVRUserDefaultsValue = QStringLiteral("QVRUserDefaultsValue");

namespace QVRUtilities {

namespace {

// "\s" must also match U+00A0, U+2028 and the other Unicode spaces.
const QRegularExpression& whiteSpaceRuns()
{
    static const QRegularExpression re(QStringLiteral("\\s+"),
                                       QRegularExpression::UseUnicodePropertiesOption);
    return re;
}

// The largest grapheme boundary at or before `position`, so a cut never
// splits a surrogate pair or a base character from its marks.
qsizetype boundaryAtOrBefore(const QString& s, qsizetype position)
{
    if (position <= 0)
        return 0;
    if (position >= s.size())
        return s.size();
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, s);
    finder.setPosition(position);
    if (finder.isAtBoundary())
        return position;
    const qsizetype previous = finder.toPreviousBoundary();
    return previous < 0 ? 0 : previous;
}

// The smallest grapheme boundary at or after `position`.
qsizetype boundaryAtOrAfter(const QString& s, qsizetype position)
{
    if (position <= 0)
        return 0;
    if (position >= s.size())
        return s.size();
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, s);
    finder.setPosition(position);
    if (finder.isAtBoundary())
        return position;
    const qsizetype next = finder.toNextBoundary();
    return next < 0 ? s.size() : next;
}

// A UUID's 8-4-4-4-12 form, letters in either case.
QString uuidForm()
{
    return QStringLiteral("[A-Za-z0-9]{8}-[A-Za-z0-9]{4}-[A-Za-z0-9]{4}-[A-Za-z0-9]{4}-[A-Za-z0-9]{12}");
}

bool isWhiteSpaceOrNewline(QChar c)
{
    // The Unicode white-space set plus line and paragraph separators and the
    // other control characters of the newline set.
    return c.isSpace() || c == QChar(0x85) || c == QChar(0x2028) || c == QChar(0x2029);
}

} // namespace

bool string(const QString& a, const QString& b)
{
    if (a.isNull() || b.isNull())
        return a.isNull() && b.isNull();
    return a == b;
}

QString normalizedUUID(const QString& s)
{
    // Only the 8-4-4-4-12 form has a case of its own to settle on: tools
    // print it in lower case (uuidgen) while every note of ours carries it
    // upper-case. The shorter ids of other clients are the service's own and
    // keep their spelling, so that they still name the service's record.
    static const QRegularExpression uuid(QLatin1Char('^') + uuidForm() + QStringLiteral("(-[0-9]+)?$"));
    if (s.isNull() || !uuid.match(s).hasMatch())
        return s;
    return s.toUpper();
}

QString validUUID(const QString& s)
{
    static const QRegularExpression re(QStringLiteral("^(") + uuidForm() +
                                       QStringLiteral("|[A-Za-z0-9]{13,23})(-[0-9]+)?$"));
    if (s.isNull())
        return {};
    const QRegularExpressionMatch match = re.match(s);
    if (!match.hasMatch())
        return {};
    return normalizedUUID(match.captured(1));
}

bool hasValue(const QString& s)
{
    return !s.isEmpty();
}

bool hasTrimmedValue(const QString& s)
{
    return hasValue(trimmedString(s));
}

QString trimmedString(const QString& s)
{
    if (s.isNull())
        return {};
    qsizetype start = 0;
    qsizetype end = s.size();
    while (start < end && isWhiteSpaceOrNewline(s[start]))
        ++start;
    while (end > start && isWhiteSpaceOrNewline(s[end - 1]))
        --end;
    return s.mid(start, end - start);
}

QString trimToLength(const QString& s, quint64 maximum)
{
    if (quint64(s.size()) <= maximum)
        return s;
    // A maximum below 2 leaves room for nothing but the ellipsis; computing
    // maximum - 2 unsigned would wrap around to a huge length.
    const qsizetype keep = maximum >= 2 ? qsizetype(maximum - 2) : 0;
    // Whole composed characters covering the first `keep` units.
    QString cut = s.left(boundaryAtOrAfter(s, keep));
    static const QRegularExpression trailing(QStringLiteral("[[:punct:][:space:]]*$"),
                                             QRegularExpression::UseUnicodePropertiesOption);
    if (!trailing.isValid()) {
        platform::log(QStringLiteral("Error creating regular expression for trimToLength: %1, %2")
                          .arg(trailing.pattern(), trailing.errorString()));
        return cut + QChar(0x2026);
    }
    cut.remove(trailing);
    return cut + QChar(0x2026);
}

QString leftOnCharacterBoundary(const QString& s, qsizetype maximum)
{
    return s.left(boundaryAtOrBefore(s, maximum));
}

bool isAlphaNumeric(const QString& s)
{
    for (char32_t cp : s.toUcs4()) {
        if (!(QChar::isLetterOrNumber(cp) || QChar::isMark(cp)))
            return false;
    }
    return true;
}

bool isURL(const QString& s)
{
    static const QRegularExpression re(QStringLiteral("^https?://"));
    return re.match(s).hasMatch();
}

QString fullEscape(const QString& s)
{
    if (s.isNull())
        return {};
    // Only the unreserved characters stay as they are; every other byte of
    // the UTF-8 text, "%" included, becomes an upper-case escape.
    return QString::fromLatin1(QUrl::toPercentEncoding(s));
}

QString reduceSpaces(const QString& s)
{
    QString out = s;
    return out.replace(whiteSpaceRuns(), QStringLiteral(" "));
}

QString normalizeLineEndings(const QString& s)
{
    static const QRegularExpression re(QStringLiteral("(\\r\\n|\\r|\\n)"));
    QString out = s;
    return out.replace(re, QStringLiteral("\n"));
}

QString addKey(const QString& s, const QString& key, const QString& value)
{
    if (key.isNull() || value.isNull())
        return s;
    return s + QLatin1Char('&') + key + QLatin1Char('=') + fullEscape(value);
}

QString addKey(const QString& s, const QString& key, const QString& value, qint64 n)
{
    if (key.isNull())
        return s;
    return addKey(s, key + QString::number(n), value);
}

QString removingPercentEncoding(const QString& s)
{
    if (s.isNull())
        return {};
    QByteArray bytes;
    bytes.reserve(s.size());
    const QByteArray utf8 = s.toUtf8();
    auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        return -1;
    };
    for (qsizetype i = 0; i < utf8.size(); ++i) {
        if (utf8[i] != '%') {
            bytes += utf8[i];
            continue;
        }
        if (i + 2 >= utf8.size())
            return {};
        const int hi = hex(utf8[i + 1]);
        const int lo = hex(utf8[i + 2]);
        if (hi < 0 || lo < 0)
            return {};
        bytes += char(hi * 16 + lo);
        i += 2;
    }
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString decoded = decoder.decode(bytes);
    if (decoder.hasError())
        return {};
    if (decoded.isNull())
        decoded = QStringLiteral("");
    return decoded;
}

QMap<QString, QString> dictionaryFromQuery(const QString& query)
{
    QMap<QString, QString> result;
    const QStringList parts = query.split(QLatin1Char('&'));
    for (const QString& part : parts) {
        // Only the first "=" separates: a value such as "a=b" (a sum, a
        // link with its own query) is kept whole.
        const qsizetype equals = part.indexOf(QLatin1Char('='));
        if (equals < 0)
            continue;
        const QString key = part.left(equals);
        const QString value = removingPercentEncoding(part.mid(equals + 1));
        if (value.isNull())
            result.remove(key);
        else
            result.insert(key, value);
    }
    return result;
}

void postNotificationForKey(platform::UserDefaults& defaults, const QString& key, const QVariant& value)
{
    QVariantMap info;
    info.insert(QVRUserDefaultsKey, key);
    if (value.isValid() && !value.isNull())
        info.insert(QVRUserDefaultsValue, value);
    platform::NotificationCenter::defaultCenter().post(QVRUserDefaultsDidChangeNotification, &defaults, info);
}

void setValue(platform::UserDefaults& defaults, const QVariant& value, const QString& key, bool post)
{
    defaults.set(key, value);
    if (post)
        postNotificationForKey(defaults, key, value);
}

void setBool(platform::UserDefaults& defaults, bool value, const QString& key, bool post)
{
    setValue(defaults, QVariant(value), key, post);
}

void setInteger(platform::UserDefaults& defaults, qint64 value, const QString& key, bool post)
{
    setValue(defaults, QVariant(value), key, post);
}

void removeObjectForKey(platform::UserDefaults& defaults, const QString& key, bool post)
{
    defaults.remove(key);
    if (post)
        postNotificationForKey(defaults, key, QVariant());
}

qint64 incrementedIntegerForKey(platform::UserDefaults& defaults, const QString& key)
{
    const qint64 value = defaults.integer(key) + 1;
    defaults.set(key, value);
    return value;
}

bool transferObjectForKey(platform::UserDefaults& defaults, const QString& key, platform::UserDefaults& other)
{
    // Moving a key onto the same settings would store it and then remove it,
    // losing the value while reporting success.
    if (&defaults == &other ||
        QFileInfo(defaults.filePath()).absoluteFilePath() == QFileInfo(other.filePath()).absoluteFilePath())
        return false;
    const QVariant value = defaults.object(key);
    if (!value.isValid() || value.isNull())
        return false;
    other.set(key, value);
    defaults.remove(key);
    return true;
}

QString urlForFileName(const QString& name, const QString& extension, const QString& folder)
{
    QString base = name;
    base.replace(QLatin1Char(':'), QLatin1Char('-')).replace(QLatin1Char('/'), QLatin1Char('-'));
    base = reduceSpaces(base);
    if (base.size() >= 41)
        base = base.left(boundaryAtOrBefore(base, 39)) + QChar(0x2026);
    const QDir dir(folder);
    QString candidate = dir.filePath(QStringLiteral("%1.%2").arg(base, extension));
    for (quint64 n = 1; QFileInfo::exists(candidate) || QFileInfo(candidate).isSymLink(); ++n)
        candidate = dir.filePath(QStringLiteral("%1-%2.%3").arg(base).arg(n).arg(extension));
    return candidate;
}

QString pathForDocuments()
{
    const QStringList paths = QStandardPaths::standardLocations(QStandardPaths::DocumentsLocation);
    return paths.isEmpty() ? QDir::homePath() + QStringLiteral("/Documents") : paths.first();
}

QString pathForInbox()
{
    return QDir(pathForDocuments()).filePath(QStringLiteral("Inbox"));
}

bool isSafeUUID(const QString& uuid)
{
    return !uuid.isEmpty() && uuid != QLatin1String(".") && uuid != QLatin1String("..") &&
           !uuid.contains(QLatin1Char('/')) && !uuid.contains(QLatin1Char('\\')) &&
           !uuid.contains(QChar(u'\0'));
}

} // namespace QVRUtilities

namespace QVRURLPartEncoding {

const QByteArray& URLQueryPartAllowedCharacterSet()
{
    // The query-allowed set: unreserved characters, sub-delimiters, ":", "@",
    // "/" and "?"; minus the characters that delimit a query part.
    static const QByteArray set = [] {
        QByteArray chars;
        const QByteArray excluded("?&=@+/'");
        for (int c = 0x21; c < 0x7f; ++c) {
            const bool allowed = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                                 QByteArray("-._~!$&'()*+,;=:@/?").contains(char(c));
            if (allowed && !excluded.contains(char(c)))
                chars += char(c);
        }
        return chars;
    }();
    return set;
}

} // namespace QVRURLPartEncoding
