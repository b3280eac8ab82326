#include "platform/x11/X11Desktop.h"

#include "platform/x11/X11WindowCache.h"
#include "platform/x11/XReply.h"

#include "platform/EndSignals.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QHash>
#include <QSocketNotifier>
#include <QWidget>
#include <QWindow>

#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>
#include <xcb/xtest.h>

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace brevik {

namespace {

// Windows virtual-key codes to X keysyms.
quint32 keysymFor(int vk) {
    if ((vk >= '0' && vk <= '9') || vk == 0x20)
        return quint32(vk);
    if (vk >= 'A' && vk <= 'Z')
        return quint32(vk - 'A' + 'a');
    if (vk >= 0x70 && vk <= 0x7B) // F1..F12
        return 0xffbe + quint32(vk - 0x70);
    switch (vk) {
    case 0x08:
        return 0xff08; // BackSpace
    case 0x09:
        return 0xff09; // Tab
    case 0x0D:
        return 0xff0d; // Return
    case 0x10:
        return 0xffe1; // Shift_L
    case 0x11:
        return 0xffe3; // Control_L
    case 0x12:
        return 0xffe9; // Alt_L
    case 0x1B:
        return 0xff1b; // Escape
    case 0x21:
        return 0xff55; // Prior
    case 0x22:
        return 0xff56; // Next
    case 0x23:
        return 0xff57; // End
    case 0x24:
        return 0xff50; // Home
    case 0x25:
        return 0xff51; // Left
    case 0x26:
        return 0xff52; // Up
    case 0x27:
        return 0xff53; // Right
    case 0x28:
        return 0xff54; // Down
    case 0x2D:
        return 0xff63; // Insert
    case 0x2E:
        return 0xffff; // Delete
    default:
        return 0;
    }
}

// The X window of one of our windows now. QWidget::winId() keeps the first
// one, but Qt makes a new X window when a hidden window's topmost flag changed.
xcb_window_t nativeWindow(QWidget* w) {
    QWindow* h = w->windowHandle();
    return xcb_window_t(h ? h->winId() : w->winId());
}

} // namespace

X11Desktop::X11Desktop(const char* display) : d(std::make_unique<X11WindowCache>()) {
    d->ok = d->connect(display);
    if (d->ok && QCoreApplication::instance()) {
        d->notifier =
            std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(d->c), QSocketNotifier::Read);
        QObject::connect(d->notifier.get(), &QSocketNotifier::activated,
                         [impl = d.get()] { impl->refresh(); });
    }
    if (!d->ok && d->c && !xcb_connection_has_error(d->c))
        noticeOnce("the X display has no usable screen: the desktop guard is inactive");
}

X11Desktop::~X11Desktop() {
    d->notifier.reset();
    if (d->ewmhReady)
        xcb_ewmh_connection_wipe(&d->ewmh);
    if (d->c)
        xcb_disconnect(d->c);
}

bool X11Desktop::available() const {
    return d->ok && !xcb_connection_has_error(d->c);
}

quint64 X11Desktop::roundTrips() const {
    return d->roundTrips;
}

WindowId X11Desktop::FindWindow(const QString& windowClass, const std::optional<QString>& title) {
    if (!d->alive())
        return 0;
    d->sync();
    auto it = d->byClass.constFind(windowClass.toLower());
    if (it == d->byClass.cend())
        return 0;
    for (xcb_window_t w : *it)
        if (d->titleMatches(w, title))
            return w;
    return 0;
}

WindowId X11Desktop::FindWindowByRole(AppRole role, const std::optional<QString>& title,
                                      std::span<const WindowId> skip) {
    if (!d->alive())
        return 0;
    d->sync();
    const int bit = std::countr_zero(unsigned(roleBit(role)));
    for (xcb_window_t w : d->byRole[bit])
        if (std::find(skip.begin(), skip.end(), w) == skip.end() && d->titleMatches(w, title))
            return w;
    return 0;
}

