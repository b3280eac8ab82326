#pragma once
// The desktop layer's X connection and its cache of the top-level windows,
// kept current from the server's events so that a guard tick reads memory,
// not the server.
#include "platform/AppRoles.h"

#include <QByteArray>
#include <QHash>
#include <QSocketNotifier>
#include <QString>

#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>

#include <poll.h>

#include <memory>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace brevik {

qint64 monotonicMs();
// One line on stderr for the first of these notices only.
void noticeOnce(const char* text);
bool hasAtom(xcb_get_property_reply_t* r, xcb_atom_t atom);

struct X11WindowCache {
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

    xcb_atom_t internAtom(const char* name);
    bool connect(const char* display);
    bool alive();
    void handle(xcb_generic_event_t* e);
    void drain();

    // The top-level windows: the window manager's client list, else the mapped
    // children of the root.
    std::vector<xcb_window_t> readList();
    void rescan();
    void readDirty();

    AppRoles matchRoles(const WindowFacts& f) const;

    void rebuildIndex();

    bool titleMatches(xcb_window_t w, const std::optional<QString>& title) const;

    // Called by the event loop when the server has sent something: the cache
    // is brought up to date between ticks, so a tick finds it current.
    void refresh();

    // Brings the cache up to date. Reading the socket is a system call, so it
    // is done at most once a millisecond: one guard tick drains once.
    void sync();

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
    bool mayAskAbove(Win& w, qint64 now);
    static constexpr int kStateAnswerMs = 300;
    static constexpr int kReassertsPerSecond = 5;

    void changeAbove(xcb_window_t w, bool on);
    xcb_window_t readActive();
    xcb_keycode_t keycodeFor(xcb_keysym_t sym);
};

} // namespace brevik
