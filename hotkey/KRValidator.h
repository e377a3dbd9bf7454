#pragma once
// Decides whether a key combination is free to record: asks the delegate,
// then the desktop's own shortcuts, then the application's menus.

#include "platform/core/Error.h"

#include <QList>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>

class QAction;
class QMessageBox;
class KRValidator;
namespace platform {
class SystemShortcutOracle;
}

class KRValidatorDelegate
{
public:
    virtual ~KRValidatorDelegate() = default;
    // cocoaFlags: event-flag bits. Set *reason to explain a refusal.
    virtual bool shortcutValidatorIsKeyCodeAndFlagsTaken(KRValidator* validator, int64_t keyCode,
                                                         uint64_t cocoaFlags, QString* reason)
    {
        (void)validator;
        (void)keyCode;
        (void)cocoaFlags;
        (void)reason;
        return false;
    }
};

class KRValidator
{
public:
    explicit KRValidator(KRValidatorDelegate* delegate = nullptr) : m_delegate(delegate) {}

    KRValidatorDelegate* delegate() const { return m_delegate; }
    void setDelegate(KRValidatorDelegate* delegate) { m_delegate = delegate; }

    // carbonFlags: hot-key modifier bits (the function bit may ride along).
    // A true answer always comes with an error record when one is asked for.
    bool isKeyCode(int64_t keyCode, uint64_t carbonFlags, platform::Error* error);
    bool isKeyCode(int64_t keyCode, uint64_t carbonFlags, const QList<QAction*>& menu,
                   platform::Error* error);

    // The desktop's shortcuts (default: a probe of the X server).
    static void setSystemShortcutOracle(std::shared_ptr<platform::SystemShortcutOracle> oracle);
    // The application's main menu (default: the first menu bar of a top-level window).
    static void setMainMenuProvider(std::function<QList<QAction*>()> provider);

    static platform::Error errorWith(const QString& title, const QString& explanation);

private:
    KRValidatorDelegate* m_delegate; // not owned
};

namespace KRAdditions {
// A critical alert with one button; every text shown literally.
std::unique_ptr<QMessageBox> alertWithNonRecoverableError(const platform::Error& error);
} // namespace KRAdditions
