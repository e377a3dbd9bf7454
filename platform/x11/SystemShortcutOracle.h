#pragma once
// Which key combinations the desktop already uses for itself.

#include <cstdint>
#include <optional>
#include <vector>

struct xcb_connection_t;

namespace platform {

class KeyboardLayout;

enum class ShortcutAvailability
{
    Free,
    Taken,
    Unknown
};

class SystemShortcutOracle
{
public:
    virtual ~SystemShortcutOracle();
    // code: virtual key number; carbonMask: hot-key modifier bits.
    virtual ShortcutAvailability availability(int64_t code, uint64_t carbonMask) = 0;
};

// A listed set of system shortcuts: taken when an enabled entry has the same
// key and agrees in the four modifier bits (other bits are not compared).
struct SymbolicHotKey
{
    int16_t code = 0;
    int32_t modifiers = 0;
    bool enabled = true;
};

class ListedSystemShortcuts : public SystemShortcutOracle
{
public:
    // nullopt: the list could not be read.
    explicit ListedSystemShortcuts(std::optional<std::vector<SymbolicHotKey>> list) : m_list(std::move(list))
    {
    }
    ShortcutAvailability availability(int64_t code, uint64_t carbonMask) override;

private:
    std::optional<std::vector<SymbolicHotKey>> m_list;
};

// X cannot list other clients' grabs, so this one tries the grab on a
// private connection: refused means another client holds it. A private
// connection matters: on Qt's own one the probe would succeed against this
// program's own hot key and its ungrab would remove it.
class X11ShortcutProbe : public SystemShortcutOracle
{
public:
    explicit X11ShortcutProbe(KeyboardLayout* layout = nullptr);
    ~X11ShortcutProbe() override;
    ShortcutAvailability availability(int64_t code, uint64_t carbonMask) override;

private:
    KeyboardLayout* m_layout;
    xcb_connection_t* m_connection = nullptr;
};

} // namespace platform
