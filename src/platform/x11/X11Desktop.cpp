#include "platform/x11/X11Desktop.h"

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

qint64 monotonicMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void noticeOnce(const char* text) {
    static std::once_flag once;
    std::call_once(once, [text] { std::fprintf(stderr, "brevik: %s\n", text); });
}

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

bool hasAtom(xcb_get_property_reply_t* r, xcb_atom_t atom) {
    if (!r || r->format != 32)
        return false;
    auto* a = static_cast<const xcb_atom_t*>(xcb_get_property_value(r));
    for (int i = 0; i < xcb_get_property_value_length(r) / 4; ++i)
        if (a[i] == atom)
            return true;
    return false;
}

QString propertyText(xcb_get_property_reply_t* r, xcb_atom_t utf8) {
    if (!r || r->type == XCB_NONE || r->format != 8)
        return {};
    const char* p = static_cast<const char*>(xcb_get_property_value(r));
    int n = xcb_get_property_value_length(r);
    while (n > 0 && p[n - 1] == '\0')
        --n;
    if (r->type == utf8)
        return QString::fromUtf8(p, n);
    // STRING is Latin-1; COMPOUND_TEXT is read for its Latin-1 part only.
    return QString::fromLatin1(p, n);
}

} // namespace

struct X11Desktop::Impl {
    struct Win {
        QString cls; // class part of WM_CLASS, lower case
        QString netName, wmName;
        bool takesDelete = false;
        bool own = false;
        WindowFacts facts; // what its role is matched on
        AppRoles roles = 0;
        bool matched = false;
        bool hidden = false;
        bool above = false;         // _NET_WM_STATE_ABOVE
        qint64 refusedAt = -1;      // tick of the last close request it let time out
        qint64 refusedFocusAt = -1; // tick the window manager last refused it the focus
        // Our own windows: the tick of a topmost request whose answer (a change
        // of _NET_WM_STATE) has not come yet, -1 when none is on its way; and
        // the requests made again since reassertSince.
        qint64 stateAskedAt = -1;
        qint64 reassertSince = -1;
        int reasserts = 0;
    };

    xcb_connection_t* c = nullptr;
    xcb_ewmh_connection_t ewmh{};
    bool ewmhReady = false;
    bool ok = false;
    int screenNr = 0;
    xcb_window_t root = 0;
    xcb_atom_t WM_PROTOCOLS = 0, WM_DELETE_WINDOW = 0;
    xcb_atom_t GTK_APPLICATION_ID = 0, KDE_DESKTOP_FILE = 0;
    QByteArray hostName; // a _NET_WM_PID is ours to look at when WM_CLIENT_MACHINE is this
    std::shared_ptr<const RoleTable> roleTable;
    bool xtest = false;
    quint64 roundTrips = 0;

    std::unordered_map<xcb_window_t, Win> wins;
    std::vector<xcb_window_t> order; // as the window manager lists them, oldest first
    QHash<QString, std::vector<xcb_window_t>> byClass;
    std::vector<xcb_window_t> byRole[8]; // by the bit number of an AppRole
    bool indexDirty = true;
    std::unordered_set<xcb_window_t> dirty;
    xcb_window_t closing = 0; // the window a close request waits for
    bool closingGone = false; // it was unmapped or destroyed meanwhile
    bool clientList = false;  // a window manager keeps _NET_CLIENT_LIST
    bool listDirty = true;
    bool activeDirty = true;
    xcb_window_t active = 0;
    qint64 lastDrain = -10;
    qint64 lastRescan = -10000;

    std::unique_ptr<QSocketNotifier> notifier;

    // Keyboard map, read once.
    std::vector<xcb_keysym_t> keysyms;
    int minKeycode = 0, perKeycode = 0;

