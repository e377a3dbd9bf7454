#include "store/QVRUtilities.h"

#include "platform/core/Log.h"
#include "platform/core/NotificationCenter.h"
#include "platform/core/UserDefaults.h"
#include "store/QVRDefaultsKeys.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}
QT_END_NAMESPACE

namespace U = QVRUtilities;

namespace {

const QString kUuid = QStringLiteral("0F8FAD5B-D9CB-469F-A165-70867728950E");

struct UuidCase
{
    QString input;
    QString expected; // null: refused
};

void PrintTo(const UuidCase& c, std::ostream* os)
{
    *os << '"' << c.input.toStdString() << '"';
}

class ValidUuid : public ::testing::TestWithParam<UuidCase>
{
};

TEST_P(ValidUuid, KeepsTheIdentifierWithoutItsCopySuffix)
{
    const auto& c = GetParam();
    const QString result = U::validUUID(c.input);
    EXPECT_EQ(result.isNull(), c.expected.isNull()) << c.input.toStdString();
    EXPECT_EQ(result, c.expected) << c.input.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Table, ValidUuid,
    ::testing::Values(UuidCase{kUuid, kUuid}, UuidCase{kUuid + "-2", kUuid}, UuidCase{kUuid + "-17", kUuid},
                      UuidCase{kUuid.toLower(), kUuid}, UuidCase{kUuid.toLower() + "-2", kUuid},
                      UuidCase{kUuid.left(9) + kUuid.mid(9).toLower(), kUuid},
                      UuidCase{"{" + kUuid + "}", QString()}, UuidCase{"abcdefABCDEF", QString()},
                      UuidCase{"abcdefABCDEF1", "abcdefABCDEF1"},
                      UuidCase{"abcdefABCDEF1-3", "abcdefABCDEF1"},
                      UuidCase{QString(23, 'a'), QString(23, 'a')}, UuidCase{QString(24, 'a'), QString()},
                      UuidCase{kUuid + "-", QString()}, UuidCase{kUuid + "-x", QString()},
                      UuidCase{"../../etc/passwd", QString()}, UuidCase{"", QString()},
                      // The pattern's "$" also matches before a final line break; the
                      // identifier handed back never contains it.
                      UuidCase{kUuid + "\n", kUuid}, UuidCase{kUuid + "\nX", QString()}));

TEST(QVRUtilitiesStrings, UuidsAreStoredUpperCaseAndOtherIdsAsWritten)
{
    struct Case
    {
        QString input;
        QString stored;
    };
    for (const Case& c : {Case{kUuid, kUuid}, Case{kUuid.toLower(), kUuid},
                          Case{kUuid.toLower() + "-3", kUuid + "-3"}, Case{"abcdefABCDEF1", "abcdefABCDEF1"},
                          Case{"not a uuid", "not a uuid"}, Case{"", ""}, Case{QString(), QString()}}) {
        EXPECT_EQ(U::normalizedUUID(c.input), c.stored) << c.input.toStdString();
        EXPECT_EQ(U::normalizedUUID(c.input).isNull(), c.stored.isNull()) << c.input.toStdString();
    }
}

TEST(QVRUtilitiesStrings, UuidThatCouldLeaveItsFolderIsNeverSafe)
{
    struct Case
    {
        QString uuid;
        bool safe;
    };
    for (const Case& c :
         {Case{kUuid, true}, Case{kUuid.toLower(), true}, Case{"abc-123 copy", true}, Case{"", false},
          Case{QString(), false}, Case{".", false}, Case{"..", false}, Case{"../x", false},
          Case{"a/b", false}, Case{"a\\b", false}, Case{"..\\..\\x", false},
          Case{QString("a") + QChar(u'\0') + "b", false}, Case{"...", true}}) {
        EXPECT_EQ(U::isSafeUUID(c.uuid), c.safe) << c.uuid.toStdString();
    }
}

TEST(QVRUtilitiesStrings, EmptinessAndTrimming)
{
    const QString blank = QString::fromUtf8(" \n\t\u00a0\u2028 ");
    EXPECT_TRUE(U::hasValue(blank));
    EXPECT_FALSE(U::hasTrimmedValue(blank));
    EXPECT_FALSE(U::hasValue(QString()));
    EXPECT_EQ(U::trimmedString(QString::fromUtf8("\u2029 a b \r\n")), QStringLiteral("a b"));
    EXPECT_TRUE(U::string(QString(), QString()));
    EXPECT_FALSE(U::string(QString(), QStringLiteral("")));
    EXPECT_TRUE(U::string(QStringLiteral("a"), QStringLiteral("a")));
    EXPECT_TRUE(U::isAlphaNumeric(QString()));
    EXPECT_TRUE(U::isAlphaNumeric(QString::fromUtf8("Ünïcode123\U0001D400")));
    EXPECT_FALSE(U::isAlphaNumeric(QStringLiteral("a b")));
    EXPECT_TRUE(U::isURL(QStringLiteral("https://x")));
    EXPECT_TRUE(U::isURL(QStringLiteral("http://x")));
    EXPECT_FALSE(U::isURL(QStringLiteral("HTTP://x")));
    EXPECT_FALSE(U::isURL(QStringLiteral(" http://x")));
}

TEST(QVRUtilitiesStrings, TrimToLengthWithTinyMaximumGivesOnlyTheEllipsis)
{
    const QString ellipsis(QChar(0x2026));
    EXPECT_EQ(U::trimToLength(QStringLiteral("hello"), 0), ellipsis);
    EXPECT_EQ(U::trimToLength(QStringLiteral("hello"), 1), ellipsis);
    EXPECT_EQ(U::trimToLength(QStringLiteral("hello"), 2), ellipsis);
    EXPECT_EQ(U::trimToLength(QStringLiteral(""), 0), QStringLiteral(""));
}

TEST(QVRUtilitiesStrings, TrimToLengthCutsOnCharactersAndDropsTrailingPunctuation)
{
    EXPECT_EQ(U::trimToLength(QStringLiteral("hello"), 5), QStringLiteral("hello"));
    EXPECT_EQ(U::trimToLength(QStringLiteral("hello world"), 8), QStringLiteral("hello") + QChar(0x2026));
    EXPECT_EQ(U::trimToLength(QStringLiteral("abc, .;def"), 8), QStringLiteral("abc") + QChar(0x2026));
    // A surrogate pair straddling the cut is kept whole rather than split.
    const QString emoji = QString::fromUtf8("ab\U0001F600cd");
    const QString cut = U::trimToLength(emoji, 5); // keep 3 units: "ab" + half the pair
    EXPECT_EQ(cut, QString::fromUtf8("ab\U0001F600") + QChar(0x2026));
}

struct EscapeCase
{
    QString input;
    QString expected;
};
void PrintTo(const EscapeCase& c, std::ostream* os)
{
    *os << '"' << c.input.toStdString() << '"';
}
class FullEscape : public ::testing::TestWithParam<EscapeCase>
{
};
TEST_P(FullEscape, EscapesEveryReservedByte)
{
    EXPECT_EQ(U::fullEscape(GetParam().input), GetParam().expected);
}
INSTANTIATE_TEST_SUITE_P(
    Table, FullEscape,
    ::testing::Values(EscapeCase{" ", "%20"}, EscapeCase{"&", "%26"}, EscapeCase{"/", "%2F"},
                      EscapeCase{QString::fromUtf8("é"), "%C3%A9"},
                      EscapeCase{":/?&=;+!@#$()',*", "%3A%2F%3F%26%3D%3B%2B%21%40%23%24%28%29%27%2C%2A"},
                      EscapeCase{"%", "%25"}, EscapeCase{"a-b._~Z9", "a-b._~Z9"},
                      EscapeCase{QString::fromUtf8("\U0001F600"), "%F0%9F%98%80"}));

TEST(QVRUtilitiesStrings, SpacesAndLineEndings)
{
    EXPECT_EQ(U::reduceSpaces(QString::fromUtf8("a \t\n\u00a0\u2028b  c")), QStringLiteral("a b c"));
    const QString normalized = U::normalizeLineEndings(QStringLiteral("a\r\nb\rc\nd\r\n\r\n"));
    EXPECT_EQ(normalized, QStringLiteral("a\nb\nc\nd\n\n"));
    EXPECT_FALSE(normalized.contains(QLatin1Char('\r')));
}

TEST(QVRUtilitiesStrings, QueryStrings)
{
    EXPECT_EQ(U::addKey(QStringLiteral("cmd=get"), QStringLiteral("text"), QStringLiteral("a b&c")),
              QStringLiteral("cmd=get&text=a%20b%26c"));
    EXPECT_EQ(U::addKey(QStringLiteral("x"), QString(), QStringLiteral("v")), QStringLiteral("x"));
    EXPECT_EQ(U::addKey(QStringLiteral("x"), QStringLiteral("k"), QString()), QStringLiteral("x"));
    EXPECT_EQ(U::addKey(QStringLiteral("x"), QStringLiteral("k"), QStringLiteral("v"), -3),
              QStringLiteral("x&k-3=v"));

    const auto dict = U::dictionaryFromQuery(QStringLiteral("text=a%20b%C3%A9&novalue&k=1=2&plus=a+b"));
    EXPECT_EQ(dict.size(), 3);
    EXPECT_EQ(dict.value("text"), QString::fromUtf8("a bé"));
    EXPECT_EQ(dict.value("k"), QStringLiteral("1=2"));
    EXPECT_EQ(dict.value("plus"), QStringLiteral("a+b"));
    // An invalid escape removes the key, also one set earlier.
    const auto bad = U::dictionaryFromQuery(QStringLiteral("a=1&a=%ZZ&b=%C3&c=%4&d=ok"));
    EXPECT_EQ(bad.keys(), QStringList{"d"});
    EXPECT_EQ(U::dictionaryFromQuery(QStringLiteral("a=1&a=2")).value("a"), QStringLiteral("2"));
}

// ------------------------------------------------------------ settings

class QVRUtilitiesDefaults : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_defaults = std::make_unique<platform::UserDefaults>(m_dir.filePath("settings.plist"));
        m_token = platform::NotificationCenter::defaultCenter().addObserver(
            QVRUserDefaultsDidChangeNotification, nullptr,
            [this](const platform::Notification& n) { m_posted.push_back(n); });
    }
    QTemporaryDir m_dir;
    std::unique_ptr<platform::UserDefaults> m_defaults;
    std::vector<platform::Notification> m_posted;
    platform::ObserverToken m_token;
};

