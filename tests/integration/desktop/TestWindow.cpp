#include "TestWindow.h"

#include "support/TestSupport.h"

#include <QFile>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <initializer_list>

namespace brevik::test {

namespace {
xcb_atom_t atom(xcb_connection_t* c, const char* name) {
    auto* r =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(strlen(name)), name), nullptr);
    xcb_atom_t a = r ? r->atom : 0;
    free(r);
    return a;
}
// A 32-bit client message about window, on a connection of the test's own:
// to the root for the window manager, else to the window itself. An item of
// data is a number or an atom's name.
struct Item {
    Item(uint32_t n) : number(n) {}
    Item(const char* a) : atomName(a) {}
    uint32_t number = 0;
    const char* atomName = nullptr;
};

void sendClientMessage(quintptr window, const char* type, std::initializer_list<Item> data,
                       bool toRoot) {
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    xcb_client_message_event_t ev{};
    ev.response_type = XCB_CLIENT_MESSAGE;
    ev.format = 32;
    ev.window = xcb_window_t(window);
    ev.type = atom(c, type);
    int i = 0;
    for (const Item& d : data)
        ev.data.data32[i++] = d.atomName ? atom(c, d.atomName) : d.number;
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    xcb_send_event(c, 0, toRoot ? root : xcb_window_t(window),
                   toRoot
                       ? XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT
                       : XCB_EVENT_MASK_NO_EVENT,
                   reinterpret_cast<const char*>(&ev));
    // A round trip: the server has handled the message before the connection goes.
    free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    xcb_disconnect(c);
}

} // namespace

TestWindow::TestWindow(const QStringList& args) {
    logPath_ = dir_.filePath(QStringLiteral("log"));
    proc_.setProcessChannelMode(QProcess::ForwardedChannels);
    proc_.start(QStringLiteral(BREVIK_TESTWIN), args + QStringList{"--log", logPath_});
    proc_.waitForStarted();
    waitUntil([this] { return ready() || !running(); });
}

TestWindow::~TestWindow() {
    if (running()) {
        proc_.kill();
        proc_.waitForFinished(2000);
    }
}

QStringList TestWindow::log() const {
    QFile f(logPath_);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readAll()).split(u'\n', Qt::SkipEmptyParts);
}

int TestWindow::count(const QString& word) const {
    int n = 0;
    for (const QString& line : log())
        n += line.startsWith(word + u' ');
    return n;
}

bool TestWindow::waitForExit(int ms) {
    return waitUntil([this] { return !running(); }, ms);
}

WindowId findSoon(Desktop& d, const QString& cls, const std::optional<QString>& title) {
    WindowId w = 0;
    waitUntil([&] { return (w = d.FindWindow(cls, title)) != 0; }, 3000);
    return w;
}

bool hasStateAbove(quintptr window) {
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    const xcb_atom_t state = atom(c, "_NET_WM_STATE"), above = atom(c, "_NET_WM_STATE_ABOVE");
    auto* r = xcb_get_property_reply(
        c, xcb_get_property(c, 0, xcb_window_t(window), state, XCB_ATOM_ATOM, 0, 32), nullptr);
    bool found = false;
    if (r) {
        auto* a = static_cast<const xcb_atom_t*>(xcb_get_property_value(r));
        for (int i = 0; i < xcb_get_property_value_length(r) / 4; ++i)
            found = found || a[i] == above;
        free(r);
    }
    xcb_disconnect(c);
    return found;
}

void removeStateAbove(quintptr window) {
    sendClientMessage(window, "_NET_WM_STATE", {0u /* remove */, "_NET_WM_STATE_ABOVE", 0u, 2u},
                      /*toRoot=*/true);
}

void setStateAbove(quintptr window) {
    sendClientMessage(window, "_NET_WM_STATE", {1u /* add */, "_NET_WM_STATE_ABOVE", 0u, 2u},
                      /*toRoot=*/true);
}

void sendDeleteWindow(quintptr window) {
    sendClientMessage(window, "WM_PROTOCOLS", {"WM_DELETE_WINDOW", uint32_t(XCB_CURRENT_TIME)},
                      false);
}

qint64 monotonicMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

} // namespace brevik::test
