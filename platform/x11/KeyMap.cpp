#include "platform/x11/KeyMap.h"

#include "platform/x11/KeyboardLayout.h"

#include <QKeyEvent>
#include <cstring>

namespace platform {

namespace {

// clang-format off
const KeyInfo kKeys[] = {
    // Ordinary keys: their text comes from the current layout.
    {0, "AC01", Qt::Key_A, false, false},  {1, "AC02", Qt::Key_S, false, false},
    {2, "AC03", Qt::Key_D, false, false},  {3, "AC04", Qt::Key_F, false, false},
    {4, "AC06", Qt::Key_H, false, false},  {5, "AC05", Qt::Key_G, false, false},
    {6, "AB01", Qt::Key_Z, false, false},  {7, "AB02", Qt::Key_X, false, false},
    {8, "AB03", Qt::Key_C, false, false},  {9, "AB04", Qt::Key_V, false, false},
    {10, "LSGT", Qt::Key_Less, false, false}, {11, "AB05", Qt::Key_B, false, false},
    {12, "AD01", Qt::Key_Q, false, false}, {13, "AD02", Qt::Key_W, false, false},
    {14, "AD03", Qt::Key_E, false, false}, {15, "AD04", Qt::Key_R, false, false},
    {16, "AD06", Qt::Key_Y, false, false}, {17, "AD05", Qt::Key_T, false, false},
    {18, "AE01", Qt::Key_1, false, false}, {19, "AE02", Qt::Key_2, false, false},
    {20, "AE03", Qt::Key_3, false, false}, {21, "AE04", Qt::Key_4, false, false},
    {22, "AE06", Qt::Key_6, false, false}, {23, "AE05", Qt::Key_5, false, false},
    {24, "AE12", Qt::Key_Equal, false, false}, {25, "AE09", Qt::Key_9, false, false},
    {26, "AE07", Qt::Key_7, false, false}, {27, "AE11", Qt::Key_Minus, false, false},
    {28, "AE08", Qt::Key_8, false, false}, {29, "AE10", Qt::Key_0, false, false},
    {30, "AD12", Qt::Key_BracketRight, false, false}, {31, "AD09", Qt::Key_O, false, false},
    {32, "AD07", Qt::Key_U, false, false}, {33, "AD11", Qt::Key_BracketLeft, false, false},
    {34, "AD08", Qt::Key_I, false, false}, {35, "AD10", Qt::Key_P, false, false},
    {37, "AC09", Qt::Key_L, false, false}, {38, "AC07", Qt::Key_J, false, false},
    {39, "AC11", Qt::Key_Apostrophe, false, false}, {40, "AC08", Qt::Key_K, false, false},
    {41, "AC10", Qt::Key_Semicolon, false, false}, {42, "BKSL", Qt::Key_Backslash, false, false},
    {43, "AB08", Qt::Key_Comma, false, false}, {44, "AB10", Qt::Key_Slash, false, false},
    {45, "AB06", Qt::Key_N, false, false}, {46, "AB07", Qt::Key_M, false, false},
    {47, "AB09", Qt::Key_Period, false, false}, {50, "TLDE", Qt::Key_QuoteLeft, false, false},
    {90, "FK20", Qt::Key_F20, true, false},
    // Special keys: fixed texts.
    {122, "FK01", Qt::Key_F1, true, false},  {120, "FK02", Qt::Key_F2, true, false},
    {99, "FK03", Qt::Key_F3, true, false},   {118, "FK04", Qt::Key_F4, true, false},
    {96, "FK05", Qt::Key_F5, true, false},   {97, "FK06", Qt::Key_F6, true, false},
    {98, "FK07", Qt::Key_F7, true, false},   {100, "FK08", Qt::Key_F8, true, false},
    {101, "FK09", Qt::Key_F9, true, false},  {109, "FK10", Qt::Key_F10, true, false},
    {103, "FK11", Qt::Key_F11, true, false}, {111, "FK12", Qt::Key_F12, true, false},
    {105, "FK13", Qt::Key_F13, true, false}, {107, "FK14", Qt::Key_F14, true, false},
    {113, "FK15", Qt::Key_F15, true, false}, {106, "FK16", Qt::Key_F16, true, false},
    {64, "FK17", Qt::Key_F17, true, false},  {79, "FK18", Qt::Key_F18, true, false},
    {80, "FK19", Qt::Key_F19, true, false},
    {49, "SPCE", Qt::Key_Space, false, false}, {51, "BKSP", Qt::Key_Backspace, false, false},
    {117, "DELE", Qt::Key_Delete, true, false}, {71, "NMLK", Qt::Key_Clear, true, false},
    {123, "LEFT", Qt::Key_Left, true, false},  {124, "RGHT", Qt::Key_Right, true, false},
    {126, "UP", Qt::Key_Up, true, false},      {125, "DOWN", Qt::Key_Down, true, false},
    {119, "END", Qt::Key_End, true, false},    {115, "HOME", Qt::Key_Home, true, false},
    {53, "ESC", Qt::Key_Escape, false, false}, {121, "PGDN", Qt::Key_PageDown, true, false},
    {116, "PGUP", Qt::Key_PageUp, true, false}, {36, "RTRN", Qt::Key_Return, false, false},
    {76, "KPEN", Qt::Key_Enter, false, false}, {48, "TAB", Qt::Key_Tab, false, false},
    {114, "INS", Qt::Key_Insert, true, false},
    // Keypad keys: "Pad %@" with the NumLock-level character.
    {65, "KPDL", Qt::Key_Period, false, true}, {67, "KPMU", Qt::Key_Asterisk, false, true},
    {69, "KPAD", Qt::Key_Plus, false, true},   {75, "KPDV", Qt::Key_Slash, false, true},
    {78, "KPSU", Qt::Key_Minus, false, true},  {81, "KPEQ", Qt::Key_Equal, false, true},
    {82, "KP0", Qt::Key_0, false, true}, {83, "KP1", Qt::Key_1, false, true},
    {84, "KP2", Qt::Key_2, false, true}, {85, "KP3", Qt::Key_3, false, true},
    {86, "KP4", Qt::Key_4, false, true}, {87, "KP5", Qt::Key_5, false, true},
    {88, "KP6", Qt::Key_6, false, true}, {89, "KP7", Qt::Key_7, false, true},
    {91, "KP8", Qt::Key_8, false, true}, {92, "KP9", Qt::Key_9, false, true},
};
// clang-format on
constexpr int kKeyCount = int(sizeof(kKeys) / sizeof(kKeys[0]));

// Names some keymaps use instead of the ones in the table.
struct Alias
{
    const char* name;
    int code;
};
const Alias kAliases[] = {{"HELP", 114}, {"KPDC", 65}, {"I146", 114}};

// Placeholder characters for keys that have none, so that "characters
// ignoring modifiers" is never empty for F-keys, arrows and navigation keys.
char16_t functionKeyCharacter(int qtKey)
{
    if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F35)
        return char16_t(0xF704 + (qtKey - Qt::Key_F1));
    switch (qtKey) {
    case Qt::Key_Up:
        return 0xF700;
    case Qt::Key_Down:
        return 0xF701;
    case Qt::Key_Left:
        return 0xF702;
    case Qt::Key_Right:
        return 0xF703;
    case Qt::Key_Insert:
        return 0xF727;
    case Qt::Key_Delete:
        return 0xF728;
    case Qt::Key_Home:
        return 0xF729;
    case Qt::Key_End:
        return 0xF72B;
    case Qt::Key_PageUp:
        return 0xF72C;
    case Qt::Key_PageDown:
        return 0xF72D;
    case Qt::Key_Clear:
        return 0xF739;
    case Qt::Key_Help:
        return 0xF746;
    default:
        return 0;
    }
}

QString controlCharacter(int code)
{
    switch (code) {
    case 49:
        return QStringLiteral(" ");
    case 51:
        return QString(QChar(0x7F));
    case 53:
        return QString(QChar(0x1B));
    case 36:
        return QString(QChar(0x0D));
    case 76:
        return QString(QChar(0x03));
    case 48:
        return QString(QChar(0x09));
    default:
        return {};
    }
}

} // namespace