TEST_F(QVRUtilitiesDefaults, SettersAnnounceKeyAndValueOnlyWhenAsked)
{
    U::setBool(*m_defaults, true, QStringLiteral("Hide Automatically"), true);
    U::setInteger(*m_defaults, 14, QStringLiteral("Text Size"), false);
    U::removeObjectForKey(*m_defaults, QStringLiteral("Hide Automatically"), true);
    ASSERT_EQ(m_posted.size(), 2u);
    EXPECT_EQ(m_posted[0].sender, m_defaults.get());
    EXPECT_EQ(m_posted[0].userInfo.value(QVRUserDefaultsKey), QStringLiteral("Hide Automatically"));
    EXPECT_EQ(m_posted[0].userInfo.value(QVRUserDefaultsValue), QVariant(true));
    // A removal carries the key alone.
    EXPECT_EQ(m_posted[1].userInfo.keys(), QStringList{QVRUserDefaultsKey});
    EXPECT_EQ(m_defaults->integer(QStringLiteral("Text Size")), 14);
    EXPECT_FALSE(m_defaults->boolValue(QStringLiteral("Hide Automatically")));
    EXPECT_EQ(QVRUserDefaultsDidChangeNotification, QStringLiteral("QVRUserDefaultsDidChangeNotification"));
    EXPECT_EQ(QVRUserDefaultsKey, QStringLiteral("QVRUserDefaultsKey"));
    EXPECT_EQ(QVRUserDefaultsValue, QStringLiteral("QVRUserDefaultsValue"));
}

