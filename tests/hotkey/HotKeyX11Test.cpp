// Real grabs under an X server, driven by synthetic key events (XTEST via
// xdotool). Skipped when there is no display.
#include "hotkey/KRKeyCodeTransformer.h"
#include "hotkey/KRRecorderControl.h"
#include "hotkey/KRValidator.h"
#include "hotkey/ZQHotKeyCenter.h"
#include "platform/core/Log.h"
#include "platform/x11/KeyMap.h"
#include "platform/x11/KeyboardLayout.h"
#include "platform/x11/SystemShortcutOracle.h"
#include "platform/x11/X11Connection.h"
#include "platform/x11/X11HotKeyGrabber.h"

#include <QAbstractNativeEventFilter>
#include <QApplication>
#include <QLineEdit>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <QThread>
#include <QVBoxLayout>
#include <cstdlib>
#include <gtest/gtest.h>
#include <map>
#include <thread>
#include <xcb/xcb.h>

namespace KF = platform::KeyFlags;

namespace {

void xdotool(const QStringList& args)
{
    ASSERT_EQ(QProcess::execute(QStringLiteral("xdotool"), args), 0) << args.join(u' ').toStdString();
}

// Waits for something the X server or a timer brings, in a bounded number of
// short event-processing steps.
template <typename F> bool waitFor(F condition)
{
    for (int i = 0; i < 300 && !condition(); ++i)
        QTest::qWait(10);
    return condition();
}

// A round trip through the X server: a message sent to ourselves comes back
// after every event the server made before it, so once it is handled, so are
// they. Proves that a key pressed earlier did nothing, without sleeping.
class ServerRoundTrip : public QAbstractNativeEventFilter
{
public:
    ServerRoundTrip() : m_connection(platform::x11::connection())
    {
        m_window = xcb_generate_id(m_connection);
        xcb_create_window(m_connection, XCB_COPY_FROM_PARENT, m_window,
                          platform::x11::rootWindow(m_connection), 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                          XCB_COPY_FROM_PARENT, 0, nullptr);
        QCoreApplication::instance()->installNativeEventFilter(this);
    }
    ~ServerRoundTrip() override
    {
        QCoreApplication::instance()->removeNativeEventFilter(this);
        xcb_destroy_window(m_connection, m_window);
        xcb_flush(m_connection);
    }
    bool run()
    {
        xcb_client_message_event_t ev{};
        ev.response_type = XCB_CLIENT_MESSAGE;
        ev.format = 32;
        ev.window = m_window;
        ev.type = XCB_ATOM_INTEGER;
        ev.data.data32[0] = ++m_sent;
        xcb_send_event(m_connection, 0, m_window, XCB_EVENT_MASK_NO_EVENT,
                       reinterpret_cast<const char*>(&ev));
        xcb_flush(m_connection);
        for (int i = 0; i < 1000 && m_seen != m_sent; ++i)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        return m_seen == m_sent;
    }
    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override
    {
        if (type != "xcb_generic_event_t")
            return false;
        auto* ev = static_cast<xcb_generic_event_t*>(message);
        if ((ev->response_type & 0x7f) != XCB_CLIENT_MESSAGE)
            return false;
        auto* cm = reinterpret_cast<xcb_client_message_event_t*>(ev);
        if (cm->window != m_window)
            return false;
        m_seen = cm->data.data32[0];
        return true;
    }

private:
    xcb_connection_t* m_connection;
    xcb_window_t m_window = 0;
    uint32_t m_sent = 0;
    uint32_t m_seen = 0;
};

struct X11 : ::testing::Test
{
    void SetUp() override
    {
        if (!platform::x11::connection())
            GTEST_SKIP() << "no X display";
        if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
            GTEST_SKIP() << "no xdotool";
    }
};

} // namespace

