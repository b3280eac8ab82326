// While a request waits on a server that trickles its reply, the user-interface
// thread keeps the desktop guard ticking every 10 ms (a browser opened
// meanwhile is closed), and no click, key or window-manager close request
// reaches the program's window, neither during the wait nor afterwards.
#include "../desktop/TestWindow.h"
#include "ExamServerProcess.h"
#include "app/AppState.h"
#include "exam/DesktopGuard.h"
#include "net/HttpGetBytes.h"
#include "platform/OffUiThread.h"
#include "platform/x11/X11Desktop.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QEvent>
#include <QProcess>
#include <QPushButton>
#include <QTimer>
#include <QWindow>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

using namespace brevik;
using namespace brevik::test;

namespace {

// Counts what reaches a widget: clicks, keys and close requests.
class Counter : public QObject {
public:
    int presses = 0, keys = 0, closes = 0;

protected:
    bool eventFilter(QObject*, QEvent* e) override {
        switch (e->type()) {
        case QEvent::MouseButtonPress:
            ++presses;
            break;
        case QEvent::KeyPress:
            ++keys;
            break;
        case QEvent::Close:
            ++closes;
            e->ignore();
            return true; // the window stays for the rest of the test
        default:
            break;
        }
        return false;
    }
};

// Runs xdotool to its end: its input has reached the X server when this returns.
void xdotool(const QStringList& args) {
    QProcess::execute(QStringLiteral("xdotool"), args);
}

} // namespace

TEST(RequestWaitX11, TheGuardTicksAndNoInputIsDeliveredWhileARequestWaits) {
    X11Desktop desk;
    ASSERT_TRUE(desk.available());
    DesktopGuard guard(desk);

    QWidget window;
    window.setWindowTitle(QStringLiteral("brevik request wait test"));
    window.setGeometry(100, 100, 400, 300);
    auto* button = new QPushButton(QStringLiteral("登録"), &window);
    button->setGeometry(50, 50, 300, 200);
    int clicks = 0;
    QObject::connect(button, &QPushButton::clicked, [&] { ++clicks; });
    Counter reached;
    window.installEventFilter(&reached);
    button->installEventFilter(&reached);
    window.show();
    ASSERT_TRUE(
        waitUntil([&] { return window.windowHandle() && window.windowHandle()->isExposed(); }));
    window.activateWindow();
    waitUntil([&] { return QApplication::activeWindow() == &window; }, 3000);
    const QPoint target = button->mapToGlobal(button->rect().center());

    ExamServerProcess server({QStringLiteral("--register-reply"), QStringLiteral("trickle:1000")});
    AppState st;
    pointAt(st, server);
    st.stallTimeoutMs = 60000;
    st.totalTimeoutMs = 30000;
    st.rateWindowMs = 4000;
    st.minBytesPerWindow = 1024;

    // The pre-exam guard on its 10 ms timer, as the main window runs it.
    std::vector<qint64> ticks;
    QTimer timer1;
    timer1.setInterval(10);
    QObject::connect(&timer1, &QTimer::timeout, [&] {
        ticks.push_back(monotonicMs());
        guard.PreExamTick();
    });
    timer1.start();

    // What happens while the request waits: a browser opens, the examinee
    // clicks the button and types, the window manager asks to close the window.
    std::unique_ptr<TestWindow> browser;
    QTimer::singleShot(300, [&] {
        browser = std::make_unique<TestWindow>(QStringList{
            "--class", "firefox-esr", "--name", "Navigator", "--title", "Mozilla Firefox"});
    });
    QTimer::singleShot(1500, [&] {
        xdotool({QStringLiteral("mousemove"), QString::number(target.x()),
                 QString::number(target.y()), QStringLiteral("click"), QStringLiteral("1")});
    });
    QTimer::singleShot(1800, [&] {
        xdotool({QStringLiteral("key"), QStringLiteral("a"), QStringLiteral("space")});
    });
    QTimer::singleShot(2100, [&] { sendDeleteWindow(window.winId()); });
    QTimer::singleShot(2400, [&] { xdotool({QStringLiteral("click"), QStringLiteral("1")}); });

    const int droppedBefore = InputDrop::dropped();
    const qint64 begin = monotonicMs();
    QByteArray body;
    HttpOutcome outcome;
    HttpGetBytes(st, st.strRegisterUrl, body, QString(), &outcome);
    const qint64 end = monotonicMs();
    EXPECT_TRUE(outcome.failed);
    EXPECT_TRUE(outcome.error.contains(QStringLiteral("slower than"))) << qPrintable(outcome.error);
    EXPECT_GE(end - begin, 4000);

    // Afterwards nothing that was done during the wait arrives late.
    waitUntil([] { return false; }, 700);
    EXPECT_EQ(clicks, 0);
    EXPECT_EQ(reached.presses, 0);
    EXPECT_EQ(reached.keys, 0);
    EXPECT_EQ(reached.closes, 0);
    EXPECT_TRUE(window.isVisible());
    EXPECT_GT(InputDrop::dropped(), droppedBefore);

    // The guard ticked on throughout the wait (its figures: bench/run-desktop).
    std::vector<qint64> gaps;
    for (size_t i = 1; i < ticks.size(); ++i)
        if (ticks[i - 1] >= begin && ticks[i] <= end)
            gaps.push_back(ticks[i] - ticks[i - 1]);
    std::vector<qint64> sorted = gaps;
    std::sort(sorted.begin(), sorted.end());
    ASSERT_FALSE(sorted.empty());
    std::printf("guard ticks during the wait: %zu in %lld ms, gap median %lld ms, max %lld ms\n",
                gaps.size() + 1, end - begin, sorted[sorted.size() / 2], sorted.back());
    EXPECT_GT(qint64(gaps.size()), (end - begin) / 10 / 2) << "far fewer ticks than every 10 ms";
    EXPECT_LT(sorted.back(), 1000) << "the thread was held";

    // The browser opened during the wait was asked to close during the wait.
    ASSERT_TRUE(browser);
    EXPECT_TRUE(browser->waitForExit(2000));
    qint64 ready = -1, deleted = -1;
    for (const QString& line : browser->log()) {
        if (line.startsWith(QStringLiteral("ready ")))
            ready = line.section(u' ', 1, 1).toLongLong();
        if (line.startsWith(QStringLiteral("delete ")) && deleted < 0)
            deleted = line.section(u' ', 1, 1).toLongLong();
    }
    ASSERT_GT(deleted, 0) << browser->log().join(u'\n').toStdString();
    EXPECT_LT(deleted, end) << "closed while the request still waited";
    std::printf("browser: mapped to close request %lld ms\n", deleted - ready);

    // The same input once the request is over does arrive: the test can see it.
    timer1.stop();
    xdotool({QStringLiteral("mousemove"), QString::number(target.x()), QString::number(target.y()),
             QStringLiteral("click"), QStringLiteral("1")});
    EXPECT_TRUE(waitUntil([&] { return clicks == 1; }, 3000));
    sendDeleteWindow(window.winId());
    EXPECT_TRUE(waitUntil([&] { return reached.closes == 1; }, 5000));
}