    xcb_atom_t internAtom(const char* name) {
        auto r =
            xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(strlen(name)), name), nullptr);
        ++roundTrips;
        xcb_atom_t a = r ? r->atom : 0;
        free(r);
        return a;
    }

    bool connect(const char* display) {
        const char* disp = display ? display : std::getenv("DISPLAY");
        const char* wayland = std::getenv("WAYLAND_DISPLAY");
        if (!disp || !*disp) {
            noticeOnce(wayland && *wayland
                           ? "Wayland session without an X display: the desktop guard is "
                             "inactive (other applications are not kept off the screen)"
                           : "no X display: the desktop guard is inactive (other applications "
                             "are not kept off the screen)");
            return false;
        }
        c = xcb_connect(disp, &screenNr);
        if (!c || xcb_connection_has_error(c)) {
            noticeOnce("cannot open the X display: the desktop guard is inactive (other "
                       "applications are not kept off the screen)");
            return false;
        }
        if (wayland && *wayland)
            noticeOnce("Wayland session: the desktop guard sees and closes X11 (XWayland) "
                       "applications only");
        const xcb_setup_t* setup = xcb_get_setup(c);
        auto it = xcb_setup_roots_iterator(setup);
        for (int i = 0; i < screenNr && it.rem; ++i)
            xcb_screen_next(&it);
        if (!it.rem)
            return false;
        root = it.data->root;
        ewmhReady = xcb_ewmh_init_atoms_replies(&ewmh, xcb_ewmh_init_atoms(c, &ewmh), nullptr);
        ++roundTrips;
        if (!ewmhReady)
            return false;
        WM_PROTOCOLS = internAtom("WM_PROTOCOLS");
        WM_DELETE_WINDOW = internAtom("WM_DELETE_WINDOW");
        GTK_APPLICATION_ID = internAtom("_GTK_APPLICATION_ID");
        KDE_DESKTOP_FILE = internAtom("_KDE_NET_WM_DESKTOP_FILE");
        char host[256] = {};
        if (gethostname(host, sizeof host - 1) == 0)
            hostName = host;
        const xcb_query_extension_reply_t* ext = xcb_get_extension_data(c, &xcb_test_id);
        xtest = ext && ext->present;
        const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(c, root, XCB_CW_EVENT_MASK, &mask);
        xcb_flush(c);
        return true;
    }

    bool alive() {
        if (ok && xcb_connection_has_error(c)) {
            ok = false;
            std::fprintf(stderr, "brevik: the X connection was lost: the desktop guard stops\n");
        }
        return ok;
    }

    void handle(xcb_generic_event_t* e) {
        switch (e->response_type & 0x7f) {
        case XCB_PROPERTY_NOTIFY: {
            auto* p = reinterpret_cast<xcb_property_notify_event_t*>(e);
            if (p->window == root) {
                if (p->atom == ewmh._NET_CLIENT_LIST)
                    listDirty = true;
                else if (p->atom == ewmh._NET_ACTIVE_WINDOW)
                    activeDirty = true;
            } else if (auto it = wins.find(p->window);
                       it != wins.end() &&
                       (p->atom == XCB_ATOM_WM_CLASS || p->atom == XCB_ATOM_WM_NAME ||
                        p->atom == ewmh._NET_WM_NAME || p->atom == WM_PROTOCOLS ||
                        p->atom == ewmh._NET_WM_STATE || p->atom == GTK_APPLICATION_ID ||
                        p->atom == KDE_DESKTOP_FILE || p->atom == ewmh._NET_WM_PID ||
                        p->atom == XCB_ATOM_WM_CLIENT_MACHINE)) {
                if (p->atom == ewmh._NET_WM_STATE)
                    it->second.stateAskedAt = -1; // the window manager has answered
                dirty.insert(p->window);
            }
            break;
        }
        case XCB_DESTROY_NOTIFY: {
            auto* d = reinterpret_cast<xcb_destroy_notify_event_t*>(e);
            // X reuses ids: a destroyed window's state must not outlive it.
            if (wins.erase(d->window)) {
                indexDirty = true;
                dirty.erase(d->window);
            }
            closingGone = closingGone || d->window == closing;
            listDirty = listDirty || !clientList;
            break;
        }
        case XCB_UNMAP_NOTIFY: {
            auto* u = reinterpret_cast<xcb_unmap_notify_event_t*>(e);
            closingGone = closingGone || u->window == closing;
            if (auto it = wins.find(u->window); it != wins.end() && !it->second.hidden) {
                it->second.hidden = true;
                indexDirty = true;
            }
            if (u->event == root && !clientList)
                listDirty = true;
            break;
        }
        case XCB_MAP_NOTIFY: {
            auto* m = reinterpret_cast<xcb_map_notify_event_t*>(e);
            if (auto it = wins.find(m->window); it != wins.end() && it->second.hidden) {
                it->second.hidden = false;
                indexDirty = true;
            }
            if (m->event == root && !clientList)
                listDirty = true;
            break;
        }
        case XCB_CREATE_NOTIFY:
        case XCB_REPARENT_NOTIFY:
            // Without a window manager the root's children are the list.
            listDirty = listDirty || !clientList;
            break;
        default:
            break; // errors of unchecked requests to windows that went away
        }
    }

    void drain() {
        while (xcb_generic_event_t* e = xcb_poll_for_event(c)) {
            handle(e);
            free(e);
        }
    }

    // The top-level windows: the window manager's client list, else the mapped
    // children of the root.
    std::vector<xcb_window_t> readList() {
        std::vector<xcb_window_t> list;
        xcb_ewmh_get_windows_reply_t cl;
        ++roundTrips;
        if (xcb_ewmh_get_client_list_reply(&ewmh, xcb_ewmh_get_client_list(&ewmh, screenNr), &cl,
                                           nullptr)) {
            list.assign(cl.windows, cl.windows + cl.windows_len);
            xcb_ewmh_get_windows_reply_wipe(&cl);
            clientList = true;
            return list;
        }
        clientList = false;
        auto* tree = xcb_query_tree_reply(c, xcb_query_tree(c, root), nullptr);
        ++roundTrips;
        if (!tree)
            return list;
        const xcb_window_t* kids = xcb_query_tree_children(tree);
        const int n = xcb_query_tree_children_length(tree);
        std::vector<xcb_get_window_attributes_cookie_t> cookies;
        for (int i = 0; i < n; ++i)
            cookies.push_back(xcb_get_window_attributes(c, kids[i]));
        ++roundTrips;
        for (int i = 0; i < n; ++i) {
            auto* a = xcb_get_window_attributes_reply(c, cookies[i], nullptr);
            if (a && a->map_state == XCB_MAP_STATE_VIEWABLE && !a->override_redirect)
                list.push_back(kids[i]);
            free(a);
        }
        free(tree);
        return list;
    }

    void rescan() {
        listDirty = false;
        lastRescan = monotonicMs();
        std::vector<xcb_window_t> list = readList();
        std::unordered_set<xcb_window_t> present(list.begin(), list.end());
        for (auto it = wins.begin(); it != wins.end();)
            it = present.count(it->first) ? std::next(it) : wins.erase(it);
        const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_STRUCTURE_NOTIFY;
        for (xcb_window_t w : list) {
            if (wins.count(w))
                continue;
            // Events first, then the reads: a change after the read is never missed.
            xcb_change_window_attributes(c, w, XCB_CW_EVENT_MASK, &mask);
            wins.emplace(w, Win{});
            dirty.insert(w);
        }
        order = std::move(list);
        indexDirty = true;
    }

    void readDirty() {
        struct Pending {
            xcb_window_t w;
            xcb_get_property_cookie_t cls, net, name, proto, pid, state, appId, desktopFile,
                machine;
        };
        std::vector<Pending> pend;
        for (xcb_window_t w : dirty)
            pend.push_back(
                {w, xcb_get_property(c, 0, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 256),
                 xcb_get_property(c, 0, w, ewmh._NET_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, 0, 1024),
                 xcb_get_property(c, 0, w, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, 0, 1024),
                 xcb_get_property(c, 0, w, WM_PROTOCOLS, XCB_ATOM_ATOM, 0, 64),
                 xcb_get_property(c, 0, w, ewmh._NET_WM_PID, XCB_ATOM_CARDINAL, 0, 1),
                 xcb_get_property(c, 0, w, ewmh._NET_WM_STATE, XCB_ATOM_ATOM, 0, 32),
                 xcb_get_property(c, 0, w, GTK_APPLICATION_ID, XCB_GET_PROPERTY_TYPE_ANY, 0, 64),
                 xcb_get_property(c, 0, w, KDE_DESKTOP_FILE, XCB_GET_PROPERTY_TYPE_ANY, 0, 64),
                 xcb_get_property(c, 0, w, XCB_ATOM_WM_CLIENT_MACHINE, XCB_GET_PROPERTY_TYPE_ANY, 0,
                                  64)});
        dirty.clear();
        ++roundTrips;
        const quint32 ownPid = quint32(getpid());
        for (const Pending& p : pend) {
            auto* cls = xcb_get_property_reply(c, p.cls, nullptr);
            auto* net = xcb_get_property_reply(c, p.net, nullptr);
            auto* name = xcb_get_property_reply(c, p.name, nullptr);
            auto* proto = xcb_get_property_reply(c, p.proto, nullptr);
            auto* pid = xcb_get_property_reply(c, p.pid, nullptr);
            auto* state = xcb_get_property_reply(c, p.state, nullptr);
            auto* appId = xcb_get_property_reply(c, p.appId, nullptr);
            auto* desktopFile = xcb_get_property_reply(c, p.desktopFile, nullptr);
            auto* machine = xcb_get_property_reply(c, p.machine, nullptr);
            auto it = wins.find(p.w);
            if (!cls) { // the window is gone
                if (it != wins.end())
                    wins.erase(it);
            } else if (it != wins.end()) {
                Win& w = it->second;
                // WM_CLASS is "res_name\0res_class\0"; the class part stands for the window class.
                const char* v = static_cast<const char*>(xcb_get_property_value(cls));
                const int n = xcb_get_property_value_length(cls);
                WindowFacts facts;
                const void* nul = memchr(v, 0, size_t(n));
                if (nul) {
                    const char* k = static_cast<const char*>(nul) + 1;
                    facts.instance = QString::fromLatin1(v, int(static_cast<const char*>(nul) - v));
                    facts.windowClass = QString::fromLatin1(k, qstrnlen(k, size_t(v + n - k)));
                }
                w.cls = facts.windowClass.toLower();
                w.netName = propertyText(net, ewmh.UTF8_STRING);
                w.wmName = propertyText(name, ewmh.UTF8_STRING);
                w.takesDelete = hasAtom(proto, WM_DELETE_WINDOW);
                w.above = hasAtom(state, ewmh._NET_WM_STATE_ABOVE);
                const quint32 pidValue =
                    pid && pid->format == 32 && xcb_get_property_value_length(pid) == 4
                        ? *static_cast<const quint32*>(xcb_get_property_value(pid))
                        : 0;
                w.own = pidValue && pidValue == ownPid;
                facts.appId = propertyText(appId, ewmh.UTF8_STRING);
                facts.desktopFile = propertyText(desktopFile, ewmh.UTF8_STRING);
                // Another machine's process ids say nothing about ours.
                const QString host = propertyText(machine, ewmh.UTF8_STRING);
                if (host.isEmpty() || host == QLatin1String(hostName))
                    facts.pid = pidValue;
                // Matched once per class or hint change; titles change far more often.
                if (!w.matched || !(facts == w.facts)) {
                    w.matched = true;
                    w.facts = std::move(facts);
                    w.roles = matchRoles(w.facts);
                }
            }
            free(cls);
            free(net);
            free(name);
            free(proto);
            free(pid);
            free(state);
            free(appId);
            free(desktopFile);
            free(machine);
        }
        indexDirty = true;
    }

    AppRoles matchRoles(const WindowFacts& f) const {
        return roleTable ? roleTable->match(f).roles : 0;
    }

    void rebuildIndex() {
        byClass.clear();
        for (auto& list : byRole)
            list.clear();
        for (xcb_window_t w : order) {
            auto it = wins.find(w);
            if (it == wins.end() || it->second.own || it->second.hidden)
                continue;
            byClass[it->second.cls].push_back(w);
            for (int bit = 0; bit < 8; ++bit)
                if (it->second.roles & (1u << bit))
                    byRole[bit].push_back(w);
        }
        indexDirty = false;
    }

    bool titleMatches(xcb_window_t w, const std::optional<QString>& title) const {
        auto found = wins.find(w);
        return found != wins.end() &&
               (!title || found->second.netName == *title || found->second.wmName == *title);
    }

    // Called by the event loop when the server has sent something: the cache
    // is brought up to date between ticks, so a tick finds it current.
    void refresh() {
        if (!alive())
            return;
        drain();
        for (int round = 0; round < 3 && (listDirty || !dirty.empty()); ++round) {
            if (listDirty)
                rescan();
            if (!dirty.empty())
                readDirty();
            drain(); // events that arrived with the replies
        }
        xcb_flush(c);
    }

    // Brings the cache up to date. Reading the socket is a system call, so it
    // is done at most once a millisecond: one guard tick drains once.
    void sync() {
        const qint64 now = monotonicMs();
        if (now != lastDrain) {
            lastDrain = now;
            drain();
        }
        if (now - lastRescan >= 1000) // safety net for anything the events missed
            listDirty = true;
        if (listDirty)
            rescan();
        if (!dirty.empty())
            readDirty();
        if (indexDirty)
            rebuildIndex();
    }

    // Waits for events until pred() holds or deadline (monotonic ms) passes.
    template <class P> bool waitFor(qint64 deadline, P pred) {
        for (;;) {
            drain();
            if (pred())
                return true;
            const qint64 left = deadline - monotonicMs();
            if (left <= 0 || !alive())
                return false;
            pollfd fd{xcb_get_file_descriptor(c), POLLIN, 0};
            poll(&fd, 1, int(left));
        }
    }

    // Whether the topmost state of our window w may be asked for again now: not
    // while an earlier request is still unanswered, and only a few times a
    // second from a window manager that keeps taking it away.
    bool mayAskAbove(Win& w, qint64 now) {
        if (w.stateAskedAt >= 0 && now - w.stateAskedAt < kStateAnswerMs)
            return false;
        if (now - w.reassertSince >= 1000) {
            w.reassertSince = now;
            w.reasserts = 0;
        }
        if (++w.reasserts > kReassertsPerSecond)
            return false;
        w.stateAskedAt = now;
        return true;
    }
    static constexpr int kStateAnswerMs = 300;
    static constexpr int kReassertsPerSecond = 5;

    void changeAbove(xcb_window_t w, bool on) {
        xcb_ewmh_request_change_wm_state(
            &ewmh, screenNr, w, on ? XCB_EWMH_WM_STATE_ADD : XCB_EWMH_WM_STATE_REMOVE,
            ewmh._NET_WM_STATE_ABOVE, 0, XCB_EWMH_CLIENT_SOURCE_TYPE_OTHER);
        xcb_flush(c);
    }

    xcb_window_t readActive() {
        activeDirty = false;
        xcb_window_t w = 0;
        ++roundTrips;
        if (!xcb_ewmh_get_active_window_reply(&ewmh, xcb_ewmh_get_active_window(&ewmh, screenNr),
                                              &w, nullptr))
            w = 0;
        active = w;
        return w;
    }

    xcb_keycode_t keycodeFor(xcb_keysym_t sym) {
        if (keysyms.empty()) {
            const xcb_setup_t* s = xcb_get_setup(c);
            minKeycode = s->min_keycode;
            auto* r = xcb_get_keyboard_mapping_reply(
                c, xcb_get_keyboard_mapping(c, s->min_keycode, s->max_keycode - s->min_keycode + 1),
                nullptr);
            ++roundTrips;
            if (!r)
                return 0;
            perKeycode = r->keysyms_per_keycode;
            const xcb_keysym_t* k = xcb_get_keyboard_mapping_keysyms(r);
            keysyms.assign(k, k + xcb_get_keyboard_mapping_keysyms_length(r));
            free(r);
        }
        if (perKeycode <= 0)
            return 0;
        for (size_t i = 0; i < keysyms.size(); ++i)
            if (keysyms[i] == sym)
                return xcb_keycode_t(minKeycode + int(i) / perKeycode);
        return 0;
    }
};

X11Desktop::X11Desktop(const char* display) : d(std::make_unique<Impl>()) {
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
        auto* p = xcb_get_property_reply(
            d->c, xcb_get_property(d->c, 0, window, d->WM_PROTOCOLS, XCB_ATOM_ATOM, 0, 64),
            nullptr);
        ++d->roundTrips;
        if (!p)
            return false;
        takesDelete = hasAtom(p, d->WM_DELETE_WINDOW);
        free(p);
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
