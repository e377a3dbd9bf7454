#include "hotkey/KRKeyCodeTransformer.h"
#include "hotkey/KRRecorderControl.h"
#include "platform/core/Log.h"
#include "platform/core/UserDefaults.h"
#include "platform/x11/KeyboardLayout.h"
#include "platform/x11/SystemShortcutOracle.h"

#include <QAccessible>
#include <QApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>
#include <limits>

using namespace platform;
namespace KF = platform::KeyFlags;

namespace {

struct RecordingDelegate : KRRecorderCellDelegate, KRRecorderDelegate
{
    std::vector<KeyCombo> changes;
    bool claim = false;
    void keyRecorderCellKeyComboDidChange(KRRecorderCell*, KeyCombo c) override { changes.push_back(c); }
    bool keyRecorderCellIsKeyCodeAndFlagsTaken(KRRecorderCell*, int64_t, uint64_t, QString* r) override
    {
        *r = QStringLiteral("it is mine");
        return claim;
    }
    void keyRecorderKeyComboDidChange(KRRecorderControl*, KeyCombo c) override { changes.push_back(c); }
    bool keyRecorderIsKeyCodeAndFlagsTaken(KRRecorderControl*, int64_t, uint64_t, QString* r) override
    {
        *r = QStringLiteral("it is mine");
        return claim;
    }
};

KeyEventInfo key(int code, uint64_t flags)
{
    return KeyMap::makeKeyEvent(code, flags, KeyboardLayout::current());
}

struct Recorder : ::testing::Test
{
    RecordingDelegate delegate;
    KRRecorderCell cell;
    std::vector<Error> alerts;
    uint64_t heldFlags = 0;
    QMenu menu;

    void SetUp() override
    {
        KeyboardLayout::setCurrent(KeyboardLayout::fromNames(QStringLiteral("us")));
        KRValidator::setSystemShortcutOracle(
            std::make_shared<ListedSystemShortcuts>(std::vector<SymbolicHotKey>{}));
        KRValidator::setMainMenuProvider([this] { return menu.actions(); });
        KRRecorderCell::setAlertPresenter([this](const Error& e) { alerts.push_back(e); });
        KRRecorderCell::setCurrentFlagsProvider([this] { return heldFlags; });
        cell.setDelegate(&delegate);
    }
    void TearDown() override
    {
        KRValidator::setSystemShortcutOracle(nullptr);
        KRValidator::setMainMenuProvider({});
        KRRecorderCell::setAlertPresenter({});
        KRRecorderCell::setCurrentFlagsProvider({});
    }
    void startRecording()
    {
        ASSERT_TRUE(cell.performKeyEquivalent(key(49, 0)));
        ASSERT_TRUE(cell.isRecording());
    }
};

} // namespace

TEST_F(Recorder, OptionCommandKRecordsOnceAndStopsRecording)
{
    startRecording();
    EXPECT_TRUE(cell.performKeyEquivalent(key(40, KF::Option | KF::Command)));
    EXPECT_EQ(cell.keyCombo(), (KeyCombo{0x180000, 40}));
    ASSERT_EQ(delegate.changes.size(), 1u);
    EXPECT_EQ(delegate.changes[0], (KeyCombo{0x180000, 40}));
    EXPECT_FALSE(cell.isRecording());
    EXPECT_EQ(cell.keyComboString(), QStringLiteral("⌥⌘K"));
    EXPECT_TRUE(cell.hasKeyChars());
    EXPECT_EQ(cell.keyCharsIgnoringModifiers(), QStringLiteral("k"));
}

TEST_F(Recorder, PlainKeyIsIgnoredAndEscapeCancels)
{
    cell.setKeyCombo({0x100000, 8});
    delegate.changes.clear();
    startRecording();
    EXPECT_FALSE(cell.performKeyEquivalent(key(40, 0)));
    EXPECT_TRUE(cell.isRecording());
    EXPECT_TRUE(cell.performKeyEquivalent(key(53, 0)));
    EXPECT_FALSE(cell.isRecording());
    EXPECT_EQ(cell.keyCombo(), (KeyCombo{0x100000, 8}));
    EXPECT_TRUE(delegate.changes.empty());
}

