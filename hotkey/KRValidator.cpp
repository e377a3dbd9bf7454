#include "hotkey/KRValidator.h"

#include "hotkey/KRKeyCodeTransformer.h"
#include "hotkey/ZQHotKeyCenter.h"
#include "platform/x11/KeyMap.h"
#include "platform/x11/KeyboardLayout.h"
#include "platform/x11/SystemShortcutOracle.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>

namespace KF = platform::KeyFlags;

namespace {

std::shared_ptr<platform::SystemShortcutOracle>& oracleSlot()
{
    static std::shared_ptr<platform::SystemShortcutOracle> oracle;
    return oracle;
}

std::function<QList<QAction*>()>& menuProvider()
{
    static std::function<QList<QAction*>()> provider;
    return provider;
}

QList<QAction*> defaultMainMenu()
{
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* bar = w->findChild<QMenuBar*>())
            return bar->actions();
    }
    return {};
}

constexpr uint64_t kFourCarbon = KF::CarbonCommand | KF::CarbonOption | KF::CarbonShift | KF::CarbonControl;

QString titleFor(uint64_t carbonFlags, int64_t keyCode)
{
    return KRFormat(KRLocalized("The key combination %@ can't be used!"),
                    {KRCarbonComboGlyphs(carbonFlags, keyCode)});
}

QString plainMenuTitle(QString text)
{
    QString out;
    for (int i = 0; i < text.size(); ++i) {
        if (text.at(i) == u'&') {
            if (i + 1 < text.size() && text.at(i + 1) == u'&') {
                out += u'&';
                ++i;
            }
            continue;
        }
        out += text.at(i);
    }
    return out;
}

} // namespace

void KRValidator::setSystemShortcutOracle(std::shared_ptr<platform::SystemShortcutOracle> oracle)
{
    oracleSlot() = std::move(oracle);
}

void KRValidator::setMainMenuProvider(std::function<QList<QAction*>()> provider)
{
    menuProvider() = std::move(provider);
}

platform::Error KRValidator::errorWith(const QString& title, const QString& explanation)
{
    platform::Error e;
    e.domain = QStringLiteral("NSCocoaErrorDomain");
    e.code = 0;
    e.localizedDescription = title;
    e.recoverySuggestion = explanation;
    e.userInfo.insert(QStringLiteral("NSLocalizedDescription"), title);
    e.userInfo.insert(QStringLiteral("NSLocalizedRecoverySuggestion"), explanation);
    e.userInfo.insert(QStringLiteral("NSLocalizedRecoveryOptions"), QStringList{KRLocalized("OK")});
    return e;
}

bool KRValidator::isKeyCode(int64_t keyCode, uint64_t carbonFlags, platform::Error* error)
{
    if (m_delegate) {
        QString reason;
        if (m_delegate->shortcutValidatorIsKeyCodeAndFlagsTaken(
                this, keyCode, KRCocoaFlagsFromCarbon(carbonFlags), &reason)) {
            if (error) {
                if (reason.isEmpty())
                    reason = QStringLiteral("it's already used");
                *error =
                    errorWith(titleFor(carbonFlags, keyCode),
                              KRFormat(KRLocalized("The key combination \"%@\" can't be used because %@."),
                                       {KRCarbonComboReadableString(carbonFlags, keyCode), reason}));
            }
            return true;
        }
    }

    // A key with no text cannot be shown or recorded; refuse it with a reason
    // rather than with an empty alert.
    const QString keyText = KRKeyCodeString(keyCode);
    if (keyText.isEmpty()) {
        if (error)
            *error = errorWith(titleFor(carbonFlags, keyCode),
                               KRFormat(KRLocalized("The key combination \"%@\" can't be used because %@."),
                                        {KRCarbonComboReadableString(carbonFlags, keyCode),
                                         QStringLiteral("it's already used")}));
        return true;
    }

    if (!oracleSlot())
        oracleSlot() = std::make_shared<platform::X11ShortcutProbe>();
    // An unreadable list is "not known to be taken": registration is the
    // final judge and logs its failure.
    if (oracleSlot()->availability(keyCode, carbonFlags) == platform::ShortcutAvailability::Taken) {
        // Our own global shortcut is not the desktop's.
        const bool ours =
            !ZQHotKeyCenter::sharedHotKeyCenter()
                 .hotKeysMatching([&](const ZQHotKey& hk) {
                     return hk.keyCode() == uint16_t(keyCode) &&
                            (ZQHotKeyCenter::carbonModifiersForRegistration(hk.modifierFlags()) &
                             kFourCarbon) == (carbonFlags & kFourCarbon);
                 })
                 .empty();
        if (!ours) {
            if (error)
                *error = errorWith(
                    titleFor(carbonFlags, keyCode),
                    KRFormat(KRLocalized(
                                 "The key combination \"%@\" can't be used because it's already used by a "
                                 "system-wide keyboard shortcut. (If you really want to use this key "
                                 "combination, most shortcuts can be changed in the Keyboard & Mouse panel "
                                 "in System Preferences.)"),
                             {KRCarbonComboReadableString(carbonFlags, keyCode)}));
            return true;
        }
    }

    const QList<QAction*> menu = menuProvider() ? menuProvider()() : defaultMainMenu();
    return isKeyCode(keyCode, carbonFlags, menu, error);
}

