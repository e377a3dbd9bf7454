#include "platform/x11/KeyboardLayout.h"

#include "platform/x11/X11Connection.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <xcb/xcb.h>
#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>

namespace platform {

namespace {

// XKB event kinds and the state event's layout (xcb/xkb.h cannot be included
// from C++: it names a field "explicit").
constexpr uint8_t kNewKeyboardNotify = 0;
constexpr uint8_t kMapNotify = 1;
constexpr uint8_t kStateNotify = 2;
struct StateNotify
{
    uint8_t responseType, xkbType;
    uint16_t sequence;
    uint32_t time;
    uint8_t deviceID, mods, baseMods, latchedMods, lockedMods, group;
};

// Dead keys have no character of their own; show the accent they put on.
char32_t spacingAccent(xkb_keysym_t sym)
{
    switch (sym) {
    case XKB_KEY_dead_grave:
        return U'`';
    case XKB_KEY_dead_acute:
        return 0xB4;
    case XKB_KEY_dead_circumflex:
        return U'^';
    case XKB_KEY_dead_tilde:
        return U'~';
    case XKB_KEY_dead_diaeresis:
        return 0xA8;
    case XKB_KEY_dead_abovering:
        return 0x2DA;
    case XKB_KEY_dead_cedilla:
        return 0xB8;
    case XKB_KEY_dead_caron:
        return 0x2C7;
    default:
        return 0;
    }
}

std::unique_ptr<KeyboardLayout>& currentSlot()
{
    static std::unique_ptr<KeyboardLayout> layout;
    return layout;
}

// Passes the keyboard-change events Qt's connection receives to the current layout.
class XkbEventFilter : public QAbstractNativeEventFilter
{
public:
    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override
    {
        if (type == "xcb_generic_event_t" && currentSlot())
            currentSlot()->handleXkbEvent(message);
        return false;
    }
};

} // namespace

KeyboardLayout::KeyboardLayout() = default;

KeyboardLayout::~KeyboardLayout()
{
    if (m_state)
        xkb_state_unref(m_state);
    if (m_keymap)
        xkb_keymap_unref(m_keymap);
    if (m_context)
        xkb_context_unref(m_context);
}

std::unique_ptr<KeyboardLayout> KeyboardLayout::fromNames(const QString& layouts, const QString& variants,
                                                          QString* error)
{
    std::unique_ptr<KeyboardLayout> l(new KeyboardLayout);
    // No names: the session's defaults (XKB_DEFAULT_LAYOUT...), else "us".
    l->m_context =
        xkb_context_new(layouts.isEmpty() ? XKB_CONTEXT_NO_FLAGS : XKB_CONTEXT_NO_ENVIRONMENT_NAMES);
    if (!l->m_context) {
        if (error)
            *error = QStringLiteral("cannot create an XKB context");
        return nullptr;
    }
    const QByteArray layoutBytes = layouts.toUtf8();
    const QByteArray variantBytes = variants.toUtf8();
    xkb_rule_names names{};
    names.rules = layouts.isEmpty() ? nullptr : "evdev";
    names.model = layouts.isEmpty() ? nullptr : "pc105";
    names.layout = layouts.isEmpty() ? nullptr : layoutBytes.constData();
    names.variant = variantBytes.isEmpty() ? nullptr : variantBytes.constData();
    l->m_keymap = xkb_keymap_new_from_names(l->m_context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
    if (!l->m_keymap) {
        if (error)
            *error = QStringLiteral("unknown keyboard layout \"%1\"").arg(layouts);
        return nullptr;
    }
    l->m_state = xkb_state_new(l->m_keymap);
    return l;
}

std::unique_ptr<KeyboardLayout> KeyboardLayout::fromX11(xcb_connection_t* connection, QString* error)
{
    if (!connection) {
        if (error)
            *error = QStringLiteral("no X connection");
        return nullptr;
    }
    std::unique_ptr<KeyboardLayout> l(new KeyboardLayout);
    l->m_connection = connection;
    uint16_t major = 0, minor = 0;
    uint8_t baseError = 0;
    if (!xkb_x11_setup_xkb_extension(connection, XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
                                     XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, &major, &minor, &l->m_xkbEventBase,
                                     &baseError)) {
        if (error)
            *error = QStringLiteral("the X server has no XKB extension");
        return nullptr;
    }
    l->m_context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    l->m_deviceId = xkb_x11_get_core_keyboard_device_id(connection);
    if (!l->m_context || l->m_deviceId < 0 || !l->reloadFromX11()) {
        if (error)
            *error = QStringLiteral("cannot read the X keyboard map");
        return nullptr;
    }
    return l;
}

bool KeyboardLayout::reloadFromX11()
{
    xkb_keymap* keymap =
        xkb_x11_keymap_new_from_device(m_context, m_connection, m_deviceId, XKB_KEYMAP_COMPILE_NO_FLAGS);
    if (!keymap)
        return false;
    xkb_state* state = xkb_x11_state_new_from_device(keymap, m_connection, m_deviceId);
    if (!state) {
        xkb_keymap_unref(keymap);
        return false;
    }
    if (m_state)
        xkb_state_unref(m_state);
    if (m_keymap)
        xkb_keymap_unref(m_keymap);
    m_keymap = keymap;
    m_state = state;
    m_group = xkb_state_serialize_layout(state, XKB_STATE_LAYOUT_EFFECTIVE);
    return true;
}

bool KeyboardLayout::handleXkbEvent(const void* xcbEvent)
{
    if (!m_connection || !xcbEvent)
        return false;
    auto* ev = static_cast<const xcb_generic_event_t*>(xcbEvent);
    if ((ev->response_type & 0x7f) != m_xkbEventBase)
        return false;
    // The XKB event kind lives in the second byte of every XKB event.
    const uint8_t xkbType = reinterpret_cast<const uint8_t*>(ev)[1];
    if (xkbType == kNewKeyboardNotify || xkbType == kMapNotify) {
        if (reloadFromX11())
            announce();
        return true;
    }
    if (xkbType == kStateNotify) {
        auto* st = reinterpret_cast<const StateNotify*>(ev);
        if (st->deviceID == m_deviceId && uint32_t(st->group) != m_group) {
            m_group = st->group;
            announce();
        }
        return true;
    }
    return false;
}

uint32_t KeyboardLayout::keycodeForName(const char* name) const
{
    if (!m_keymap || !name)
        return InvalidKeycode;
    xkb_keycode_t kc = xkb_keymap_key_by_name(m_keymap, name);
    return kc == XKB_KEYCODE_INVALID ? InvalidKeycode : kc;
}

const char* KeyboardLayout::nameForKeycode(uint32_t keycode) const
{
    if (!m_keymap || !xkb_keycode_is_legal_ext(keycode))
        return nullptr;
    return xkb_keymap_key_get_name(m_keymap, keycode);
}

QString KeyboardLayout::keyText(uint32_t keycode, bool shift, bool levelThree, bool numLock, int group) const
{
    if (!m_keymap || !m_state || keycode == InvalidKeycode)
        return {};
    xkb_state* state = xkb_state_new(m_keymap);
    if (!state)
        return {};
    auto maskOf = [this](const char* name) -> xkb_mod_mask_t {
        xkb_mod_index_t i = xkb_keymap_mod_get_index(m_keymap, name);
        return i == XKB_MOD_INVALID ? 0 : (xkb_mod_mask_t(1) << i);
    };
    xkb_mod_mask_t depressed = 0, locked = 0;
    if (shift)
        depressed |= maskOf(XKB_MOD_NAME_SHIFT);
    if (levelThree)
        depressed |= maskOf("Mod5");
    if (numLock)
        locked |= maskOf(XKB_MOD_NAME_NUM);
    xkb_state_update_mask(state, depressed, 0, locked, 0, 0, group < 0 ? m_group : uint32_t(group));
    xkb_keysym_t sym = xkb_state_key_get_one_sym(state, keycode);
    xkb_state_unref(state);
    if (sym == XKB_KEY_NoSymbol)
        return {};
    char32_t ch = xkb_keysym_to_utf32(sym);
    if (!ch)
        ch = spacingAccent(sym);
    if (!ch || ch < 0x20 || ch == 0x7f)
        return {};
    return QString::fromUcs4(&ch, 1);
}

uint32_t KeyboardLayout::groupCount() const
{
    return m_keymap ? xkb_keymap_num_layouts(m_keymap) : 0;
}

void KeyboardLayout::setGroup(uint32_t group)
{
    if (group >= groupCount() || group == m_group)
        return;
    m_group = group;
    announce();
}

void KeyboardLayout::announce()
{
    emit layoutChanged();
    if (currentSlot().get() == this)
        emit static_cast<KeyboardLayoutNotifier*>(notifier())->changed();
}

QObject* KeyboardLayout::notifier()
{
    static KeyboardLayoutNotifier n;
    return &n;
}

KeyboardLayout* KeyboardLayout::current()
{
    auto& slot = currentSlot();
    if (!slot) {
        slot = fromX11(x11::connection());
        if (slot && QCoreApplication::instance()) {
            static XkbEventFilter filter;
            QCoreApplication::instance()->installNativeEventFilter(&filter);
        }
        if (!slot)
            slot = fromNames(QString());
    }
    return slot.get();
}

void KeyboardLayout::setCurrent(std::unique_ptr<KeyboardLayout> layout)
{
    currentSlot() = std::move(layout);
    emit static_cast<KeyboardLayoutNotifier*>(notifier())->changed();
}

} // namespace platform
