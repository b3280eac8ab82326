#include "platform/fake/FakeDesktop.h"

#include <algorithm>

namespace brevik {

WindowId FakeDesktop::add(const QString& windowClass, const QString& title, bool closes) {
    windows.push_back({nextId_, windowClass, title, closes});
    return nextId_++;
}

WindowId FakeDesktop::addWithRoles(AppRoles roles, const QString& windowClass, const QString& title,
                                   bool closes) {
    windows.push_back({nextId_, windowClass, title, closes, roles});
    return nextId_++;
}

WindowId FakeDesktop::FindWindowByRole(AppRole role, const std::optional<QString>& title,
                                       std::span<const WindowId> skip) {
    for (const auto& w : windows)
        if ((w.roles & roleBit(role)) && (!title || *title == w.title) &&
            std::find(skip.begin(), skip.end(), w.id) == skip.end())
            return w.id;
    return 0;
}

WindowId FakeDesktop::FindWindow(const QString& windowClass, const std::optional<QString>& title) {
    for (const auto& w : windows)
        if (w.windowClass.compare(windowClass, Qt::CaseInsensitive) == 0 &&
            (!title || *title == w.title))
            return w.id;
    return 0;
}

bool FakeDesktop::RequestClose(WindowId window) {
    calls << QStringLiteral("close %1").arg(window);
    auto it = std::find_if(windows.begin(), windows.end(),
                           [&](const Window& w) { return w.id == window; });
    if (it == windows.end() || !it->closesOnRequest)
        return false;
    windows.erase(it);
    return true;
}

void FakeDesktop::SetForegroundWindow(WindowId window) {
    calls << QStringLiteral("foreground %1").arg(window);
}

void FakeDesktop::KeyEvent(int virtualKey, bool keyUp) {
    calls << QStringLiteral("key %1 %2").arg(virtualKey & 0xff).arg(keyUp ? "up" : "down");
}

void FakeDesktop::wait_ms(int ms) {
    calls << QStringLiteral("wait %1").arg(ms);
    tick += ms + 1;
}

void FakeDesktop::SetTopmost(QWidget*, bool topmost) {
    calls << (topmost ? QStringLiteral("topmost on") : QStringLiteral("topmost off"));
}

void FakeDesktop::SetTopmostAt(QWidget*, int x, int y) {
    calls << QStringLiteral("topmost at %1,%2").arg(x).arg(y);
}

void FakeDesktop::ClearTitle(QWidget*) {
    calls << QStringLiteral("clear title");
}

} // namespace brevik
