#pragma once
// The desktop guard: the pre-exam watcher (Timer1 of frmMain) and the in-exam
// watcher (Timer2 of frmKaikei) ask other applications' windows to close.
#include "platform/Desktop.h"

#include <QString>
#include <optional>
#include <span>
#include <vector>

class QWidget;

namespace brevik {

enum class GuardAction {
    None,
    Close,    // close request
    EscClose, // foreground, Esc, close request
};

// One row of the watch table: a window class, or (windowClass nullptr) the
// windows of every application in a role, and, where given, the exact title;
// `decorated` is the title as a file manager shows it ("%1 - Thunar").
struct WatchEntry {
    const char* windowClass;
    AppRoles role;         // one role bit, with windowClass nullptr
    const char* title;     // UTF-8; nullptr: any title
    const char* decorated; // nullptr: the plain title only
    GuardAction preExam;
    GuardAction inExam;
};

// Presses and releases one virtual key (low byte used) on the focused window.
void send_key(Desktop& desktop, int vk);

class DesktopGuard {
public:
    explicit DesktopGuard(Desktop& desktop);

    // One tick before the exam: a close request for one window per pre-exam
    // entry. Runs without an error trap: failures reach the caller.
    void PreExamTick();
    // One tick during the exam: foreground, Esc and close request for the
    // applications, close request for the folder windows, then the exam
    // screen is kept topmost. A failing step is skipped.
    void InExamTick(QWidget* examScreen);

private:
    struct Entry {
        QString windowClass;
        AppRoles role; // 0: by class
        std::optional<QString> title, decorated;
        GuardAction preExam, inExam;
    };
    WindowId find(const Entry& e);

    Desktop& desktop_;
    std::vector<Entry> entries_;
    // The windows one tick has dealt with: a window that a class row and a
    // role row (or two roles) both name gets one request per tick.
    std::vector<WindowId> handled_;
};

} // namespace brevik
