#include "ui/main/frmMain.h"

#include "app/LaunchArgs.h"
#include "content/ContentStore.h"
#include "platform/DialogHost.h"
#include "platform/Errors.h"
#include "platform/ScreenFont.h"
#include "platform/Twips.h"
#include "platform/Yield.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <cstdio>
#include <stdexcept>

namespace brevik {

namespace {

const QColor kGrey(192, 192, 192);

void setBackground(QWidget* w, QPalette::ColorRole role, const QColor& c) {
    QPalette p = w->palette();
    p.setColor(role, c);
    w->setPalette(p);
    w->setAutoFillBackground(true);
}

// Outer (frame) margins as far as the window system has reported them.
QMargins frameOf(const QWidget* w) {
    const QRect f = w->frameGeometry(), g = w->geometry();
    return {g.left() - f.left(), g.top() - f.top(), f.right() - g.right(), f.bottom() - g.bottom()};
}

} // namespace

frmMain::frmMain(AppState& state, QWidget* parent) : QWidget(parent), st(state) {
    setObjectName(QStringLiteral("frmMain"));
    setBackground(this, QPalette::Window, kGrey);
    resize(885, 520);

    wbMain = st.svc.makePane(this);
    wbMain->widget()->setGeometry(1, 2, 881, 409);

    Command1 = new QPushButton(this);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->resize(153, 45);
    Command1->setFont(ScreenFont(kPGothic, 18));

    cmdPrint = new QPushButton(QStringLiteral("結果印刷"), this);
    cmdPrint->setObjectName(QStringLiteral("cmdPrint"));
    cmdPrint->resize(113, 41);
    cmdPrint->setFont(ScreenFont(kPGothic, 14.25, true));
    setBackground(cmdPrint, QPalette::Button, QColor(255, 192, 192));

    lblWaitMsg = new QLabel(QStringLiteral("しばらくお待ちください..."), this);
    lblWaitMsg->setObjectName(QStringLiteral("lblWaitMsg"));
    lblWaitMsg->resize(253, 33);
    lblWaitMsg->setFont(ScreenFont(kPGothic, 18));
    setBackground(lblWaitMsg, QPalette::Window, kGrey);

    dummy = new QPushButton(QStringLiteral("Command2"), this);
    dummy->setObjectName(QStringLiteral("dummy"));
    dummy->resize(89, 49);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(10);

    connect(Command1, &QPushButton::clicked, this, [this] {
        if (onCommand1Click)
            onCommand1Click();
    });
    connect(cmdPrint, &QPushButton::clicked, this, &frmMain::cmdPrint_Click);
    connect(Timer1, &QTimer::timeout, this, &frmMain::Timer1_Timer);

    frameWatch_ = new QTimer(this);
    frameWatch_->setInterval(50);
    connect(frameWatch_, &QTimer::timeout, this, [this] {
        followFrame();
        if (++frameChecks_ >= 40)
            frameWatch_->stop();
    });

    // What frmShipai's buttons do, wherever the dialog is shown from.
    st.svc.mainWindow = {[this] { ClearLogin(); }, [this] { Unload(); }};
    setDesignState();
}

frmMain::~frmMain() {
    st.svc.mainWindow = {};
}

void frmMain::ClearLogin() {
    step([&] { wbMain->SetValue(QStringLiteral("ExamID"), QString()); });
    step([&] { wbMain->SetValue(QStringLiteral("ExamPass"), QString()); });
    step([&] { wbMain->Focus(QStringLiteral("ExamID")); });
}

void frmMain::setDesignState() {
    setWindowTitle(designTitle());
    Command1->setText(kCaptionLogin);
    cmdPrint->setVisible(false);
    cmdPrint->setEnabled(true);
    lblWaitMsg->setVisible(false);
}

void frmMain::Show() {
    Load();
    if (!loaded_)
        return;
    show();
    activateWindow();
}

void frmMain::Load() {
    if (loaded_)
        return;
    loaded_ = true;
    if (endWatch_)
        endWatch_->stop();
    Form_Load();
}

void frmMain::Unload() {
    if (!loaded_)
        return;
    loaded_ = false;
    Timer1->stop();
    frameWatch_->stop();
    hide();
    // A loaded window starts from its design state with an empty pane.
    step([&] { wbMain->Navigate2(QStringLiteral("about:blank")); });
    // Off the screen the pane needs no renderer: the exam's panes get the memory.
    step([&] { wbMain->releaseRenderer(); });
    // The window system's window goes too, with its pixels; showing the window
    // again makes a new one.
    destroy();
    setDesignState();
    watchForNoWindowLeft();
}

void frmMain::watchForNoWindowLeft() {
    if (!endWatch_) {
        endWatch_ = new QTimer(this);
        endWatch_->setInterval(50);
        connect(qApp, &QCoreApplication::aboutToQuit, endWatch_, &QTimer::stop);
        connect(endWatch_, &QTimer::timeout, this, [this] {
            if (loaded_) {
                endWatch_->stop();
                return;
            }
            for (const QWidget* w : QApplication::topLevelWidgets())
                if (w->isVisible())
                    return;
            if (onNoWindowLeft) {
                endWatch_->stop();
                onNoWindowLeft();
                return;
            }
            // quit() is ignored while no event loop runs (say, a load that
            // ended the program during start-up): ask again until it runs.
            QCoreApplication::quit();
        });
    }
    endWatch_->start();
}

void frmMain::Form_Load() {
    Timer1->start();
    step([&] { rcWorkArea = WorkAreaOrScreen(*st.svc.desktop); });
    place();

    if (!st.blnMainLoaded) {
        readLaunchValues();
        step([&] { test_start_time = MinuteStamp(QDateTime::currentDateTime()); });
        bool templates = false;
        step([&] { templates = LoadScreenTemplates(st); });
        // The data-file dialog has been shown: the window keeps its design state.
        if (!templates)
            return;
        step([&] { wbMain->Navigate2(QStringLiteral("about:blank")); });
        yieldEvents();
        step([&] { wbMain->Write(st.arrScreenHtml[2]); });
        Command1->setText(kCaptionAcknowledge);
    }
    setWindowTitle(loadedTitle());
    st.blnMainLoaded = true;
}

void frmMain::readLaunchValues() {
    if (st.arrLaunchArgs.size() < 7)
        std::fprintf(stderr,
                     "brevik: the launch list has %d items instead of 7; launch values that "
                     "need the missing items keep their defaults\n",
                     int(st.arrLaunchArgs.size()));
    auto item = [&](int index) {
        if (index >= st.arrLaunchArgs.size())
            throw std::out_of_range("launch item " + std::to_string(index) + " is missing");
        return st.arrLaunchArgs.at(index);
    };
    QString idText;
    step([&] { idText = Mid(item(6), 4, 20); });
    step([&] { st.blnRehearsal = idText.toLower() == QStringLiteral("rehearsal"); });
    step([&] { st.lngLaunchId = LaunchIdNumber(idText); });
    step([&] { st.strExamTitle = QStringLiteral("ヴァルネ") + Mid(item(2), 7, 100); });
    step([&] { st.strTestCenter = Mid(item(5), 9, 100); });
}

void frmMain::place() {
    // Height and width are the outer size: the frame counts, as far as the
    // window system has reported it. The inner geometry is set, so that no
    // platform has to guess where the frame goes.
    placing_ = true;
    placedFrame_ = frameOf(this);
    auto outer = [&](auto change) {
        const QMargins m = frameOf(this);
        QRect r = frameGeometry();
        change(r);
        if (r.height() < m.top() + m.bottom() || r.width() < m.left() + m.right())
            throw DesktopError(QStringLiteral("window smaller than its frame"));
        setGeometry(r.marginsRemoved(m));
    };
    step([&] { outer([&](QRect& r) { r.setHeight(rcWorkArea.bottom - rcWorkArea.top); }); });
    step([&] { outer([](QRect& r) { r.moveLeft(-2); }); });
    step([&] { outer([](QRect& r) { r.moveTop(0); }); });
    step([&] { outer([&](QRect& r) { r.setWidth(rcWorkArea.right - rcWorkArea.left); }); });
    placing_ = false;
    placedGeometry_ = geometry();
    Form_Resize();
}

void frmMain::followFrame() {
    // A window moved since (end processing puts it at 0,0) stays where it was put.
    if (loaded_ && !placing_ && isVisible() && frameOf(this) != placedFrame_ &&
        geometry() == placedGeometry_)
        place();
}

void frmMain::Form_Resize() {
    const int outerH = twips(frameGeometry().height());
    const int outerW = twips(frameGeometry().width());
    step([&] {
        const int h = px(outerH - 1500);
        if (h < 0)
            throw PaneError(QStringLiteral("no room for the pane"));
        QWidget* w = wbMain->widget();
        w->setGeometry(w->x(), w->y(), width(), h);
    });
    step([&] { Command1->move(px((outerW - twips(Command1->width())) / 2), px(outerH - 1320)); });
    step([&] { cmdPrint->move(px(160), px(outerH - 1320)); });
    step([&] { lblWaitMsg->move(px(160), px(outerH - 1220)); });
    step([&] { dummy->move(dummy->x(), px(-2000)); });
}

void frmMain::Form_Activate() {
    step([&] { dummy->setFocus(Qt::ActiveWindowFocusReason); });
}

void frmMain::cmdPrint_Click() {
    cmdPrint->setEnabled(false);
    MsgAnswer answer = MsgAnswer::No;
    step([&] {
        answer = st.svc.dialogs->message(Confirmation(
            kTitlePrintResult, QStringLiteral("試験結果を印刷します。\r\n\r\nよろしいですか")));
    });
    if (answer != MsgAnswer::Yes) {
        step([&] { cmdPrint->setEnabled(true); });
        return;
    }
    step([&] { wbMain->Print(); });
    // Printing counts as requested whatever the print dialog's outcome.
    blnResultPrinted = true;
    step([&] { cmdPrint->setEnabled(true); });
}

void frmMain::Timer1_Timer() {
    if (onTimer1Tick)
        onTimer1Tick();
}

void frmMain::closeEvent(QCloseEvent* e) {
    e->accept();
    Unload();
}

void frmMain::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    Form_Resize();
    followFrame();
}

void frmMain::moveEvent(QMoveEvent* e) {
    QWidget::moveEvent(e);
    followFrame();
}

void frmMain::showEvent(QShowEvent* e) {
    QWidget::showEvent(e);
    Form_Resize();
    // A window manager frames the window some time after it is mapped, and
    // the new frame arrives without an event of its own: look for a while.
    frameChecks_ = 0;
    frameWatch_->start();
    followFrame();
}

void frmMain::changeEvent(QEvent* e) {
    QWidget::changeEvent(e);
    if (e->type() == QEvent::ActivationChange && isActiveWindow())
        Form_Activate();
}

} // namespace brevik
