#pragma once
// Plays a person at an X display: pointer moves, clicks and key strokes go in
// through the X server (XTest), so they reach windows the way a person's do,
// through the window manager's stacking and focus. It also reads, from
// outside, what a person would see: which window is above which, which has
// the keyboard, where a window is, what the screen shows.
#include <QImage>
#include <QMargins>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <functional>
#include <memory>
#include <vector>

namespace brevik {

class XTestDriver {
public:
    // Connects to $DISPLAY (or display). connected() says whether it worked
    // and the server has the XTest extension.
    explicit XTestDriver(const char* display = nullptr);
    ~XTestDriver();
    XTestDriver(const XTestDriver&) = delete;
    XTestDriver& operator=(const XTestDriver&) = delete;

    bool connected() const;

    // How the driver waits between steps (default: it sleeps). A driver in
    // the program that it plays lets the program's events run meanwhile, or
    // the program could not take the keys it is sent.
    using Pause = std::function<void(int ms)>;
    void setPause(Pause pause);
    // A window manager announces itself on the root window.
    bool windowManagerRunning();

    // --- input -------------------------------------------------------------
    void moveTo(QPoint screen);
    void click(QPoint screen, int button = 1);
    // One key, optionally with modifiers: "Return", "Tab", "Escape", "Down",
    // "y", "ctrl+a", "alt+y", "shift+Tab". False when the keyboard has no such key.
    bool key(const QString& combination);
    // Types text as key strokes; characters the keyboard has no key for
    // (Japanese, say) go through a spare key mapped for the moment.
    bool type(const QString& text, int delayMs = 15);
    // Waits until the server has handled everything sent so far.
    void sync();
    // Waits until the client that owns window has handled every event sent to
    // it so far (a _NET_WM_PING it answers in turn); false when it does not answer.
    bool waitForClient(quint32 window, int timeoutMs = 5000);
    // How long clients get to read a changed keyboard map.
    static constexpr int kMapSettleMs = 150;

    // --- what is on the screen --------------------------------------------
    struct Client {
        quint32 id = 0;
        QString title;  // _NET_WM_NAME, else WM_NAME
        QRect geometry; // the client area, in screen coordinates
        QMargins frame; // _NET_FRAME_EXTENTS (0 when not reported)
        quint32 transientFor = 0;
        quint32 pid = 0;    // _NET_WM_PID
        bool above = false; // _NET_WM_STATE_ABOVE
        bool mapped = false;
        QRect outer() const { return geometry.marginsAdded(frame); }
    };
    // The managed windows, bottom to top, in the order the X server stacks
    // their frames (what is really on top).
    std::vector<quint32> stacking();
    // _NET_CLIENT_LIST_STACKING as the window manager publishes it (empty when it does not).
    std::vector<quint32> ewmhStacking();
    Client client(quint32 id);
    std::vector<Client> clients();
    // The managed window that holds the keyboard focus, 0 when none does.
    quint32 focusedClient();
    // _NET_ACTIVE_WINDOW, 0 when not set.
    quint32 activeWindow();
    // Whether a is stacked above b (both managed windows).
    bool isAbove(quint32 a, quint32 b);
    // A picture of part of the screen.
    QImage grab(QRect screen);

    // One line describing the stacking and focus, for failure messages.
    QString describe();

    // Why a person could not answer box, which blocks owner (0: none): not
    // owned by it, not stacked above it (by the X server and, where the window
    // manager publishes it, in _NET_CLIENT_LIST_STACKING), or without the
    // keyboard. Empty when it can. The window manager stacks and focuses a new
    // window a moment after it appears: this looks again for up to timeoutMs.
    QString whyNotAnswerable(quint32 box, quint32 owner, const Pause& pause, int timeoutMs = 3000);
    // Why w does not have the keyboard after timeoutMs; empty when it has.
    QString whyNotFocused(quint32 w, const Pause& pause, int timeoutMs = 3000);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace brevik
