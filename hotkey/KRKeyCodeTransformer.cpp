#include "hotkey/KRKeyCodeTransformer.h"

#include "platform/core/Variant.h"
#include "platform/x11/KeyMap.h"
#include "platform/x11/KeyboardLayout.h"

#include <QCoreApplication>
#include <QLocale>
#include <QMap>
#include <QMutex>
#include <iterator>

namespace KF = platform::KeyFlags;
using platform::KeyboardLayout;

namespace {

QMap<QString, std::shared_ptr<ValueTransformer>>& transformerRegistry()
{
    static QMap<QString, std::shared_ptr<ValueTransformer>> registry;
    return registry;
}

QHash<QString, int>& stringToKeyCodeMap()
{
    static QHash<QString, int> map;
    return map;
}

// Once per process: the reverse map, kept current with the layout.
void ensureMapping()
{
    static bool done = [] {
        KRKeyCodeTransformer::regenerateStringToKeyCodeMapping();
        QObject::connect(static_cast<platform::KeyboardLayoutNotifier*>(KeyboardLayout::notifier()),
                         &platform::KeyboardLayoutNotifier::changed,
                         [] { KRKeyCodeTransformer::regenerateStringToKeyCodeMapping(); });
        return true;
    }();
    (void)done;
}

// The layout's text for an ordinary key; when the current group gives none
// (a non-Latin group), the first group whose A key gives a Latin letter.
QString layoutText(const KeyboardLayout& layout, int code, bool pad)
{
    auto kc = platform::KeyMap::keycodeForCode(layout, code);
    if (!kc)
        return {};
    QString t = layout.keyText(*kc, false, false, pad);
    if (!t.isEmpty() || layout.groupCount() < 2)
        return t;
    const uint32_t a = layout.keycodeForName("AC01");
    for (uint32_t g = 0; g < layout.groupCount(); ++g) {
        const QString probe = layout.keyText(a, false, false, false, int(g));
        if (probe.size() == 1 && probe.at(0).toLatin1() >= 'a' && probe.at(0).toLatin1() <= 'z')
            return layout.keyText(*kc, false, false, pad, int(g));
    }
    return {};
}

} // namespace

void ValueTransformer::setValueTransformerForName(const QString& name, std::shared_ptr<ValueTransformer> t)
{
    transformerRegistry().insert(name, std::move(t));
}

std::shared_ptr<ValueTransformer> ValueTransformer::valueTransformerForName(const QString& name)
{
    return transformerRegistry().value(name);
}

QString KRLocalized(const char* text)
{
    return QCoreApplication::translate("KeyRecorder", text);
}

QString KRFormat(const QString& format, const QStringList& arguments)
{
    QString out;
    int next = 0;
    for (int i = 0; i < format.size(); ++i) {
        if (format.at(i) == u'%' && i + 1 < format.size() && format.at(i + 1) == u'@') {
            out += arguments.value(next++);
            ++i;
        } else {
            out += format.at(i);
        }
    }
    return out;
}

const QHash<int, QString>& KRKeyCodeTransformer::specialKeyNames()
{
    static const QHash<int, QString> names = [] {
        QHash<int, QString> n;
        // F1 to F19 only. Code 90 keeps whatever name the layout gives it:
        // keymaps put other keys there (the microphone-mute key), and calling
        // those "F20" would name a key the keyboard does not have. Without a
        // name the recorder refuses the key with a beep.
        const int fkeys[] = {122, 120, 99,  118, 96,  97,  98, 100, 101, 109,
                             103, 111, 105, 107, 113, 106, 64, 79,  80};
        for (int i = 0; i < int(std::size(fkeys)); ++i)
            n.insert(fkeys[i], QStringLiteral("F%1").arg(i + 1));
        n.insert(49, KRLocalized("Space"));
        const std::pair<int, char16_t> glyphs[] = {
            {51, 0x232B},  {117, 0x2326}, {71, 0x2327},  {123, 0x2190}, {124, 0x2192}, {126, 0x2191},
            {125, 0x2193}, {119, 0x2198}, {115, 0x2196}, {53, 0x238B},  {121, 0x21DF}, {116, 0x21DE},
            {36, 0x21A9},  {76, 0x2305},  {48, 0x21E5},  {114, 0x003F}};
        for (const auto& [code, ch] : glyphs)
            n.insert(code, QString(QChar(ch)));
        return n;
    }();
    return names;
}

bool KRKeyCodeTransformer::isPadKeyCode(int code)
{
    switch (code) {
    case 65:
    case 67:
    case 69:
    case 75:
    case 78:
    case 81:
    case 82:
    case 83:
    case 84:
    case 85:
    case 86:
    case 87:
    case 88:
    case 89:
    case 91:
    case 92:
        return true;
    default:
        return false;
    }
}

KRKeyCodeTransformer::KRKeyCodeTransformer()
{
    specialKeyNames();
}