TEST_F(X11, RegisteredCombinationFiresOnceOnReleaseUntilUnregistered)
{
    ZQHotKeyCenter center(std::make_unique<platform::X11HotKeyGrabber>());
    int runs = 0;
    auto hk =
        center.registerHotKeyWithKeyCode(40, KF::Command | KF::Option, [&](const platform::HotKeyEvent& e) {
            ++runs;
            EXPECT_EQ(e.keyCode, 40);
            EXPECT_EQ(e.type, 11);
        });
    ASSERT_TRUE(hk);

    ServerRoundTrip roundTrip;
    xdotool({"keydown", "ctrl+alt+k"});
    ASSERT_TRUE(roundTrip.run());
    EXPECT_EQ(runs, 0) << "ran on press";
    xdotool({"keyup", "ctrl+alt+k"});
    EXPECT_TRUE(waitFor([&] { return runs == 1; }));
    ASSERT_TRUE(roundTrip.run());
    EXPECT_EQ(runs, 1);

    // Num Lock on: still the same hot key.
    xdotool({"key", "Num_Lock"});
    xdotool({"key", "ctrl+alt+k"});
    EXPECT_TRUE(waitFor([&] { return runs == 2; }));
    xdotool({"key", "Num_Lock"});

    // Also while one of our own windows has the focus.
    QWidget window;
    window.resize(100, 50);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    xdotool({"key", "ctrl+alt+k"});
    EXPECT_TRUE(waitFor([&] { return runs == 3; }));

    center.unregisterHotKey(*hk);
    xdotool({"key", "ctrl+alt+k"});
    ASSERT_TRUE(roundTrip.run());
    EXPECT_EQ(runs, 3);
}

TEST_F(X11, CombinationHeldByAnotherClientIsRefusedAndLogged)
{
    // Another client takes Ctrl+Alt+J first.
    xcb_connection_t* other = xcb_connect(nullptr, nullptr);
    ASSERT_FALSE(xcb_connection_has_error(other));
    auto* layout = platform::KeyboardLayout::current();
    const auto keycode = platform::KeyMap::keycodeForCode(*layout, 38);
    ASSERT_TRUE(keycode);
    const auto masks = platform::X11HotKeyGrabber::readModifierMasks(other);
    const uint16_t mods = platform::X11HotKeyGrabber::xModifiers(0x900, masks);
    ASSERT_EQ(xcb_request_check(other, xcb_grab_key_checked(other, 1, platform::x11::rootWindow(other), mods,
                                                            uint8_t(*keycode), XCB_GRAB_MODE_ASYNC,
                                                            XCB_GRAB_MODE_ASYNC)),
              nullptr);

    QStringList logged;
    platform::setLogSink([&](const QString& l) { logged << l; });
    ZQHotKeyCenter center(std::make_unique<platform::X11HotKeyGrabber>());
    EXPECT_FALSE(
        center.registerHotKeyWithKeyCode(38, KF::Command | KF::Option, [](const platform::HotKeyEvent&) {}));
    EXPECT_EQ(center.nextHotKeyID(), 1u);
    platform::setLogSink({});
    ASSERT_EQ(logged.size(), 1);
    EXPECT_TRUE(logged[0].contains(QStringLiteral("another application holds it")));

    platform::X11ShortcutProbe probe;
    EXPECT_EQ(probe.availability(38, 0x900), platform::ShortcutAvailability::Taken);
    EXPECT_EQ(probe.availability(38, 0x100), platform::ShortcutAvailability::Free);

    KRValidator validator;
    platform::Error error;
    EXPECT_TRUE(validator.isKeyCode(38, 0x900, &error));
    EXPECT_TRUE(error.recoverySuggestion.contains(QStringLiteral("system-wide keyboard shortcut")));
    xcb_disconnect(other);
}

TEST_F(X11, OwnGlobalShortcutIsNotReportedAsTheDesktops)
{
    auto hk = ZQHotKeyCenter::sharedHotKeyCenter().registerHotKeyWithKeyCode(
        37, KF::Command | KF::Option, [](const platform::HotKeyEvent&) {});
    ASSERT_TRUE(hk);
    KRValidator validator;
    EXPECT_FALSE(validator.isKeyCode(37, 0x900, nullptr));
    // and the probe's own grab attempt must not have removed ours
    EXPECT_EQ(platform::X11ShortcutProbe().availability(37, 0x900), platform::ShortcutAvailability::Taken);
    ZQHotKeyCenter::sharedHotKeyCenter().unregisterHotKey(*hk);
}