TEST_F(Recorder, KeyOnlyAndCancelKeyRules)
{
    const struct
    {
        bool keyOnly, escapeRecords;
        int code;
        uint64_t flags;
        bool recorded;
    } rows[] = {
        {false, false, 117, 0, true}, // forward delete carries the function bit: a valid combination
        {false, false, 51, 0, false}, // delete alone cancels
        {false, false, 53, KF::Command, true},
        {true, false, 40, 0, true},  // key only: a plain letter records
        {true, false, 53, 0, false}, // ...but escape still cancels
        {true, true, 53, 0, true},   // unless cancel keys record
        {false, false, 96, 0, true}, // F5 alone: function bit
    };
    for (const auto& r : rows) {
        KRRecorderCell c;
        c.setAllowsKeyOnly(r.keyOnly, r.escapeRecords);
        c.performKeyEquivalent(key(49, 0));
        ASSERT_TRUE(c.isRecording());
        EXPECT_TRUE(c.performKeyEquivalent(key(r.code, r.flags)));
        EXPECT_FALSE(c.isRecording());
        EXPECT_EQ(c.keyCombo().code == r.code, r.recorded) << r.code << " keyOnly " << r.keyOnly;
    }
}

TEST_F(Recorder, RequiredFlagsShowAtOnceAndJoinTheCombination)
{
    cell.setRequiredFlags(KF::Command);
    startRecording();
    EXPECT_EQ(cell.recordingFlags(), KF::Command);
    EXPECT_TRUE(cell.performKeyEquivalent(key(40, 0)));
    EXPECT_EQ(cell.keyCombo(), (KeyCombo{KF::Command, 40}));
}

TEST_F(Recorder, FilterDropsCapsLockAndFlagsOutsideTheAllowedSet)
{
    startRecording();
    cell.flagsChanged(KF::CapsLock | KF::Shift);
    EXPECT_EQ(cell.recordingFlags(), KF::Shift);
    cell.performKeyEquivalent(key(40, KF::CapsLock | KF::Command));
    EXPECT_EQ(cell.keyCombo().flags, KF::Command);
    delegate.changes.clear();
    cell.setAllowedFlags(0x800000);
    EXPECT_EQ(cell.keyCombo().flags, 0u); // re-filtered and reported
    EXPECT_EQ(delegate.changes.size(), 1u);
    cell.setKeyCombo({KF::Command, 40});
    EXPECT_EQ(cell.keyCombo(), (KeyCombo{0, 40}));
    EXPECT_TRUE(cell._isEmpty());
    EXPECT_TRUE(cell.keyComboString().isNull());
}

TEST_F(Recorder, TakenCombinationShowsTheReasonAndKeepsRecording)
{
    delegate.claim = true;
    startRecording();
    EXPECT_TRUE(cell.performKeyEquivalent(key(40, KF::Command)));
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0].recoverySuggestion,
              QStringLiteral("The key combination \"Command + K\" can't be used because it is mine."));
    EXPECT_TRUE(cell.isRecording());
    EXPECT_TRUE(delegate.changes.empty());
}

TEST_F(Recorder, EventWithoutCharactersBeepsAndEnds)
{
    int beeps = 0;
    QObject::connect(&cell, &KRRecorderCell::beeped, [&] { ++beeps; });
    startRecording();
    KeyEventInfo e = key(40, KF::Command);
    e.characters.clear();
    e.charactersIgnoringModifiers.clear();
    EXPECT_TRUE(cell.performKeyEquivalent(e));
    EXPECT_EQ(beeps, 1);
    EXPECT_FALSE(cell.isRecording());
    EXPECT_EQ(cell.keyCombo().code, -1);
}

struct FunctionKeyRow
{
    const char* what;
    Qt::Key key;
    const char* shown; // nullptr: refused with a beep, nothing recorded
};

class FunctionKeyThroughTheControl : public Recorder, public ::testing::WithParamInterface<FunctionKeyRow>
{
};

