#include "MainFixture.h"

#include "platform/Twips.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <optional>
#include <stdexcept>

namespace brevik::test {
namespace {

using MainWindowLoad = MainFixture;

TEST_F(MainWindowLoad, LaunchValuesFromItemSix) {
    const struct {
        const char* item6;
        bool rehearsal;
        qint32 id;
    } cases[] = {
        {"id=REHEARSAL", true, 0},
        {"id=rehearsal", true, 0},
        {"id=12345", false, 12345},
        {"id=rehearsal2", false, 0},
        {"id=12.5", false, 12},
        {"id=13.5", false, 14},
        {"id=", false, 0},
        // -1: beyond 32 bits, the step is skipped and the value stays. Only
        // characters 4 to 23 count.
        {"id=123456789012", false, -1},
        {"id=123456789012345678901234", false, -1},
    };
    for (const auto& c : cases) {
        AppState fresh;
        fresh.svc = st.svc;
        fresh.strDataPath = st.strDataPath;
        fresh.strDbPassword = st.strDbPassword;
        fresh.arrLaunchArgs = st.arrLaunchArgs;
        fresh.arrLaunchArgs[6] = QString::fromLatin1(c.item6);
        fresh.blnRehearsal = !c.rehearsal;
        fresh.lngLaunchId = -1;
        frmMain w(fresh);
        w.Load();
        EXPECT_EQ(fresh.blnRehearsal, c.rehearsal) << c.item6;
        EXPECT_EQ(fresh.lngLaunchId, c.id) << c.item6;
        EXPECT_TRUE(fresh.blnMainLoaded) << c.item6;
    }
}

TEST_F(MainWindowLoad, AnIdBeyond32BitsIsSkippedAndTheLoadGoesOn) {
    st.arrLaunchArgs[6] = QStringLiteral("id=123456789012");
    st.lngLaunchId = 77;
    st.blnRehearsal = true;
    form().Show();
    EXPECT_EQ(st.lngLaunchId, 77);
    EXPECT_FALSE(st.blnRehearsal);
    EXPECT_EQ(frm->Command1->text(), QStringLiteral("了解"));
    EXPECT_EQ(frm->windowTitle(), QStringLiteral("ヴァルネルドリン　体験プログラム"));
    EXPECT_TRUE(st.blnMainLoaded);
}

TEST_F(MainWindowLoad, FirstLoadWithTheRehearsalListShowsTheFirstScreen) {
    form().Show();
    EXPECT_TRUE(st.blnRehearsal);
    EXPECT_EQ(st.lngLaunchId, 0);
    EXPECT_EQ(st.strExamTitle, QStringLiteral("ヴァルネルドリンサンプル"));
    EXPECT_EQ(st.strTestCenter, QStringLiteral("ヴァルネ試験会場"));
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d{4}/\\d\\d/\\d\\d \\d\\d:\\d\\d$"))
                    .match(frm->test_start_time)
                    .hasMatch())
        << frm->test_start_time.toStdString();
    EXPECT_EQ(frm->test_start_time.left(10),
              QDateTime::currentDateTime().toString(QStringLiteral("yyyy/MM/dd")));

