#include "exam/DesktopGuard.h"

#include "platform/Errors.h"

#include <algorithm>

namespace brevik {

namespace {

using enum GuardAction;

// The classic entries first, exactly as the exam's watch lists name them, then
// the Linux applications in the same roles (class = WM_CLASS class part). Filtered by
// one column, the rows give each watcher's list in its own order.
constexpr WatchEntry kWatchTable[] = {
    {"IEFrame", 0, nullptr, nullptr, Close, EscClose},
    {"XLMAIN", 0, nullptr, nullptr, Close, None},
    {"OpusApp", 0, nullptr, nullptr, Close, None},
    {"OMain", 0, nullptr, nullptr, Close, None},
    {"Notepad", 0, nullptr, nullptr, None, EscClose},
    {"rctrl_renwnd32", 0, nullptr, nullptr, Close, EscClose},
    {"Outlook Express Browser Class", 0, nullptr, nullptr, Close, EscClose},
    {"CabinetWClass", 0, "ヴァルネブレビク", nullptr, Close, None},
    {"CabinetWClass", 0, "brevik", nullptr, Close, Close},
    {"CabinetWClass", 0, "brevik_result", nullptr, Close, Close},

    // Browsers.
    {"firefox-esr", 0, nullptr, nullptr, Close, EscClose},
    {"firefox", 0, nullptr, nullptr, Close, EscClose},
    {"Chromium", 0, nullptr, nullptr, Close, EscClose},
    {"Google-chrome", 0, nullptr, nullptr, Close, EscClose},
    // Office suite: spreadsheet, word processor, database (before the exam only).
    {"libreoffice-calc", 0, nullptr, nullptr, Close, None},
    {"libreoffice-writer", 0, nullptr, nullptr, Close, None},
    {"libreoffice-base", 0, nullptr, nullptr, Close, None},
    // Text editors (during the exam only).
    {"Gedit", 0, nullptr, nullptr, None, EscClose},
    {"gnome-text-editor", 0, nullptr, nullptr, None, EscClose},
    {"Mousepad", 0, nullptr, nullptr, None, EscClose},
    {"kate", 0, nullptr, nullptr, None, EscClose},
    // Mail.
    {"thunderbird-default", 0, nullptr, nullptr, Close, EscClose},
    {"thunderbird", 0, nullptr, nullptr, Close, EscClose},
    {"Evolution", 0, nullptr, nullptr, Close, EscClose},
    // File managers showing the program's folders.
    {"org.gnome.Nautilus", 0, "ヴァルネブレビク", nullptr, Close, None},
    {"Thunar", 0, "ヴァルネブレビク", "%1 - Thunar", Close, None},
    {"dolphin", 0, "ヴァルネブレビク", "%1 — Dolphin", Close, None},
    {"Nemo", 0, "ヴァルネブレビク", nullptr, Close, None},
    {"Pcmanfm", 0, "ヴァルネブレビク", nullptr, Close, None},
    {"org.gnome.Nautilus", 0, "brevik", nullptr, Close, Close},
    {"Thunar", 0, "brevik", "%1 - Thunar", Close, Close},
    {"dolphin", 0, "brevik", "%1 — Dolphin", Close, Close},
    {"Nemo", 0, "brevik", nullptr, Close, Close},
    {"Pcmanfm", 0, "brevik", nullptr, Close, Close},
    {"org.gnome.Nautilus", 0, "brevik_result", nullptr, Close, Close},
    {"Thunar", 0, "brevik_result", "%1 - Thunar", Close, Close},
    {"dolphin", 0, "brevik_result", "%1 — Dolphin", Close, Close},
    {"Nemo", 0, "brevik_result", nullptr, Close, Close},
    {"Pcmanfm", 0, "brevik_result", nullptr, Close, Close},

    // Every other application in these roles, as its desktop entry (or the
    // venue's setting.ini) says: the rows of the same role above, by role.
    {nullptr, roleBit(AppRole::WebBrowser), nullptr, nullptr, Close, EscClose},
    {nullptr, roleBit(AppRole::Email), nullptr, nullptr, Close, EscClose},
    {nullptr, roleBit(AppRole::Spreadsheet), nullptr, nullptr, Close, None},
    {nullptr, roleBit(AppRole::WordProcessor), nullptr, nullptr, Close, None},
    {nullptr, roleBit(AppRole::Database), nullptr, nullptr, Close, None},
    {nullptr, roleBit(AppRole::TextEditor), nullptr, nullptr, None, EscClose},
    {nullptr, roleBit(AppRole::FileManager), "ヴァルネブレビク", nullptr, Close, None},
    {nullptr, roleBit(AppRole::FileManager), "brevik", nullptr, Close, Close},
    {nullptr, roleBit(AppRole::FileManager), "brevik_result", nullptr, Close, Close},
};

constexpr int kVkEscape = 27;

} // namespace

void send_key(Desktop& desktop, int vk) {
    desktop.KeyEvent(vk, false);
    desktop.KeyEvent(vk, true);
}

DesktopGuard::DesktopGuard(Desktop& desktop) : desktop_(desktop) {
    // Converted once: a tick allocates nothing for the table.
    for (const WatchEntry& w : kWatchTable) {
        Entry e{QString::fromLatin1(w.windowClass),
                w.role,
                std::nullopt,
                std::nullopt,
                w.preExam,
                w.inExam};
        if (w.title) {
            e.title = QString::fromUtf8(w.title);
            if (w.decorated)
                e.decorated = QString::fromUtf8(w.decorated).arg(*e.title);
        }
        entries_.push_back(std::move(e));
    }
    handled_.reserve(entries_.size());
}

WindowId DesktopGuard::find(const Entry& e) {
    WindowId w = 0;
    if (e.role) {
        w = desktop_.FindWindowByRole(AppRole(e.role), e.title, handled_);
    } else {
        w = desktop_.FindWindow(e.windowClass, e.title);
        if (!w && e.decorated)
            w = desktop_.FindWindow(e.windowClass, e.decorated);
        if (w && std::find(handled_.begin(), handled_.end(), w) != handled_.end())
            w = 0;
    }
    if (w)
        handled_.push_back(w);
    return w;
}

void DesktopGuard::PreExamTick() {
    handled_.clear();
    for (const Entry& e : entries_)
        if (e.preExam == Close)
            if (WindowId w = find(e))
                desktop_.RequestClose(w);
}

void DesktopGuard::InExamTick(QWidget* examScreen) {
    handled_.clear();
    // The applications first, then the folder windows, like the two lists' order.
    for (const Entry& e : entries_) {
        if (e.inExam != EscClose)
            continue;
        WindowId w = 0;
        step([&] { w = find(e); });
        if (!w)
            continue;
        step([&] { desktop_.SetForegroundWindow(w); });
        step([&] { send_key(desktop_, kVkEscape); });
        step([&] { desktop_.RequestClose(w); });
    }
    for (const Entry& e : entries_) {
        if (e.inExam != Close)
            continue;
        WindowId w = 0;
        step([&] { w = find(e); });
        if (w)
            step([&] { desktop_.RequestClose(w); });
    }
    step([&] { desktop_.SetTopmost(examScreen, true); });
}

} // namespace brevik