TEST_F(X11, CombinationTheProbeFoundFreeIsGrabbedAtOnce)
{
    // The probe asks on a connection of its own; the registry's grab right
    // after it must not meet the probe's grab still in place.
    ZQHotKeyCenter center(std::make_unique<platform::X11HotKeyGrabber>());
    platform::X11ShortcutProbe probe;
    for (int round = 0; round < 50; ++round) {
        ASSERT_EQ(probe.availability(37, 0x300), platform::ShortcutAvailability::Free) << round;
        auto hk = center.registerHotKeyWithKeyCode(37, KF::Command | KF::Shift,
                                                   [](const platform::HotKeyEvent&) {});
        ASSERT_TRUE(hk) << "refused in round " << round;
        center.unregisterHotKey(*hk);
    }
}

TEST_F(X11, RecordingThroughTheControlStoresTheCombinationAndShowsIt)
{
    // The application's own global shortcut, pressed again while recording.
    ZQHotKeyCenter& center = ZQHotKeyCenter::sharedHotKeyCenter();
    int globalRuns = 0;
    auto global = center.registerHotKeyWithKeyCode(40, KF::Command | KF::Option,
                                                   [&](const platform::HotKeyEvent&) { ++globalRuns; });
    ASSERT_TRUE(global);
    QStringList refusals;
    KRRecorderCell::setAlertPresenter([&](const platform::Error& e) { refusals << e.recoverySuggestion; });
    KRRecorderControl control;
    control.setCanCaptureGlobalHotKeys(true);
    control.setFrame(QRect(100, 100, 200, 22));
    control.show();
    control.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&control));
    control.setFocus();

    xdotool({"key", "space"});
    ASSERT_TRUE(waitFor([&] { return control.cell()->isRecording(); }));
    xdotool({"key", "ctrl+alt+k"});
    EXPECT_TRUE(waitFor([&] { return control.keyCombo() == KeyCombo{0x180000, 40}; }));
    EXPECT_EQ(control.keyComboString(), QStringLiteral("⌥⌘K"));
    EXPECT_FALSE(control.cell()->isRecording());
    // The press went to the recorder's grab, so the release cannot fire the
    // hot key either; once the server's events are handled, nothing ran.
    ASSERT_TRUE(ServerRoundTrip().run());
    EXPECT_EQ(globalRuns, 0) << "the global shortcut acted while recording";
    EXPECT_TRUE(refusals.isEmpty()) << refusals.join(u' ').toStdString();
    KRRecorderCell::setAlertPresenter({});
    center.unregisterHotKey(*global);
}

namespace {
// Moves the global shortcut to each newly recorded combination, as the
// preferences do: the old one is given up, the new one registered.
struct GlobalShortcutKeeper : KRRecorderDelegate
{
    ZQHotKeyCenter& center = ZQHotKeyCenter::sharedHotKeyCenter();
    KeyCombo current;
    std::map<int64_t, int> runs; // by key code
    bool registered = false;

    void use(KeyCombo combo)
    {
        if (registered)
            center.unregisterHotKeyWithKeyCode(uint16_t(current.code), current.flags);
        current = combo;
        const int64_t code = combo.code;
        registered = bool(center.registerHotKeyWithKeyCode(
            uint16_t(code), combo.flags, [this, code](const platform::HotKeyEvent&) { ++runs[code]; }));
    }
    void keyRecorderKeyComboDidChange(KRRecorderControl*, KeyCombo combo) override { use(combo); }
    ~GlobalShortcutKeeper() override
    {
        if (registered)
            center.unregisterHotKeyWithKeyCode(uint16_t(current.code), current.flags);
    }
};
} // namespace

