#include "TestWindow.h"

#include "support/TestSupport.h"

#include <QFile>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

namespace brevik::test {

namespace {
xcb_atom_t atom(xcb_connection_t* c, const char* name) {
    auto* r =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(strlen(name)), name), nullptr);
    xcb_atom_t a = r ? r->atom : 0;
    free(r);
    return a;
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
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    xcb_client_message_event_t ev{};
    ev.response_type = XCB_CLIENT_MESSAGE;
    ev.format = 32;
    ev.window = xcb_window_t(window);
    ev.type = atom(c, "_NET_WM_STATE");
    ev.data.data32[0] = 0; // remove
    ev.data.data32[1] = atom(c, "_NET_WM_STATE_ABOVE");
    ev.data.data32[3] = 2;
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    xcb_send_event(c, 0, root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                   reinterpret_cast<const char*>(&ev));
    xcb_flush(c);
    xcb_disconnect(c);
}

} // namespace brevik::test
