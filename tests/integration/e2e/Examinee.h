#pragma once
// A person at the X display in front of one running program: what they see is
// read from outside (stacking, focus, the screen's pixels) and what they do is
// real pointer and key input. Only the layout of the screens is known, never
// the program's insides.
#include "platform/x11/XTestDriver.h"

#include <QImage>
#include <QString>
#include <functional>
#include <gtest/gtest.h>

namespace brevik::test {

class Examinee {
public:
    using Client = XTestDriver::Client;

    explicit Examinee(qint64 pid) : pid_(pid) {}

    XTestDriver x;

    // A mapped window of the program that matches; id 0 when none came in time.
    Client waitWindow(const std::function<bool(const Client&)>& match, int timeoutMs = 30000);
    Client waitTitled(const QString& title, int timeoutMs = 30000);
    // The program's window with no title that covers the screen: the exam screen.
    Client waitExamScreen(int timeoutMs = 30000);
    bool waitGone(quint32 id, int timeoutMs = 15000);

    // A box as a person needs it: owned by the window it blocks, stacked above
    // it, and holding the keyboard.
    ::testing::AssertionResult isAnswerable(const Client& box, const Client& owner);
    // The window has the keyboard (waits a little for the window manager).
    ::testing::AssertionResult hasFocus(const Client& w);

    // Clicks where a control of w is seen now (w may have moved since it was found).
    void clickAt(const Client& w, QPoint clientPos);
    void click(const Client& w, QPoint (*where)(const Client&));
    void clickCentre(const Client& w, QRect clientRect) { clickAt(w, clientRect.center()); }
    // w as it is now.
    Client now(const Client& w) { return x.client(w.id); }
    QImage grab(const Client& w, QRect clientRect);
    // Pixels that differ between two pictures of the same place (a blinking
    // text cursor is a few dozen; a typed word is hundreds).
    static int difference(const QImage& a, const QImage& b);
    static constexpr int kTextPixels = 60;

    // Waits until the screen in rect (client coordinates of w) differs from
    // before and has stopped changing; false when it never changed.
    bool waitChanged(const Client& w, QRect clientRect, const QImage& before, int timeoutMs = 15000,
                     int minPixels = kTextPixels);

    // Waits until rect of w has not changed for stillMs.
    void waitStill(const Client& w, QRect clientRect, int stillMs = 400, int timeoutMs = 10000);

    // Main window controls, placed by the main window's layout (outer size).
    static QPoint command1(const Client& main);
    static QPoint cmdPrint(const Client& main);
    // Exam screen controls.
    static QPoint cmdMondai(const Client& exam, int index);
    static QPoint examEnd(const Client& exam);
    static QRect questionPane(const Client& exam);

    // Lets the screen settle: the event loops of this process run meanwhile.
    static void pause(int ms);

private:
    qint64 pid_;
};

} // namespace brevik::test
