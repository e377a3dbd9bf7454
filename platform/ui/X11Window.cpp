#include "platform/ui/X11Window.h"

#include "platform/x11/X11Connection.h"

#include <QEvent>
#include <QGuiApplication>
#include <QVariant>
#include <QWindow>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace platform {
namespace {

constexpr char kSkipTaskbar[] = "quillarySkipTaskbar";
constexpr std::uint32_t kNetWmStateRemove = 0;
constexpr std::uint32_t kNetWmStateAdd = 1;
constexpr std::uint32_t kSourceApplication = 1;

xcb_atom_t atom(xcb_connection_t* c, const char* name)
{
    xcb_intern_atom_reply_t* reply =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, std::uint16_t(strlen(name)), name), nullptr);
    const xcb_atom_t result = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return result;
}

bool mapped(xcb_connection_t* c, xcb_window_t window)
{
    xcb_get_window_attributes_reply_t* reply =
        xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, window), nullptr);
    const bool result = reply && reply->map_state != XCB_MAP_STATE_UNMAPPED;
    std::free(reply);
    return result;
}

void sendToRoot(xcb_connection_t* c, xcb_window_t window, xcb_atom_t type, const std::uint32_t (&data)[5])
{
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = type;
    std::copy(std::begin(data), std::end(data), event.data.data32);
    xcb_send_event(c, 0, platform::x11::rootWindow(c),
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&event));
}

void applySkipTaskbar(xcb_connection_t* c, xcb_window_t window, bool skip)
{
    const xcb_atom_t state = atom(c, "_NET_WM_STATE");
    const xcb_atom_t taskbar = atom(c, "_NET_WM_STATE_SKIP_TASKBAR");
    const xcb_atom_t pager = atom(c, "_NET_WM_STATE_SKIP_PAGER");
    if (mapped(c, window)) {
        sendToRoot(c, window, state,
                   {skip ? kNetWmStateAdd : kNetWmStateRemove, taskbar, pager, kSourceApplication, 0});
    } else {
        // Read the present states and change only ours.
        std::vector<xcb_atom_t> atoms;
        xcb_get_property_reply_t* reply =
            xcb_get_property_reply(c, xcb_get_property(c, 0, window, state, XCB_ATOM_ATOM, 0, 1024), nullptr);
        if (reply && reply->type == XCB_ATOM_ATOM && reply->format == 32) {
            const auto* values = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply));
            atoms.assign(values, values + xcb_get_property_value_length(reply) / 4);
        }
        std::free(reply);
        std::erase_if(atoms, [&](xcb_atom_t a) { return a == taskbar || a == pager; });
        if (skip) {
            atoms.push_back(taskbar);
            atoms.push_back(pager);
        }
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, state, XCB_ATOM_ATOM, 32,
                            std::uint32_t(atoms.size()), atoms.data());
    }
    xcb_flush(c);
}

// Applies the kept wish again whenever the window is shown: the show event
// comes before the window is mapped, so the property is written in time.
class SkipTaskbarKeeper final : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Show) {
            auto* window = static_cast<QWindow*>(watched);
            if (xcb_connection_t* c = platform::x11::connection())
                applySkipTaskbar(c, xcb_window_t(window->winId()), window->property(kSkipTaskbar).toBool());
        }
        return false;
    }
};

} // namespace

bool X11Window::setSkipTaskbar(QWindow* window, bool skip)
{
    xcb_connection_t* c = platform::x11::connection();
    if (!window || !c)
        return false;
    window->setProperty(kSkipTaskbar, skip);
    if (!window->findChild<SkipTaskbarKeeper*>(QString(), Qt::FindDirectChildrenOnly))
        window->installEventFilter(new SkipTaskbarKeeper(window));
    applySkipTaskbar(c, xcb_window_t(window->winId()), skip);
    return true;
}

bool X11Window::activate(QWindow* window, std::uint32_t timestamp)
{
    xcb_connection_t* c = platform::x11::connection();
    if (!window || !c)
        return false;
    xcb_window_t current = 0;
    if (QWindow* focus = QGuiApplication::focusWindow())
        current = xcb_window_t(focus->winId());
    sendToRoot(c, xcb_window_t(window->winId()), atom(c, "_NET_ACTIVE_WINDOW"),
               {kSourceApplication, timestamp, current, 0, 0});
    xcb_flush(c);
    return true;
}

} // namespace platform
