// The recorded global shortcut and starting at login: the glue between the
// settings, the hot-key registry and the autostart entry.
#include "app/QuillaryAppDelegate.h"
#include "app/window/NoteWindow.h"

#include "hotkey/KRKeyCodeTransformer.h"
#include "hotkey/KRRecorderCell.h"
#include "hotkey/ZQHotKeyCenter.h"
#include "launcher/LoginItems.h"
#include "platform/core/Log.h"
#include "platform/core/UserDefaults.h"
#include "store/QVRDefaultsKeys.h"
#include "store/QVRUtilities.h"

KeyCombo QuillaryAppDelegate::keyComboForKey(const QString& key) const
{
    // A missing entry reads as 0; one that is there must be a whole number in
    // range, else the combination names no key.
    const QVariantMap stored = m_defaults->dictionary(key);
    const QVariant code = stored.value(QStringLiteral("code"));
    const QVariant flags = stored.value(QStringLiteral("flags"));
    return KRKeyComboFromValues(code.isValid() ? code : QVariant(0), flags.isValid() ? flags : QVariant(0));
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

void QuillaryAppDelegate::keyRecorderKeyComboDidChange(KRRecorderControl* recorder, KeyCombo combo)
{
    (void)recorder;
    const KeyCombo old = keyComboForKey(QVRDefaultsKeys::GlobalShortcut);
    if (old == combo)
        return;
    if (m_hotKeyCenter && comboNamesKey(old))
        m_hotKeyCenter->unregisterHotKeyWithKeyCode(uint16_t(old.code & 0xFFFF), old.flags);
    QVRDefaultsKeys::set(*m_defaults, QVRDefaultsKeys::GlobalShortcut,
                         QVariantMap{{QStringLiteral("flags"), QVariant::fromValue<qulonglong>(combo.flags)},
                                     {QStringLiteral("code"), QVariant::fromValue<qlonglong>(combo.code)}});
    if (comboNamesKey(combo))
        setKeyCombo(combo);
}

bool QuillaryAppDelegate::startAtLogin() const
{
    return QVRDefaultsKeys::value(*m_defaults, QVRDefaultsKeys::StartAtLogin);
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
    QVRDefaultsKeys::set(*m_defaults, QVRDefaultsKeys::StartAtLogin, done ? flag : !flag, true);
}
