// The desktop guard against real client windows under a window manager.
#include "TestWindow.h"
#include "exam/DesktopGuard.h"
#include "platform/AppRoles.h"
#include "platform/x11/X11Desktop.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QWidget>
#include <QWindow>
#include <gtest/gtest.h>

#include <functional>

using namespace brevik;
using brevik::test::findSoon;
using brevik::test::TestWindow;
using brevik::test::tickUntil;
using brevik::test::waitUntil;

TEST(DesktopGuardX11, BeforeTheExamOfficeBrowserAndResultFolderAreClosed) {
    X11Desktop desk;
    DesktopGuard guard(desk);
    TestWindow browser({"--class", "firefox-esr", "--name", "Navigator", "--title", "Firefox"});
    TestWindow sheet({"--class", "libreoffice-calc", "--title", "Book1 - LibreOffice Calc"});
    TestWindow writer({"--class", "libreoffice-writer", "--title", "Doc - LibreOffice Writer"});
    TestWindow folder({"--class", "Thunar", "--title", "brevik_result - Thunar"});
    TestWindow notepad({"--class", "Notepad", "--title", "memo.txt - Notepad"});
    TestWindow nearly({"--class", "Thunar", "--title", "brevik_resulx - Thunar"});
    ASSERT_NE(findSoon(desk, "thunar", QStringLiteral("brevik_resulx - Thunar")), 0u);

    auto closed = [&] {
        return !browser.running() && !sheet.running() && !writer.running() && !folder.running();
    };
    EXPECT_TRUE(tickUntil([&] { guard.PreExamTick(); }, closed));
    tickUntil([&] { guard.PreExamTick(); }, [] { return false; }, 100);
    EXPECT_TRUE(notepad.running());
    EXPECT_TRUE(nearly.running());
    EXPECT_EQ(notepad.count("delete") + nearly.count("delete"), 0);
}

TEST(DesktopGuardX11, DuringTheExamEditorsGoOneATickBrowsersGetEscAndTheExamStaysOnTop) {
    X11Desktop desk;
    DesktopGuard guard(desk);
    QWidget exam;
    exam.setGeometry(0, 0, 400, 300);
    exam.show();
    ASSERT_TRUE(waitUntil([&] { return exam.windowHandle() && exam.windowHandle()->isExposed(); }));

    TestWindow ed1({"--class", "Gedit", "--title", "a.txt"});
    TestWindow ed2({"--class", "Gedit", "--title", "b.txt"});
    TestWindow sheet({"--class", "libreoffice-calc", "--title", "Book1"});
    TestWindow browser({"--class", "Chromium", "--title", "Search"});
    ASSERT_NE(findSoon(desk, "chromium"), 0u);
    ASSERT_NE(findSoon(desk, "gedit", QStringLiteral("b.txt")), 0u);

    guard.InExamTick(&exam);
    EXPECT_EQ(ed1.count("delete") + ed2.count("delete"), 1);
    guard.InExamTick(&exam);
    EXPECT_EQ(ed1.count("delete") + ed2.count("delete"), 2);
    EXPECT_TRUE(ed1.waitForExit() && ed2.waitForExit());
    EXPECT_TRUE(browser.waitForExit());

    // The browser was raised and pressed Esc before it was asked to close.
    QStringList seen;
    for (const QString& line : browser.log())
        if (!line.startsWith("ready"))
            seen << line.section(' ', 0, -2);
    EXPECT_EQ(seen, (QStringList{"focus", "key ff1b", "keyup ff1b", "delete"}));

    EXPECT_TRUE(sheet.running());
    EXPECT_EQ(sheet.count("delete"), 0);
    EXPECT_TRUE(waitUntil([&] { return brevik::test::hasStateAbove(exam.winId()); }));
}

TEST(DesktopGuardX11, ARefusingWindowHoldsATickAtMostTheBoundedWaitAndIsAskedAgain) {
    X11Desktop desk;
    DesktopGuard guard(desk);
    TestWindow stubborn({"--class", "Evolution", "--title", "Mail", "--ignore-close"});
    ASSERT_NE(findSoon(desk, "evolution"), 0u);
    QElapsedTimer t;
    t.start();
    guard.PreExamTick();
    EXPECT_LT(t.restart(), X11Desktop::closeWaitMs + 100);
    guard.PreExamTick();
    EXPECT_LT(t.elapsed(), 50);
    EXPECT_TRUE(waitUntil([&] { return stubborn.count("delete") == 2; }));
    EXPECT_TRUE(stubborn.running());
}

TEST(DesktopGuardX11, AWindowMappedAfterTheStartIsClosedAtTheNextTick) {
    X11Desktop desk;
    DesktopGuard guard(desk);
    guard.PreExamTick(); // the cache is warm before the window appears
    TestWindow late({"--class", "Google-chrome", "--title", "New Tab"});
    // At most a handful of ticks: the window manager must first list it.
    int ticks = 0;
    EXPECT_TRUE(tickUntil([&] { ++ticks, guard.PreExamTick(); },
                          [&] { return late.count("delete") > 0; }, 2000));
    EXPECT_LE(ticks, 10);
}

// Windows of real clients matched to desktop entries by their hints, by a
// class that changes after the window appeared, and not at all when the
// venue exempts them or when they are the program's own.
TEST(DesktopGuardX11, WindowsAreMatchedByHintsAndByTheirLaterClass) {
    OperatorRoles rules;
    rules.exempt.insert(QStringLiteral("allowed-sheet"));
    auto table = std::make_shared<RoleTable>(QCoreApplication::applicationPid(), rules);
    const AppRoles sheetRole = roleBit(AppRole::Spreadsheet);
    table->add({QStringLiteral("org.example.Web"), roleBit(AppRole::WebBrowser), {}, {}});
    table->add({QStringLiteral("org.kde.sheets"), sheetRole, {}, {}});
    table->add({QStringLiteral("turned-sheet"), sheetRole, {}, {}});
    table->add({QStringLiteral("allowed-sheet"), sheetRole, {}, {}});
    table->add({QStringLiteral("desktop_guard_x11_test"), roleBit(AppRole::Spreadsheet), {}, {}});
    X11Desktop desk;
    desk.SetRoleTable(table);
    DesktopGuard guard(desk);

    TestWindow web({"--class", "Unknown1", "--prop", "_GTK_APPLICATION_ID=org.example.Web"});
    TestWindow kde({"--class", "Unknown2", "--prop", "_KDE_NET_WM_DESKTOP_FILE=org.kde.sheets"});
    TestWindow allowed({"--class", "Allowed-sheet", "--title", "Budget"});
    TestWindow turning({"--class", "Start", "--later-ms", "400", "--later-class", "Turned-sheet"});
    QWidget own; // our own window, of a class that names a spreadsheet entry
    own.setGeometry(0, 0, 100, 100);
    own.show();
    ASSERT_NE(findSoon(desk, "allowed-sheet"), 0u);

    EXPECT_TRUE(tickUntil([&] { guard.PreExamTick(); },
                          [&] { return !web.running() && !kde.running() && !turning.running(); },
                          5000));
    EXPECT_TRUE(allowed.running());
    EXPECT_EQ(allowed.count("delete"), 0);
    EXPECT_TRUE(own.isVisible());
}
