#include "platform/x11/XTestDriver.h"

#include "platform/x11/XReply.h"

#include <QElapsedTimer>
#include <QHash>
#include <QThread>

#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>
#include <xcb/xcb_icccm.h>
#include <xcb/xtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <unordered_map>

namespace brevik {

namespace {

// Keysyms of the named keys a person uses here.
const QHash<QString, quint32>& namedKeys() {
    static const QHash<QString, quint32> keys = {
        {QStringLiteral("return"), 0xff0d},  {QStringLiteral("enter"), 0xff0d},
        {QStringLiteral("tab"), 0xff09},     {QStringLiteral("escape"), 0xff1b},
        {QStringLiteral("esc"), 0xff1b},     {QStringLiteral("backspace"), 0xff08},
        {QStringLiteral("delete"), 0xffff},  {QStringLiteral("space"), 0x20},
        {QStringLiteral("left"), 0xff51},    {QStringLiteral("up"), 0xff52},
        {QStringLiteral("right"), 0xff53},   {QStringLiteral("down"), 0xff54},
        {QStringLiteral("home"), 0xff50},    {QStringLiteral("end"), 0xff57},
        {QStringLiteral("shift"), 0xffe1},   {QStringLiteral("ctrl"), 0xffe3},
        {QStringLiteral("control"), 0xffe3}, {QStringLiteral("alt"), 0xffe9},
    };
    return keys;
}

// The keysym X gives a character: Latin-1 as itself, anything else as 0x1000000 + code.
quint32 keysymOf(char32_t c) {
    if ((c >= 0x20 && c <= 0x7e) || (c >= 0xa0 && c <= 0xff))
        return quint32(c);
    if (c == u'\n')
        return 0xff0d;
    if (c == u'\t')
        return 0xff09;
    return 0x1000000u + quint32(c);
}

} // namespace

struct XTestDriver::Impl {
    xcb_connection_t* c = nullptr;
    xcb_ewmh_connection_t ewmh{};
    bool ewmhReady = false;
    bool xtest = false;
    int screenNr = 0;
    xcb_window_t root = 0;
    xcb_atom_t WM_STATE = 0, WM_PROTOCOLS = 0;
    quint32 pings = 0;
    Pause pause = [](int ms) { QThread::msleep(ulong(ms)); };

    // Keyboard map.
    int minKeycode = 0, maxKeycode = 0, perKeycode = 0;
    std::vector<xcb_keysym_t> keysyms;

