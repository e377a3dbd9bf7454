#include "platform/plist/PropertyList.h"

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
// Deeper nesting than this is refused rather than followed: no note, setting
// or peer file comes near it, and hostile input must not exhaust the stack.
constexpr int kMaxDepth = 256;

struct PlistDeleter {
    void operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

void setError(QString* error, const QString& text) {
    if (error)
        *error = text;
}

QVariant toVariant(plist_t node, int depth, QString* error) {
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
        return QVariant(s ? QString::fromUtf8(s, static_cast<qsizetype>(length)) : QString(QLatin1String("")));
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
        const double fraction = double(sec < 0 ? -usec : usec) / 1e6;
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

plist_t fromVariant(const QVariant& value, int depth, QString* error) {
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

bool looksLikePropertyList(const QByteArray& data) {
    if (data.startsWith("bplist00"))
        return data.size() >= 8 + 32;  // header plus trailer
    // XML: allow a byte-order mark and leading white space before the first tag.
    qsizetype i = 0;
    if (data.startsWith("\xEF\xBB\xBF"))
        i = 3;
    while (i < data.size() && std::strchr(" \t\r\n", data.at(i)) && data.at(i) != '\0')
        ++i;
    return i < data.size() && data.at(i) == '<';
}

}  // namespace

QVariant readPropertyList(const QByteArray& data, QString* error) {
    if (data.isEmpty() || data.size() > std::numeric_limits<int32_t>::max() || !looksLikePropertyList(data)) {
        setError(error, QStringLiteral("The data is not a property list."));
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

QByteArray writePropertyList(const QVariant& value, PropertyListFormat format, QString* error) {
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

}  // namespace platform