void X11Desktop::SetRoleTable(std::shared_ptr<const RoleTable> table) {
    d->roleTable = std::move(table);
    // The windows already known are matched now, from what was read of them.
    for (auto& [id, w] : d->wins)
        w.roles = d->matchRoles(w.facts);
    d->indexDirty = true;
}

bool X11Desktop::RequestClose(WindowId window) {
    if (!window || !d->alive())
        return false;
    d->sync();
    auto it = d->wins.find(window);
    bool takesDelete = false;
    qint64 refusedAt = -1;
    if (it != d->wins.end()) {
        takesDelete = it->second.takesDelete;
        refusedAt = it->second.refusedAt;
    } else {
        // Not a window we watch: look at it now.
        const uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
        xcb_change_window_attributes(d->c, window, XCB_CW_EVENT_MASK, &mask);
        const XReply<xcb_get_property_reply_t> p(xcb_get_property_reply(
            d->c, xcb_get_property(d->c, 0, window, d->WM_PROTOCOLS, XCB_ATOM_ATOM, 0, 64),
            nullptr));
        ++d->roundTrips;
        if (!p)
            return false;
        takesDelete = hasAtom(p.get(), d->WM_DELETE_WINDOW);
    }
    d->closing = window;
    d->closingGone = false;
    if (takesDelete) {
        xcb_client_message_event_t ev{};
        ev.response_type = XCB_CLIENT_MESSAGE;
        ev.format = 32;
        ev.window = window;
        ev.type = d->WM_PROTOCOLS;
        ev.data.data32[0] = d->WM_DELETE_WINDOW;
        ev.data.data32[1] = XCB_CURRENT_TIME;
        xcb_send_event(d->c, 0, window, XCB_EVENT_MASK_NO_EVENT,
                       reinterpret_cast<const char*>(&ev));
    } else {
        xcb_ewmh_request_close_window(&d->ewmh, d->screenNr, window, XCB_CURRENT_TIME,
                                      XCB_EWMH_CLIENT_SOURCE_TYPE_OTHER);
    }
    xcb_flush(d->c);
    const qint64 now = monotonicMs();
    // A window that just let a request time out is asked again without waiting,
    // so that a refusing application cannot hold every tick for the full bound.
    const bool recentlyRefused = refusedAt >= 0 && now - refusedAt < 5000;
    const qint64 deadline = now + (recentlyRefused ? 0 : closeWaitMs);
    const bool went = d->waitFor(deadline, [&] { return d->closingGone; });
    d->closing = 0;
    if (!went) {
        if (auto w = d->wins.find(window); w != d->wins.end() && !recentlyRefused)
            w->second.refusedAt = now;
    }
    return went;
}

void X11Desktop::SetForegroundWindow(WindowId window) {
    if (!window || !d->alive())
        return;
    d->drain();
    if ((d->activeDirty ? d->readActive() : d->active) == window)
        return;
    xcb_ewmh_request_change_active_window(&d->ewmh, d->screenNr, window,
                                          XCB_EWMH_CLIENT_SOURCE_TYPE_OTHER, XCB_CURRENT_TIME, 0);
    xcb_flush(d->c);
    // Key strokes that follow should reach this window: give the window
    // manager a short, bounded time to move the focus. When it refused this
    // window lately, do not wait again: every tick would pay for it.
    const qint64 now = monotonicMs();
    auto it = d->wins.find(window);
    if (it != d->wins.end() && it->second.refusedFocusAt >= 0 &&
        now - it->second.refusedFocusAt < 5000)
        return;
    if (!d->waitFor(now + focusWaitMs,
                    [&] { return d->activeDirty && d->readActive() == window; })) {
        if (auto w = d->wins.find(window); w != d->wins.end())
            w->second.refusedFocusAt = now;
    }
}

void X11Desktop::KeyEvent(int virtualKey, bool keyUp) {
    if (!d->alive() || !d->xtest)
        return;
    const xcb_keycode_t code = d->keycodeFor(keysymFor(virtualKey & 0xff));
    if (!code)
        return;
    xcb_test_fake_input(d->c, keyUp ? XCB_KEY_RELEASE : XCB_KEY_PRESS, code, XCB_CURRENT_TIME,
                        XCB_NONE, 0, 0, 0);
    xcb_flush(d->c);
}