    xcb_atom_t atom(const char* name) {
        XReply<xcb_intern_atom_reply_t> r(
            xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(strlen(name)), name), nullptr));
        return r ? r->atom : 0;
    }

    void readKeymap() {
        const xcb_setup_t* s = xcb_get_setup(c);
        minKeycode = s->min_keycode;
        maxKeycode = s->max_keycode;
        XReply<xcb_get_keyboard_mapping_reply_t> r(xcb_get_keyboard_mapping_reply(
            c, xcb_get_keyboard_mapping(c, s->min_keycode, s->max_keycode - s->min_keycode + 1),
            nullptr));
        if (!r)
            return;
        perKeycode = r->keysyms_per_keycode;
        const xcb_keysym_t* k = xcb_get_keyboard_mapping_keysyms(r.get());
        keysyms.assign(k, k + xcb_get_keyboard_mapping_keysyms_length(r.get()));
    }

    // Keycode and shift level (0 or 1) of a keysym, or keycode 0.
    std::pair<xcb_keycode_t, int> find(xcb_keysym_t sym) {
        if (perKeycode <= 0)
            return {0, 0};
        for (int level = 0; level < std::min(perKeycode, 2); ++level)
            for (size_t i = size_t(level); i < keysyms.size(); i += size_t(perKeycode))
                if (keysyms[i] == sym)
                    return {xcb_keycode_t(minKeycode + int(i) / perKeycode), level};
        return {0, 0};
    }

    // Keycodes with no keysym at all, to map characters onto for a moment.
    std::vector<xcb_keycode_t> spares() {
        std::vector<xcb_keycode_t> out;
        for (int code = maxKeycode; code >= minKeycode; --code) {
            bool empty = true;
            for (int j = 0; j < perKeycode && empty; ++j)
                empty = keysyms[size_t((code - minKeycode) * perKeycode + j)] == 0;
            if (empty)
                out.push_back(xcb_keycode_t(code));
        }
        return out;
    }

    void remap(xcb_keycode_t code, xcb_keysym_t sym) {
        std::vector<xcb_keysym_t> row(size_t(perKeycode), sym);
        xcb_change_keyboard_mapping(c, 1, code, uint8_t(perKeycode), row.data());
        for (int j = 0; j < perKeycode; ++j)
            keysyms[size_t((code - minKeycode) * perKeycode + j)] = sym;
    }

    void fake(uint8_t type, xcb_keycode_t detail) {
        xcb_test_fake_input(c, type, detail, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    }

    void press(xcb_keycode_t code, bool shift) {
        const xcb_keycode_t shiftCode = find(0xffe1).first;
        if (shift && shiftCode)
            fake(XCB_KEY_PRESS, shiftCode);
        fake(XCB_KEY_PRESS, code);
        fake(XCB_KEY_RELEASE, code);
        if (shift && shiftCode)
            fake(XCB_KEY_RELEASE, shiftCode);
        xcb_flush(c);
    }

    std::vector<xcb_window_t> clientList() {
        std::vector<xcb_window_t> list;
        xcb_ewmh_get_windows_reply_t cl;
        if (ewmhReady && xcb_ewmh_get_client_list_reply(
                             &ewmh, xcb_ewmh_get_client_list(&ewmh, screenNr), &cl, nullptr)) {
            list.assign(cl.windows, cl.windows + cl.windows_len);
            xcb_ewmh_get_windows_reply_wipe(&cl);
        }
        return list;
    }

    // The child of the root that holds w (its frame, or w itself).
    xcb_window_t topLevelOf(xcb_window_t w) {
        for (int depth = 0; depth < 64 && w; ++depth) {
            XReply<xcb_query_tree_reply_t> t(
                xcb_query_tree_reply(c, xcb_query_tree(c, w), nullptr));
            if (!t)
                return 0;
            if (t->parent == root || t->parent == 0)
                return w;
            w = t->parent;
        }
        return 0;
    }

    QString text(xcb_window_t w, xcb_atom_t property) {
        XReply<xcb_get_property_reply_t> r(xcb_get_property_reply(
            c, xcb_get_property(c, 0, w, property, XCB_GET_PROPERTY_TYPE_ANY, 0, 1024), nullptr));
        if (!r || r->format != 8)
            return {};
        const char* p = static_cast<const char*>(xcb_get_property_value(r.get()));
        const int n = xcb_get_property_value_length(r.get());
        return r->type == ewmh.UTF8_STRING ? QString::fromUtf8(p, n) : QString::fromLatin1(p, n);
    }
};

XTestDriver::XTestDriver(const char* display) : d(std::make_unique<Impl>()) {
    const char* disp = display ? display : std::getenv("DISPLAY");
    if (!disp || !*disp)
        return;
    d->c = xcb_connect(disp, &d->screenNr);
    if (!d->c || xcb_connection_has_error(d->c))
        return;
    auto it = xcb_setup_roots_iterator(xcb_get_setup(d->c));
    for (int i = 0; i < d->screenNr && it.rem; ++i)
        xcb_screen_next(&it);
    if (!it.rem)
        return;
    d->root = it.data->root;
    d->ewmhReady =
        xcb_ewmh_init_atoms_replies(&d->ewmh, xcb_ewmh_init_atoms(d->c, &d->ewmh), nullptr);
    d->WM_STATE = d->atom("WM_STATE");
    d->WM_PROTOCOLS = d->atom("WM_PROTOCOLS");
    // Answers to our pings come back to the root window, sent for structure
    // (Qt) or substructure (others) notification.
    const uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(d->c, d->root, XCB_CW_EVENT_MASK, &mask);
    const xcb_query_extension_reply_t* ext = xcb_get_extension_data(d->c, &xcb_test_id);
    d->xtest = ext && ext->present;
    d->readKeymap();
}

XTestDriver::~XTestDriver() {
    if (d->ewmhReady)
        xcb_ewmh_connection_wipe(&d->ewmh);
    if (d->c)
        xcb_disconnect(d->c);
}

void XTestDriver::setPause(Pause pause) {
    d->pause = std::move(pause);
}

bool XTestDriver::connected() const {
    return d->c && !xcb_connection_has_error(d->c) && d->xtest && d->ewmhReady;
}

bool XTestDriver::windowManagerRunning() {
    if (!connected())
        return false;
    xcb_window_t check = 0;
    return xcb_ewmh_get_supporting_wm_check_reply(
               &d->ewmh, xcb_ewmh_get_supporting_wm_check(&d->ewmh, d->root), &check, nullptr) &&
           check != 0;
}

void XTestDriver::moveTo(QPoint p) {
    if (!connected())
        return;
    xcb_test_fake_input(d->c, XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, d->root, int16_t(p.x()),
                        int16_t(p.y()), 0);
    sync();
}