    ASSERT_FALSE(st.arrScreenHtml[2].isEmpty());
    EXPECT_EQ(pane->calls,
              QStringList({QStringLiteral("navigate about:blank"), QStringLiteral("write")}));
    EXPECT_EQ(pane->document, st.arrScreenHtml[2]);
    EXPECT_EQ(frm->Command1->text(), QStringLiteral("了解"));
    EXPECT_EQ(frm->windowTitle(), QStringLiteral("ヴァルネルドリン　体験プログラム"));
    EXPECT_TRUE(st.blnMainLoaded);
    EXPECT_TRUE(frm->isVisible());
    EXPECT_TRUE(frm->Timer1->isActive());
    EXPECT_EQ(frm->Timer1->interval(), 10);
    EXPECT_FALSE(frm->cmdPrint->isVisible());
    EXPECT_FALSE(frm->lblWaitMsg->isVisible());
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(MainWindowLoad, SecondLoadOnlyPlacesAndTitlesTheWindow) {
    form().Show();
    const AppState before = st;
    const QString started = frm->test_start_time;
    frm->blnResultPrinted = true;
    frm->Unload();
    EXPECT_FALSE(frm->isVisible());
    EXPECT_FALSE(frm->Timer1->isActive());
    EXPECT_FALSE(frm->isLoaded());

    // What a first load would read has changed; a second load must not look.
    st.arrLaunchArgs = BuildLaunchList(
        QStringLiteral("a,b,試験名 = other,d,e,試験機関名 = x,id=999"), QDateTime());
    QTemporaryDir empty;
    st.strDataPath = empty.path() + QLatin1Char('/');
    desktop.workArea = {0, 0, 800, 570};
    pane->calls.clear();
    frm->Show();

    EXPECT_EQ(st.blnRehearsal, before.blnRehearsal);
    EXPECT_EQ(st.lngLaunchId, before.lngLaunchId);
    EXPECT_EQ(st.strExamTitle, before.strExamTitle);
    EXPECT_EQ(st.strTestCenter, before.strTestCenter);
    EXPECT_EQ(st.arrScreenHtml, before.arrScreenHtml);
    EXPECT_EQ(frm->test_start_time, started);
    EXPECT_TRUE(frm->blnResultPrinted);
    EXPECT_TRUE(dialogs.shown.empty()) << "templates were read again";
    EXPECT_TRUE(pane->calls.isEmpty()) << pane->calls.join(QLatin1Char(',')).toStdString();

    EXPECT_EQ(frm->frameGeometry().size(), QSize(800, 570));
    EXPECT_EQ(frm->windowTitle(), QStringLiteral("ヴァルネルドリン　体験プログラム"));
    // The controls start again from their design state; end processing sets them.
    EXPECT_EQ(frm->Command1->text(), QStringLiteral("ログイン"));
    EXPECT_TRUE(frm->Timer1->isActive());
    EXPECT_TRUE(st.blnMainLoaded);
}

TEST_F(MainWindowLoad, FailedTemplateLoadKeepsTheDesignState) {
    QTemporaryDir empty;
    st.strDataPath = empty.path() + QLatin1Char('/');
    form().Show();

    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].kind, ShownDialog::Shipai);
    EXPECT_EQ(frm->windowTitle(), QStringLiteral("ヴァルネブレビク　模擬システム"));
    EXPECT_EQ(frm->Command1->text(), QStringLiteral("ログイン"));
    EXPECT_FALSE(st.blnMainLoaded);
    EXPECT_TRUE(pane->calls.isEmpty());
    // Launch values and the start time come before the templates.
    EXPECT_TRUE(st.blnRehearsal);
    EXPECT_FALSE(frm->test_start_time.isEmpty());
    EXPECT_TRUE(frm->isVisible());
}

TEST_F(MainWindowLoad, AbortInTheDataFileDialogEndsTheProgram) {
    QTemporaryDir empty;
    st.strDataPath = empty.path() + QLatin1Char('/');
    dialogs.answer({Answer::Abort});
    form().Show();

    EXPECT_FALSE(frm->isVisible());
    EXPECT_FALSE(frm->isLoaded());
    EXPECT_FALSE(frm->Timer1->isActive());
    EXPECT_TRUE(waitUntil([&] { return noWindowLeft > 0; }, 2000));
    yieldEvents();
    EXPECT_EQ(noWindowLeft, 1);
}

TEST_F(MainWindowLoad, ShortLaunchListSkipsTheMissingItems) {
    st.arrLaunchArgs = QStringList{QStringLiteral("TEST TYPE = 8"), QStringLiteral("x"),
                                   QStringLiteral("試験名 = 短い")};
    form().Show();
    EXPECT_EQ(st.strExamTitle, QStringLiteral("ヴァルネ短い"));
    EXPECT_TRUE(st.strTestCenter.isEmpty());
    EXPECT_FALSE(st.blnRehearsal);
    EXPECT_EQ(st.lngLaunchId, 0);
    EXPECT_EQ(frm->Command1->text(), QStringLiteral("了解"));
    EXPECT_TRUE(st.blnMainLoaded);
}

