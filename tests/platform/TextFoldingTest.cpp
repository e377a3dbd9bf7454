#include "platform/predicate/TextFolding.h"

#include <gtest/gtest.h>

#include <QList>
#include <QRandomGenerator>

using platform::TextFolding;

namespace {

QString text(const char32_t* utf32)
{
    return QString::fromUcs4(utf32);
}

std::string codePoints(const QString& s)
{
    std::string out;
    for (char32_t cp : s.toUcs4())
        out += QString::asprintf("U+%04X ", unsigned(cp)).toStdString();
    return out;
}

enum Options
{
    Case = 1,
    Diacritics = 2,
    Both = 3
};

struct FoldCase
{
    const char* name;
    QString input;
    int options;
    QString expected;
};

void PrintTo(const FoldCase& c, std::ostream* os)
{
    *os << c.name;
}

class TextFoldingTable : public ::testing::TestWithParam<FoldCase>
{
};

TEST_P(TextFoldingTable, FoldsAsContainsCdCompares)
{
    const FoldCase& c = GetParam();
    const QString folded = TextFolding(c.options & Case, c.options & Diacritics).fold(c.input);
    EXPECT_EQ(folded, c.expected) << "got " << codePoints(folded) << "expected " << codePoints(c.expected);
}

QString loneSurrogateThen(QChar next)
{
    QString s;
    s += QChar(0xD800);
    s += next;
    return s;
}

INSTANTIATE_TEST_SUITE_P(
    TextFolding, TextFoldingTable,
    ::testing::Values(
        // Case.
        FoldCase{"AsciiCapitalsLower", "ÉCOLE Abc", Case, text(U"école abc")},
        FoldCase{"CaseAloneKeepsAccents", text(U"ÀÉÎ"), Case, text(U"àéî")},
        FoldCase{"FinalSigmaFoldsToSigma", text(U"\u03A3\u03C2"), Case, text(U"\u03C3\u03C3")},
        FoldCase{"TitlecaseDigraphFoldsToSmall", text(U"\u01C4\u01C5"), Case, text(U"\u01C6\u01C6")},
        FoldCase{"SignsThatAreLettersFoldCase", text(U"\u2126\u212A\u212B"), Case, text(U"\u03C9k\u00E5")},
        FoldCase{"SignsThatAreLettersLoseRing", text(U"\u2126\u212A\u212B"), Diacritics, text(U"\u03A9KA")},
        FoldCase{"SignsThatAreLettersFoldBoth", text(U"\u2126\u212A\u212B"), Both, text(U"\u03C9ka")},
        FoldCase{"CapitalIWithDotKeepsItUnderCaseAlone", text(U"\u0130I\u0131"), Case,
                 text(U"\u0130i\u0131")},
        FoldCase{"CapitalIWithDotLosesItAsADiacritic", text(U"\u0130I\u0131"), Both, text(U"ii\u0131")},
        FoldCase{"FullwidthLettersFoldCase", text(U"\uFF21"), Case, text(U"\uFF41")},
        FoldCase{"CherokeeFoldsToCapitals", text(U"\u13A0\uAB70"), Case, text(U"\u13A0\u13A0")},
        // Sharp s and ligatures: one character to one, never split.
        FoldCase{"SharpSStaysOneLetter", "Straße", Both, "straße"},
        FoldCase{"CapitalSharpSFoldsToSmall", text(U"\u1E9E"), Case, text(U"\u00DF")},
        FoldCase{"CapitalSharpSHasNoDiacritic", text(U"\u1E9E"), Diacritics, text(U"\u1E9E")},
        FoldCase{"LigatureFiIsNotSplit", text(U"\uFB01"), Both, text(U"\uFB01")},
        FoldCase{"LigatureAeFoldsCaseOnly", "Æ æ Œ", Both, "æ æ œ"},
        FoldCase{"LigatureAeHasNoDiacritic", "Æ Œ", Diacritics, "Æ Œ"},
        // Diacritics.
        FoldCase{"AccentsGoCaseStays", "Ÿçé", Diacritics, "Yce"},
        FoldCase{"AccentsAndCaseGo", "Ÿçé Å", Both, "yce a"},
        FoldCase{"StackedVietnameseMarksGo", "Việt", Both, "viet"},
        FoldCase{"CyrillicBreveAndDiaeresisGo", "Ёй", Both, "еи"},
        FoldCase{"GreekDialytikaTonosGoes", text(U"\u0390"), Diacritics, text(U"\u03B9")},
        FoldCase{"LettersWithAStrokeStay", "Øø Łł Đđ", Diacritics, "Øø Łł Đđ"},
        FoldCase{"LettersWithAStrokeFoldCase", "Øø Łł Đđ", Both, "øø łł đđ"},
        // Combining marks written apart.
        FoldCase{"DecomposedAccentGoes", text(U"e\u0301"), Both, "e"},
        FoldCase{"DecomposedRingGoesCaseStays", text(U"A\u030A"), Diacritics, "A"},
        FoldCase{"CaseAloneKeepsCombiningMarks", text(U"A\u030A"), Case, text(U"a\u030A")},
        FoldCase{"EnclosingMarkGoes", text(U"a\u20DD"), Diacritics, "a"},
        FoldCase{"SpacingCombiningMarkGoes", text(U"k\u0903x"), Diacritics, "kx"},
        FoldCase{"ArabicVowelSignGoes", text(U"\u0627\u064B"), Diacritics, text(U"\u0627")},
        FoldCase{"JamoJoinIntoASyllable", text(U"\u1100\u1161\u11A8"), Diacritics, text(U"\uAC01")},
        FoldCase{"CaseAloneLeavesJamoApart", text(U"\u1100\u1161\u11A8"), Case, text(U"\u1100\u1161\u11A8")},
        FoldCase{"SyllableStaysWhole", text(U"\uAC01"), Both, text(U"\uAC01")},
        // Above U+FFFF.
        FoldCase{"DeseretFoldsCase", text(U"\U00010400x"), Case, text(U"\U00010428x")},
        FoldCase{"DeseretHasNoDiacritic", text(U"\U00010400"), Diacritics, text(U"\U00010400")},
        FoldCase{"MathematicalLettersAndEmojiStay", text(U"\U0001D400\U0001F600"), Both,
                 text(U"\U0001D400\U0001F600")},
        FoldCase{"MarksAboveTheBasicPlaneGo", text(U"a\U0001D165\U0001D16Eb"), Diacritics, "ab"},
        FoldCase{"LoneSurrogateBecomesReplacement", loneSurrogateThen(QLatin1Char('A')), Both,
                 text(U"\uFFFDa")},
        FoldCase{"EmptyStaysEmpty", QString(), Both, QString()}),
    [](const ::testing::TestParamInfo<FoldCase>& info) { return std::string(info.param.name); });

TEST(TextFolding, UnchangedTextSharesTheOriginalsMemory)
{
    const QString plain =
        QString::fromLatin1("already folded, plain text"); // not static data: that shares nothing
    for (int options = 0; options < 4; ++options) {
        const QString folded = TextFolding(options & Case, options & Diacritics).fold(plain);
        EXPECT_TRUE(folded.isSharedWith(plain)) << "options " << options;
    }
    EXPECT_TRUE(TextFolding().foldsNothing());
    EXPECT_EQ(TextFolding(true, true).options(), 3) << "the SQL functions' options argument";
}

// Folding the whole string at once, the slow way.
QString referenceFold(const QString& text, bool c, bool d)
{
    QString out = text;
    if (d) {
        QString kept;
        for (char32_t cp : out.normalized(QString::NormalizationForm_D).toUcs4()) {
            const auto cat = QChar::category(cp);
            if (cat != QChar::Mark_NonSpacing && cat != QChar::Mark_SpacingCombining &&
                cat != QChar::Mark_Enclosing)
                kept += QString::fromUcs4(&cp, 1);
        }
        out = kept.normalized(QString::NormalizationForm_C);
    }
    return c ? out.toCaseFolded() : out;
}

TEST(TextFolding, CharacterByCharacterMatchesWholeStringFolding)
{
    QRandomGenerator rng(99);
    const QList<char32_t> alphabet{'a',   'Z',    ' ',    0xC9,   0xE9,   0x301,  0x308,   0xDF,
                                   0x130, 0x1E9E, 0x1100, 0x1161, 0x11A8, 0xAC00, 0x1F600, 0x3B0,
                                   0x1F1, 0xFB01, 0x2126, 0x212B, 0x0627, 0x064B};
    for (int round = 0; round < 2000; ++round) {
        QList<char32_t> cps;
        for (int i = int(rng.bounded(12)); i > 0; --i)
            cps << alphabet[int(rng.bounded(alphabet.size()))];
        const QString text = QString::fromUcs4(cps.constData(), cps.size());
        for (int options = 1; options < 4; ++options) {
            const bool c = options & 1, d = options & 2;
            EXPECT_EQ(TextFolding(c, d).fold(text), referenceFold(text, c, d))
                << text.toStdString() << " options " << options;
        }
    }
}

} // namespace
