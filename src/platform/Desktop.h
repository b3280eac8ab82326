#pragma once
// Operations on the desktop's windows, keyboard and clock.
#include "platform/AppRoles.h"

#include <QString>
#include <QtGlobal>
#include <memory>
#include <optional>
#include <span>

class QWidget;

namespace brevik {

using WindowId = quint32; // 0: no window

struct WorkArea {
    int left = 0, top = 0, right = 0, bottom = 0; // pixels; all 0 when not reported
    bool operator==(const WorkArea&) const = default;
};

class Desktop;

// The work area our full-screen windows fill: the desktop's, or, when no
// window manager reports one (all 0), the screen's available area, so that a
// window never gets the size 0.
WorkArea WorkAreaOrScreen(Desktop& desktop);

class Desktop {
public:
    virtual ~Desktop() = default;

    // False when no desktop can be reached (no X display): every call then
    // finds nothing and does nothing.
    virtual bool available() const = 0;

    // One top-level window whose class matches (case-insensitive) and, when a
    // title is given, whose title matches exactly; 0 when there is none.
    virtual WindowId FindWindow(const QString& windowClass,
                                const std::optional<QString>& title = std::nullopt) = 0;
    // One top-level window of an application in the given role (as its
    // desktop entry or the operator says) whose title, when one is given,
    // matches exactly; windows in skip are passed over. 0 when there is none.
    virtual WindowId FindWindowByRole(AppRole role,
                                      const std::optional<QString>& title = std::nullopt,
                                      std::span<const WindowId> skip = {}) = 0;
    // The table that gives windows their roles; until one is set no window has
    // a role. Each window is matched once, when it appears or its class or
    // hints change.
    virtual void SetRoleTable(std::shared_ptr<const RoleTable> table) = 0;
    // Close request as the window's own close button would make it; waits a
    // bounded time for the window to handle it. True when it went away.
    virtual bool RequestClose(WindowId window) = 0;
    virtual void SetForegroundWindow(WindowId window) = 0;
    // One key event to the window with the keyboard focus (virtual-key code,
    // low byte used).
    virtual void KeyEvent(int virtualKey, bool keyUp) = 0;

    // Our own windows: topmost band on or off without moving or resizing, and
    // topmost plus a move of the top-left corner to (x, y).
    virtual void SetTopmost(QWidget* window, bool topmost) = 0;
    virtual void SetTopmostAt(QWidget* window, int x, int y) = 0;
    // Our own window shows no title anywhere (task switchers, window lists);
    // Qt would put the program's name into an empty one.
    virtual void ClearTitle(QWidget* window) = 0;

    // Milliseconds from a monotonic clock; never wraps.
    virtual qint64 GetTickCount() = 0;
    // Blocks until more than ms milliseconds have passed on the tick count,
    // without processing window events.
    virtual void wait_ms(int ms) = 0;
    virtual WorkArea GetWorkArea() = 0;
};

} // namespace brevik