using MainWindowGeometry = MainFixture;

TEST_F(MainWindowGeometry, ScreenOf1024x768WithA30PixelTaskBar) {
    desktop.workArea = {0, 0, 1024, 738};
    form().Show();
    yieldEvents();
    EXPECT_EQ(frm->rcWorkArea, (WorkArea{0, 0, 1024, 738}));
    // Offscreen windows have no frame: outer and inner size agree.
    // The outer size counts: offscreen windows carry a thin frame. (This
    // platform keeps frames on the screen; the left edge is checked on X11.)
    EXPECT_EQ(frm->frameGeometry().size(), QSize(1024, 738));
    EXPECT_EQ(frm->frameGeometry().top(), 0);
    EXPECT_EQ(pane->widget()->geometry(), QRect(1, 2, frm->width(), 638));
    EXPECT_EQ(frm->Command1->geometry(), QRect(435, 650, 153, 45));
    EXPECT_EQ(frm->cmdPrint->pos(), QPoint(11, 650));
    EXPECT_EQ(frm->lblWaitMsg->pos(), QPoint(11, 657));
    EXPECT_EQ(frm->dummy->y(), -133);
    EXPECT_EQ(frm->Command1->size(), QSize(153, 45));
    EXPECT_EQ(frm->cmdPrint->size(), QSize(113, 41));
    EXPECT_EQ(frm->lblWaitMsg->size(), QSize(253, 33));
    EXPECT_EQ(frm->dummy->size(), QSize(89, 49));
}

TEST_F(MainWindowGeometry, ResizeRulesFollowTheWindowAndSkipARefusedOne) {
    form().Show();
    frm->resize(900, 500);
    yieldEvents();
    const QSize outer = frm->frameGeometry().size();
    EXPECT_EQ(pane->widget()->size(), QSize(900, outer.height() - 100));
    EXPECT_EQ(frm->Command1->pos(), QPoint((outer.width() - 153) / 2, outer.height() - 88));

    // Too low for the pane: its rule is refused, the others still run.
    frm->resize(900, 60);
    yieldEvents();
    const int low = frm->frameGeometry().height();
    ASSERT_LT(low, 100);
    EXPECT_EQ(pane->widget()->size(), QSize(900, outer.height() - 100));
    EXPECT_EQ(frm->Command1->y(), low - 88);
    EXPECT_EQ(frm->cmdPrint->y(), low - 88);
    EXPECT_EQ(frm->lblWaitMsg->y(), px(twips(low) - 1220));
}

TEST_F(MainWindowGeometry, NoWorkAreaReportedTakesTheScreensArea) {
    desktop.workArea = {};
    form().Show();
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_EQ(frm->rcWorkArea,
              (WorkArea{screen.left(), screen.top(), screen.right() + 1, screen.bottom() + 1}));
    EXPECT_GT(frm->width(), 0);
    EXPECT_EQ(frm->Command1->text(), QStringLiteral("了解"));
    EXPECT_TRUE(st.blnMainLoaded);
}

TEST_F(MainWindowGeometry, DesignAppearance) {
    frmMain& w = form();
    EXPECT_EQ(w.windowTitle(), QStringLiteral("ヴァルネブレビク　模擬システム"));
    EXPECT_EQ(w.palette().color(QPalette::Window), QColor(192, 192, 192));
    EXPECT_EQ(w.cmdPrint->palette().color(QPalette::Button), QColor(255, 192, 192));
    EXPECT_EQ(w.lblWaitMsg->palette().color(QPalette::Window), QColor(192, 192, 192));
    const struct {
        QWidget* control;
        QString text;
        qreal points;
        bool bold;
    } controls[] = {
        {w.Command1, QStringLiteral("ログイン"), 18, false},
        {w.cmdPrint, QStringLiteral("結果印刷"), 14.25, true},
        {w.lblWaitMsg, QStringLiteral("しばらくお待ちください..."), 18, false},
    };
    for (const auto& c : controls) {
        const QString text = c.control == w.lblWaitMsg
                                 ? w.lblWaitMsg->text()
                                 : static_cast<QPushButton*>(c.control)->text();
        EXPECT_EQ(text, c.text);
        EXPECT_EQ(c.control->font().family(), QStringLiteral("ＭＳ Ｐゴシック"));
        EXPECT_EQ(c.control->font().pointSizeF(), c.points);
        EXPECT_EQ(c.control->font().bold(), c.bold);
    }
    EXPECT_EQ(w.dummy->text(), QStringLiteral("Command2"));
}