void XTestDriver::click(QPoint p, int button) {
    if (!connected())
        return;
    moveTo(p);
    // A person's click has a moment between press and release.
    d->pause(20);
    d->fake(XCB_BUTTON_PRESS, uint8_t(button));
    xcb_flush(d->c);
    d->pause(40);
    d->fake(XCB_BUTTON_RELEASE, uint8_t(button));
    sync();
}

bool XTestDriver::key(const QString& combination) {
    if (!connected())
        return false;
    const QStringList parts = combination.split(u'+');
    std::vector<xcb_keycode_t> held;
    bool ok = true;
    for (qsizetype i = 0; i < parts.size() && ok; ++i) {
        const QString name = parts[i];
        xcb_keysym_t sym = namedKeys().value(name.toLower(), 0);
        if (!sym && name.size() == 1)
            sym = keysymOf(name.at(0).unicode());
        const auto [code, level] = d->find(sym);
        if (!code) {
            ok = false;
            break;
        }
        if (i + 1 < parts.size()) { // a modifier: held down
            d->fake(XCB_KEY_PRESS, code);
            held.push_back(code);
        } else {
            d->press(code, level == 1);
        }
    }
    for (auto it = held.rbegin(); it != held.rend(); ++it)
        d->fake(XCB_KEY_RELEASE, *it);
    sync();
    return ok;
}

bool XTestDriver::waitForClient(quint32 window, int timeoutMs) {
    if (!connected() || !window)
        return false;
    const quint32 stamp = 0x7f000000u + ++d->pings;
    xcb_client_message_event_t ev{};
    ev.response_type = XCB_CLIENT_MESSAGE;
    ev.format = 32;
    ev.window = window;
    ev.type = d->WM_PROTOCOLS;
    ev.data.data32[0] = d->ewmh._NET_WM_PING;
    ev.data.data32[1] = stamp;
    ev.data.data32[2] = window;
    xcb_send_event(d->c, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&ev));
    xcb_flush(d->c);
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < timeoutMs) {
        while (const XReply<xcb_generic_event_t> e{xcb_poll_for_event(d->c)}) {
            const bool pong =
                (e->response_type & 0x7f) == XCB_CLIENT_MESSAGE &&
                reinterpret_cast<xcb_client_message_event_t*>(e.get())->data.data32[1] == stamp;
            if (pong)
                return true;
        }
        if (xcb_connection_has_error(d->c))
            return false;
        d->pause(5);
    }
    return false;
}

bool XTestDriver::type(const QString& text, int delayMs) {
    if (!connected())
        return false;
    const std::u32string chars = text.toStdU32String();
    const std::vector<xcb_keycode_t> spare = d->spares();
    bool ok = true;
    for (size_t from = 0; from < chars.size();) {
        // Characters without a key get spare keys, all at once for a stretch of
        // text: a client reads the new map once, and no key can arrive while
        // its map is changing under it.
        std::vector<xcb_keycode_t> mapped;
        size_t to = from;
        for (; to < chars.size(); ++to) {
            const xcb_keysym_t sym = keysymOf(chars[to]);
            if (d->find(sym).first)
                continue;
            if (mapped.size() == spare.size())
                break;
            d->remap(spare[mapped.size()], sym);
            mapped.push_back(spare[mapped.size()]);
        }
        if (to == from) { // no spare key at all
            ok = false;
            ++from;
            continue;
        }
        if (!mapped.empty()) {
            sync();
            d->pause(kMapSettleMs);
        }
        for (; from < to; ++from) {
            const auto [code, level] = d->find(keysymOf(chars[from]));
            d->press(code, level == 1);
            sync();
            d->pause(delayMs);
        }
        if (!mapped.empty()) {
            // The client reads a key's meaning when it handles the key: it must
            // have handled these before the spare keys change again.
            waitForClient(focusedClient());
            for (xcb_keycode_t code : mapped)
                d->remap(code, 0);
            sync();
        }
    }
    return ok;
}

void XTestDriver::sync() {
    if (!d->c)
        return;
    XReply<xcb_get_input_focus_reply_t> r(
        xcb_get_input_focus_reply(d->c, xcb_get_input_focus(d->c), nullptr));
}

