// The key table against real xkbcommon keymaps (no X server needed).
#include "platform/x11/KeyMap.h"
#include "platform/x11/KeyboardLayout.h"
#include "platform/x11/SystemShortcutOracle.h"
#include "platform/x11/X11HotKeyGrabber.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <gtest/gtest.h>
#include <set>

using namespace platform;
namespace KF = platform::KeyFlags;

namespace {
std::unique_ptr<KeyboardLayout> layout(const char* name)
{
    QString error;
    auto l = KeyboardLayout::fromNames(QString::fromLatin1(name), {}, &error);
    EXPECT_TRUE(l) << error.toStdString();
    return l;
}
} // namespace

TEST(KeyTable, EveryEntryIsUniqueAndExistsOnAPcKeyboard)
{
    auto us = layout("us");
    int count = 0;
    const KeyInfo* keys = allKeys(&count);
    std::set<int> codes;
    std::set<std::string> names;
    for (int i = 0; i < count; ++i) {
        EXPECT_TRUE(codes.insert(keys[i].code).second) << "duplicate code " << keys[i].code;
        EXPECT_TRUE(names.insert(keys[i].xkbName).second) << "duplicate name " << keys[i].xkbName;
        auto kc = KeyMap::keycodeForCode(*us, keys[i].code);
        ASSERT_TRUE(kc) << keys[i].xkbName;
        EXPECT_EQ(KeyMap::codeForKeycode(*us, *kc), keys[i].code) << keys[i].xkbName;
    }
    EXPECT_EQ(count, 48 + 1 + 36 + 16); // ordinary keys, F20, special keys, pad keys
}

struct TextRow
{
    const char* layout;
    int code;
    bool shift, option;
    const char* text;
};

class LayoutText : public ::testing::TestWithParam<TextRow>
{
};

TEST_P(LayoutText, GivesTheCharacterOfTheLevel)
{
    const TextRow& r = GetParam();
    auto l = layout(r.layout);
    const KeyInfo* info = keyInfoForCode(r.code);
    ASSERT_TRUE(info);
    auto kc = KeyMap::keycodeForCode(*l, r.code);
    ASSERT_TRUE(kc);
    EXPECT_EQ(l->keyText(*kc, r.shift, r.option, info->pad), QString::fromUtf8(r.text));
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, LayoutText,
    ::testing::Values(TextRow{"us", 0, false, false, "a"}, TextRow{"us", 0, true, false, "A"},
                      TextRow{"us", 6, false, false, "z"}, TextRow{"de", 6, false, false, "y"},
                      TextRow{"de", 16, false, false, "z"}, TextRow{"us", 18, true, false, "!"},
                      TextRow{"de", 12, false, true, "@"}, // AltGr+Q
                      TextRow{"de", 41, false, false, "ö"},
                      TextRow{"de", 24, false, false, "´"}, // a dead key shows its accent
                      TextRow{"us", 87, false, false, "5"}, // pad keys read at the NumLock level
                      TextRow{"us", 65, false, false, "."}, TextRow{"us", 67, false, false, "*"},
                      TextRow{"ru", 0, false, false, "ф"}));

TEST(KeyboardLayout, UnknownLayoutIsAnErrorNotACrash)
{
    QString error;
    EXPECT_FALSE(KeyboardLayout::fromNames(QStringLiteral("no-such-layout-xx"), {}, &error));
    EXPECT_FALSE(error.isEmpty());
}

TEST(KeyboardLayout, GroupSwitchChangesTextAndAnnounces)
{
    auto l = layout("us,de");
    ASSERT_EQ(l->groupCount(), 2u);
    int announced = 0;
    QObject::connect(l.get(), &KeyboardLayout::layoutChanged, [&] { ++announced; });
    auto z = KeyMap::keycodeForCode(*l, 6);
    EXPECT_EQ(l->keyText(*z, false, false, false), QStringLiteral("z"));
    l->setGroup(1);
    EXPECT_EQ(l->keyText(*z, false, false, false), QStringLiteral("y"));
    l->setGroup(7); // out of range: ignored
    EXPECT_EQ(l->group(), 1u);
    EXPECT_EQ(announced, 1);
}

