#pragma once
// Desktop for unit tests: a scripted list of windows, recorded calls and a
// tick count the test moves.
#include "platform/Desktop.h"

#include <QStringList>
#include <vector>

namespace brevik {

class FakeDesktop : public Desktop {
public:
    struct Window {
        WindowId id;
        QString windowClass;
        QString title;
        bool closesOnRequest = true;
        AppRoles roles = 0;
    };
    std::vector<Window> windows;
    QStringList calls; // "close 3", "foreground 3", "key 27 down", "topmost on", ...
    qint64 tick = 1000;
    WorkArea workArea{0, 0, 1024, 738};
    bool isAvailable = true;

    WindowId add(const QString& windowClass, const QString& title, bool closes = true);
    // A window of an application in the given roles.
    WindowId addWithRoles(AppRoles roles, const QString& windowClass, const QString& title,
                          bool closes = true);

    bool available() const override { return isAvailable; }
    WindowId FindWindow(const QString& windowClass, const std::optional<QString>& title) override;
    WindowId FindWindowByRole(AppRole role, const std::optional<QString>& title,
                              std::span<const WindowId> skip) override;
    void SetRoleTable(std::shared_ptr<const RoleTable>) override {}
    bool RequestClose(WindowId window) override;
    void SetForegroundWindow(WindowId window) override;
    void KeyEvent(int virtualKey, bool keyUp) override;
    void SetTopmost(QWidget* window, bool topmost) override;
    void SetTopmostAt(QWidget* window, int x, int y) override;
    void ClearTitle(QWidget* window) override;
    qint64 GetTickCount() override { return tick; }
    // Records the wait and moves the clock past it at once.
    void wait_ms(int ms) override;
    WorkArea GetWorkArea() override { return workArea; }

private:
    WindowId nextId_ = 1;
};

} // namespace brevik
