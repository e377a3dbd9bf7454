#include "hotkey/KRKeyCodeTransformer.h"
#include "platform/x11/KeyboardLayout.h"

#include <gtest/gtest.h>

using platform::KeyboardLayout;

namespace {
void useLayout(const char* name)
{
    KeyboardLayout::setCurrent(KeyboardLayout::fromNames(QString::fromLatin1(name)));
}
} // namespace

struct KeyTextRow
{
    int64_t code;
    const char* text;
}; // nullptr: no text

class KeyCodeText : public ::testing::TestWithParam<KeyTextRow>
{
protected:
    void SetUp() override { useLayout("us"); }
};

TEST_P(KeyCodeText, UnderUsLayout)
{
    const auto& r = GetParam();
    const QString s = KRKeyCodeString(r.code);
    if (!r.text)
        EXPECT_TRUE(s.isNull()) << r.code << " gave " << s.toStdString();
    else
        EXPECT_EQ(s, QString::fromUtf8(r.text)) << r.code;
}

INSTANTIATE_TEST_SUITE_P(
    Table, KeyCodeText,
    ::testing::Values(KeyTextRow{122, "F1"}, KeyTextRow{80, "F19"}, KeyTextRow{64, "F17"},
                      KeyTextRow{90,
                                 nullptr}, // no fixed name, and the layout's microphone-mute key has no text
                      KeyTextRow{49, "Space"}, KeyTextRow{51, "⌫"}, KeyTextRow{117, "⌦"}, KeyTextRow{71, "⌧"},
                      KeyTextRow{123, "←"}, KeyTextRow{124, "→"}, KeyTextRow{126, "↑"}, KeyTextRow{125, "↓"},
                      KeyTextRow{119, "↘"}, KeyTextRow{115, "↖"}, KeyTextRow{53, "⎋"}, KeyTextRow{121, "⇟"},
                      KeyTextRow{116, "⇞"}, KeyTextRow{36, "↩"}, KeyTextRow{76, "⌅"}, KeyTextRow{48, "⇥"},
                      KeyTextRow{114, "?"}, KeyTextRow{87, "Pad 5"}, KeyTextRow{65, "Pad ."},
                      KeyTextRow{75, "Pad /"}, KeyTextRow{92, "Pad 9"}, KeyTextRow{0, "A"},
                      KeyTextRow{6, "Z"}, KeyTextRow{18, "1"}, KeyTextRow{33, "["}, KeyTextRow{50, "`"},
                      KeyTextRow{-1, nullptr}, KeyTextRow{0x8000, nullptr},
                      KeyTextRow{0x10000 + 0, "A"}, // taken as 16 bits
                      KeyTextRow{127, nullptr}));

TEST(KeyCodeTransformer, ReverseMapFollowsALayoutChange)
{
    useLayout("us");
    KRKeyCodeTransformer t;
    EXPECT_EQ(t.reverseTransformedValue(QStringLiteral("Z")), QVariant(6));
    EXPECT_EQ(t.reverseTransformedValue(QStringLiteral("F1")), QVariant(122));
    useLayout("de");
    EXPECT_EQ(t.reverseTransformedValue(QStringLiteral("Z")), QVariant(16));
    EXPECT_EQ(t.reverseTransformedValue(QStringLiteral("Y")), QVariant(6));
    EXPECT_EQ(KRKeyCodeString(41), QStringLiteral("Ö"));
    useLayout("us");
}

TEST(KeyCodeTransformer, NonLatinGroupFallsBackToTheLatinOne)
{
    KeyboardLayout::setCurrent(KeyboardLayout::fromNames(QStringLiteral("us,ru")));
    KeyboardLayout::current()->setGroup(1);
    EXPECT_EQ(KRKeyCodeString(0), QStringLiteral("Ф"));
    useLayout("us");
}

TEST(ModifierStrings, GlyphsAndReadableWords)
{
    useLayout("us");
    const struct
    {
        uint64_t cocoa;
        const char* glyphs;
        const char* words;
    } rows[] = {
        {0x1E0000, "⌃⌥⇧⌘", "Command + Option + Control + Shift + K"},
        {0x180000, "⌥⌘", "Command + Option + K"},
        {0x40000, "⌃", "Control + K"},
        {0x800000, "", "K"},
        {0x10000, "", "K"},
        {0, "", "K"},
    };
    for (const auto& r : rows) {
        const uint64_t carbon = KRCarbonFlagsFromCocoa(r.cocoa);
        EXPECT_EQ(KRCocoaModifierGlyphs(r.cocoa), QString::fromUtf8(r.glyphs)) << r.cocoa;
        EXPECT_EQ(KRCarbonModifierGlyphs(carbon), QString::fromUtf8(r.glyphs)) << r.cocoa;
        EXPECT_EQ(KRCocoaComboReadableString(r.cocoa, 40), QString::fromUtf8(r.words)) << r.cocoa;
        EXPECT_EQ(KRCarbonComboReadableString(carbon, 40), QString::fromUtf8(r.words)) << r.cocoa;
        EXPECT_EQ(KRCarbonComboGlyphs(carbon, 40), QString::fromUtf8(r.glyphs) + QStringLiteral("K"));
    }
}

TEST(ModifierStrings, ConversionsKeepFunctionBitAndLoseCapsLock)
{
    const std::pair<uint64_t, uint64_t> cocoaToCarbon[] = {
        {0x910000, 0x800100}, {0x1E0000, 0x1B00}, {0x10000, 0}, {0x200000, 0}, {0x800000, 0x800000}};
    for (auto [cocoa, carbon] : cocoaToCarbon)
        EXPECT_EQ(KRCarbonFlagsFromCocoa(cocoa), carbon) << cocoa;
    EXPECT_EQ(KRCocoaFlagsFromCarbon(0x1F00), 0x1E0000u);
    EXPECT_EQ(KRCocoaFlagsFromCarbon(0x800100), 0x900000u);
}

TEST(KeyCharacter, UsesShiftAndOptionLevelsAndFallsBack)
{
    useLayout("us");
    EXPECT_EQ(KRKeyCharacterForCocoaFlags(0, 0), QStringLiteral("A"));
    EXPECT_EQ(KRKeyCharacterForCocoaFlags(18, 0x20000), QStringLiteral("!"));
    EXPECT_EQ(KRKeyCharacterForCocoaFlags(122, 0), QStringLiteral("F1"));
    useLayout("de");
    EXPECT_EQ(KRKeyCharacterForCocoaFlags(12, 0x80000), QStringLiteral("@"));
    useLayout("us");
}

TEST(GlobalShortcutSetting, OnlyACombinationThatNamesAKeyIsGrabbed)
{
    useLayout("us");
    const struct
    {
        uint64_t flags;
        int64_t code;
        bool names;
    } rows[] = {
        {0, 0, false},                                // a missing setting: the plain A key
        {0x100000, -1, false},                        // the recorder's empty value
        {0x100000, 127, false},                       // a key without text
        {0x10000, 40, false},                         // caps lock is not a modifier
        {0x180000, 40, true},   {0x800000, 96, true}, // F5 carries the function bit
    };
    for (const auto& r : rows)
        EXPECT_EQ(KRKeyComboNamesKey(r.flags, r.code), r.names) << r.flags << " " << r.code;
}