const KeyInfo* allKeys(int* count)
{
    if (count)
        *count = kKeyCount;
    return kKeys;
}

const KeyInfo* keyInfoForCode(int code)
{
    for (const auto& k : kKeys)
        if (k.code == code)
            return &k;
    return nullptr;
}

const KeyInfo* keyInfoForXkbName(const char* name)
{
    if (!name)
        return nullptr;
    for (const auto& k : kKeys)
        if (std::strcmp(k.xkbName, name) == 0)
            return &k;
    for (const auto& a : kAliases)
        if (std::strcmp(a.name, name) == 0)
            return keyInfoForCode(a.code);
    return nullptr;
}

bool isModifierQtKey(int qtKey)
{
    switch (qtKey) {
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Alt:
    case Qt::Key_Meta:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R:
    case Qt::Key_AltGr:
    case Qt::Key_CapsLock:
    case Qt::Key_Hyper_L:
    case Qt::Key_Hyper_R:
    case Qt::Key_NumLock:
        return true;
    default:
        return false;
    }
}

namespace KeyMap {

std::optional<int> codeForKeycode(const KeyboardLayout& layout, uint32_t keycode)
{
    const KeyInfo* info = keyInfoForXkbName(layout.nameForKeycode(keycode));
    if (!info)
        return std::nullopt;
    return info->code;
}

std::optional<uint32_t> keycodeForCode(const KeyboardLayout& layout, int code)
{
    const KeyInfo* info = keyInfoForCode(code);
    if (!info)
        return std::nullopt;
    uint32_t kc = layout.keycodeForName(info->xkbName);
    if (kc == KeyboardLayout::InvalidKeycode) {
        for (const auto& a : kAliases)
            if (a.code == code && (kc = layout.keycodeForName(a.name)) != KeyboardLayout::InvalidKeycode)
                break;
    }
    if (kc == KeyboardLayout::InvalidKeycode)
        return std::nullopt;
    return kc;
}

std::optional<int> codeForQtKey(int qtKey, bool keypad)
{
    if (qtKey == Qt::Key_Backtab)
        qtKey = Qt::Key_Tab;
    if (qtKey == Qt::Key_NumLock)
        qtKey = Qt::Key_Clear;
    if (qtKey == Qt::Key_Help)
        qtKey = Qt::Key_Insert;
    if (qtKey >= 'a' && qtKey <= 'z')
        qtKey -= 0x20;
    // Keypad keys first when the event says keypad, the main block otherwise.
    for (const auto& k : kKeys)
        if (k.qtKey == qtKey && k.pad == keypad)
            return k.code;
    if (keypad && qtKey == Qt::Key_Enter)
        return 76;
    for (const auto& k : kKeys)
        if (k.qtKey == qtKey)
            return k.code;
    return std::nullopt;
}

uint64_t flagsFromQt(Qt::KeyboardModifiers mods, bool capsLock)
{
    uint64_t f = 0;
    if (mods & Qt::ControlModifier)
        f |= KeyFlags::Command;
    if (mods & Qt::MetaModifier)
        f |= KeyFlags::Control;
    if (mods & Qt::AltModifier)
        f |= KeyFlags::Option;
    if (mods & Qt::ShiftModifier)
        f |= KeyFlags::Shift;
    if (mods & Qt::KeypadModifier)
        f |= KeyFlags::NumericPad;
    if (capsLock)
        f |= KeyFlags::CapsLock;
    return f;
}

Qt::KeyboardModifiers qtFromFlags(uint64_t flags)
{
    Qt::KeyboardModifiers m;
    if (flags & KeyFlags::Command)
        m |= Qt::ControlModifier;
    if (flags & KeyFlags::Control)
        m |= Qt::MetaModifier;
    if (flags & KeyFlags::Option)
        m |= Qt::AltModifier;
    if (flags & KeyFlags::Shift)
        m |= Qt::ShiftModifier;
    return m;
}

KeyEventInfo makeKeyEvent(int code, uint64_t flags, const KeyboardLayout* layout)
{
    KeyEventInfo e;
    e.code = code;
    e.modifierFlags = flags;
    const KeyInfo* info = keyInfoForCode(code);
    if (!info)
        return e;
    if (info->function)
        e.modifierFlags |= KeyFlags::Function;
    if (info->pad || code == 76 || code == 71)
        e.modifierFlags |= KeyFlags::NumericPad;
    if (char16_t fc = functionKeyCharacter(info->qtKey); info->function && fc) {
        e.characters = e.charactersIgnoringModifiers = QString(QChar(fc));
        return e;
    }
    if (QString c = controlCharacter(code); !c.isEmpty()) {
        e.characters = e.charactersIgnoringModifiers = c;
        return e;
    }
    if (layout) {
        auto kc = keycodeForCode(*layout, code);
        if (kc) {
            e.charactersIgnoringModifiers = layout->keyText(*kc, false, false, info->pad);
            e.characters = layout->keyText(*kc, flags & KeyFlags::Shift, flags & KeyFlags::Option, info->pad);
        }
    }
    return e;
}

KeyEventInfo fromKeyEvent(const QKeyEvent& event, const KeyboardLayout* layout)
{
    std::optional<int> code;
    if (layout && event.nativeScanCode() != 0)
        code = codeForKeycode(*layout, event.nativeScanCode());
    if (!code)
        code = codeForQtKey(event.key(), event.modifiers() & Qt::KeypadModifier);
    const bool caps = (event.nativeModifiers() & 0x02) != 0; // LockMask
    uint64_t flags = flagsFromQt(event.modifiers() & ~Qt::KeypadModifier, caps);
    if (!code) {
        KeyEventInfo e;
        e.modifierFlags = flags;
        return e;
    }
    return makeKeyEvent(*code, flags, layout);
}

std::optional<int> qtKeyForCode(int code, const KeyboardLayout* layout)
{
    const KeyInfo* info = keyInfoForCode(code);
    if (!info)
        return std::nullopt;
    if (info->function || info->pad || controlCharacter(code).size())
        return info->qtKey;
    if (layout) {
        if (auto kc = keycodeForCode(*layout, code)) {
            QString t = layout->keyText(*kc, false, false, false).toUpper();
            if (!t.isEmpty())
                return int(t.toUcs4().value(0));
        }
    }
    return info->qtKey;
}

} // namespace KeyMap
} // namespace platform
