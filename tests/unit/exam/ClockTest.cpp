// The answer clock and the end button of the exam screen, with time moved on a
// fake tick count and the examinee's answers scripted.
#include "exam/frmKaikei.h"
#include "platform/fake/FakeDesktop.h"
#include "platform/fake/FakePane.h"
#include "platform/fake/ScriptedDialogHost.h"
#include "support/TestSupport.h"

#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

using namespace brevik;

namespace {

const QString kTimeUpText = QStringLiteral("【注意】\r\n\r\n解答時間が終了しました。\r\n\r\n"
                                           "採点中はキーボードならびにマウスを\r\n\r\n"
                                           "操作しないでください。");
const QString kEndText = QStringLiteral("試験を終了してもよろしいですか？\r\n\r\n"
                                        "よろしければ「はい」をクリックしてください。");

class ClockTest : public ::testing::Test {
protected:
    ClockTest() {
        st.svc.desktop = &desk;
        st.svc.dialogs = &dlg;
        st.svc.makePane = [](QWidget* parent) { return std::make_unique<FakePane>(parent); };
        st.strDataPath = QStringLiteral("/data/");
        desk.tick = 5'000'000;
        w = std::make_unique<frmKaikei>(st);
        w->end_syori = [this] { ++endCalls; };
        w->Form_Load();
        desk.calls.clear();
    }

    // Moves the clock to ms after the load and runs one clock tick.
    void tickAt(qint64 ms) {
        desk.tick = 5'000'000 + ms;
        w->Timer1_Timer();
    }
    bool timersRunning() const { return w->Timer1->isActive() && w->Timer2->isActive(); }

