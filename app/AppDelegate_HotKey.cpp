// The recorded global shortcut and starting at login: the glue between the
// settings, the hot-key registry and the autostart entry.
#include "app/NoteWindow.h"
#include "app/QuillaryAppDelegate.h"

#include "hotkey/KRKeyCodeTransformer.h"
#include "hotkey/ZQHotKeyCenter.h"
#include "launcher/LoginItems.h"
#include "platform/core/Log.h"
#include "platform/core/UserDefaults.h"
#include "platform/core/Variant.h"
#include "store/QVRUtilities.h"

#include <cmath>

namespace {

const QString GlobalShortcutKey = QStringLiteral("Global Shortcut");
const QString StartAtLoginKey = QStringLiteral("QVRStartAtLogin");

// A stored number as a whole number, or `fallback` for anything else
// (missing, text, fractions, values out of range).
template <typename Integer> Integer wholeNumber(const QVariant& value, Integer fallback)
{
    if (!platform::isNumber(value))
        return fallback;
    const double d = value.toDouble();
    if (!std::isfinite(d) || d != std::floor(d) || d < double(std::numeric_limits<Integer>::min()) ||
        d >= double(std::numeric_limits<Integer>::max()))
        return fallback;
    return Integer(d);
}

} // namespace

KeyCombo QuillaryAppDelegate::keyComboForKey(const QString& key) const
{
    const QVariantMap stored = m_defaults->dictionary(key);
    KeyCombo combo;
    combo.flags = wholeNumber<uint64_t>(stored.value(QStringLiteral("flags")), 0);
    // A missing code reads as 0; one that is there but is no whole number
    // names no key.
    const QVariant code = stored.value(QStringLiteral("code"));
    combo.code = code.isValid() ? wholeNumber<int64_t>(code, -1) : 0;
    return combo;
}

bool QuillaryAppDelegate::comboNamesKey(const KeyCombo& combo)
{
    return combo.code >= 0 && KRKeyComboNamesKey(combo.flags, combo.code);
}

void QuillaryAppDelegate::setKeyCombo(const KeyCombo& combo)
{
    if (!m_hotKeyCenter || !comboNamesKey(combo))
        return;
    QPointer<NoteWindow> window = m_window;
    auto hotKey = m_hotKeyCenter->registerHotKeyWithKeyCode(uint16_t(combo.code & 0xFFFF), combo.flags,
                                                            [window](const platform::HotKeyEvent&) {
                                                                if (window)
                                                                    window->toggleWithAnimation();
                                                            });
    if (!hotKey)
        platform::log(QStringLiteral("Failed to register hot key"));
}

bool QuillaryAppDelegate::keyRecorderIsKeyCodeAndFlagsTaken(KRRecorderControl* recorder, int64_t keyCode,
                                                            uint64_t flags, QString* reason)
{
    (void)recorder;
    (void)keyCode;
    (void)flags;
    (void)reason;
    return false;
}

void QuillaryAppDelegate::keyRecorderKeyComboDidChange(KRRecorderControl* recorder, KeyCombo combo)
{
    (void)recorder;
    const KeyCombo old = keyComboForKey(GlobalShortcutKey);
    if (old == combo)
        return;
    if (m_hotKeyCenter && comboNamesKey(old))
        m_hotKeyCenter->unregisterHotKeyWithKeyCode(uint16_t(old.code & 0xFFFF), old.flags);
    m_defaults->set(GlobalShortcutKey,
                    QVariantMap{{QStringLiteral("flags"), QVariant::fromValue<qulonglong>(combo.flags)},
                                {QStringLiteral("code"), QVariant::fromValue<qlonglong>(combo.code)}});
    if (comboNamesKey(combo))
        setKeyCombo(combo);
}

bool QuillaryAppDelegate::startAtLogin() const
{
    return m_defaults->boolValue(StartAtLoginKey);
}

void QuillaryAppDelegate::setStartAtLogin(bool flag)
{
    QString error;
    const bool done = LoginItems::setLoginItemEnabled(m_launcherExecutable, flag, &error);
    if (done)
        platform::log(
            QStringLiteral("%1 login item").arg(flag ? QStringLiteral("Set") : QStringLiteral("Removed")));
    else
        platform::log(QStringLiteral("Failed to %1 login item")
                          .arg(flag ? QStringLiteral("set") : QStringLiteral("remove")));
    // On failure the setting shows the state that really holds.
    QVRUtilities::setBool(*m_defaults, done ? flag : !flag, StartAtLoginKey, true);
}
