#include "platform/plist/PropertyList.h"

#include "platform/plist/PropertyListBounds.h"

#include <QRegularExpression>

#include <plist/plist.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>

namespace platform {

namespace {

// Seconds between 1970-01-01 and 2001-01-01, the epoch of property-list dates.
constexpr double kAppleEpochOffset = 978307200.0;
constexpr int kMaxDepth = kPropertyListMaxDepth;

struct PlistDeleter
{
    void operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

void setError(QString* error, const QString& text)
{
    if (error)
        *error = text;
}

QVariant toVariant(plist_t node, int depth, QString* error)
{
    if (depth > kMaxDepth) {
        setError(error, QStringLiteral("The property list is nested too deeply."));
        return {};
    }
    switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
        uint8_t b = 0;
        plist_get_bool_val(node, &b);
        return QVariant(b != 0);
    }
    case PLIST_UINT: {
        uint64_t v = 0;
        plist_get_uint_val(node, &v);
        // The library keeps every integer unsigned: a negative number arrives
        // as its two's-complement bit pattern.
        return QVariant(static_cast<qint64>(v));
    }
    case PLIST_REAL: {
        double d = 0;
        plist_get_real_val(node, &d);
        return QVariant(d);
    }
    case PLIST_STRING: {
        // Taken with its length: a string may hold NUL characters, which the
        // library's copying accessor refuses by aborting.
        uint64_t length = 0;
        const char* s = plist_get_string_ptr(node, &length);
        return QVariant(s ? QString::fromUtf8(s, static_cast<qsizetype>(length))
                          : QString(QLatin1String("")));
    }
    case PLIST_DATA: {
        char* bytes = nullptr;
        uint64_t length = 0;
        plist_get_data_val(node, &bytes, &length);
        QByteArray data(bytes ? bytes : "", bytes ? static_cast<qsizetype>(length) : 0);
        free(bytes);
        return QVariant(data);
    }
    case PLIST_DATE: {
        int32_t sec = 0, usec = 0;
        plist_get_date_val(node, &sec, &usec);
        // Before 2001 the library truncates the seconds toward zero and hands
        // the fraction over as a positive count of microseconds.
        const double fraction = (sec < 0 ? -double(usec) : double(usec)) / 1e6;
        return QVariant::fromValue(PlistDate{double(sec) + fraction + kAppleEpochOffset});
    }
    case PLIST_ARRAY: {
        QVariantList list;
        const uint32_t n = plist_array_get_size(node);
        list.reserve(n);
        for (uint32_t i = 0; i < n; ++i) {
            QVariant item = toVariant(plist_array_get_item(node, i), depth + 1, error);
            if (!item.isValid())
                return {};
            list.append(item);
        }
        return QVariant(list);
    }
    case PLIST_DICT: {
        QVariantMap map;
        plist_dict_iter it = nullptr;
        plist_dict_new_iter(node, &it);
        if (!it)
            return QVariant(map);
        for (;;) {
            char* key = nullptr;
            plist_t value = nullptr;
            plist_dict_next_item(node, it, &key, &value);
            if (!value) {
                free(key);
                break;
            }
            QVariant item = toVariant(value, depth + 1, error);
            if (!item.isValid()) {
                free(key);
                free(it);
                return {};
            }
            map.insert(QString::fromUtf8(key ? key : ""), item);
            free(key);
        }
        free(it);
        return QVariant(map);
    }
    default:
        setError(error, QStringLiteral("The property list holds a value of an unknown type."));
        return {};
    }
}

plist_t fromVariant(const QVariant& value, int depth, QString* error)
{
    if (depth > kMaxDepth) {
        setError(error, QStringLiteral("The value is nested too deeply."));
        return nullptr;
    }
    if (value.canConvert<PlistDate>() && value.userType() == qMetaTypeId<PlistDate>()) {
        const double apple = value.value<PlistDate>().secondsSince1970 - kAppleEpochOffset;
        if (!std::isfinite(apple) || std::fabs(apple) > 2.0e9) {
            setError(error, QStringLiteral("The date is out of range."));
            return nullptr;
        }
        double whole = std::floor(apple);
        int32_t usec = static_cast<int32_t>(std::llround((apple - whole) * 1e6));
        if (usec >= 1000000) {
            whole += 1;
            usec -= 1000000;
        }
        return plist_new_date(static_cast<int32_t>(whole), usec);
    }
    switch (value.typeId()) {
    case QMetaType::Bool:
        return plist_new_bool(value.toBool() ? 1 : 0);
    case QMetaType::Int:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::Short:
    case QMetaType::Char:
    case QMetaType::SChar:
        return plist_new_uint(static_cast<uint64_t>(value.toLongLong()));
    case QMetaType::UInt:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
    case QMetaType::UShort:
    case QMetaType::UChar:
        return plist_new_uint(value.toULongLong());
    case QMetaType::Double:
    case QMetaType::Float:
        return plist_new_real(value.toDouble());
    case QMetaType::QString: {
        const QByteArray utf8 = value.toString().toUtf8();
        // The library takes strings up to the first NUL; cutting the text
        // there would lose the rest without a word.
        if (utf8.contains('\0')) {
            setError(error, QStringLiteral("A string with a NUL character has no property-list form here."));
            return nullptr;
        }
        return plist_new_string(utf8.constData());
    }
    case QMetaType::QByteArray: {
        const QByteArray bytes = value.toByteArray();
        return plist_new_data(bytes.constData(), static_cast<uint64_t>(bytes.size()));
    }
    case QMetaType::QVariantList:
    case QMetaType::QStringList: {
        plist_t array = plist_new_array();
        for (const QVariant& item : value.toList()) {
            plist_t child = fromVariant(item, depth + 1, error);
            if (!child) {
                plist_free(array);
                return nullptr;
            }
            plist_array_append_item(array, child);
        }
        return array;
    }
    case QMetaType::QVariantMap:
    case QMetaType::QVariantHash: {
        plist_t dict = plist_new_dict();
        const QVariantMap map = value.toMap();
        for (auto it = map.cbegin(); it != map.cend(); ++it) {
            plist_t child = fromVariant(it.value(), depth + 1, error);
            if (!child) {
                plist_free(dict);
                return nullptr;
            }
            plist_dict_set_item(dict, it.key().toUtf8().constData(), child);
        }
        return dict;
    }
    default:
        setError(error, QStringLiteral("A value of type %1 has no property-list form.")
                            .arg(QString::fromLatin1(value.typeName() ? value.typeName() : "(invalid)")));
        return nullptr;
    }
}

quint64 readBigEndian(const uchar* p, int size)
{
    quint64 v = 0;
    for (int i = 0; i < size; ++i)
        v = (v << 8) | p[i];
    return v;
}

// The library aborts the process when it hands over a dictionary key that
// holds a NUL character, so such files are found and refused before it
// parses them. Only strings are looked at; everything else about the file is
// left to the parser.
bool binaryHasStringWithNul(const QByteArray& data)
{
    const auto* bytes = reinterpret_cast<const uchar*>(data.constData());
    const quint64 size = quint64(data.size());
    if (size < 8 + 32)
        return false;
    const uchar* trailer = bytes + size - 32;
    const int offsetSize = trailer[6];
    const quint64 objects = readBigEndian(trailer + 8, 8);
    const quint64 tableOffset = readBigEndian(trailer + 24, 8);
    if (offsetSize < 1 || offsetSize > 8 || tableOffset >= size || objects > size ||
        objects * quint64(offsetSize) > size - tableOffset)
        return false;
    for (quint64 i = 0; i < objects; ++i) {
        const quint64 offset = readBigEndian(bytes + tableOffset + i * quint64(offsetSize), offsetSize);
        if (offset >= size)
            continue;
        const uchar marker = bytes[offset];
        const int type = marker >> 4;
        if (type != 0x5 && type != 0x6)
            continue;
        quint64 length = marker & 0x0F;
        quint64 start = offset + 1;
        if (length == 0x0F) {
            if (start >= size || (bytes[start] >> 4) != 0x1)
                continue;
            const int intSize = 1 << (bytes[start] & 0x0F);
            if (intSize > 8 || start + 1 + quint64(intSize) > size)
                continue;
            length = readBigEndian(bytes + start + 1, intSize);
            start += 1 + quint64(intSize);
        }
        const quint64 unit = type == 0x6 ? 2 : 1;
        if (length > size || start > size || length * unit > size - start)
            continue;
        for (quint64 c = 0; c < length; ++c) {
            const uchar* at = bytes + start + c * unit;
            if (at[0] == 0 && (unit == 1 || at[1] == 0))
                return true;
        }
    }
    return false;
}

// XML can spell a NUL as a character reference.
bool xmlHasNul(const QByteArray& data)
{
    if (data.contains('\0'))
        return true;
    static const QRegularExpression reference(QStringLiteral("&#(x0*|0+);"),
                                              QRegularExpression::CaseInsensitiveOption);
    return QString::fromLatin1(data).contains(reference);
}

bool looksLikePropertyList(const QByteArray& data)
{
    if (data.startsWith("bplist00"))
        return data.size() >= 8 + 32; // header plus trailer
    // XML: allow a byte-order mark and leading white space before the first tag.
    qsizetype i = 0;
    if (data.startsWith("\xEF\xBB\xBF"))
        i = 3;
    while (i < data.size() && std::strchr(" \t\r\n", data.at(i)) && data.at(i) != '\0')
        ++i;
    return i < data.size() && data.at(i) == '<';
}

} // namespace