    AppState st;
    FakeDesktop desk;
    ScriptedDialogHost dlg;
    std::unique_ptr<frmKaikei> w;
    int endCalls = 0;
};

TEST_F(ClockTest, LoadStartsTheClockOnTheCurrentTick) {
    EXPECT_EQ(w->lngStartTick, 5'000'000);
    EXPECT_EQ(st.intTimeLimit, 2400);
    EXPECT_TRUE(w->blnBlockUnload);
    EXPECT_TRUE(w->Timer1->isActive());
    EXPECT_EQ(w->Timer1->interval(), 10);
}

TEST_F(ClockTest, LabelFollowsTheExactRemainingTimeRoundedHalfToEven) {
    EXPECT_EQ(w->lblRemaining->text(), QStringLiteral("残り時間：30:00")); // design text

    struct Case {
        qint64 elapsedMs;
        const char* label;
        int remaining;
    };
    const Case cases[] = {
        {0, "残り時間：40:00", 2400},
        {500, "残り時間：40:00", 2400},  // 2399.5 goes to the even 2400
        {1500, "残り時間：39:58", 2398}, // 2398.5 goes to the even 2398
        {1501, "残り時間：39:58", 2398},
        {(2400 - 599) * 1000, "残り時間：9:59", 599},
        {(2400 - 60) * 1000, "残り時間：1:00", 60},
        {2395 * 1000, "残り時間：0:05", 5},
        {2400 * 1000 + 500, "残り時間：0:00", 0}, // -0.5 is still 0: not yet up
    };
    for (const auto& c : cases) {
        tickAt(c.elapsedMs);
        EXPECT_EQ(w->lblRemaining->text(), QString::fromUtf8(c.label)) << c.elapsedMs;
        EXPECT_EQ(w->intRemaining, c.remaining) << c.elapsedMs;
    }
    EXPECT_TRUE(dlg.shown.empty());
    EXPECT_TRUE(timersRunning());
}

TEST_F(ClockTest, AStartTickOfZeroIsTakenAtTheFirstTick) {
    w->lngStartTick = 0;
    desk.tick = 7'000;
    w->Timer1_Timer();
    EXPECT_EQ(w->lngStartTick, 7'000);
    EXPECT_EQ(w->lblRemaining->text(), QStringLiteral("残り時間：40:00"));
}

TEST_F(ClockTest, TimeUpBoxComesAtTheFirstTickPast2400AndAHalfSecondsAndNoBringsItBack) {
    tickAt(2400 * 1000 + 500);
    ASSERT_TRUE(dlg.shown.empty());

    QStringList whileOpen;
    dlg.onShow = [&](const ShownDialog&) {
        whileOpen << QStringLiteral("timers %1 button %2 %3")
                         .arg(w->Timer1->isActive() || w->Timer2->isActive() ? "on" : "off")
                         .arg(w->Command1->isEnabled() ? "on" : "off")
                         .arg(desk.calls.value(desk.calls.size() - 1));
    };
    dlg.answer({Answer::No});
    tickAt(2400 * 1000 + 501);
    ASSERT_EQ(dlg.shown.size(), 1u);
    const MessageBoxSpec& box = dlg.shown[0].box;
    EXPECT_EQ(box.title, QStringLiteral("解答時間終了"));
    EXPECT_EQ(box.text, kTimeUpText);
    EXPECT_EQ(box.icon, MsgIcon::Exclamation);
    EXPECT_EQ(box.buttons, MsgButtons::YesNo);
    EXPECT_EQ(box.defaultButton, MsgAnswer::No);
    EXPECT_TRUE(box.systemModal);
    EXPECT_EQ(whileOpen, QStringList{QStringLiteral("timers off button off topmost off")});

    // No: back to the exam as it was; the label keeps 0:00.
    EXPECT_TRUE(timersRunning());
    EXPECT_TRUE(w->Command1->isEnabled());
    EXPECT_EQ(desk.calls.last(), QStringLiteral("topmost on"));
    EXPECT_EQ(w->lblRemaining->text(), QStringLiteral("残り時間：0:00"));
    EXPECT_TRUE(w->blnBlockUnload);
    EXPECT_EQ(endCalls, 0);

    // The next tick asks again; Yes ends the exam.
    dlg.answer({Answer::Yes});
    tickAt(2400 * 1000 + 511);
    ASSERT_EQ(dlg.shown.size(), 2u);
    EXPECT_EQ(dlg.shown[1].box.text, kTimeUpText);
    EXPECT_EQ(endCalls, 1);
    EXPECT_EQ(w->intRemaining, 0);
    EXPECT_FALSE(w->blnBlockUnload);
    EXPECT_FALSE(w->Timer1->isActive());
    EXPECT_FALSE(w->Timer2->isActive());
    EXPECT_EQ(w->lblRemaining->text(), QStringLiteral("残り時間：0:00"));
}

TEST_F(ClockTest, HoursAwayStillEndInTheTimeUpBox) {
    tickAt(100);
    dlg.answer({Answer::Yes});
    tickAt(qint64(12) * 3600 * 1000); // far beyond what 16 bits of seconds hold
    EXPECT_EQ(dlg.titles(), QStringList{QStringLiteral("解答時間終了")});
    EXPECT_EQ(endCalls, 1);
}

TEST_F(ClockTest, EndButtonNoGoesBackToTheExamAfterHalfASecond) {
    QStringList whileOpen;
    dlg.onShow = [&](const ShownDialog&) {
        whileOpen << QStringLiteral("timers %1 button %2")
                         .arg(w->Timer1->isActive() || w->Timer2->isActive() ? "on" : "off")
                         .arg(w->Command1->isEnabled() ? "on" : "off");
        desk.calls << QStringLiteral("box");
    };
    dlg.answer({Answer::No});
    w->Command1->click();

    ASSERT_EQ(dlg.shown.size(), 1u);
    const MessageBoxSpec& box = dlg.shown[0].box;
    EXPECT_EQ(box.title, QStringLiteral("ヴァルネルドリン"));
    EXPECT_EQ(box.text, kEndText);
    EXPECT_EQ(box.icon, MsgIcon::Exclamation);
    EXPECT_EQ(box.buttons, MsgButtons::YesNo);
    EXPECT_EQ(box.defaultButton, MsgAnswer::No);
    EXPECT_FALSE(box.systemModal);
    EXPECT_EQ(whileOpen, QStringList{QStringLiteral("timers off button off")});
    EXPECT_EQ(desk.calls, (QStringList{QStringLiteral("topmost off"), QStringLiteral("box"),
                                       QStringLiteral("wait 500"), QStringLiteral("topmost on")}));
    EXPECT_TRUE(timersRunning());
    EXPECT_TRUE(w->Command1->isEnabled());
    EXPECT_TRUE(w->blnBlockUnload);
    EXPECT_EQ(endCalls, 0);
}

TEST_F(ClockTest, EndButtonYesEndsTheExamAfterHalfASecond) {
    dlg.answer({Answer::Yes});
    bool blockedAtEnd = true;
    QStringList callsAtEnd;
    w->end_syori = [&] {
        ++endCalls;
        blockedAtEnd = w->blnBlockUnload;
        callsAtEnd = desk.calls;
    };
    w->Command1->click();
    EXPECT_EQ(endCalls, 1);
    EXPECT_FALSE(blockedAtEnd);
    EXPECT_EQ(callsAtEnd, (QStringList{QStringLiteral("topmost off"), QStringLiteral("wait 500")}));
    EXPECT_FALSE(w->Timer1->isActive());
    EXPECT_FALSE(w->Timer2->isActive());
}

TEST_F(ClockTest, TimeRunningOutWhileTheEndConfirmationIsOpen) {
    tickAt(2390 * 1000);
    dlg.onShow = [&](const ShownDialog& d) {
        if (d.box.title == QStringLiteral("ヴァルネルドリン"))
            desk.tick = 5'000'000 + 2420 * 1000; // the examinee hesitates
    };
    dlg.answer({Answer::No, Answer::No});
    w->Command1->click();
    EXPECT_EQ(endCalls, 0);
    w->Timer1_Timer();
    EXPECT_EQ(dlg.titles(),
              (QStringList{QStringLiteral("ヴァルネルドリン"), QStringLiteral("解答時間終了")}));
    EXPECT_EQ(w->lblRemaining->text(), QStringLiteral("残り時間：0:10"));
}

TEST_F(ClockTest, RealTimersDriveTheClockAndTheGuardHook) {
    int guardTicks = 0;
    w->onTimer2Tick = [&] { ++guardTicks; };
    desk.tick = 5'000'000 + 61 * 1000;
    ASSERT_TRUE(test::waitUntil([&] {
        return w->lblRemaining->text() == QStringLiteral("残り時間：38:59") && guardTicks > 0;
    }));

    // Time up through the real timer: no tick of either kind while the box is open.
    int guardTicksAtBox = -1;
    dlg.onShow = [&](const ShownDialog&) { guardTicksAtBox = guardTicks; };
    dlg.answer({Answer::Yes});
    desk.tick = 5'000'000 + 2401 * 1000;
    ASSERT_TRUE(test::waitUntil([&] { return endCalls == 1; }));
    const int after = guardTicks;
    QTimer::singleShot(50, [] {});
    test::waitUntil([] { return false; }, 60);
    EXPECT_EQ(dlg.shown.size(), 1u);
    EXPECT_EQ(guardTicks, after);
    EXPECT_GE(guardTicksAtBox, 1);
}

} // namespace