std::vector<quint32> XTestDriver::stacking() {
    std::vector<quint32> out;
    if (!connected())
        return out;
    const std::vector<xcb_window_t> clients = d->clientList();
    std::unordered_map<xcb_window_t, xcb_window_t> byTop; // root child -> client
    for (xcb_window_t w : clients)
        if (xcb_window_t top = d->topLevelOf(w))
            byTop[top] = w;
    XReply<xcb_query_tree_reply_t> t(
        xcb_query_tree_reply(d->c, xcb_query_tree(d->c, d->root), nullptr));
    if (!t)
        return out;
    const xcb_window_t* kids = xcb_query_tree_children(t.get());
    for (int i = 0; i < xcb_query_tree_children_length(t.get()); ++i)
        if (auto it = byTop.find(kids[i]); it != byTop.end())
            out.push_back(it->second);
    return out;
}

std::vector<quint32> XTestDriver::ewmhStacking() {
    std::vector<quint32> out;
    xcb_ewmh_get_windows_reply_t cl;
    if (connected() &&
        xcb_ewmh_get_client_list_stacking_reply(
            &d->ewmh, xcb_ewmh_get_client_list_stacking(&d->ewmh, d->screenNr), &cl, nullptr)) {
        out.assign(cl.windows, cl.windows + cl.windows_len);
        xcb_ewmh_get_windows_reply_wipe(&cl);
    }
    return out;
}

XTestDriver::Client XTestDriver::client(quint32 id) {
    Client cl;
    cl.id = id;
    if (!connected() || !id)
        return cl;
    xcb_connection_t* c = d->c;
    auto geo = xcb_get_geometry(c, id);
    auto attr = xcb_get_window_attributes(c, id);
    auto where = xcb_translate_coordinates(c, id, d->root, 0, 0);
    XReply<xcb_get_geometry_reply_t> g(xcb_get_geometry_reply(c, geo, nullptr));
    XReply<xcb_get_window_attributes_reply_t> a(xcb_get_window_attributes_reply(c, attr, nullptr));
    XReply<xcb_translate_coordinates_reply_t> tr(
        xcb_translate_coordinates_reply(c, where, nullptr));
    if (g && tr)
        cl.geometry = QRect(tr->dst_x, tr->dst_y, g->width, g->height);
    cl.mapped = a && a->map_state == XCB_MAP_STATE_VIEWABLE;
    cl.title = d->text(id, d->ewmh._NET_WM_NAME);
    if (cl.title.isEmpty())
        cl.title = d->text(id, XCB_ATOM_WM_NAME);
    xcb_ewmh_get_extents_reply_t ext;
    if (xcb_ewmh_get_frame_extents_reply(&d->ewmh, xcb_ewmh_get_frame_extents(&d->ewmh, id), &ext,
                                         nullptr))
        cl.frame = QMargins(int(ext.left), int(ext.top), int(ext.right), int(ext.bottom));
    xcb_window_t parent = 0;
    if (xcb_icccm_get_wm_transient_for_reply(c, xcb_icccm_get_wm_transient_for(c, id), &parent,
                                             nullptr))
        cl.transientFor = parent;
    uint32_t pid = 0;
    if (xcb_ewmh_get_wm_pid_reply(&d->ewmh, xcb_ewmh_get_wm_pid(&d->ewmh, id), &pid, nullptr))
        cl.pid = pid;
    xcb_ewmh_get_atoms_reply_t state;
    if (xcb_ewmh_get_wm_state_reply(&d->ewmh, xcb_ewmh_get_wm_state(&d->ewmh, id), &state,
                                    nullptr)) {
        for (uint32_t i = 0; i < state.atoms_len; ++i)
            cl.above = cl.above || state.atoms[i] == d->ewmh._NET_WM_STATE_ABOVE;
        xcb_ewmh_get_atoms_reply_wipe(&state);
    }
    return cl;
}

std::vector<XTestDriver::Client> XTestDriver::clients() {
    std::vector<Client> out;
    for (quint32 id : stacking())
        out.push_back(client(id));
    return out;
}

quint32 XTestDriver::focusedClient() {
    if (!connected())
        return 0;
    XReply<xcb_get_input_focus_reply_t> f(
        xcb_get_input_focus_reply(d->c, xcb_get_input_focus(d->c), nullptr));
    if (!f || f->focus == XCB_NONE || f->focus == XCB_INPUT_FOCUS_POINTER_ROOT)
        return 0;
    const std::vector<xcb_window_t> list = d->clientList();
    // The focus sits on a client, on a window inside it, or on its frame.
    for (xcb_window_t w = f->focus; w && w != d->root;) {
        for (xcb_window_t cl : list)
            if (cl == w)
                return cl;
        XReply<xcb_query_tree_reply_t> t(
            xcb_query_tree_reply(d->c, xcb_query_tree(d->c, w), nullptr));
        if (!t)
            break;
        if (t->parent == d->root) { // a frame: its client
            for (xcb_window_t cl : list)
                if (d->topLevelOf(cl) == w)
                    return cl;
            break;
        }
        w = t->parent;
    }
    return 0;
}