TEST_P(FunctionKeyThroughTheControl, IsRecordedByNameOrRefusedWithoutAnEmptyNamedAlert)
{
    const FunctionKeyRow& row = GetParam();
    KRRecorderControl control;
    control.setKeyCombo({KF::Command, 8});
    control.setDelegate(&delegate);
    int beeps = 0;
    QObject::connect(control.cell(), &KRRecorderCell::beeped, [&] { ++beeps; });
    QTest::keyClick(&control, Qt::Key_Space);
    ASSERT_TRUE(control.cell()->isRecording());
    QTest::keyClick(&control, row.key, Qt::ControlModifier);
    EXPECT_FALSE(control.cell()->isRecording());
    EXPECT_TRUE(alerts.empty()) << alerts.front().localizedDescription.toStdString();
    if (row.shown) {
        EXPECT_EQ(control.keyComboString(), QString::fromUtf8(row.shown));
        EXPECT_EQ(beeps, 0);
    } else {
        EXPECT_EQ(control.keyCombo(), (KeyCombo{KF::Command, 8})) << control.keyComboString().toStdString();
        EXPECT_EQ(beeps, 1);
        EXPECT_TRUE(delegate.changes.empty());
    }
    control.setDelegate(nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    UsLayout, FunctionKeyThroughTheControl,
    ::testing::Values(FunctionKeyRow{"F1", Qt::Key_F1, "⌘F1"}, FunctionKeyRow{"F19", Qt::Key_F19, "⌘F19"},
                      // Code 90: the layout puts the microphone-mute key there, with no text.
                      FunctionKeyRow{"F20", Qt::Key_F20, nullptr}),
    [](const auto& info) { return std::string(info.param.what); });

TEST_F(Recorder, KeyOutsideTheKeyTableIsRefusedWithABeepNotAnAlert)
{
    int beeps = 0;
    QObject::connect(&cell, &KRRecorderCell::beeped, [&] { ++beeps; });
    cell.setKeyCombo({KF::Command, 8});
    startRecording();
    KeyEventInfo nameless = key(40, KF::Command);
    nameless.code = 127;
    EXPECT_TRUE(cell.performKeyEquivalent(nameless));
    EXPECT_TRUE(alerts.empty()) << alerts.front().localizedDescription.toStdString();
    EXPECT_EQ(beeps, 1);
    EXPECT_FALSE(cell.isRecording());
    EXPECT_EQ(cell.keyCombo(), (KeyCombo{KF::Command, 8}));
}

TEST_F(Recorder, ScreenReaderHearsTheCombinationInWords)
{
    KRRecorderControl control;
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(&control);
    ASSERT_NE(iface, nullptr);
    EXPECT_EQ(iface->role(), QAccessible::Button);
    const struct
    {
        KeyCombo combo;
        const char* name;
    } rows[] = {
        {{KF::Command | KF::Option, 40}, "Command + Option + K"},
        {{KF::Control | KF::Shift, 122}, "Control + Shift + F1"},
        {{KF::Command, 49}, "Command + Space"},
        {{KF::Command, 127}, "Click to record shortcut"}, // a key with no name
        {{}, "Click to record shortcut"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        control.setKeyCombo(row.combo);
        EXPECT_EQ(iface->text(QAccessible::Name), QString::fromUtf8(row.name));
    }
    // Recording through the keyboard names the new combination too.
    QTest::keyClick(&control, Qt::Key_Space);
    EXPECT_EQ(iface->text(QAccessible::Description), QStringLiteral("Type shortcut"));
    QTest::keyClick(&control, Qt::Key_J, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(iface->text(QAccessible::Name), QStringLiteral("Command + Shift + J"));
    EXPECT_TRUE(iface->text(QAccessible::Description).isEmpty());
    // A name the application gives still wins.
    control.setAccessibleName(QStringLiteral("Keyboard shortcut"));
    EXPECT_EQ(iface->text(QAccessible::Name), QStringLiteral("Keyboard shortcut"));
}

TEST_F(Recorder, StoredValuesOutOfRangeReadAsTheEmptyCombination)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const struct
    {
        QVariant code, flags;
        KeyCombo expected;
    } rows[] = {
        {1e30, -5.5, {}},
        {40.5, qulonglong(KF::Command), {}},
        {-3, qulonglong(KF::Command), {}},
        {0x8000, qulonglong(KF::Command), {}},
        {qulonglong(40) << 40, qulonglong(KF::Command), {}},
        {nan, qulonglong(KF::Command), {}},
        {40, inf, {}},
        {40, -1, {}},
        {40, 1.8446744073709552e19, {}}, // 2^64: no mask is that large
        {40, QStringLiteral("1048576"), {}},
        {40.0, double(KF::Command), {KF::Command, 40}},
        {qulonglong(40), qulonglong(KF::Command | KF::Option), {KF::Command | KF::Option, 40}},
        {short(12), int(KF::Shift), {KF::Shift, 12}},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.code.toString().toStdString() + " / " + r.flags.toString().toStdString());
        const bool empty = r.expected == KeyCombo{};
        // A binding.
        KRRecorderControl bound;
        bound.setKeyCombo({KF::Command, 8});
        bound.setObjectValue(QVariantMap{{"keyCode", r.code}, {"modifierFlags", r.flags}});
        EXPECT_EQ(bound.keyCombo(), r.expected);
        EXPECT_EQ(bound.keyComboString().isNull(), empty) << bound.keyComboString().toStdString();
        // Autosave.
        UserDefaults::standard().set(QStringLiteral("KeyRecorder Hostile"), QVariant());
        UserDefaults::standard().set(QStringLiteral("KeyRecorder Hostile"),
                                     QVariantMap{{"keyCode", r.code}, {"modifierFlags", r.flags}});
        KRRecorderCell saved;
        saved.setAutosaveName(QStringLiteral("Hostile"));
        saved._loadKeyCombo();
        EXPECT_EQ(saved.keyCombo(), r.expected);
        // The archive.
        KRRecorderCell archived;
        archived.initWithCoder(QVariantMap{{"keyComboCode", r.code}, {"keyComboFlags", r.flags}});
        EXPECT_EQ(archived.keyCombo(), r.expected);
    }
    // The hot-key form of the mask, too.
    UserDefaults::standard().set(QStringLiteral("KeyRecorder Hostile"),
                                 QVariantMap{{"keyCode", 3}, {"modifiers", -5.5}});
    KRRecorderCell carbon;
    carbon.setAutosaveName(QStringLiteral("Hostile"));
    carbon._loadKeyCombo();
    EXPECT_EQ(carbon.keyCombo(), KeyCombo{});
}

TEST_F(Recorder, AutosaveWritesBothMaskFormsAndReadsThemBack)
{
    cell.setAutosaveName(QStringLiteral("RoundTrip"));
    startRecording();
    cell.performKeyEquivalent(key(40, KF::Option | KF::Command));
    const QVariantMap d = UserDefaults::standard().dictionary(QStringLiteral("KeyRecorder RoundTrip"));
    EXPECT_EQ(d.value("keyCode").toLongLong(), 40);
    EXPECT_EQ(d.value("modifierFlags").toULongLong(), 0x180000u);
    EXPECT_EQ(d.value("modifiers").toULongLong(), 0x900u);
    EXPECT_EQ(d.value("keyCharsIgnoringModifiers").toString(), QStringLiteral("k"));

    KRRecorderCell other;
    other.setAutosaveName(QStringLiteral("RoundTrip"));
    other._loadKeyCombo();
    EXPECT_EQ(other.keyCombo(), (KeyCombo{0x180000, 40}));
    EXPECT_TRUE(other.hasKeyChars());

    UserDefaults::standard().set(QStringLiteral("KeyRecorder CarbonOnly"),
                                 QVariantMap{{"keyCode", 3}, {"modifiers", 0x1100}});
    other.setAutosaveName(QStringLiteral("CarbonOnly"));
    other._loadKeyCombo();
    EXPECT_EQ(other.keyCombo(), (KeyCombo{0x140000, 3}));
    EXPECT_FALSE(other.hasKeyChars());
}

TEST_F(Recorder, AbsentAutosaveEntryKeepsTheArchivedCombination)
{
    KRRecorderCell archived;
    archived.setDelegate(&delegate);
    archived.setAllowsKeyOnly(true);
    archived.initWithCoder(QVariantMap{{"autosaveName", "NeverSaved"},
                                       {"keyComboCode", 40},
                                       {"keyComboFlags", qulonglong(KF::Command)},
                                       {"allowsKeyOnly", true}});
    EXPECT_EQ(archived.keyCombo(), (KeyCombo{KF::Command, 40}));
    for (const KeyCombo& c : delegate.changes)
        EXPECT_NE(c.code, 0) << "invented the A key";
}

TEST_F(Recorder, ArchiveRoundTripAddsTheFunctionBit)
{
    cell.setAllowedFlags(0x1E0000);
    cell.setStyle(1);
    cell.setAnimates(true);
    cell.setAllowsKeyOnly(true, true);
    cell.setKeyCombo({KF::Shift, 12});
    KRRecorderCell copy;
    copy.initWithCoder(cell.encodeWithCoder());
    EXPECT_EQ(copy.allowedFlags(), 0x9E0000u);
    EXPECT_EQ(copy.keyCombo(), (KeyCombo{KF::Shift, 12}));
    EXPECT_EQ(copy.style(), 1);
    EXPECT_TRUE(copy.animates());
    EXPECT_TRUE(copy.allowsKeyOnly());
    EXPECT_TRUE(copy.escapeKeysRecord());
}

TEST_F(Recorder, AnimatedTransitionEndsOnTheEleventhTick)
{
    cell.setAnimates(true);
    cell.setStyle(0);
    startRecording(); // style 0 never animates
    cell._endRecording();
    cell.setStyle(1);
    cell.performKeyEquivalent(key(49, 0));
    EXPECT_TRUE(cell.isAnimatingNow());
    EXPECT_FALSE(cell.isRecording());
    for (int i = 0; i < 10; ++i)
        cell._transitionTick();
    EXPECT_FALSE(cell.isRecording());
    EXPECT_NEAR(cell.transitionProgress(), 10 * 0.095238097012043, 1e-9);
    cell._transitionTick();
    EXPECT_TRUE(cell.isRecording());
    EXPECT_FALSE(cell.isAnimatingNow());
    EXPECT_EQ(cell.transitionProgress(), 0);
}

// --- the control ---

struct Control : Recorder
{
    KRRecorderControl control;
    void SetUp() override
    {
        Recorder::SetUp();
        control.setDelegate(&delegate);
        control.setFrame(QRect(0, 0, 200, 22));
        control.show();
        control.activateWindow();
        control.setFocus();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&control));
    }
};