bool KRValidator::isKeyCode(int64_t keyCode, uint64_t carbonFlags, const QList<QAction*>& menu,
                            platform::Error* error)
{
    // Compare real shortcuts (key plus modifiers), so items bound to arrows,
    // F-keys, Return or Delete are found too.
    const auto qtKey = platform::KeyMap::qtKeyForCode(int(keyCode), platform::KeyboardLayout::current());
    if (!qtKey)
        return false;
    const Qt::KeyboardModifiers mods = platform::KeyMap::qtFromFlags(KRCocoaFlagsFromCarbon(carbonFlags));
    constexpr Qt::KeyboardModifiers relevant =
        Qt::ControlModifier | Qt::MetaModifier | Qt::AltModifier | Qt::ShiftModifier;
    for (QAction* action : menu) {
        if (!action)
            continue;
        if (QMenu* sub = action->menu()) {
            if (isKeyCode(keyCode, carbonFlags, sub->actions(), error))
                return true;
        }
        for (const QKeySequence& seq : action->shortcuts()) {
            if (seq.isEmpty())
                continue;
            const QKeyCombination kc = seq[0];
            int key = int(kc.key());
            Qt::KeyboardModifiers itemMods = kc.keyboardModifiers() & relevant;
            if (key == Qt::Key_Backtab) {
                key = Qt::Key_Tab;
                itemMods |= Qt::ShiftModifier;
            }
            if (key != *qtKey || itemMods != mods)
                continue;
            if (error) {
                const uint64_t itemFlags = platform::KeyMap::flagsFromQt(itemMods);
                *error =
                    errorWith(titleFor(carbonFlags, keyCode),
                              KRFormat(KRLocalized("The key combination \"%@\" can't be used because it's "
                                                   "already used by the menu item \"%@\"."),
                                       {KRCocoaComboReadableString(itemFlags, keyCode),
                                        plainMenuTitle(action->text())}));
            }
            return true;
        }
    }
    return false;
}

std::unique_ptr<QMessageBox> KRAdditions::alertWithNonRecoverableError(const platform::Error& error)
{
    auto box = std::make_unique<QMessageBox>();
    box->setTextFormat(Qt::PlainText);
    box->setText(error.localizedDescription);
    box->setInformativeText(error.recoverySuggestion);
    // A menu title such as "50% <b>off</b>" must read as typed, not as markup.
    if (auto* info = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel")))
        info->setTextFormat(Qt::PlainText);
    const QStringList options =
        error.userInfo.value(QStringLiteral("NSLocalizedRecoveryOptions")).toStringList();
    box->addButton(options.value(0, KRLocalized("OK")), QMessageBox::AcceptRole);
    return box;
}