TEST_F(X11, RecordingTheCurrentGlobalShortcutRecordsItInsteadOfFiringIt)
{
    GlobalShortcutKeeper keeper;
    keeper.use(KeyCombo{KF::Command | KF::Option, 40}); // Ctrl+Alt+K
    ASSERT_TRUE(keeper.registered);
    QStringList refusals;
    KRRecorderCell::setAlertPresenter([&](const platform::Error& e) { refusals << e.recoverySuggestion; });
    // As the preferences have it: no keyboard grab of its own.
    KRRecorderControl control;
    control.setKeyCombo(keeper.current);
    control.setDelegate(&keeper);
    control.setFrame(QRect(100, 100, 200, 22));
    control.show();
    control.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&control));
    control.setFocus();
    ServerRoundTrip roundTrip;

    // Typed again while recording, the current shortcut is recorded, not run.
    xdotool({"key", "space"});
    ASSERT_TRUE(waitFor([&] { return control.cell()->isRecording(); }));
    EXPECT_FALSE(control.cell()->holdsKeyboardGrab());
    xdotool({"key", "ctrl+alt+k"});
    EXPECT_TRUE(waitFor([&] { return !control.cell()->isRecording(); }));
    ASSERT_TRUE(roundTrip.run());
    EXPECT_EQ(control.keyCombo(), (KeyCombo{KF::Command | KF::Option, 40}));
    EXPECT_EQ(keeper.runs[40], 0) << "the global shortcut acted while recording";

    // A new one recorded the same way takes over once recording ends.
    xdotool({"key", "space"});
    ASSERT_TRUE(waitFor([&] { return control.cell()->isRecording(); }));
    xdotool({"key", "ctrl+shift+l"});
    EXPECT_TRUE(waitFor([&] { return control.keyCombo() == KeyCombo{KF::Command | KF::Shift, 37}; }));
    ASSERT_TRUE(roundTrip.run());
    EXPECT_EQ(keeper.runs[37], 0);
    EXPECT_FALSE(ZQHotKeyCenter::sharedHotKeyCenter().grabsPaused());

    xdotool({"key", "ctrl+shift+l"});
    EXPECT_TRUE(waitFor([&] { return keeper.runs[37] == 1; })) << "not grabbed again after recording";
    xdotool({"key", "ctrl+alt+k"});
    ASSERT_TRUE(roundTrip.run());
    EXPECT_EQ(keeper.runs[40], 0);
    EXPECT_TRUE(refusals.isEmpty()) << refusals.join(u' ').toStdString();
    KRRecorderCell::setAlertPresenter({});
    control.setDelegate(nullptr);
}

namespace {
// The outcome of another client asking for the whole keyboard.
uint8_t grabKeyboardFromAnotherClient(xcb_connection_t* other)
{
    auto* reply =
        xcb_grab_keyboard_reply(other,
                                xcb_grab_keyboard(other, 0, platform::x11::rootWindow(other),
                                                  XCB_CURRENT_TIME, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC),
                                nullptr);
    const uint8_t status = reply ? reply->status : 0xff;
    std::free(reply);
    return status;
}

// Gives the keyboard back and waits until the server has done so: requests
// from different clients are not ordered otherwise.
void releaseKeyboardFromAnotherClient(xcb_connection_t* other)
{
    xcb_ungrab_keyboard(other, XCB_CURRENT_TIME);
    std::free(xcb_get_input_focus_reply(other, xcb_get_input_focus(other), nullptr));
    xcb_disconnect(other);
}
} // namespace

TEST_F(X11, RecorderRefusesToRecordWhenAnotherClientHoldsTheKeyboard)
{
    xcb_connection_t* other = xcb_connect(nullptr, nullptr);
    ASSERT_FALSE(xcb_connection_has_error(other));
    ASSERT_EQ(grabKeyboardFromAnotherClient(other), XCB_GRAB_STATUS_SUCCESS);

    KRRecorderControl control;
    control.setCanCaptureGlobalHotKeys(true);
    control.setFrame(QRect(100, 100, 200, 22));
    control.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&control));
    control.setFocus();
    int beeps = 0;
    QObject::connect(control.cell(), &KRRecorderCell::beeped, [&] { ++beeps; });
    QStringList logged;
    platform::setLogSink([&](const QString& l) { logged << l; });
    QTest::keyClick(&control, Qt::Key_Space); // straight to the widget: the other client has the keyboard
    platform::setLogSink({});
    // Recording without the grab would let our own global shortcut act
    // instead of being recorded: it is refused, and says why.
    EXPECT_FALSE(control.cell()->holdsKeyboardGrab());
    EXPECT_FALSE(control.cell()->isRecording());
    EXPECT_EQ(QWidget::keyboardGrabber(), nullptr);
    EXPECT_EQ(beeps, 1);
    ASSERT_EQ(logged.size(), 1);
    EXPECT_TRUE(logged[0].contains(QStringLiteral("another application holds the keyboard")));

    // Once the keyboard is free, recording takes it.
    releaseKeyboardFromAnotherClient(other);
    QTest::keyClick(&control, Qt::Key_Space);
    EXPECT_TRUE(control.cell()->isRecording());
    EXPECT_TRUE(control.cell()->holdsKeyboardGrab());
    QTest::keyClick(&control, Qt::Key_Escape);
    EXPECT_FALSE(control.cell()->holdsKeyboardGrab());
}

