#include "hotkey/KRKeyCodeTransformer.h"
#include "hotkey/KRValidator.h"
#include "platform/x11/KeyboardLayout.h"
#include "platform/x11/SystemShortcutOracle.h"

#include <QAbstractButton>
#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <gtest/gtest.h>

using namespace platform;

namespace {

class CountingOracle : public SystemShortcutOracle
{
public:
    explicit CountingOracle(std::optional<std::vector<SymbolicHotKey>> list) : inner(std::move(list)) {}
    ShortcutAvailability availability(int64_t code, uint64_t mask) override
    {
        ++asked;
        return inner.availability(code, mask);
    }
    ListedSystemShortcuts inner;
    int asked = 0;
};

struct ClaimingDelegate : KRValidatorDelegate
{
    QString reason;
    int asked = 0;
    uint64_t lastFlags = 0;
    bool shortcutValidatorIsKeyCodeAndFlagsTaken(KRValidator*, int64_t, uint64_t flags, QString* r) override
    {
        ++asked;
        lastFlags = flags;
        *r = reason;
        return true;
    }
};

struct Validator : ::testing::Test
{
    std::shared_ptr<CountingOracle> oracle =
        std::make_shared<CountingOracle>(std::vector<SymbolicHotKey>{{49, 0x100, true}, {48, 0x100, false}});
    QMenu menu;
    QMenu sub{QStringLiteral("Edit")};
    int menuAsked = 0;
    KRValidator validator;

    void SetUp() override
    {
        KeyboardLayout::setCurrent(KeyboardLayout::fromNames(QStringLiteral("us")));
        KRValidator::setSystemShortcutOracle(oracle);
        KRValidator::setMainMenuProvider([this] {
            ++menuAsked;
            return menu.actions();
        });
    }
    void TearDown() override
    {
        KRValidator::setSystemShortcutOracle(nullptr);
        KRValidator::setMainMenuProvider({});
    }
    QAction* item(QMenu& m, const QString& title, const QKeySequence& key)
    {
        QAction* a = m.addAction(title);
        a->setShortcut(key);
        return a;
    }
};

} // namespace

TEST_F(Validator, DelegateRefusalUsesItsReasonAndStopsTheSearch)
{
    ClaimingDelegate d;
    d.reason = QStringLiteral("the editor uses it");
    validator.setDelegate(&d);
    Error e;
    EXPECT_TRUE(validator.isKeyCode(40, 0x900, &e));
    EXPECT_EQ(d.lastFlags, 0x180000u); // asked in event-flag bits
    EXPECT_EQ(e.localizedDescription, QStringLiteral("The key combination ⌥⌘K can't be used!"));
    EXPECT_EQ(e.recoverySuggestion,
              QStringLiteral(
                  "The key combination \"Command + Option + K\" can't be used because the editor uses it."));
    EXPECT_EQ(e.domain, QStringLiteral("NSCocoaErrorDomain"));
    EXPECT_EQ(e.code, 0);
    EXPECT_EQ(e.userInfo.value(QStringLiteral("NSLocalizedRecoveryOptions")).toStringList(),
              QStringList{"OK"});
    EXPECT_EQ(oracle->asked, 0);
    EXPECT_EQ(menuAsked, 0);

    d.reason.clear();
    EXPECT_TRUE(validator.isKeyCode(40, 0x100, &e));
    EXPECT_TRUE(e.recoverySuggestion.endsWith(QStringLiteral("because it's already used.")));
    EXPECT_TRUE(validator.isKeyCode(40, 0x100, nullptr));
}

TEST_F(Validator, SystemShortcutsCompareFourBitsAndSkipDisabledEntries)
{
    Error e;
    EXPECT_TRUE(validator.isKeyCode(49, 0x100, &e));
    EXPECT_TRUE(e.recoverySuggestion.startsWith(
        QStringLiteral("The key combination \"Command + Space\" can't be used because it's already used by a "
                       "system-wide keyboard shortcut.")));
    EXPECT_TRUE(validator.isKeyCode(49, 0x100 | 0x800000, nullptr)); // the function bit is not compared
    EXPECT_FALSE(validator.isKeyCode(49, 0x300, nullptr));
    EXPECT_FALSE(validator.isKeyCode(48, 0x100, nullptr)); // disabled entry
}