TEST_F(Control, FrameIsFixedHeightAndAtLeastFiftyWide)
{
    control.setFrame(QRect(0, 0, 30, 40));
    EXPECT_EQ(control.size(), QSize(50, 22));
    control.setFrameSize(QSize(200, 10));
    EXPECT_EQ(control.size(), QSize(200, 22));
}

TEST_F(Control, RecordsThroughKeyEventsAndShowsTheCombination)
{
    QTest::keyClick(&control, Qt::Key_Space);
    ASSERT_TRUE(control.cell()->isRecording());
    QTest::keyClick(&control, Qt::Key_K, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_EQ(control.keyCombo(), (KeyCombo{0x180000, 40}));
    EXPECT_EQ(control.keyComboString(), QStringLiteral("⌥⌘K"));
    ASSERT_FALSE(delegate.changes.empty());
    EXPECT_EQ(delegate.changes.back(), (KeyCombo{0x180000, 40}));
}

TEST_F(Control, ShortcutOverrideIsTakenWhileRecording)
{
    QKeyEvent idle(QEvent::ShortcutOverride, Qt::Key_N, Qt::ControlModifier);
    idle.ignore();
    QApplication::sendEvent(&control, &idle);
    EXPECT_FALSE(idle.isAccepted());
    QTest::keyClick(&control, Qt::Key_Space);
    QKeyEvent recording(QEvent::ShortcutOverride, Qt::Key_N, Qt::ControlModifier);
    recording.ignore();
    QApplication::sendEvent(&control, &recording);
    EXPECT_TRUE(recording.isAccepted());
}

TEST_F(Control, SecondSpaceWhileRecordingTakesNoSecondKeyboardGrab)
{
    control.setCanCaptureGlobalHotKeys(true);
    QTest::keyClick(&control, Qt::Key_Space);
    ASSERT_TRUE(control.cell()->holdsKeyboardGrab());
    EXPECT_EQ(QWidget::keyboardGrabber(), &control);
    QTest::keyClick(&control, Qt::Key_Space); // space alone while recording: not a combination
    EXPECT_TRUE(control.cell()->isRecording());
    QTest::keyClick(&control, Qt::Key_Escape);
    EXPECT_FALSE(control.cell()->isRecording());
    EXPECT_FALSE(control.cell()->holdsKeyboardGrab());
    EXPECT_EQ(QWidget::keyboardGrabber(), nullptr);
}

TEST_F(Control, RefusalAlertGetsTheKeyboardAndRecordingKeepsIt)
{
    control.setCanCaptureGlobalHotKeys(true);
    delegate.claim = true;
    QWidget* grabberDuringAlert = &control;
    KRRecorderCell::setAlertPresenter([&](const Error&) { grabberDuringAlert = QWidget::keyboardGrabber(); });
    QTest::keyClick(&control, Qt::Key_Space);
    QTest::keyClick(&control, Qt::Key_K, Qt::ControlModifier);
    EXPECT_EQ(grabberDuringAlert, nullptr);
    EXPECT_TRUE(control.cell()->isRecording());
    EXPECT_EQ(QWidget::keyboardGrabber(), &control);
    QTest::keyClick(&control, Qt::Key_Escape);
    EXPECT_EQ(QWidget::keyboardGrabber(), nullptr);
}

namespace {
// Dismisses the application's own modal alert as soon as it is up, the way a
// person pressing its button would; gives up after a bounded number of looks.
struct AlertDismisser : QObject
{
    int shown = 0;
    int looks = 0;
    QTimer timer;
    AlertDismisser()
    {
        timer.setInterval(10);
        connect(&timer, &QTimer::timeout, this, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box && box->isVisible()) {
                ++shown;
                box->buttons().value(0)->click();
            } else if (++looks > 500) {
                timer.stop();
            }
        });
        timer.start();
    }
};
} // namespace

