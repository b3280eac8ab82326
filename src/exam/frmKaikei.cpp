#include "exam/frmKaikei.h"

#include "app/Defaults.h"
#include "platform/DialogHost.h"
#include "platform/Errors.h"
#include "platform/ScreenFont.h"
#include "platform/Twips.h"
#include "platform/Yield.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <limits>

namespace brevik {

namespace {

// Design geometry, twips.
constexpr int kSelectorWidthTw = 1900;
constexpr int kSelectorHeightTw = 615;
constexpr int kSelectorGapTw = 100;
constexpr int kSelectorFromBottomTw = 950;
constexpr int kPaneMarginTw = 1060;
constexpr int kPaneHiddenLeftTw = -10000;
constexpr int kPaneTinyTw = 10;
constexpr int kWaitMsgMinLeftTw = 60;

const QColor kBackColour(0, 64, 64);

} // namespace

QString remainingTimeText(int seconds) {
    const int minutes = seconds / 60;
    return QStringLiteral("残り時間：%1:%2")
        .arg(minutes)
        .arg(seconds - 60 * minutes, 2, 10, QLatin1Char('0'));
}

QColor frmKaikei::buttonFaceColour() {
    return QApplication::palette().color(QPalette::Button);
}

frmKaikei::frmKaikei(AppState& state, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint), st(state) {
    // Topmost from its creation: Qt would make a new X window (with a new
    // title) when the flag changed before the window is shown.
    setWindowTitle(QString());
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, kBackColour);
    setPalette(pal);
    resize(905, 616);

    // Panes first, so the buttons and labels stack above them.
    auto makePane = [&](std::unique_ptr<BrowserPane>& p) {
        p = st.svc.makePane(this);
        p->widget()->setGeometry(px(kPaneHiddenLeftTw), 0, 905, 616 - px(kPaneMarginTw));
    };
    makePane(wbQuestion);
    makePane(wbQuestion2);
    makePane(wbQuestion3);

    const QFont selectorFont = ScreenFont(kPGothic, 18, true);
    static const char* const captions[3] = {"第１問", "第２問", "第３問"};
    for (int i = 0; i < 3; ++i) {
        auto* b = new QPushButton(QString::fromUtf8(captions[i]), this);
        b->setFont(selectorFont);
        b->resize(px(kSelectorWidthTw), px(kSelectorHeightTw));
        cmdMondai[i] = b;
        setSelectorColour(i, i == 0 ? selectedColour() : buttonFaceColour());
        connect(b, &QPushButton::clicked, this, [this, i] { cmdMondai_Click(i); });
    }

    Command1 = new QPushButton(QStringLiteral("試験終了"), this);
    Command1->setFont(ScreenFont(kGothic, 12, true));
    Command1->resize(89, 33);
    connect(Command1, &QPushButton::clicked, this, [this] { Command1_Click(); });

    lblRemaining = new QLabel(QStringLiteral("残り時間：30:00"), this);
    lblRemaining->setFont(ScreenFont(kGothic, 15.75, true));
    lblRemaining->resize(201, 27);
    QPalette white = lblRemaining->palette();
    white.setColor(QPalette::WindowText, Qt::white);
    lblRemaining->setPalette(white);

    lblWaitMsg = new QLabel(QStringLiteral("しばらくお待ちください..."), this);
    lblWaitMsg->setFont(ScreenFont(kPGothic, 18));
    lblWaitMsg->resize(245, 29);
    lblWaitMsg->setAutoFillBackground(true);
    white.setColor(QPalette::Window, kBackColour);
    lblWaitMsg->setPalette(white);
    lblWaitMsg->hide();

    setTabOrder(Command1, wbQuestion->widget());
    setTabOrder(wbQuestion->widget(), cmdMondai[0]);
    setTabOrder(cmdMondai[0], cmdMondai[1]);
    setTabOrder(cmdMondai[1], wbQuestion2->widget());
    setTabOrder(wbQuestion2->widget(), wbQuestion3->widget());
    setTabOrder(wbQuestion3->widget(), cmdMondai[2]);

    Timer1 = new QTimer(this);
    Timer1->setInterval(10);
    connect(Timer1, &QTimer::timeout, this, [this] { Timer1_Timer(); });
    Timer2 = new QTimer(this);
    Timer2->setInterval(10);
    connect(Timer2, &QTimer::timeout, this, [this] { Timer2_Timer(); });
    Timer2->start();
}