TEST_F(QVRUtilitiesDefaults, IncrementStartsFromZero)
{
    EXPECT_EQ(U::incrementedIntegerForKey(*m_defaults, QStringLiteral("n")), 1);
    EXPECT_EQ(U::incrementedIntegerForKey(*m_defaults, QStringLiteral("n")), 2);
    m_defaults->set(QStringLiteral("s"), QStringLiteral("text"));
    EXPECT_EQ(U::incrementedIntegerForKey(*m_defaults, QStringLiteral("s")), 1);
}

TEST_F(QVRUtilitiesDefaults, TransferMovesTheValueToOtherSettings)
{
    platform::UserDefaults other(m_dir.filePath("other.plist"));
    m_defaults->set(QStringLiteral("k"), QStringLiteral("v"));
    EXPECT_TRUE(U::transferObjectForKey(*m_defaults, QStringLiteral("k"), other));
    EXPECT_EQ(other.string(QStringLiteral("k")), QStringLiteral("v"));
    EXPECT_FALSE(m_defaults->object(QStringLiteral("k")).isValid());
    EXPECT_FALSE(U::transferObjectForKey(*m_defaults, QStringLiteral("k"), other));
}

TEST_F(QVRUtilitiesDefaults, TransferOntoTheSameSettingsKeepsTheValue)
{
    m_defaults->set(QStringLiteral("k"), QStringLiteral("v"));
    EXPECT_FALSE(U::transferObjectForKey(*m_defaults, QStringLiteral("k"), *m_defaults));
    EXPECT_EQ(m_defaults->string(QStringLiteral("k")), QStringLiteral("v"));
    // A second object over the same file is the same settings too.
    platform::UserDefaults sameFile(m_dir.filePath("settings.plist"));
    EXPECT_FALSE(U::transferObjectForKey(*m_defaults, QStringLiteral("k"), sameFile));
    EXPECT_EQ(m_defaults->string(QStringLiteral("k")), QStringLiteral("v"));
}