TEST_F(Control, RecordingGoesOnAfterTheRealRefusalAlertIsDismissed)
{
    KRRecorderCell::setAlertPresenter({});
    for (const bool grab : {false, true}) {
        SCOPED_TRACE(grab ? "with the keyboard grab" : "without a grab");
        control.setCanCaptureGlobalHotKeys(grab);
        control.activateWindow();
        control.setFocus();
        delegate.claim = true;
        QTest::keyClick(&control, Qt::Key_Space);
        ASSERT_TRUE(control.cell()->isRecording());
        AlertDismisser dismisser;
        QTest::keyClick(&control, Qt::Key_K, Qt::ControlModifier);
        EXPECT_EQ(dismisser.shown, 1);
        EXPECT_TRUE(control.cell()->isRecording());
        delegate.claim = false;
        QTest::keyClick(&control, Qt::Key_K, Qt::ControlModifier | Qt::AltModifier);
        EXPECT_EQ(control.keyCombo(), (KeyCombo{0x180000, 40}));
        EXPECT_FALSE(control.cell()->isRecording());
        control.setKeyCombo({0, -1});
    }
}

TEST_F(Control, HidingWhileRecordingReleasesTheKeyboard)
{
    control.setCanCaptureGlobalHotKeys(true);
    QTest::keyClick(&control, Qt::Key_Space);
    control.hide();
    EXPECT_FALSE(control.cell()->isRecording());
    EXPECT_EQ(QWidget::keyboardGrabber(), nullptr);
}