TEST(KeyMapFlags, QtModifiersMapCommandToCtrlAndControlToMeta)
{
    const std::pair<Qt::KeyboardModifiers, uint64_t> rows[] = {
        {Qt::ControlModifier, KF::Command},
        {Qt::MetaModifier, KF::Control},
        {Qt::AltModifier, KF::Option},
        {Qt::ShiftModifier, KF::Shift},
        {Qt::ControlModifier | Qt::AltModifier, KF::Command | KF::Option},
        {Qt::GroupSwitchModifier, 0},
    };
    for (auto [qt, flags] : rows) {
        EXPECT_EQ(KeyMap::flagsFromQt(qt), flags);
        EXPECT_EQ(KeyMap::flagsFromQt(KeyMap::qtFromFlags(flags)), flags);
    }
    EXPECT_EQ(KeyMap::flagsFromQt({}, true), KF::CapsLock);
}

TEST(KeyMapEvents, FunctionKeysCarryTheFunctionBitAndACharacter)
{
    auto us = layout("us");
    const struct
    {
        int code;
        bool fn;
        char16_t ch;
    } rows[] = {
        {122, true, 0xF704}, {96, true, 0xF708},  {123, true, 0xF702},
        {117, true, 0xF728}, {115, true, 0xF729}, {36, false, 0x0D},
        {53, false, 0x1B},   {49, false, u' '},   {40, false, u'k'},
    };
    for (const auto& r : rows) {
        KeyEventInfo e = KeyMap::makeKeyEvent(r.code, KF::Command, us.get());
        EXPECT_EQ((e.modifierFlags & KF::Function) != 0, r.fn) << r.code;
        ASSERT_EQ(e.charactersIgnoringModifiers.size(), 1) << r.code;
        EXPECT_EQ(e.charactersIgnoringModifiers.at(0).unicode(), r.ch) << r.code;
    }
}

TEST(KeyMapEvents, QtEventsWithoutScanCodesUseTheKeyColumn)
{
    auto us = layout("us");
    const struct
    {
        int key;
        Qt::KeyboardModifiers mods;
        int code;
        uint64_t flags;
    } rows[] = {
        {Qt::Key_K, Qt::ControlModifier | Qt::AltModifier, 40, KF::Command | KF::Option},
        {Qt::Key_5, Qt::KeypadModifier, 87, KF::NumericPad},
        {Qt::Key_5, Qt::NoModifier, 23, 0},
        {Qt::Key_Enter, Qt::KeypadModifier, 76, KF::NumericPad},
        {Qt::Key_Backtab, Qt::ShiftModifier, 48, KF::Shift},
        {Qt::Key_F1, Qt::NoModifier, 122, KF::Function},
    };
    for (const auto& r : rows) {
        QKeyEvent ev(QEvent::KeyPress, r.key, r.mods);
        KeyEventInfo e = KeyMap::fromKeyEvent(ev, us.get());
        EXPECT_EQ(e.code, r.code) << r.key;
        EXPECT_EQ(e.modifierFlags, r.flags) << r.key;
    }
    // A scan code wins over the key: the German Z key (AD06) is code 16.
    auto de = layout("de");
    QKeyEvent z(QEvent::KeyPress, Qt::Key_Z, Qt::NoModifier, 29, 0, 0);
    EXPECT_EQ(KeyMap::fromKeyEvent(z, de.get()).code, 16);
}

TEST(SystemShortcuts, ListedEntriesCompareFourModifierBitsAndSkipDisabled)
{
    ListedSystemShortcuts list(
        std::vector<SymbolicHotKey>{{49, 0x100, true}, {48, 0x100, false}, {40, 0x1900, true}});
    EXPECT_EQ(list.availability(49, 0x100), ShortcutAvailability::Taken);
    EXPECT_EQ(list.availability(49, 0x100 | 0x800000 | 0x400), ShortcutAvailability::Taken);
    EXPECT_EQ(list.availability(49, 0x300), ShortcutAvailability::Free);
    EXPECT_EQ(list.availability(48, 0x100), ShortcutAvailability::Free); // disabled
    EXPECT_EQ(list.availability(40, 0x1900), ShortcutAvailability::Taken);
    EXPECT_EQ(ListedSystemShortcuts(std::nullopt).availability(49, 0x100), ShortcutAvailability::Unknown);
}