// The names below are spelled out as the settings files of earlier versions
// hold them: a name changed in the table would lose the user's setting.
TEST_F(QVRUtilitiesDefaults, SettingsReadWhatEarlierVersionsWrote)
{
    namespace K = QVRDefaultsKeys;
    const QVariantMap shortcut{{"code", 49}, {"flags", 1048576}};
    {
        platform::UserDefaults earlier(m_dir.filePath("settings.plist"));
        const QVariantMap stored{{"Text Size", 14},
                                 {"Text Checking Types", 3},
                                 {"Menu Bar Mode", true},
                                 {"Hide Automatically", true},
                                 {"selected", QStringLiteral("A-1")},
                                 {"noteIsOpen", true},
                                 {"AppleMiniaturizeOnDoubleClick", true},
                                 {"Global Shortcut", shortcut},
                                 {"QVRStartAtLogin", true},
                                 {"QVRLastInstalledVersion", 600},
                                 {"firstrun", false},
                                 {"QVRHistoryDays", 30},
                                 {"syncsuccess", true},
                                 {"syncemail", QStringLiteral("me@example.com")},
                                 {"syncclient", QStringLiteral("C1")},
                                 {"syncupdated", 5.5},
                                 {"syncoffset", -2.0},
                                 {"iCloudToken", QByteArray("token")},
                                 {"NSWindow Frame Quillary Dock", QStringLiteral("1 2 3 4")},
                                 {"QVRDataStoreUpdated", 7.0},
                                 {"QVRDataStoreUpdated-Sync", 8.0}};
        for (auto it = stored.begin(); it != stored.end(); ++it)
            earlier.set(it.key(), it.value());
    }
    m_defaults->reload();
    const platform::UserDefaults& d = *m_defaults;
    EXPECT_EQ(K::value(d, K::TextSize), 14);
    EXPECT_EQ(K::value(d, K::TextCheckingTypes), 3);
    EXPECT_TRUE(K::value(d, K::MenuBarMode));
    EXPECT_TRUE(K::value(d, K::HideAutomatically));
    EXPECT_EQ(K::value(d, K::Selected), QStringLiteral("A-1"));
    EXPECT_TRUE(K::value(d, K::NoteIsOpen));
    EXPECT_TRUE(K::value(d, K::MinimizeOnDoubleClick));
    EXPECT_EQ(K::value(d, K::GlobalShortcut).value("code").toInt(), 49);
    EXPECT_TRUE(K::value(d, K::StartAtLogin));
    EXPECT_EQ(K::value(d, K::LastInstalledVersion), 600);
    EXPECT_FALSE(K::value(d, K::FirstRun));
    EXPECT_EQ(K::value(d, K::HistoryDays), 30);
    EXPECT_TRUE(K::value(d, K::SyncEnabled));
    EXPECT_EQ(K::value(d, K::SyncEmail), QStringLiteral("me@example.com"));
    EXPECT_EQ(K::value(d, K::SyncClient), QStringLiteral("C1"));
    EXPECT_DOUBLE_EQ(K::value(d, K::SyncUpdated), 5.5);
    EXPECT_DOUBLE_EQ(K::value(d, K::SyncOffset), -2.0);
    EXPECT_EQ(K::value(d, K::CloudToken), QByteArray("token"));
    EXPECT_EQ(d.string(K::windowFrame(QStringLiteral("Quillary Dock"))), QStringLiteral("1 2 3 4"));
    EXPECT_DOUBLE_EQ(d.doubleValue(K::dataStoreUpdated(QString())), 7.0);
    EXPECT_DOUBLE_EQ(d.doubleValue(K::dataStoreUpdated(QStringLiteral("Sync"))), 8.0);
}