frmKaikei::~frmKaikei() = default;

BrowserPane* frmKaikei::pane(int index) const {
    switch (index) {
    case 0:
        return wbQuestion.get();
    case 1:
        return wbQuestion2.get();
    default:
        return wbQuestion3.get();
    }
}

void frmKaikei::setSelectorColour(int index, const QColor& c) {
    QPalette p = cmdMondai[index]->palette();
    p.setColor(QPalette::Button, c);
    cmdMondai[index]->setPalette(p);
}

int frmKaikei::paneHeight() const {
    // A window shorter than the margin leaves no room: the pane gets height 0.
    return std::max(0, px(twips(height()) - intPaneMargin));
}

void frmKaikei::stopTimers() {
    Timer1->stop();
    Timer2->stop();
}

void frmKaikei::startTimers() {
    Timer1->start();
    Timer2->start();
}

void frmKaikei::Show() {
    // The window exists before its load, so that no window list ever sees a title.
    winId();
    step([&] { st.svc.desktop->ClearTitle(this); });
    if (!loaded_)
        Form_Load();
    // The first control in the tab order has the keyboard when the screen appears.
    step([&] { Command1->setFocus(Qt::TabFocusReason); });
    show();
    raise();
    activateWindow();
}

void frmKaikei::Form_Load() {
    loaded_ = true;
    if (st.blnExamEnded)
        return;
    rcWorkArea = WorkAreaOrScreen(*st.svc.desktop);
    intPaneMargin = kPaneMarginTw;

    auto placeSelectors = [&] {
        for (int i = 0; i < 3; ++i)
            cmdMondai[i]->move(px(kSelectorGapTw + i * (kSelectorWidthTw + kSelectorGapTw)),
                               px(twips(height()) - kSelectorFromBottomTw));
    };
    step([&] { resize(rcWorkArea.right - rcWorkArea.left, rcWorkArea.bottom - rcWorkArea.top); });
    step(placeSelectors);
    st.intTimeLimit = 2400;
    step([&] { lngStartTick = st.svc.desktop->GetTickCount(); });
    blnBlockUnload = true;

    const QString files[kQuestionFiles] = {QuestionFile(0), QuestionFile(1), QuestionFile(2)};
    for (int i = 0; i < 3; ++i) {
        BrowserPane* p = pane(i);
        step([&] { p->Navigate2(st.strDataPath + files[i]); });
        yieldEvents();
        step([&] { p->widget()->move(0, p->widget()->y()); });
        if (i == 1)
            step([&] { p->widget()->hide(); });
        if (i == 2) {
            step([&] { p->widget()->show(); });
            yieldEvents();
            step([&] { p->widget()->hide(); });
        }
    }
    intCurrentQuestion = 0;
    yieldEvents();
    step([&] { Timer1->start(); });
    yieldEvents();
    step([&] { st.svc.desktop->SetTopmost(this, true); });
}

void frmKaikei::Form_Activate() {
    wbQuestion->widget()->resize(width(), paneHeight());
}

void frmKaikei::Form_Resize() {
    const int selectorTop = px(twips(height()) - kSelectorFromBottomTw);
    for (int i = 0; i < 3; ++i)
        step([&] {
            cmdMondai[i]->move(px(kSelectorGapTw + i * (kSelectorWidthTw + kSelectorGapTw)),
                               selectorTop);
        });
    step([&] {
        resize(rcWorkArea.right - rcWorkArea.left, rcWorkArea.bottom - rcWorkArea.top);
        move(-1, -1);
    });
    const int w = twips(width()), h = twips(height());
    step([&] { Command1->move(px(w - 1800), px(h - 900)); });
    step([&] { lblRemaining->move(px((w - twips(lblRemaining->width())) / 2), px(h - 840)); });
    step([&] {
        const int left = std::max((w - twips(lblWaitMsg->width())) / 2, kWaitMsgMinLeftTw);
        lblWaitMsg->move(px(left), px(h - 870));
    });
}