void X11Desktop::SetTopmost(QWidget* window, bool topmost) {
    if (!window)
        return;
    const Qt::WindowFlags f = window->windowFlags();
    QWindow* h = window->windowHandle();
    const bool ours = d->alive() && h;
    const xcb_window_t id = ours ? nativeWindow(window) : 0;
    const qint64 now = monotonicMs();
    if (f.testFlag(Qt::WindowStaysOnTopHint) == topmost) {
        // The window manager or the user may have taken the state away: the
        // cache, fed by the window's own events, says so for free, and the
        // state is asked for again at once.
        if (topmost && ours) {
            d->sync();
            auto it = d->wins.find(id);
            if (it != d->wins.end() && !it->second.above && d->mayAskAbove(it->second, now))
                d->changeAbove(id, true);
        }
        return; // already in that band: costs nothing
    }
    window->overrideWindowFlags(topmost ? f | Qt::WindowStaysOnTopHint
                                        : f & ~Qt::WindowStaysOnTopHint);
    // QWidget::setWindowFlag would hide the window; the QWindow flag changes
    // _NET_WM_STATE_ABOVE on the mapped window.
    if (h)
        h->setFlag(Qt::WindowStaysOnTopHint, topmost);
    // Also on our own connection, so that it lands after any request we sent before.
    if (ours && !topmost)
        d->changeAbove(id, false);
    if (auto it = d->wins.find(id); ours && it != d->wins.end())
        it->second.stateAskedAt = now;
}

void X11Desktop::SetTopmostAt(QWidget* window, int x, int y) {
    if (!window)
        return;
    SetTopmost(window, true);
    window->move(x, y);
}

void X11Desktop::ClearTitle(QWidget* window) {
    if (!window || !d->alive())
        return;
    const xcb_window_t id = nativeWindow(window);
    // On Qt's own connection: its title requests, still on their way, must
    // not land after ours.
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* c = x11 ? x11->connection() : d->c;
    for (xcb_atom_t name : {d->ewmh._NET_WM_NAME, d->ewmh._NET_WM_ICON_NAME})
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, name, d->ewmh.UTF8_STRING, 8, 0, nullptr);
    for (xcb_atom_t name : {xcb_atom_t(XCB_ATOM_WM_NAME), xcb_atom_t(XCB_ATOM_WM_ICON_NAME)})
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, name, XCB_ATOM_STRING, 8, 0, nullptr);
    xcb_flush(c);
}

qint64 X11Desktop::GetTickCount() {
    return monotonicMs();
}

void X11Desktop::wait_ms(int ms) {
    const qint64 start = monotonicMs();
    for (qint64 left; (left = start + ms + 1 - monotonicMs()) > 0;)
        EndSignals::sleepMs(left); // an end signal is acted on at once, not after the wait
}

WorkArea X11Desktop::GetWorkArea() {
    if (!d->alive())
        return {};
    uint32_t desk = 0;
    if (!xcb_ewmh_get_current_desktop_reply(
            &d->ewmh, xcb_ewmh_get_current_desktop(&d->ewmh, d->screenNr), &desk, nullptr))
        desk = 0;
    xcb_ewmh_get_workarea_reply_t wa;
    d->roundTrips += 2;
    if (!xcb_ewmh_get_workarea_reply(&d->ewmh, xcb_ewmh_get_workarea(&d->ewmh, d->screenNr), &wa,
                                     nullptr))
        return {};
    WorkArea r;
    if (wa.workarea_len > 0) {
        const xcb_ewmh_geometry_t& g = wa.workarea[desk < wa.workarea_len ? desk : 0];
        r = {int(g.x), int(g.y), int(g.x + g.width), int(g.y + g.height)};
    }
    xcb_ewmh_get_workarea_reply_wipe(&wa);
    return r;
}

} // namespace brevik