TEST_F(Validator, UnreadableSystemListCountsAsNotTaken)
{
    KRValidator::setSystemShortcutOracle(std::make_shared<CountingOracle>(std::nullopt));
    EXPECT_FALSE(validator.isKeyCode(40, 0x100, nullptr));
    EXPECT_EQ(menuAsked, 1); // the menus are still searched
}

TEST_F(Validator, TakenWithoutTextStillGivesAnErrorRecord)
{
    Error e;
    ASSERT_TRUE(validator.isKeyCode(127, 0x100, &e)); // a key code without text
    EXPECT_FALSE(e.localizedDescription.isEmpty());
    EXPECT_FALSE(e.recoverySuggestion.isEmpty());
}

TEST_F(Validator, MenuItemMatchesKeyAndExactModifiers)
{
    item(menu, QStringLiteral("&Copy"), QKeySequence(Qt::CTRL | Qt::Key_C));
    Error e;
    EXPECT_TRUE(validator.isKeyCode(8, 0x100, &e));
    EXPECT_EQ(e.recoverySuggestion,
              QStringLiteral(
                  "The key combination \"Command + C\" can't be used because it's already used by the menu "
                  "item \"Copy\"."));
    EXPECT_FALSE(validator.isKeyCode(8, 0x300, nullptr));  // command-shift-C
    EXPECT_FALSE(validator.isKeyCode(8, 0x1000, nullptr)); // control-C is Meta+C here
}

TEST_F(Validator, SubmenuIsSearchedFirstAndEndsTheSearch)
{
    menu.addMenu(&sub);
    item(sub, QStringLiteral("Inner"), QKeySequence(Qt::CTRL | Qt::Key_N));
    item(menu, QStringLiteral("Outer"), QKeySequence(Qt::CTRL | Qt::Key_N));
    Error e;
    ASSERT_TRUE(validator.isKeyCode(45, 0x100, &e));
    EXPECT_TRUE(e.recoverySuggestion.contains(QStringLiteral("\"Inner\"")));
}

TEST_F(Validator, FindsMenuItemsBoundToSpecialKeys)
{
    item(menu, QStringLiteral("Back"), QKeySequence(Qt::CTRL | Qt::Key_Left));
    item(menu, QStringLiteral("Delete Note"), QKeySequence(Qt::CTRL | Qt::Key_Backspace));
    item(menu, QStringLiteral("Refresh"), QKeySequence(Qt::Key_F5));
    item(menu, QStringLiteral("Send"), QKeySequence(Qt::CTRL | Qt::Key_Return));
    item(menu, QStringLiteral("Search"), QKeySequence(Qt::CTRL | Qt::Key_Space));
    const std::pair<int64_t, uint64_t> taken[] = {
        {123, 0x100 | 0x800000}, {51, 0x100}, {96, 0x800000}, {36, 0x100}};
    KRValidator::setSystemShortcutOracle(std::make_shared<CountingOracle>(std::vector<SymbolicHotKey>{}));
    for (auto [code, mask] : taken)
        EXPECT_TRUE(validator.isKeyCode(code, mask, nullptr)) << code;
    EXPECT_TRUE(validator.isKeyCode(49, 0x100, nullptr));
    EXPECT_FALSE(validator.isKeyCode(124, 0x100, nullptr));
}

TEST(RefusalAlert, ShowsEveryTextLiterally)
{
    Error e = KRValidator::errorWith(QStringLiteral("The key combination ⌘P can't be used!"),
                                     QStringLiteral("used by the menu item \"50% <b>off</b>\"."));
    auto alert = KRAdditions::alertWithNonRecoverableError(e);
    EXPECT_EQ(alert->text(), e.localizedDescription);
    EXPECT_EQ(alert->informativeText(), e.recoverySuggestion);
    auto* info = alert->findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel"));
    ASSERT_TRUE(info);
    EXPECT_EQ(info->textFormat(), Qt::PlainText);
    ASSERT_EQ(alert->buttons().size(), 1);
    EXPECT_EQ(alert->buttons().front()->text(), QStringLiteral("OK"));
}
