#pragma once
// A running testwin client window and the log of what reached it.
#include "platform/Desktop.h"

#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

namespace brevik::test {

class TestWindow {
public:
    // Starts testwin with args and waits until its window is mapped.
    explicit TestWindow(const QStringList& args);
    ~TestWindow();
    TestWindow(const TestWindow&) = delete;
    TestWindow& operator=(const TestWindow&) = delete;

    QStringList log() const;
    // Log lines that start with word ("delete", "key ff1b", ...).
    int count(const QString& word) const;
    bool ready() const { return count(QStringLiteral("ready")) > 0; }
    bool running() const { return proc_.state() != QProcess::NotRunning; }
    bool waitForExit(int ms = 2000);

private:
    QTemporaryDir dir_;
    QString logPath_;
    QProcess proc_;
};

// The window the desktop finds, once its cache has caught up (0 after 3 s).
WindowId findSoon(Desktop& d, const QString& cls, const std::optional<QString>& title = {});

// Whether the window's _NET_WM_STATE holds _NET_WM_STATE_ABOVE (read on a
// connection of the test's own).
bool hasStateAbove(quintptr window);
// Asks the window manager to drop or to add _NET_WM_STATE_ABOVE, as its window menu would.
void removeStateAbove(quintptr window);
void setStateAbove(quintptr window);
// Sends the window WM_DELETE_WINDOW as a window manager does for its close
// button or Alt+F4; returns at once.
void sendDeleteWindow(quintptr window);
// CLOCK_MONOTONIC milliseconds, the clock of testwin's log.
qint64 monotonicMs();

} // namespace brevik::test
