// A plain X11 client window for the desktop tests and benchmarks: chosen
// WM_CLASS and titles, a close button that can be honoured or ignored, and a
// log of what reached it (times are CLOCK_MONOTONIC milliseconds).
//
//   testwin [--class C] [--name N] [--title T] [--net-title T] [--wm-title T]
//           [--ignore-close] [--no-delete] [--strut-top PX] [--log FILE]
//           [--later-ms MS --later-class C --later-title T] [--prop ATOM=TEXT]...
//
// --later-* changes WM_CLASS and both titles MS milliseconds after the window
// is mapped, like an application that turns one window into another.
// --prop sets a UTF8_STRING property ("_GTK_APPLICATION_ID=org.example.App").
//
// Log lines: "ready <ms>", "delete <ms>", "key <keysym hex> <ms>",
// "keyup <keysym hex> <ms>", "focus <ms>".
#include <xcb/xcb.h>

#include <poll.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

long long nowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

FILE* logFile = stdout;

void logLine(const char* what, const char* extra = nullptr) {
    if (extra)
        std::fprintf(logFile, "%s %s %lld\n", what, extra, nowMs());
    else
        std::fprintf(logFile, "%s %lld\n", what, nowMs());
    std::fflush(logFile);
}

xcb_atom_t atom(xcb_connection_t* c, const char* name) {
    auto* r = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, strlen(name), name), nullptr);
    xcb_atom_t a = r ? r->atom : 0;
    free(r);
    return a;
}

void setText(xcb_connection_t* c, xcb_window_t w, xcb_atom_t prop, xcb_atom_t type,
             const std::string& s) {
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, prop, type, 8, s.size(), s.data());
}

bool isAscii(const std::string& s) {
    for (unsigned char ch : s)
        if (ch >= 0x80)
            return false;
    return true;
}

} // namespace