QVariant readPropertyList(const QByteArray& data, QString* error)
{
    if (data.isEmpty() || data.size() > std::numeric_limits<int32_t>::max() || !looksLikePropertyList(data)) {
        setError(error, QStringLiteral("The data is not a property list."));
        return {};
    }
    // The library follows nesting by recursion while it parses and frees:
    // what could exhaust the stack is refused before it sees it.
    std::string problem;
    if (!propertyListWithinBounds(data.constData(), std::size_t(data.size()), &problem)) {
        setError(error, QString::fromStdString(problem));
        return {};
    }
    if (data.startsWith("bplist00") ? binaryHasStringWithNul(data) : xmlHasNul(data)) {
        setError(error, QStringLiteral("The property list holds a string with a NUL character."));
        return {};
    }
    plist_t root = nullptr;
    plist_from_memory(data.constData(), static_cast<uint32_t>(data.size()), &root);
    if (!root) {
        setError(error, QStringLiteral("The data is not a property list."));
        return {};
    }
    PlistPtr owner(root);
    return toVariant(root, 0, error);
}

QByteArray writePropertyList(const QVariant& value, PropertyListFormat format, QString* error)
{
    plist_t root = fromVariant(value, 0, error);
    if (!root)
        return {};
    PlistPtr owner(root);
    char* out = nullptr;
    uint32_t length = 0;
    if (format == PropertyListFormat::Binary)
        plist_to_bin(root, &out, &length);
    else
        plist_to_xml(root, &out, &length);
    if (!out) {
        setError(error, QStringLiteral("The property list could not be written."));
        return {};
    }
    QByteArray bytes(out, static_cast<qsizetype>(length));
    if (format == PropertyListFormat::Binary)
        plist_to_bin_free(out);
    else
        plist_to_xml_free(out);
    return bytes;
}

} // namespace platform