QVariant KRKeyCodeTransformer::transformedValue(const QVariant& value) const
{
    if (!platform::isNumberOrBool(value))
        return {};
    const int16_t code = int16_t(value.toLongLong());
    if (code < 0)
        return {};
    if (auto it = specialKeyNames().find(code); it != specialKeyNames().end())
        return *it;
    const bool pad = isPadKeyCode(code);
    KeyboardLayout* layout = KeyboardLayout::current();
    if (!layout)
        return {};
    const QString text = layoutText(*layout, code, pad).toUpper();
    if (text.isEmpty())
        return {};
    return pad ? KRFormat(KRLocalized("Pad %@"), {text}) : text;
}

QVariant KRKeyCodeTransformer::reverseTransformedValue(const QVariant& value) const
{
    if (value.typeId() != QMetaType::QString)
        return {};
    ensureMapping();
    auto it = stringToKeyCodeMap().find(value.toString());
    if (it == stringToKeyCodeMap().end())
        return {};
    return *it;
}

void KRKeyCodeTransformer::regenerateStringToKeyCodeMapping()
{
    KRKeyCodeTransformer t;
    QHash<QString, int> map;
    for (int code = 0; code < 128; ++code) {
        const QString text = t.transformedValue(code).toString();
        if (!text.isEmpty())
            map.insert(text, code); // the higher code wins
    }
    stringToKeyCodeMap() = std::move(map);
}

QString KRKeyCodeString(int64_t keyCode)
{
    static KRKeyCodeTransformer transformer;
    ensureMapping();
    return transformer.transformedValue(qint64(int16_t(keyCode))).toString();
}

static QString glyphs(bool control, bool option, bool shift, bool command)
{
    QString s;
    if (control)
        s += QChar(0x2303);
    if (option)
        s += QChar(0x2325);
    if (shift)
        s += QChar(0x21E7);
    if (command)
        s += QChar(0x2318);
    return s;
}

QString KRCarbonModifierGlyphs(uint64_t f)
{
    return glyphs(f & KF::CarbonControl, f & KF::CarbonOption, f & KF::CarbonShift, f & KF::CarbonCommand);
}

QString KRCocoaModifierGlyphs(uint64_t f)
{
    return glyphs(f & KF::Control, f & KF::Option, f & KF::Shift, f & KF::Command);
}

QString KRCarbonComboGlyphs(uint64_t carbonFlags, int64_t keyCode)
{
    return KRCarbonModifierGlyphs(carbonFlags) + KRKeyCodeString(keyCode);
}

static QString readable(bool command, bool option, bool control, bool shift, int64_t keyCode)
{
    QString s;
    if (command)
        s += KRLocalized("Command + ");
    if (option)
        s += KRLocalized("Option + ");
    if (control)
        s += KRLocalized("Control + ");
    if (shift)
        s += KRLocalized("Shift + ");
    return s + KRKeyCodeString(keyCode);
}

QString KRCarbonComboReadableString(uint64_t f, int64_t keyCode)
{
    return readable(f & KF::CarbonCommand, f & KF::CarbonOption, f & KF::CarbonControl, f & KF::CarbonShift,
                    keyCode);
}

QString KRCocoaComboReadableString(uint64_t f, int64_t keyCode)
{
    return readable(f & KF::Command, f & KF::Option, f & KF::Control, f & KF::Shift, keyCode);
}

uint64_t KRCocoaFlagsFromCarbon(uint64_t c)
{
    uint64_t f = 0;
    if (c & KF::CarbonCommand)
        f |= KF::Command;
    if (c & KF::CarbonOption)
        f |= KF::Option;
    if (c & KF::CarbonControl)
        f |= KF::Control;
    if (c & KF::CarbonShift)
        f |= KF::Shift;
    if (c & KF::Function)
        f |= KF::Function;
    return f;
}

uint64_t KRCarbonFlagsFromCocoa(uint64_t f)
{
    uint64_t c = 0;
    if (f & KF::Command)
        c |= KF::CarbonCommand;
    if (f & KF::Option)
        c |= KF::CarbonOption;
    if (f & KF::Control)
        c |= KF::CarbonControl;
    if (f & KF::Shift)
        c |= KF::CarbonShift;
    if (f & KF::Function)
        c |= KF::Function;
    return c;
}

QString KRKeyCharacterForCocoaFlags(int64_t keyCode, uint64_t cocoaFlags)
{
    KeyboardLayout* layout = KeyboardLayout::current();
    if (!layout || keyCode < 0)
        return KRKeyCodeString(keyCode);
    auto kc = platform::KeyMap::keycodeForCode(*layout, int(uint16_t(keyCode)));
    if (!kc)
        return KRKeyCodeString(keyCode);
    const QString text = layout->keyText(*kc, cocoaFlags & KF::Shift, cocoaFlags & KF::Option,
                                         KRKeyCodeTransformer::isPadKeyCode(int(keyCode)));
    if (text.isEmpty())
        return KRKeyCodeString(keyCode);
    return QLocale().toUpper(text);
}

bool KRKeyComboNamesKey(uint64_t cocoaFlags, int64_t keyCode)
{
    return keyCode >= 0 && keyCode <= 0x7fff && !KRKeyCodeString(keyCode).isEmpty() &&
           (cocoaFlags & 0x9E0000) != 0;
}
