// Desktop window operations against a real X server with a window manager.
#include "platform/x11/X11Desktop.h"
#include "TestWindow.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QWidget>
#include <QWindow>
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <vector>

using namespace brevik;
using brevik::test::findSoon;
using brevik::test::TestWindow;
using brevik::test::waitUntil;

TEST(X11Desktop, FindsWindowsByClassAndExactTitle) {
    X11Desktop desk;
    ASSERT_TRUE(desk.available());
    TestWindow browser(
        {"--class", "firefox-esr", "--name", "Navigator", "--title", "Mozilla Firefox"});
    TestWindow thunar({"--class", "Thunar", "--title", "brevik_result - Thunar"});
    // Title only in _NET_WM_NAME decorated, plain in WM_NAME.
    TestWindow dolphin(
        {"--class", "dolphin", "--net-title", "brevik — Dolphin", "--wm-title", "brevik"});
    // Only WM_NAME, like xterm.
    TestWindow plain({"--class", "XTerm", "--wm-title", "ヴァルネブレビク"});
    ASSERT_TRUE(browser.ready() && thunar.ready() && dolphin.ready() && plain.ready());
    ASSERT_NE(findSoon(desk, "xterm"), 0u);

    struct Case {
        const char* cls;
        std::optional<QString> title;
        bool found;
    } cases[] = {
        {"firefox-esr", std::nullopt, true},
        {"FIREFOX-ESR", std::nullopt, true},
        {"Firefox-Esr", QStringLiteral("Mozilla Firefox"), true},
        {"firefox-esr", QStringLiteral("Mozilla Firefoz"), false},
        {"firefox-esr", QStringLiteral("Mozilla Firefox "), false},
        {"firefox-esr", QStringLiteral("Mozilla"), false},
        {"Navigator", std::nullopt, false}, // the name part is not the class
        {"thunar", QStringLiteral("brevik_result - Thunar"), true},
        {"thunar", QStringLiteral("brevik_result"), false},
        {"dolphin", QStringLiteral("brevik — Dolphin"), true},
        {"dolphin", QStringLiteral("brevik"), true},
        {"dolphin", QStringLiteral("brevik_result"), false},
        {"xterm", QStringLiteral("ヴァルネブレビク"), true},
        {"xterm", QStringLiteral("ヴァルネブレビグ"), false},
        {"CabinetWClass", std::nullopt, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(desk.FindWindow(c.cls, c.title) != 0, c.found)
            << c.cls << " / " << (c.title ? c.title->toStdString() : "(any)");
}

TEST(X11Desktop, FollowsClassAndTitleChangesAndForgetsClosedWindows) {
    X11Desktop desk;
    TestWindow w({"--class", "libreoffice-startcenter", "--title", "LibreOffice", "--later-ms",
                  "300", "--later-class", "libreoffice-calc", "--later-title",
                  "Untitled 1 - LibreOffice Calc"});
    ASSERT_NE(findSoon(desk, "libreoffice-startcenter"), 0u);
    EXPECT_EQ(desk.FindWindow("libreoffice-calc"), 0u);
    const WindowId calc =
        findSoon(desk, "libreoffice-calc", QStringLiteral("Untitled 1 - LibreOffice Calc"));
    EXPECT_NE(calc, 0u);
    EXPECT_EQ(desk.FindWindow("libreoffice-startcenter"), 0u);
    EXPECT_TRUE(desk.RequestClose(calc));
    EXPECT_EQ(desk.FindWindow("libreoffice-calc"), 0u);
}

TEST(X11Desktop, CloseRequestClosesWindowsWithAndWithoutDeleteProtocol) {
    X11Desktop desk;
    TestWindow polite({"--class", "Gedit", "--title", "notes"});
    TestWindow bare({"--class", "Mousepad", "--title", "notes", "--no-delete"});
    const WindowId a = findSoon(desk, "gedit"), b = findSoon(desk, "mousepad");
    ASSERT_TRUE(a && b);

    EXPECT_TRUE(desk.RequestClose(a));
    EXPECT_EQ(polite.count("delete"), 1);
    EXPECT_TRUE(polite.waitForExit());
    // Without WM_DELETE_WINDOW the window manager closes it the way its close button does.
    EXPECT_TRUE(desk.RequestClose(b));
    EXPECT_TRUE(bare.waitForExit());
    EXPECT_EQ(desk.FindWindow("gedit"), 0u);
    EXPECT_EQ(desk.FindWindow("mousepad"), 0u);
}

TEST(X11Desktop, IgnoredCloseRequestCostsAtMostTheBoundedWait) {
    X11Desktop desk;
    TestWindow stubborn({"--class", "Evolution", "--title", "Mail", "--ignore-close"});
    const WindowId w = findSoon(desk, "evolution");
    ASSERT_NE(w, 0u);
    QElapsedTimer t;
    t.start();
    EXPECT_FALSE(desk.RequestClose(w));
    const qint64 first = t.restart();
    EXPECT_GE(first, X11Desktop::closeWaitMs - 5); // clocks round differently
    EXPECT_LT(first, X11Desktop::closeWaitMs + 150);
    // Asked again at once; it already refused, so this one does not wait again.
    EXPECT_FALSE(desk.RequestClose(w));
    EXPECT_LT(t.elapsed(), 50);
    EXPECT_TRUE(waitUntil([&] { return stubborn.count("delete") == 2; }));
    EXPECT_TRUE(stubborn.running());
    EXPECT_EQ(desk.FindWindow("evolution"), w);
}

TEST(X11Desktop, KeyStrokeReachesTheWindowBroughtToTheForeground) {
    X11Desktop desk;
    TestWindow other({"--class", "Other", "--title", "other"});
    TestWindow target({"--class", "Chromium", "--title", "browser"});
    const WindowId o = findSoon(desk, "other"), w = findSoon(desk, "chromium");
    ASSERT_TRUE(o && w);
    desk.SetForegroundWindow(o);
    desk.SetForegroundWindow(w);
    desk.KeyEvent(27, false);
    desk.KeyEvent(27, true);
    desk.KeyEvent(0x141, false); // low byte 0x41: 'A'
    desk.KeyEvent(0x141, true);
    EXPECT_TRUE(waitUntil([&] { return target.count("keyup 61") == 1; }));
    const QStringList keys = target.log().filter(QRegularExpression("^key"));
    ASSERT_EQ(keys.size(), 4) << keys.join(" | ").toStdString();
    EXPECT_TRUE(keys[0].startsWith("key ff1b "));
    EXPECT_TRUE(keys[1].startsWith("keyup ff1b "));
    EXPECT_TRUE(keys[2].startsWith("key 61 "));
    EXPECT_EQ(other.count("key"), 0);
}

TEST(X11Desktop, TopmostIsSetAndClearedWithoutMovingTheWindow) {
    X11Desktop desk;
    QWidget w;
    w.setGeometry(100, 120, 300, 200);
    w.show();
    ASSERT_TRUE(waitUntil([&] { return w.windowHandle() && w.windowHandle()->isExposed(); }));
    const QRect before = w.geometry();

    desk.SetTopmost(&w, true);
    EXPECT_TRUE(waitUntil([&] { return brevik::test::hasStateAbove(w.winId()); }));
    EXPECT_TRUE(w.isVisible());
    desk.SetTopmost(&w, true); // already on top: nothing changes
    EXPECT_EQ(w.geometry(), before);

    // Taken away behind the program's back (the window menu), twice: each
    // time the very next call (the guard's next tick) asks for it again.
    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(waitUntil([&] {
            brevik::test::removeStateAbove(w.winId());
            return !brevik::test::hasStateAbove(w.winId());
        }));
        waitUntil([] { return false; }, 50); // the desktop's own connection hears of it
        desk.SetTopmost(&w, true);
        EXPECT_TRUE(waitUntil([&] { return brevik::test::hasStateAbove(w.winId()); }))
            << "round " << round;
    }

    desk.SetTopmost(&w, false);
    EXPECT_TRUE(waitUntil([&] { return !brevik::test::hasStateAbove(w.winId()); }));
    EXPECT_TRUE(w.isVisible());
    EXPECT_EQ(w.geometry(), before);

    desk.SetTopmostAt(&w, 0, 0);
    EXPECT_TRUE(waitUntil([&] {
        return brevik::test::hasStateAbove(w.winId()) &&
               w.frameGeometry().topLeft() == QPoint(0, 0);
    }));
    EXPECT_EQ(w.size(), before.size());
}

TEST(X11Desktop, OwnWindowsAreNeverFound) {
    X11Desktop desk;
    QWidget w;
    w.setWindowTitle(QStringLiteral("brevik"));
    w.show();
    ASSERT_TRUE(waitUntil([&] { return w.windowHandle() && w.windowHandle()->isExposed(); }));
    TestWindow marker({"--class", "Marker"});
    ASSERT_NE(findSoon(desk, "marker"), 0u); // the cache has caught up with both
    // Qt names the class after the program.
    EXPECT_EQ(desk.FindWindow(QCoreApplication::applicationName()), 0u);
    EXPECT_EQ(desk.FindWindow(QCoreApplication::applicationName(), QStringLiteral("brevik")), 0u);
}

TEST(X11Desktop, WorkAreaShrinksByAPanelStrut) {
    X11Desktop desk;
    const WorkArea full = desk.GetWorkArea();
    if (full == WorkArea{})
        GTEST_SKIP() << "this window manager reports no work area";
    EXPECT_EQ(full, (WorkArea{0, 0, 1024, 768}));
    TestWindow panel({"--class", "Panel", "--strut-top", "40"});
    EXPECT_TRUE(waitUntil([&] {
        return desk.GetWorkArea() == WorkArea{0, 40, 1024, 768};
    })) << desk.GetWorkArea().top;
}

TEST(X11Desktop, WithoutADisplayNothingIsFoundAndTheClockStillRuns) {
    testing::internal::CaptureStderr();
    X11Desktop desk(":97531");
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(desk.available());
    EXPECT_NE(err.find("desktop guard is inactive"), std::string::npos) << err;
    EXPECT_EQ(desk.FindWindow("xterm"), 0u);
    EXPECT_FALSE(desk.RequestClose(12345));
    desk.SetForegroundWindow(12345);
    desk.KeyEvent(27, false);
    EXPECT_EQ(desk.GetWorkArea(), WorkArea{});
    const qint64 t0 = desk.GetTickCount();
    desk.wait_ms(30);
    EXPECT_GT(desk.GetTickCount() - t0, 30);
}

TEST(X11Desktop, AnIdleLookupMakesNoRoundTrip) {
    X11Desktop desk;
    TestWindow w({"--class", "Idle"});
    ASSERT_NE(findSoon(desk, "idle"), 0u);
    desk.wait_ms(5);
    desk.FindWindow("idle");
    const quint64 before = desk.roundTrips();
    for (int i = 0; i < 100; ++i) {
        EXPECT_NE(desk.FindWindow("idle"), 0u);
        EXPECT_EQ(desk.FindWindow("nothing"), 0u);
    }
    EXPECT_EQ(desk.roundTrips(), before);
}