// A value of the wrong type (an edited file, another program's key of the
// same name) reads as the setting's default, as nothing stored does; untyped
// reads of registered settings agree.
TEST_F(QVRUtilitiesDefaults, SettingOfTheWrongTypeReadsAsItsDefault)
{
    namespace K = QVRDefaultsKeys;
    EXPECT_EQ(K::value(*m_defaults, K::TextSize), 12);
    EXPECT_TRUE(K::value(*m_defaults, K::FirstRun));
    EXPECT_EQ(K::value(*m_defaults, K::HistoryDays), 90);
    m_defaults->set(K::TextSize, QStringLiteral("big"));
    m_defaults->set(K::FirstRun, QStringLiteral("no"));
    m_defaults->set(K::HistoryDays, QVariantMap{{"days", 3}});
    m_defaults->set(K::Selected, 5);
    EXPECT_EQ(K::value(*m_defaults, K::TextSize), 12);
    EXPECT_TRUE(K::value(*m_defaults, K::FirstRun));
    EXPECT_EQ(K::value(*m_defaults, K::HistoryDays), 90);
    EXPECT_EQ(K::value(*m_defaults, K::Selected), QString());
    platform::UserDefaults fresh(m_dir.filePath("fresh.plist"));
    fresh.registerDefaults(K::registration(K::TextSize, K::FirstRun, K::HistoryDays, K::Selected));
    EXPECT_EQ(fresh.integer(K::TextSize), K::value(fresh, K::TextSize));
    EXPECT_EQ(fresh.boolValue(K::FirstRun), K::value(fresh, K::FirstRun));
    EXPECT_EQ(fresh.integer(K::HistoryDays), K::value(fresh, K::HistoryDays));
    EXPECT_EQ(fresh.string(K::Selected), K::value(fresh, K::Selected));
}

// ------------------------------------------------------------ files

TEST(QVRUtilitiesFiles, UniqueExportNames)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    auto touch = [](const QString& path) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    };
    const QString first = U::urlForFileName(QStringLiteral("a:b/c  d"), QStringLiteral("txt"), dir.path());
    EXPECT_EQ(first, dir.filePath(QStringLiteral("a-b-c d.txt")));
    touch(first);
    const QString second = U::urlForFileName(QStringLiteral("a:b/c  d"), QStringLiteral("txt"), dir.path());
    EXPECT_EQ(second, dir.filePath(QStringLiteral("a-b-c d-1.txt")));
    touch(second);
    EXPECT_EQ(U::urlForFileName(QStringLiteral("a:b/c  d"), QStringLiteral("txt"), dir.path()),
              dir.filePath(QStringLiteral("a-b-c d-2.txt")));
    // A name of "..", or one made only of slashes, stays inside the folder.
    for (const QString& name : {QStringLiteral(".."), QStringLiteral("../../x"), QStringLiteral("/")}) {
        const QString path = U::urlForFileName(name, QStringLiteral("txt"), dir.path());
        EXPECT_EQ(QFileInfo(path).absolutePath(), QDir(dir.path()).absolutePath()) << name.toStdString();
    }
}

TEST(QVRUtilitiesFiles, LongNamesAreCutWithoutSplittingCharacters)
{
    QTemporaryDir dir;
    const QString forty(40, QLatin1Char('x'));
    EXPECT_EQ(QFileInfo(U::urlForFileName(forty, "txt", dir.path())).fileName(), forty + ".txt");
    const QString fortyOne(41, QLatin1Char('x'));
    EXPECT_EQ(QFileInfo(U::urlForFileName(fortyOne, "txt", dir.path())).fileName(),
              QString(39, QLatin1Char('x')) + QChar(0x2026) + ".txt");
    // Unit 39 is the first half of an emoji: the whole emoji goes.
    const QString split =
        QString(38, QLatin1Char('y')) + QString::fromUtf8("\U0001F600") + QStringLiteral("zz");
    const QString name = QFileInfo(U::urlForFileName(split, "txt", dir.path())).fileName();
    EXPECT_EQ(name, QString(38, QLatin1Char('y')) + QChar(0x2026) + ".txt");
}

TEST(QVRUtilitiesFiles, QueryPartCharacterSetLeavesOutDelimiters)
{
    const QByteArray& set = QVRURLPartEncoding::URLQueryPartAllowedCharacterSet();
    for (char c : QByteArray("?&=@+/' "))
        EXPECT_FALSE(set.contains(c)) << c;
    for (char c : QByteArray("aZ09-._~!$()*,;:"))
        EXPECT_TRUE(set.contains(c)) << c;
}

} // namespace