TEST_F(Control, RemoveButtonClearsAndASecondClickStartsRecording)
{
    control.setKeyCombo({KF::Command, 40});
    delegate.changes.clear();
    const QRectF remove = control.cell()->_removeButtonRectForFrame(QRectF(control.rect()));
    ASSERT_FALSE(remove.isNull());
    QTest::mouseClick(&control, Qt::LeftButton, {}, remove.center().toPoint());
    ASSERT_EQ(delegate.changes.size(), 1u);
    EXPECT_EQ(delegate.changes[0], (KeyCombo{0, -1}));
    EXPECT_FALSE(control.cell()->isRecording());
    QTest::mouseClick(&control, Qt::LeftButton, {}, remove.center().toPoint());
    EXPECT_TRUE(control.cell()->isRecording());
}

TEST_F(Control, ObjectValueIsNullForEmptyAndKeyOnlyCombinations)
{
    EXPECT_TRUE(control.objectValue().isNull());
    control.setAllowsKeyOnly(true);
    control.setKeyCombo({0, 40});
    EXPECT_TRUE(control.objectValue().isNull());
    control.setKeyCombo({KF::Command, 40});
    const QVariantMap v = control.objectValue().toMap();
    EXPECT_EQ(v.value("keyCode").toLongLong(), 40);
    EXPECT_EQ(v.value("modifierFlags").toULongLong(), KF::Command);
    EXPECT_EQ(v.value("characters").toString(), QStringLiteral("K"));
}