void frmKaikei::cmdMondai_Click(int Index) {
    setSelectorColour(intCurrentQuestion, buttonFaceColour());
    setSelectorColour(Index, selectedColour());

    QWidget* const p1 = wbQuestion->widget();
    QWidget* const p2 = wbQuestion2->widget();
    QWidget* const p3 = wbQuestion3->widget();
    const int tiny = px(kPaneTinyTw);
    switch (Index) {
    case 0:
        p1->resize(width(), paneHeight());
        yieldEvents();
        p1->show();
        p2->hide();
        p3->hide();
        break;
    case 1:
        p2->resize(tiny, tiny);
        yieldEvents();
        p2->resize(width(), paneHeight());
        yieldEvents();
        p2->show();
        p1->hide();
        p3->hide();
        break;
    case 2:
        p3->resize(tiny, tiny);
        yieldEvents();
        p3->resize(width(), paneHeight());
        p3->show();
        p1->hide();
        p2->hide();
        yieldEvents();
        p3->hide();
        yieldEvents();
        p3->show();
        break;
    default:
        return;
    }
    yieldEvents();
    intCurrentQuestion = static_cast<qint16>(Index);
}

void frmKaikei::Timer1_Timer() {
    Desktop& desk = *st.svc.desktop;
    step([&] {
        if (lngStartTick == 0)
            lngStartTick = desk.GetTickCount();
    });
    // Measured against the start tick, never against the number of ticks;
    // rint rounds half to even. After hours away (a suspended machine) the
    // value is held at the bottom of its range so the time is still up.
    step([&] {
        const double left =
            std::rint(st.intTimeLimit - double(desk.GetTickCount() - lngStartTick) / 1000.0);
        intRemaining = static_cast<qint16>(std::clamp<double>(
            left, std::numeric_limits<qint16>::min(), std::numeric_limits<qint16>::max()));
    });
    if (intRemaining >= 0) {
        step([&] { lblRemaining->setText(remainingTimeText(intRemaining)); });
        return;
    }

    step([&] { stopTimers(); });
    step([&] { Command1->setEnabled(false); });
    step([&] { desk.SetTopmost(this, false); });
    const MessageBoxSpec box =
        Confirmation(kTitleTimeUp,
                     QStringLiteral("【注意】\r\n\r\n解答時間が終了しました。\r\n\r\n"
                                    "採点中はキーボードならびにマウスを\r\n\r\n"
                                    "操作しないでください。"),
                     MsgIcon::Exclamation, true);
    MsgAnswer answer = MsgAnswer::No;
    step([&] { answer = st.svc.dialogs->message(box); });
    if (answer == MsgAnswer::Yes) {
        intRemaining = 0;
        blnBlockUnload = false;
        step([&] {
            if (end_syori)
                end_syori();
        });
        return;
    }
    // Back to the exam: the next tick finds the time still up and asks again.
    step([&] { startTimers(); });
    step([&] { Command1->setEnabled(true); });
    step([&] { desk.SetTopmost(this, true); });
}

void frmKaikei::Timer2_Timer() {
    if (onTimer2Tick)
        onTimer2Tick();
}

void frmKaikei::Command1_Click() {
    Command1->setEnabled(false);
    stopTimers();
    st.svc.desktop->SetTopmost(this, false);
    const MsgAnswer answer = st.svc.dialogs->message(
        Confirmation(kTitleEndExam,
                     QStringLiteral("試験を終了してもよろしいですか？\r\n\r\n"
                                    "よろしければ「はい」をクリックしてください。"),
                     MsgIcon::Exclamation));
    st.svc.desktop->wait_ms(500);
    if (answer == MsgAnswer::Yes) {
        stopTimers();
        blnBlockUnload = false;
        if (end_syori)
            end_syori();
        return;
    }
    st.svc.desktop->SetTopmost(this, true);
    Command1->setEnabled(true);
    startTimers();
}

void frmKaikei::closeEvent(QCloseEvent* e) {
    if (blnBlockUnload) {
        e->ignore();
        return;
    }
    loaded_ = false;
    e->accept();
}

void frmKaikei::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    Form_Resize();
}

void frmKaikei::changeEvent(QEvent* e) {
    QWidget::changeEvent(e);
    if (e->type() == QEvent::ActivationChange && isActiveWindow())
        Form_Activate();
}

} // namespace brevik
