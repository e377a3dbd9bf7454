#pragma once
// The one place where Linux keys meet the recorder's conventions: the
// recorder, the hot-key registry and "Global Shortcut" all speak in the
// classic virtual key numbers (0 = A, 49 = Space, 122 = F1) and in event-flag
// modifier bits, so settings written by any build read the same everywhere.
// Keys are matched by XKB key name so that any keycode set works.

#include <QString>
#include <Qt>
#include <cstdint>
#include <optional>

class QKeyEvent;

namespace platform {

class KeyboardLayout;

namespace KeyFlags {
// Event-flag ("Cocoa") modifier bits.
constexpr uint64_t CapsLock = 0x10000;
constexpr uint64_t Shift = 0x20000;
constexpr uint64_t Control = 0x40000;
constexpr uint64_t Option = 0x80000;
constexpr uint64_t Command = 0x100000;
constexpr uint64_t NumericPad = 0x200000;
constexpr uint64_t Function = 0x800000;
// Hot-key ("Carbon") modifier bits.
constexpr uint64_t CarbonCommand = 0x100;
constexpr uint64_t CarbonShift = 0x200;
constexpr uint64_t CarbonAlphaLock = 0x400;
constexpr uint64_t CarbonOption = 0x800;
constexpr uint64_t CarbonControl = 0x1000;
} // namespace KeyFlags

struct KeyInfo
{
    int code;            // virtual key number
    const char* xkbName; // XKB key name ("AC01")
    int qtKey;           // fallback for events without a scan code
    bool function;       // carries the function-key bit when pressed
    bool pad;            // shown as "Pad %@"
};

// The key-code table: every key this program can name.
const KeyInfo* keyInfoForCode(int code);
const KeyInfo* keyInfoForXkbName(const char* name);
// All entries (ordinary, special, pad), in table order.
const KeyInfo* allKeys(int* count);

// Modifier keys are never recorded; they only tell a modifier-only press.
bool isModifierQtKey(int qtKey);

struct KeyEventInfo
{
    int code = -1;
    uint64_t modifierFlags = 0;
    QString characters;
    QString charactersIgnoringModifiers;
};

namespace KeyMap {
// X keycode (or xkb keycode) → virtual key number, through the layout's key names.
std::optional<int> codeForKeycode(const KeyboardLayout& layout, uint32_t keycode);
std::optional<uint32_t> keycodeForCode(const KeyboardLayout& layout, int code);
std::optional<int> codeForQtKey(int qtKey, bool keypad);

// Qt modifiers → event-flag bits (Ctrl is Command, Meta is Control).
uint64_t flagsFromQt(Qt::KeyboardModifiers mods, bool capsLock = false);
Qt::KeyboardModifiers qtFromFlags(uint64_t flags);

// A key event in the recorder's terms. Characters come from the layout, not
// from text(): Ctrl+K would otherwise read as a control character.
KeyEventInfo fromKeyEvent(const QKeyEvent& event, const KeyboardLayout* layout);
KeyEventInfo makeKeyEvent(int code, uint64_t flags, const KeyboardLayout* layout);

// The Qt key a virtual key produces, for matching menu shortcuts.
std::optional<int> qtKeyForCode(int code, const KeyboardLayout* layout);
} // namespace KeyMap

} // namespace platform
