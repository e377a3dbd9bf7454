#include "platform/core/Variant.h"

#include <QLocale>

namespace platform {

namespace {

// Skips leading white space, then an optional sign, then leading zeros.
qsizetype skipToSignificant(const QString& s)
{
    qsizetype i = 0;
    while (i < s.size() && s.at(i).isSpace())
        ++i;
    if (i < s.size() && (s.at(i) == u'+' || s.at(i) == u'-'))
        ++i;
    while (i < s.size() && s.at(i) == u'0')
        ++i;
    return i;
}

} // namespace

bool variantBoolValue(const QVariant& value)
{
    if (value.typeId() == QMetaType::Bool)
        return value.toBool();
    if (isNumber(value))
        return value.toDouble() != 0.0;
    if (value.typeId() != QMetaType::QString)
        return false;
    const QString s = value.toString();
    const qsizetype i = skipToSignificant(s);
    if (i >= s.size())
        return false;
    const QChar c = s.at(i);
    return c == u'Y' || c == u'y' || c == u'T' || c == u't' || (c >= u'1' && c <= u'9');
}

double variantDoubleValue(const QVariant& value)
{
    if (value.typeId() == QMetaType::Bool)
        return value.toBool() ? 1.0 : 0.0;
    if (isNumber(value))
        return value.toDouble();
    if (value.typeId() != QMetaType::QString)
        return 0.0;
    // The longest leading piece that reads as a C-locale number.
    const QString s = value.toString();
    qsizetype start = 0;
    while (start < s.size() && s.at(start).isSpace())
        ++start;
    qsizetype end = start;
    if (end < s.size() && (s.at(end) == u'+' || s.at(end) == u'-'))
        ++end;
    bool digits = false;
    while (end < s.size() && s.at(end).isDigit() && s.at(end).unicode() < 128) {
        ++end;
        digits = true;
    }
    if (end < s.size() && s.at(end) == u'.') {
        ++end;
        while (end < s.size() && s.at(end).isDigit() && s.at(end).unicode() < 128) {
            ++end;
            digits = true;
        }
    }
    if (!digits)
        return 0.0;
    if (end < s.size() && (s.at(end) == u'e' || s.at(end) == u'E')) {
        qsizetype e = end + 1;
        if (e < s.size() && (s.at(e) == u'+' || s.at(e) == u'-'))
            ++e;
        const qsizetype firstExponentDigit = e;
        while (e < s.size() && s.at(e).isDigit() && s.at(e).unicode() < 128)
            ++e;
        if (e > firstExponentDigit)
            end = e;
    }
    bool ok = false;
    const double d = QLocale::c().toDouble(QStringView(s).mid(start, end - start), &ok);
    return ok ? d : 0.0;
}

} // namespace platform