quint32 XTestDriver::activeWindow() {
    xcb_window_t w = 0;
    if (!connected() ||
        !xcb_ewmh_get_active_window_reply(
            &d->ewmh, xcb_ewmh_get_active_window(&d->ewmh, d->screenNr), &w, nullptr))
        return 0;
    return w;
}

bool XTestDriver::isAbove(quint32 a, quint32 b) {
    const std::vector<quint32> order = stacking();
    const auto ia = std::find(order.begin(), order.end(), a);
    const auto ib = std::find(order.begin(), order.end(), b);
    return ia != order.end() && ib != order.end() && ia > ib;
}

QString XTestDriver::whyNotFocused(quint32 w, const Pause& pause, int timeoutMs) {
    QElapsedTimer t;
    t.start();
    while (focusedClient() != w && t.elapsed() < timeoutMs)
        pause(20);
    if (focusedClient() == w)
        return {};
    return QStringLiteral("\"%1\" has no keyboard focus: %2").arg(client(w).title, describe());
}

QString XTestDriver::whyNotAnswerable(quint32 box, quint32 owner, const Pause& pause,
                                      int timeoutMs) {
    const Client b = client(box);
    if (owner && b.transientFor != owner)
        return QStringLiteral("\"%1\" belongs to 0x%2, not to the window it blocks (0x%3): %4")
            .arg(b.title)
            .arg(b.transientFor, 0, 16)
            .arg(owner, 0, 16)
            .arg(describe());
    QElapsedTimer t;
    t.start();
    while (owner && !isAbove(box, owner) && t.elapsed() < timeoutMs)
        pause(20);
    if (owner && !isAbove(box, owner))
        return QStringLiteral("\"%1\" is below the window it blocks: %2").arg(b.title, describe());
    const std::vector<quint32> published = ewmhStacking();
    if (owner && !published.empty()) {
        const auto bi = std::find(published.begin(), published.end(), box);
        const auto oi = std::find(published.begin(), published.end(), owner);
        if (bi == published.end() || oi == published.end() || bi < oi)
            return QStringLiteral("\"%1\" is not after its owner in _NET_CLIENT_LIST_STACKING: %2")
                .arg(b.title, describe());
    }
    const qint64 left = std::max<qint64>(timeoutMs - t.elapsed(), 500);
    return whyNotFocused(box, pause, int(left));
}

QImage XTestDriver::grab(QRect r) {
    if (!connected())
        return {};
    // Parts outside the screen cannot be read.
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(d->c)).data;
    r &= QRect(0, 0, screen->width_in_pixels, screen->height_in_pixels);
    if (r.isEmpty())
        return {};
    XReply<xcb_get_image_reply_t> img(xcb_get_image_reply(
        d->c,
        xcb_get_image(d->c, XCB_IMAGE_FORMAT_Z_PIXMAP, d->root, int16_t(r.x()), int16_t(r.y()),
                      uint16_t(r.width()), uint16_t(r.height()), ~0u),
        nullptr));
    if (!img || img->depth < 24)
        return {};
    const uint8_t* data = xcb_get_image_data(img.get());
    const int len = xcb_get_image_data_length(img.get());
    if (len < r.width() * r.height() * 4)
        return {};
    // 24-bit depth arrives as 32 bits a pixel, which is what RGB32 holds.
    return QImage(data, r.width(), r.height(), r.width() * 4, QImage::Format_RGB32).copy();
}

QString XTestDriver::describe() {
    QStringList parts;
    for (const Client& c : clients())
        parts << QStringLiteral("0x%1 \"%2\"%3%4")
                     .arg(c.id, 0, 16)
                     .arg(c.title)
                     .arg(c.above ? QStringLiteral(" above") : QString())
                     .arg(c.transientFor ? QStringLiteral(" for 0x%1").arg(c.transientFor, 0, 16)
                                         : QString());
    QStringList listed;
    for (xcb_window_t w : d->clientList())
        listed << QStringLiteral("0x%1").arg(w, 0, 16);
    return QStringLiteral("bottom to top: %1 (listed: %4); focus 0x%2; active 0x%3")
        .arg(parts.join(QStringLiteral(", ")))
        .arg(focusedClient(), 0, 16)
        .arg(activeWindow(), 0, 16)
        .arg(listed.join(u' '));
}

} // namespace brevik
