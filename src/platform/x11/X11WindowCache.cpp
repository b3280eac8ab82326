#include "platform/x11/X11WindowCache.h"

#include "platform/x11/XReply.h"

#include <QCoreApplication>

#include <xcb/xtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>

namespace brevik {

qint64 monotonicMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void noticeOnce(const char* text) {
    static std::once_flag once;
    std::call_once(once, [text] { std::fprintf(stderr, "brevik: %s\n", text); });
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

namespace {

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

xcb_atom_t X11WindowCache::internAtom(const char* name) {
    const XReply<xcb_intern_atom_reply_t> r(
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(strlen(name)), name), nullptr));
    ++roundTrips;
    return r ? r->atom : 0;
}

bool X11WindowCache::connect(const char* display) {
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

bool X11WindowCache::alive() {
    if (ok && xcb_connection_has_error(c)) {
        ok = false;
        std::fprintf(stderr, "brevik: the X connection was lost: the desktop guard stops\n");
    }
    return ok;
}

void X11WindowCache::handle(xcb_generic_event_t* e) {
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

void X11WindowCache::drain() {
    while (const XReply<xcb_generic_event_t> e{xcb_poll_for_event(c)})
        handle(e.get());
}

std::vector<xcb_window_t> X11WindowCache::readList() {
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
    const XReply<xcb_query_tree_reply_t> tree(
        xcb_query_tree_reply(c, xcb_query_tree(c, root), nullptr));
    ++roundTrips;
    if (!tree)
        return list;
    const xcb_window_t* kids = xcb_query_tree_children(tree.get());
    const int n = xcb_query_tree_children_length(tree.get());
    std::vector<xcb_get_window_attributes_cookie_t> cookies;
    for (int i = 0; i < n; ++i)
        cookies.push_back(xcb_get_window_attributes(c, kids[i]));
    ++roundTrips;
    for (int i = 0; i < n; ++i) {
        const XReply<xcb_get_window_attributes_reply_t> a(
            xcb_get_window_attributes_reply(c, cookies[i], nullptr));
        if (a && a->map_state == XCB_MAP_STATE_VIEWABLE && !a->override_redirect)
            list.push_back(kids[i]);
    }
    return list;
}

void X11WindowCache::rescan() {
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

void X11WindowCache::readDirty() {
    struct Pending {
        xcb_window_t w;
        xcb_get_property_cookie_t cls, net, name, proto, pid, state, appId, desktopFile, machine;
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
        const XReply<xcb_get_property_reply_t> cls(xcb_get_property_reply(c, p.cls, nullptr));
        const XReply<xcb_get_property_reply_t> net(xcb_get_property_reply(c, p.net, nullptr));
        const XReply<xcb_get_property_reply_t> name(xcb_get_property_reply(c, p.name, nullptr));
        const XReply<xcb_get_property_reply_t> proto(xcb_get_property_reply(c, p.proto, nullptr));
        const XReply<xcb_get_property_reply_t> pid(xcb_get_property_reply(c, p.pid, nullptr));
        const XReply<xcb_get_property_reply_t> state(xcb_get_property_reply(c, p.state, nullptr));
        const XReply<xcb_get_property_reply_t> appId(xcb_get_property_reply(c, p.appId, nullptr));
        const XReply<xcb_get_property_reply_t> desktopFile(
            xcb_get_property_reply(c, p.desktopFile, nullptr));
        const XReply<xcb_get_property_reply_t> machine(
            xcb_get_property_reply(c, p.machine, nullptr));
        auto it = wins.find(p.w);
        if (!cls) { // the window is gone
            if (it != wins.end())
                wins.erase(it);
        } else if (it != wins.end()) {
            Win& w = it->second;
            // WM_CLASS is "res_name\0res_class\0"; the class part stands for the window class.
            const char* v = static_cast<const char*>(xcb_get_property_value(cls.get()));
            const int n = xcb_get_property_value_length(cls.get());
            WindowFacts facts;
            const void* nul = memchr(v, 0, size_t(n));
            if (nul) {
                const char* k = static_cast<const char*>(nul) + 1;
                facts.instance = QString::fromLatin1(v, int(static_cast<const char*>(nul) - v));
                facts.windowClass = QString::fromLatin1(k, qstrnlen(k, size_t(v + n - k)));
            }
            w.cls = facts.windowClass.toLower();
            w.netName = propertyText(net.get(), ewmh.UTF8_STRING);
            w.wmName = propertyText(name.get(), ewmh.UTF8_STRING);
            w.takesDelete = hasAtom(proto.get(), WM_DELETE_WINDOW);
            w.above = hasAtom(state.get(), ewmh._NET_WM_STATE_ABOVE);
            const quint32 pidValue =
                pid && pid->format == 32 && xcb_get_property_value_length(pid.get()) == 4
                    ? *static_cast<const quint32*>(xcb_get_property_value(pid.get()))
                    : 0;
            w.own = pidValue && pidValue == ownPid;
            facts.appId = propertyText(appId.get(), ewmh.UTF8_STRING);
            facts.desktopFile = propertyText(desktopFile.get(), ewmh.UTF8_STRING);
            // Another machine's process ids say nothing about ours.
            const QString host = propertyText(machine.get(), ewmh.UTF8_STRING);
            if (host.isEmpty() || host == QLatin1String(hostName))
                facts.pid = pidValue;
            // Matched once per class or hint change; titles change far more often.
            if (!w.matched || !(facts == w.facts)) {
                w.matched = true;
                w.facts = std::move(facts);
                w.roles = matchRoles(w.facts);
            }
        }
    }
    indexDirty = true;
}

AppRoles X11WindowCache::matchRoles(const WindowFacts& f) const {
    return roleTable ? roleTable->match(f).roles : 0;
}

void X11WindowCache::rebuildIndex() {
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

bool X11WindowCache::titleMatches(xcb_window_t w, const std::optional<QString>& title) const {
    auto found = wins.find(w);
    return found != wins.end() &&
           (!title || found->second.netName == *title || found->second.wmName == *title);
}

void X11WindowCache::refresh() {
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

void X11WindowCache::sync() {
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

bool X11WindowCache::mayAskAbove(Win& w, qint64 now) {
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

void X11WindowCache::changeAbove(xcb_window_t w, bool on) {
    xcb_ewmh_request_change_wm_state(
        &ewmh, screenNr, w, on ? XCB_EWMH_WM_STATE_ADD : XCB_EWMH_WM_STATE_REMOVE,
        ewmh._NET_WM_STATE_ABOVE, 0, XCB_EWMH_CLIENT_SOURCE_TYPE_OTHER);
    xcb_flush(c);
}

xcb_window_t X11WindowCache::readActive() {
    activeDirty = false;
    xcb_window_t w = 0;
    ++roundTrips;
    if (!xcb_ewmh_get_active_window_reply(&ewmh, xcb_ewmh_get_active_window(&ewmh, screenNr), &w,
                                          nullptr))
        w = 0;
    active = w;
    return w;
}

xcb_keycode_t X11WindowCache::keycodeFor(xcb_keysym_t sym) {
    if (keysyms.empty()) {
        const xcb_setup_t* s = xcb_get_setup(c);
        minKeycode = s->min_keycode;
        const XReply<xcb_get_keyboard_mapping_reply_t> r(xcb_get_keyboard_mapping_reply(
            c, xcb_get_keyboard_mapping(c, s->min_keycode, s->max_keycode - s->min_keycode + 1),
            nullptr));
        ++roundTrips;
        if (!r)
            return 0;
        perKeycode = r->keysyms_per_keycode;
        const xcb_keysym_t* k = xcb_get_keyboard_mapping_keysyms(r.get());
        keysyms.assign(k, k + xcb_get_keyboard_mapping_keysyms_length(r.get()));
    }
    if (perKeycode <= 0)
        return 0;
    for (size_t i = 0; i < keysyms.size(); ++i)
        if (keysyms[i] == sym)
            return xcb_keycode_t(minKeycode + int(i) / perKeycode);
    return 0;
}

} // namespace brevik
