#pragma once
// Desktop operations on an X11 display, over a private xcb connection.
#include "platform/Desktop.h"

#include <memory>

namespace brevik {

struct X11WindowCache;

class X11Desktop : public Desktop {
public:
    // Connects to $DISPLAY (or display when given). Without a display every
    // window operation finds nothing and does nothing; a notice goes to stderr once.
    explicit X11Desktop(const char* display = nullptr);
    ~X11Desktop() override;
    X11Desktop(const X11Desktop&) = delete;
    X11Desktop& operator=(const X11Desktop&) = delete;

    bool available() const override;
    // A lookup in a cache of top-level windows that the server's events keep
    // current: a call while nothing changes makes no round trip. Windows of
    // this process are never found.
    WindowId FindWindow(const QString& windowClass,
                        const std::optional<QString>& title = std::nullopt) override;
    // A lookup like FindWindow's. A window's role is matched when it appears
    // or its WM_CLASS or desktop-file hints change, from its
    // _GTK_APPLICATION_ID, _KDE_NET_WM_DESKTOP_FILE, WM_CLASS and _NET_WM_PID
    // (on this machine only); never on a lookup.
    WindowId FindWindowByRole(AppRole role, const std::optional<QString>& title = std::nullopt,
                              std::span<const WindowId> skip = {}) override;
    void SetRoleTable(std::shared_ptr<const RoleTable> table) override;
    // WM_DELETE_WINDOW when the window takes it, else _NET_CLOSE_WINDOW; waits
    // at most closeWaitMs for the window's unmap or destroy.
    bool RequestClose(WindowId window) override;
    void SetForegroundWindow(WindowId window) override;
    void KeyEvent(int virtualKey, bool keyUp) override;
    void SetTopmost(QWidget* window, bool topmost) override;
    void SetTopmostAt(QWidget* window, int x, int y) override;
    void ClearTitle(QWidget* window) override;
    qint64 GetTickCount() override;
    void wait_ms(int ms) override;
    WorkArea GetWorkArea() override;

    static constexpr int closeWaitMs = 200;
    // How long SetForegroundWindow waits for the window manager to move the focus.
    static constexpr int focusWaitMs = 100;
    // Blocking round trips made so far (benchmarks and tests look at it).
    quint64 roundTrips() const;

private:
    std::unique_ptr<X11WindowCache> d;
};

} // namespace brevik
