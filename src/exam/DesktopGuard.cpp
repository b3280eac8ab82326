#include "exam/DesktopGuard.h"

#include "platform/Errors.h"

namespace brevik {

namespace {

using enum GuardAction;

// The classic entries first, exactly as the exam's watch lists name them, then
// the Linux applications in the same roles (class = WM_CLASS class part). Filtered by
// one column, the rows give each watcher's list in its own order.
constexpr WatchEntry kWatchTable[] = {
    {"IEFrame", nullptr, nullptr, Close, EscClose},
    {"XLMAIN", nullptr, nullptr, Close, None},
    {"OpusApp", nullptr, nullptr, Close, None},
    {"OMain", nullptr, nullptr, Close, None},
    {"Notepad", nullptr, nullptr, None, EscClose},
    {"rctrl_renwnd32", nullptr, nullptr, Close, EscClose},
    {"Outlook Express Browser Class", nullptr, nullptr, Close, EscClose},
    {"CabinetWClass", "ヴァルネブレビク", nullptr, Close, None},
    {"CabinetWClass", "brevik", nullptr, Close, Close},
    {"CabinetWClass", "brevik_result", nullptr, Close, Close},

    // Browsers.
    {"firefox-esr", nullptr, nullptr, Close, EscClose},
    {"firefox", nullptr, nullptr, Close, EscClose},
    {"Chromium", nullptr, nullptr, Close, EscClose},
    {"Google-chrome", nullptr, nullptr, Close, EscClose},
    // Office suite: spreadsheet, word processor, database (before the exam only).
    {"libreoffice-calc", nullptr, nullptr, Close, None},
    {"libreoffice-writer", nullptr, nullptr, Close, None},
    {"libreoffice-base", nullptr, nullptr, Close, None},
    // Text editors (during the exam only).
    {"Gedit", nullptr, nullptr, None, EscClose},
    {"gnome-text-editor", nullptr, nullptr, None, EscClose},
    {"Mousepad", nullptr, nullptr, None, EscClose},
    {"kate", nullptr, nullptr, None, EscClose},
    // Mail.
    {"thunderbird-default", nullptr, nullptr, Close, EscClose},
    {"thunderbird", nullptr, nullptr, Close, EscClose},
    {"Evolution", nullptr, nullptr, Close, EscClose},
    // File managers showing the program's folders.
    {"org.gnome.Nautilus", "ヴァルネブレビク", nullptr, Close, None},
    {"Thunar", "ヴァルネブレビク", "%1 - Thunar", Close, None},
    {"dolphin", "ヴァルネブレビク", "%1 — Dolphin", Close, None},
    {"Nemo", "ヴァルネブレビク", nullptr, Close, None},
    {"Pcmanfm", "ヴァルネブレビク", nullptr, Close, None},
    {"org.gnome.Nautilus", "brevik", nullptr, Close, Close},
    {"Thunar", "brevik", "%1 - Thunar", Close, Close},
    {"dolphin", "brevik", "%1 — Dolphin", Close, Close},
    {"Nemo", "brevik", nullptr, Close, Close},
    {"Pcmanfm", "brevik", nullptr, Close, Close},
    {"org.gnome.Nautilus", "brevik_result", nullptr, Close, Close},
    {"Thunar", "brevik_result", "%1 - Thunar", Close, Close},
    {"dolphin", "brevik_result", "%1 — Dolphin", Close, Close},
    {"Nemo", "brevik_result", nullptr, Close, Close},
    {"Pcmanfm", "brevik_result", nullptr, Close, Close},
};

constexpr int kVkEscape = 27;

} // namespace

std::span<const WatchEntry> watchTable() {
    return kWatchTable;
}

void send_key(Desktop& desktop, int vk) {
    desktop.KeyEvent(vk, false);
    desktop.KeyEvent(vk, true);
}

DesktopGuard::DesktopGuard(Desktop& desktop) : desktop_(desktop) {
    // Converted once: a tick allocates nothing for the table.
    for (const WatchEntry& w : kWatchTable) {
        Entry e{QString::fromLatin1(w.windowClass), std::nullopt, std::nullopt, w.preExam,
                w.inExam};
        if (w.title) {
            e.title = QString::fromUtf8(w.title);
            if (w.decorated)
                e.decorated = QString::fromUtf8(w.decorated).arg(*e.title);
        }
        entries_.push_back(std::move(e));
    }
}

WindowId DesktopGuard::find(const Entry& e) {
    WindowId w = desktop_.FindWindow(e.windowClass, e.title);
    if (!w && e.decorated)
        w = desktop_.FindWindow(e.windowClass, e.decorated);
    return w;
}

void DesktopGuard::PreExamTick() {
    for (const Entry& e : entries_)
        if (e.preExam == Close)
            if (WindowId w = find(e))
                desktop_.RequestClose(w);
}

void DesktopGuard::InExamTick(QWidget* examScreen) {
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