int main(int argc, char** argv) {
    std::string cls = "Testwin", name, netTitle, wmTitle, logPath;
    bool ignoreClose = false, noDelete = false;
    int strutTop = 0, laterMs = -1;
    std::string laterClass, laterTitle;
    std::vector<std::string> props;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto next = [&]() -> std::string {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "testwin: %s needs a value\n", a.c_str());
                std::exit(2);
            }
            return argv[++i];
        };
        if (a == "--class")
            cls = next();
        else if (a == "--name")
            name = next();
        else if (a == "--title")
            netTitle = wmTitle = next();
        else if (a == "--net-title")
            netTitle = next();
        else if (a == "--wm-title")
            wmTitle = next();
        else if (a == "--ignore-close")
            ignoreClose = true;
        else if (a == "--no-delete")
            noDelete = true;
        else if (a == "--strut-top")
            strutTop = std::atoi(next().c_str());
        else if (a == "--later-ms")
            laterMs = std::atoi(next().c_str());
        else if (a == "--later-class")
            laterClass = next();
        else if (a == "--later-title")
            laterTitle = next();
        else if (a == "--prop")
            props.push_back(next());
        else if (a == "--log")
            logPath = next();
        else {
            std::fprintf(stderr, "testwin: unknown argument %s\n", a.c_str());
            return 2;
        }
    }
    if (!logPath.empty() && !(logFile = std::fopen(logPath.c_str(), "a"))) {
        std::fprintf(stderr, "testwin: cannot write %s\n", logPath.c_str());
        return 2;
    }
    if (name.empty())
        for (char ch : cls)
            name += char(ch >= 'A' && ch <= 'Z' ? ch - 'A' + 'a' : ch);

    int screenNr = 0;
    xcb_connection_t* c = xcb_connect(nullptr, &screenNr);
    if (xcb_connection_has_error(c)) {
        std::fprintf(stderr, "testwin: cannot open the display\n");
        return 2;
    }
    auto it = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < screenNr; ++i)
        xcb_screen_next(&it);
    xcb_screen_t* screen = it.data;

    const xcb_window_t w = xcb_generate_id(c);
    const uint32_t values[] = {screen->white_pixel,
                               XCB_EVENT_MASK_KEY_PRESS | XCB_EVENT_MASK_KEY_RELEASE |
                                   XCB_EVENT_MASK_FOCUS_CHANGE | XCB_EVENT_MASK_STRUCTURE_NOTIFY};
    const uint16_t height = strutTop > 0 ? uint16_t(strutTop) : 200;
    const uint16_t width = strutTop > 0 ? screen->width_in_pixels : 300;
    xcb_create_window(c, XCB_COPY_FROM_PARENT, w, screen->root, 0, 0, width, height, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                      XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK, values);

    const xcb_atom_t UTF8 = atom(c, "UTF8_STRING");
    std::string wmClass = name + '\0' + cls + '\0';
    setText(c, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, wmClass);
    if (!netTitle.empty())
        setText(c, w, atom(c, "_NET_WM_NAME"), UTF8, netTitle);
    if (!wmTitle.empty())
        setText(c, w, XCB_ATOM_WM_NAME, isAscii(wmTitle) ? xcb_atom_t(XCB_ATOM_STRING) : UTF8,
                wmTitle);
    for (const std::string& p : props)
        if (const size_t eq = p.find('='); eq != std::string::npos)
            setText(c, w, atom(c, p.substr(0, eq).c_str()), UTF8, p.substr(eq + 1));
    const xcb_atom_t WM_PROTOCOLS = atom(c, "WM_PROTOCOLS");
    const xcb_atom_t WM_DELETE_WINDOW = atom(c, "WM_DELETE_WINDOW");
    if (!noDelete)
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, WM_PROTOCOLS, XCB_ATOM_ATOM, 32, 1,
                            &WM_DELETE_WINDOW);
    const uint32_t hints[9] = {1 /* InputHint */, 1};
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_HINTS, XCB_ATOM_WM_HINTS, 32, 9,
                        hints);
    if (strutTop > 0) {
        const xcb_atom_t dock = atom(c, "_NET_WM_WINDOW_TYPE_DOCK");
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, atom(c, "_NET_WM_WINDOW_TYPE"),
                            XCB_ATOM_ATOM, 32, 1, &dock);
        const uint32_t strut[12] = {0, 0, uint32_t(strutTop),  0, 0, 0, 0,
                                    0, 0, uint32_t(width - 1), 0, 0};
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, atom(c, "_NET_WM_STRUT_PARTIAL"),
                            XCB_ATOM_CARDINAL, 32, 12, strut);
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, atom(c, "_NET_WM_STRUT"),
                            XCB_ATOM_CARDINAL, 32, 4, strut);
    }

    // Keysyms by keycode, so that the log names the key rather than its code.
    const xcb_setup_t* setup = xcb_get_setup(c);
    auto* km = xcb_get_keyboard_mapping_reply(
        c,
        xcb_get_keyboard_mapping(c, setup->min_keycode,
                                 setup->max_keycode - setup->min_keycode + 1),
        nullptr);
    auto keysymOf = [&](xcb_keycode_t code) -> unsigned {
        if (!km || code < setup->min_keycode)
            return 0;
        const size_t i = size_t(code - setup->min_keycode) * km->keysyms_per_keycode;
        if (i >= size_t(xcb_get_keyboard_mapping_keysyms_length(km)))
            return 0;
        return xcb_get_keyboard_mapping_keysyms(km)[i];
    };

    xcb_map_window(c, w);
    xcb_flush(c);

    const xcb_atom_t NET_WM_NAME = atom(c, "_NET_WM_NAME");
    long long laterAt = -1;
    auto changeNow = [&] {
        if (!laterClass.empty()) {
            std::string lower;
            for (char ch : laterClass)
                lower += char(ch >= 'A' && ch <= 'Z' ? ch - 'A' + 'a' : ch);
            setText(c, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, lower + '\0' + laterClass + '\0');
        }
        if (!laterTitle.empty()) {
            setText(c, w, NET_WM_NAME, UTF8, laterTitle);
            setText(c, w, XCB_ATOM_WM_NAME,
                    isAscii(laterTitle) ? xcb_atom_t(XCB_ATOM_STRING) : UTF8, laterTitle);
        }
        xcb_flush(c);
        logLine("changed");
    };
    for (;;) {
        if (laterAt >= 0) {
            pollfd fd{xcb_get_file_descriptor(c), POLLIN, 0};
            const long long left = laterAt - nowMs();
            if (left <= 0 || poll(&fd, 1, int(left)) == 0) {
                changeNow();
                laterAt = -1;
            }
        }
        xcb_generic_event_t* e = laterAt >= 0 ? xcb_poll_for_event(c) : xcb_wait_for_event(c);
        if (!e) {
            if (xcb_connection_has_error(c))
                break;
            continue;
        }
        char buf[32];
        switch (e->response_type & 0x7f) {
        case XCB_MAP_NOTIFY:
            logLine("ready");
            if (laterMs >= 0)
                laterAt = nowMs() + laterMs;
            break;
        case XCB_KEY_PRESS:
        case XCB_KEY_RELEASE: {
            auto* k = reinterpret_cast<xcb_key_press_event_t*>(e);
            std::snprintf(buf, sizeof buf, "%x", keysymOf(k->detail));
            logLine((e->response_type & 0x7f) == XCB_KEY_PRESS ? "key" : "keyup", buf);
            break;
        }
        case XCB_FOCUS_IN:
            logLine("focus");
            break;
        case XCB_CLIENT_MESSAGE: {
            auto* m = reinterpret_cast<xcb_client_message_event_t*>(e);
            if (m->type == WM_PROTOCOLS && m->data.data32[0] == WM_DELETE_WINDOW) {
                logLine("delete");
                if (!ignoreClose) {
                    xcb_destroy_window(c, w);
                    xcb_flush(c);
                    xcb_disconnect(c);
                    return 0;
                }
            }
            break;
        }
        default:
            break;
        }
        free(e);
    }
    return 0; // the connection was closed (the window manager killed us)
}