TEST_F(X11, ClickingAnotherFieldWhileRecordingFreesTheKeyboard)
{
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* recorder = new KRRecorderControl;
    auto* field = new QLineEdit;
    layout->addWidget(recorder);
    layout->addWidget(field);
    recorder->setCanCaptureGlobalHotKeys(true);
    window.move(100, 100);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    recorder->setFocus();

    xdotool({"key", "space"});
    ASSERT_TRUE(waitFor([&] { return recorder->cell()->isRecording(); }));
    ASSERT_TRUE(recorder->cell()->holdsKeyboardGrab());
    xcb_connection_t* other = xcb_connect(nullptr, nullptr);
    ASSERT_FALSE(xcb_connection_has_error(other));
    EXPECT_EQ(grabKeyboardFromAnotherClient(other), XCB_GRAB_STATUS_ALREADY_GRABBED);

    const QPoint target = field->mapToGlobal(field->rect().center());
    xdotool({"mousemove", QString::number(target.x()), QString::number(target.y()), "click", "1"});
    EXPECT_TRUE(waitFor([&] { return field->hasFocus(); }));
    EXPECT_FALSE(recorder->cell()->isRecording());
    EXPECT_FALSE(recorder->cell()->holdsKeyboardGrab());
    EXPECT_EQ(QWidget::keyboardGrabber(), nullptr);
    ASSERT_TRUE(ServerRoundTrip().run());
    EXPECT_EQ(grabKeyboardFromAnotherClient(other), XCB_GRAB_STATUS_SUCCESS)
        << "the X keyboard is still held";
    releaseKeyboardFromAnotherClient(other);
}

TEST_F(X11, RegistryFirstMadeOnAWorkerThreadFiresOnTheMainThread)
{
    std::unique_ptr<ZQHotKeyCenter> center;
    std::thread worker(
        [&] { center = std::make_unique<ZQHotKeyCenter>(std::make_unique<platform::X11HotKeyGrabber>()); });
    worker.join();
    int runs = 0;
    bool onMainThread = false;
    auto hk =
        center->registerHotKeyWithKeyCode(40, KF::Command | KF::Shift, [&](const platform::HotKeyEvent&) {
            ++runs;
            onMainThread = QThread::currentThread() == QCoreApplication::instance()->thread();
        });
    ASSERT_TRUE(hk);
    xdotool({"key", "ctrl+shift+k"});
    EXPECT_TRUE(waitFor([&] { return runs == 1; }));
    EXPECT_TRUE(onMainThread);
    center.reset();
}

TEST_F(X11, KeyTextsFollowTheServersLayout)
{
    if (QStandardPaths::findExecutable(QStringLiteral("setxkbmap")).isEmpty())
        GTEST_SKIP() << "no setxkbmap";
    platform::KeyboardLayout::current(); // created from the server, watching its changes
    ASSERT_EQ(QProcess::execute(QStringLiteral("setxkbmap"), {"us"}), 0);
    EXPECT_TRUE(waitFor([] { return KRKeyCodeString(6) == QStringLiteral("Z"); }));
    ASSERT_EQ(QProcess::execute(QStringLiteral("setxkbmap"), {"de"}), 0);
    EXPECT_TRUE(waitFor([] { return KRKeyCodeString(6) == QStringLiteral("Y"); }));
    KRKeyCodeTransformer t;
    EXPECT_EQ(t.reverseTransformedValue(QStringLiteral("Z")), QVariant(16));
    QProcess::execute(QStringLiteral("setxkbmap"), {"us"});
    EXPECT_TRUE(waitFor([] { return KRKeyCodeString(6) == QStringLiteral("Z"); }));
}