using MainWindowLifecycle = MainFixture;

TEST_F(MainWindowLifecycle, TitleBarCloseUnloadsAndTheProgramEndsWithNoWindowLeft) {
    form().Show();
    frm->blnResultPrinted = true;
    QWidget other;
    other.show();
    frm->close();
    EXPECT_FALSE(frm->isVisible());
    EXPECT_FALSE(frm->isLoaded());
    EXPECT_FALSE(frm->Timer1->isActive());
    EXPECT_TRUE(frm->blnResultPrinted);

    // Another window keeps the program alive until it goes too.
    waitUntil([] { return false; }, 200);
    EXPECT_EQ(noWindowLeft, 0);
    other.hide();
    EXPECT_TRUE(waitUntil([&] { return noWindowLeft == 1; }, 2000));
}

TEST_F(MainWindowLifecycle, ShowingAgainCancelsTheEnd) {
    form().Show();
    frm->Unload();
    frm->Show();
    waitUntil([] { return false; }, 200);
    EXPECT_EQ(noWindowLeft, 0);
    EXPECT_TRUE(frm->isVisible());
}

// frmShipai's buttons act on the main window through the actions it registers.
TEST_F(MainWindowLifecycle, RegistersTheShipaiActionsWhileItLives) {
    form().Show();
    ASSERT_TRUE(st.svc.mainWindow.retry);
    ASSERT_TRUE(st.svc.mainWindow.abort);
    st.svc.mainWindow.abort();
    EXPECT_FALSE(frm->isVisible());
    EXPECT_FALSE(frm->isLoaded());
    frm.reset();
    EXPECT_FALSE(st.svc.mainWindow.retry);
    EXPECT_FALSE(st.svc.mainWindow.abort);
}

TEST_F(MainWindowLifecycle, RetryClearsTheLoginFieldsThatThePageHas) {
    struct Case {
        const char* name;
        QStringList present;
        QString focused;
    };
    const Case cases[] = {
        {"both", {"ExamID", "ExamPass"}, "ExamID"},
        {"no ExamID", {"ExamPass"}, ""},
        {"no ExamPass", {"ExamID"}, "ExamID"},
        {"neither", {}, ""},
    };
    form().Show();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        pane->elements.clear();
        pane->focused.clear();
        for (const QString& n : c.present)
            pane->elements[n] = {QStringLiteral("typed")};
        pane->elements[QStringLiteral("Other")] = {QStringLiteral("kept")};
        st.svc.mainWindow.retry();
        for (const QString& n : c.present)
            EXPECT_EQ(pane->elements[n], QStringList{QString()}) << n.toStdString();
        EXPECT_EQ(pane->elements[QStringLiteral("Other")], QStringList{QStringLiteral("kept")});
        EXPECT_EQ(pane->focused, c.focused);
        EXPECT_TRUE(frm->isLoaded());
    }
}

TEST_F(MainWindowLifecycle, HooksRunOnClickAndTick) {
    int clicks = 0, ticks = 0;
    form().onCommand1Click = [&] { ++clicks; };
    frm->onTimer1Tick = [&] { ++ticks; };
    frm->Show();
    frm->Command1->click();
    EXPECT_EQ(clicks, 1);
    EXPECT_TRUE(waitUntil([&] { return ticks >= 3; }, 2000));
    frm->Unload();
    const int stopped = ticks;
    waitUntil([] { return false; }, 100);
    EXPECT_EQ(ticks, stopped);
}

TEST_F(MainWindowLifecycle, ActivationPutsTheFocusOnDummy) {
    form().Show();
    frm->Command1->setFocus();
    frm->Form_Activate();
    EXPECT_EQ(frm->focusWidget(), frm->dummy);
}

} // namespace
} // namespace brevik::test