TEST_F(Control, SetObjectValueAcceptsOnlyNumericEntries)
{
    const QVariant rows[] = {QVariant(), QVariant(QStringLiteral("K")),
                             QVariant(QVariantMap{{"keyCode", 40}}),
                             QVariant(QVariantMap{{"keyCode", "40"}, {"modifierFlags", 0x100000}})};
    for (const QVariant& v : rows) {
        control.setKeyCombo({KF::Command, 40});
        delegate.changes.clear();
        control.setObjectValue(v);
        EXPECT_EQ(control.keyCombo(), (KeyCombo{0, -1}));
        EXPECT_EQ(delegate.changes.size(), 1u);
    }
    control.setObjectValue(QVariantMap{{"keyCode", 8}, {"modifierFlags", qulonglong(0x100000)}});
    EXPECT_EQ(control.keyCombo(), (KeyCombo{0x100000, 8}));
}

namespace {
class Model : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QVariant shortcut MEMBER shortcut)
public:
    QVariant shortcut;
};
struct OneWay : ValueTransformer
{
    QVariant transformedValue(const QVariant& v) const override { return v; }
};
struct Wrapping : ValueTransformer
{
    QVariant transformedValue(const QVariant& v) const override { return v; }
    QVariant reverseTransformedValue(const QVariant& v) const override { return QVariantList{v}; }
    bool allowsReverseTransformation() const override { return true; }
};
} // namespace

TEST_F(Control, ValueBindingWritesTheModelAfterTheDelegate)
{
    QStringList logged;
    setLogSink([&](const QString& l) { logged << l; });
    Model model;
    control.bind(QStringLiteral("value"), {&model, "shortcut", nullptr, {}});
    control.setKeyCombo({KF::Command, 40});
    EXPECT_EQ(model.shortcut.toMap().value("keyCode").toLongLong(), 40);

    ValueTransformer::setValueTransformerForName(QStringLiteral("Wrap"), std::make_shared<Wrapping>());
    control.bind(QStringLiteral("value"), {&model, "shortcut", nullptr, QStringLiteral("Wrap")});
    control.setKeyCombo({KF::Command, 8});
    EXPECT_EQ(model.shortcut.toList().size(), 1);

    control.bind(QStringLiteral("value"), {&model, "shortcut", std::make_shared<OneWay>(), {}});
    control.setKeyCombo({KF::Command, 9});
    EXPECT_EQ(model.shortcut.toMap().value("keyCode").toLongLong(), 9);

    control.bind(QStringLiteral("value"), {nullptr, "shortcut", nullptr, {}});
    control.setKeyCombo({KF::Command, 1});
    control.bind(QStringLiteral("value"), {&model, QByteArray(), nullptr, {}});
    control.setKeyCombo({KF::Command, 2});
    setLogSink({});
    const QString where = QStringLiteral(" in -[KRRecorderControl keyRecorderCell:keyComboDidChange:]");
    EXPECT_EQ(
        logged,
        (QStringList{"WARNING: value has value transformer, but it doesn't allow reverse transformations" +
                         where,
                     "ERROR: NSObservedObjectKey was nil for value binding" + where,
                     "ERROR: NSObservedKeyPathKey was nil for value binding" + where}));
    EXPECT_EQ(model.shortcut.toMap().value("keyCode").toLongLong(), 9);
}

#include "RecorderCellTest.moc"
