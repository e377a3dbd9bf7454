#include "platform/ui/X11Window.h"

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QTest>
#include <QWindow>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

using platform::X11Window;

namespace {

// A connection of the test's own, to read what the window manager would see.
class Observer
{
public:
    Observer() : m_c(xcb_connect(nullptr, nullptr)) {}
    ~Observer() { xcb_disconnect(m_c); }
    bool ok() const { return !xcb_connection_has_error(m_c); }
    xcb_connection_t* c() const { return m_c; }
    xcb_window_t root() const { return xcb_setup_roots_iterator(xcb_get_setup(m_c)).data->root; }

    xcb_atom_t atom(const char* name) const
    {
        auto* reply =
            xcb_intern_atom_reply(m_c, xcb_intern_atom(m_c, 0, uint16_t(strlen(name)), name), nullptr);
        const xcb_atom_t a = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        std::free(reply);
        return a;
    }

    std::vector<xcb_atom_t> state(xcb_window_t window) const
    {
        std::vector<xcb_atom_t> atoms;
        auto* reply = xcb_get_property_reply(
            m_c, xcb_get_property(m_c, 0, window, atom("_NET_WM_STATE"), XCB_ATOM_ATOM, 0, 1024), nullptr);
        if (reply && reply->format == 32) {
            auto* values = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply));
            atoms.assign(values, values + xcb_get_property_value_length(reply) / 4);
        }
        std::free(reply);
        return atoms;
    }

    bool has(xcb_window_t window, const char* name) const
    {
        const auto atoms = state(window);
        return std::find(atoms.begin(), atoms.end(), atom(name)) != atoms.end();
    }

    void deleteState(xcb_window_t window) const
    {
        xcb_delete_property(m_c, window, atom("_NET_WM_STATE"));
        xcb_aux_sync();
    }

    // Becomes the window manager: receives the requests sent to the root.
    bool redirect() const
    {
        const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_generic_error_t* error = xcb_request_check(
            m_c, xcb_change_window_attributes_checked(m_c, root(), XCB_CW_EVENT_MASK, &mask));
        std::free(error);
        return !error;
    }

    // The next client message of `type`, waiting for it with the event loop running.
    std::unique_ptr<xcb_client_message_event_t, decltype(&std::free)> clientMessage(xcb_atom_t type) const
    {
        for (int i = 0; i < 2000; ++i) {
            while (xcb_generic_event_t* event = xcb_poll_for_event(m_c)) {
                if ((event->response_type & 0x7f) == XCB_CLIENT_MESSAGE &&
                    reinterpret_cast<xcb_client_message_event_t*>(event)->type == type)
                    return {reinterpret_cast<xcb_client_message_event_t*>(event), &std::free};
                std::free(event);
            }
            QTest::qWait(5);
        }
        return {nullptr, &std::free};
    }

private:
    void xcb_aux_sync() const
    {
        std::free(xcb_get_input_focus_reply(m_c, xcb_get_input_focus(m_c), nullptr));
    }
    xcb_connection_t* m_c;
};

class X11WindowTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            GTEST_SKIP() << "needs an X server";
        ASSERT_TRUE(observer.ok());
    }
    // Waits until the X server reports `window` as mapped (or not).
    bool waitMapped(xcb_window_t window, bool mapped)
    {
        for (int i = 0; i < 2000; ++i) {
            auto* reply = xcb_get_window_attributes_reply(
                observer.c(), xcb_get_window_attributes(observer.c(), window), nullptr);
            const bool isMapped = reply && reply->map_state != XCB_MAP_STATE_UNMAPPED;
            std::free(reply);
            if (isMapped == mapped)
                return true;
            QTest::qWait(5);
        }
        return false;
    }
    Observer observer;
};

TEST_F(X11WindowTest, SkipTaskbarSetBeforeMapIsInTheStateAfterShow)
{
    QWindow window;
    window.resize(100, 100);
    window.create();
    const auto id = xcb_window_t(window.winId());
    ASSERT_TRUE(X11Window::setSkipTaskbar(&window, true));
    window.show();
    ASSERT_TRUE(waitMapped(id, true));
    EXPECT_TRUE(observer.has(id, "_NET_WM_STATE_SKIP_TASKBAR"));
    EXPECT_TRUE(observer.has(id, "_NET_WM_STATE_SKIP_PAGER"));

    window.hide();
    ASSERT_TRUE(waitMapped(id, false));
    ASSERT_TRUE(X11Window::setSkipTaskbar(&window, false));
    EXPECT_FALSE(observer.has(id, "_NET_WM_STATE_SKIP_TASKBAR"));
    EXPECT_FALSE(observer.has(id, "_NET_WM_STATE_SKIP_PAGER"));
}

TEST_F(X11WindowTest, SkipTaskbarSurvivesAWithdrawThatDropsTheState)
{
    QWindow window;
    window.resize(100, 100);
    window.create();
    const auto id = xcb_window_t(window.winId());
    X11Window::setSkipTaskbar(&window, true);
    window.show();
    ASSERT_TRUE(waitMapped(id, true));
    window.hide();
    ASSERT_TRUE(waitMapped(id, false));
    observer.deleteState(id); // what a window manager does with a withdrawn window
    window.show();
    ASSERT_TRUE(waitMapped(id, true));
    EXPECT_TRUE(observer.has(id, "_NET_WM_STATE_SKIP_TASKBAR"));
    EXPECT_TRUE(observer.has(id, "_NET_WM_STATE_SKIP_PAGER"));
}

TEST_F(X11WindowTest, MappedWindowAsksTheWindowManager)
{
    QWindow window;
    window.resize(100, 100);
    window.show();
    const auto id = xcb_window_t(window.winId());
    ASSERT_TRUE(waitMapped(id, true));
    if (!observer.redirect())
        GTEST_SKIP() << "a window manager is running";

    ASSERT_TRUE(X11Window::setSkipTaskbar(&window, true));
    auto state = observer.clientMessage(observer.atom("_NET_WM_STATE"));
    ASSERT_TRUE(state);
    EXPECT_EQ(state->window, id);
    EXPECT_EQ(state->data.data32[0], 1u); // add
    EXPECT_EQ(state->data.data32[1], observer.atom("_NET_WM_STATE_SKIP_TASKBAR"));
    EXPECT_EQ(state->data.data32[2], observer.atom("_NET_WM_STATE_SKIP_PAGER"));
    EXPECT_EQ(state->data.data32[3], 1u); // from an application

    ASSERT_TRUE(X11Window::activate(&window, 4242));
    auto active = observer.clientMessage(observer.atom("_NET_ACTIVE_WINDOW"));
    ASSERT_TRUE(active);
    EXPECT_EQ(active->window, id);
    EXPECT_EQ(active->data.data32[0], 1u); // from an application
    EXPECT_EQ(active->data.data32[1], 4242u);
}

} // namespace
