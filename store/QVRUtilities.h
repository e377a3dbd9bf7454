#pragma once

#include <QMap>
#include <QString>
#include <QVariant>

namespace platform {
class UserDefaults;
}

// Posted on the default notification centre, with the defaults object that
// changed as sender, by the QVRUtilities setters when asked to announce.
extern const QString QVRUserDefaultsDidChangeNotification;
// User-info keys: the defaults key that changed (always) and its new value
// (only when there is one).
extern const QString QVRUserDefaultsKey;
extern const QString QVRUserDefaultsValue;

// Helpers on strings, settings and file names. A null QString stands for a
// missing string throughout.
namespace QVRUtilities {

// Strings ------------------------------------------------------------------

// True when both are missing, false when only one is, else equality.
bool string(const QString& a, const QString& b);

// The identifier without a "-<digits>" copy suffix, spelled as notes are
// stored (normalizedUUID): a UUID in any case, or a 13-23 character
// alphanumeric id. Null when `s` is neither.
QString validUUID(const QString& s);
// The spelling a note identifier is stored and looked up under: a UUID
// (8-4-4-4-12, with or without a copy suffix) upper-case, whatever case it
// came in; anything else unchanged. Identifiers from scripts and files pass
// through here, so that "0f8fad5b-…" and "0F8FAD5B-…" name the same note.
QString normalizedUUID(const QString& s);

bool hasValue(const QString& s);
bool hasTrimmedValue(const QString& s);
// Trimmed of white space and line breaks (Unicode) at both ends.
QString trimmedString(const QString& s);

// At most `maximum` UTF-16 units: cut on a character boundary, drop trailing
// punctuation and spaces, and end with "…".
QString trimToLength(const QString& s, quint64 maximum);
// The longest start of `s` of at most `maximum` UTF-16 units that ends
// between two characters: never inside a surrogate pair or between a base
// character and its marks.
QString leftOnCharacterBoundary(const QString& s, qsizetype maximum);

// True when every character is a letter, digit or mark ("" is true).
bool isAlphaNumeric(const QString& s);
// True when `s` starts with "http://" or "https://" (case-sensitive).
bool isURL(const QString& s);

// Percent-escapes every byte of the UTF-8 text outside the unreserved URL
// characters, for form bodies.
QString fullEscape(const QString& s);

// Every run of white space becomes one space.
QString reduceSpaces(const QString& s);
// CR LF and lone CR become LF.
QString normalizeLineEndings(const QString& s);

// `s` + "&key=" + fullEscape(value); `s` unchanged when key or value is missing.
QString addKey(const QString& s, const QString& key, const QString& value);
// As above with the key "<key><n>".
QString addKey(const QString& s, const QString& key, const QString& value, qint64 n);

// Splits "a=1&b=%20" into keys and decoded values. A key ends at its part's
// first "="; the value is all the rest, further "=" included. A part without
// "=" is skipped; a value with an invalid escape removes its key; "+" stays "+".
QMap<QString, QString> dictionaryFromQuery(const QString& query);

// Decodes percent escapes; null when an escape is malformed or the bytes are
// not UTF-8.
QString removingPercentEncoding(const QString& s);

// User defaults ------------------------------------------------------------

// Posts QVRUserDefaultsDidChangeNotification for `key`; an invalid `value`
// leaves QVRUserDefaultsValue out of the user info.
void postNotificationForKey(platform::UserDefaults& defaults, const QString& key, const QVariant& value);
void setValue(platform::UserDefaults& defaults, const QVariant& value, const QString& key, bool post);
void setBool(platform::UserDefaults& defaults, bool value, const QString& key, bool post);
void setInteger(platform::UserDefaults& defaults, qint64 value, const QString& key, bool post);
void removeObjectForKey(platform::UserDefaults& defaults, const QString& key, bool post);
// Reads the integer under `key` (0 when absent), adds one, stores and returns it.
qint64 incrementedIntegerForKey(platform::UserDefaults& defaults, const QString& key);
// Moves the value under `key` to `other`. False, changing nothing, when there
// is no value or when both are the same settings.
bool transferObjectForKey(platform::UserDefaults& defaults, const QString& key,
                          platform::UserDefaults& other);

// Files --------------------------------------------------------------------

// A path in `folder` named after `name` (":" and "/" made "-", spaces
// reduced, at most 40 characters) with `extension`, that names no existing
// file: "name.ext", else "name-1.ext", "name-2.ext", ...
QString urlForFileName(const QString& name, const QString& extension, const QString& folder);

// The user's Documents folder, and its "Inbox" subfolder.
QString pathForDocuments();
QString pathForInbox();

// Whether a note's uuid may name its file: not empty, not "." or "..", and
// without "/", "\" or NUL, so that it can never reach outside its folder.
// Every other form (lower case, other clients' ids) is welcome.
bool isSafeUUID(const QString& uuid);

} // namespace QVRUtilities

namespace QVRURLPartEncoding {
// The ASCII characters allowed unescaped in a URL query part: the query set
// without "?&=@+/'".
const QByteArray& URLQueryPartAllowedCharacterSet();
} // namespace QVRURLPartEncoding
