#pragma once
// The main window: the pane wbMain with the phase button Command1 below it,
// the print button and the please-wait label. The object lives for the whole
// run; its on-screen window is unloaded while the exam runs and loaded again
// for the result.
#include "app/AppState.h"
#include "app/Defaults.h"
#include "platform/BrowserPane.h"
#include "platform/Desktop.h"

#include <QMargins>
#include <QRect>
#include <QString>
#include <QWidget>
#include <functional>
#include <memory>

class QLabel;
class QPushButton;
class QTimer;

namespace brevik {

// Command1's captions. The caption is the session's phase: the controller
// (flow/Session.cpp) reads it to know what a click does.
inline const QString kCaptionLogin = QStringLiteral("ログイン");     // design state
inline const QString kCaptionAcknowledge = QStringLiteral("了解");   // first screen
inline const QString kCaptionRegister = QStringLiteral("登録");      // registration form
inline const QString kCaptionExamStart = QStringLiteral("試験開始"); // exam-start screen
inline const QString kCaptionExamEnd = QStringLiteral("試験終了");   // result page

// Titles of the boxes that block the main window.
inline const QString kTitlePrintResult = QStringLiteral("結果印刷"); // cmdPrint's confirmation
inline const QString kTitleEndConfirm = QStringLiteral("終了確認");  // ending before printing

class frmMain : public QWidget {
    Q_OBJECT
public:
    explicit frmMain(AppState& st, QWidget* parent = nullptr);
    ~frmMain() override;

    // Loads the window if it is not loaded, then shows it modeless. Nothing is
    // shown when the load itself unloaded the window (the data-file dialog's
    // "中断").
    void Show();
    // Loads the window without showing it, as the first use of a control of
    // an unloaded window does. Does nothing while loaded.
    void Load();
    // Takes the window off the screen: Timer1 stops and the controls return
    // to their design state; the fields and the launch values stay. The
    // program ends once no window is left.
    void Unload();
    bool isLoaded() const { return loaded_; }
    // frmShipai's "やり直し": empties the login fields of the page and puts
    // the cursor in the first; a field the page lacks is skipped.
    void ClearLogin();

    // Event handlers; each runs as the window's own event would run it.
    void Form_Load();
    void Form_Resize();
    void Form_Activate();
    void cmdPrint_Click();
    void Timer1_Timer();

    // Hooks wired by the owner.
    std::function<void()> onCommand1Click; // the session flow controller
    std::function<void()> onTimer1Tick;    // the pre-exam desktop guard
    // Runs once when the window has been unloaded and no window is left.
    // Empty: the event loop is asked to quit (repeatedly, so that a request
    // made before the loop runs is not lost).
    std::function<void()> onNoWindowLeft;

    // Controls.
    std::unique_ptr<BrowserPane> wbMain;
    QPushButton* Command1 = nullptr;
    QPushButton* cmdPrint = nullptr;
    QLabel* lblWaitMsg = nullptr;
    QPushButton* dummy = nullptr;
    QTimer* Timer1 = nullptr;

    // Fields; they survive an unload.
    QString test_start_time;
    WorkArea rcWorkArea;
    bool blnResultPrinted = false;

    static QString designTitle() { return QStringLiteral("ヴァルネブレビク　模擬システム"); }
    static QString loadedTitle() { return ProgramTitle(); }

protected:
    void closeEvent(QCloseEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void changeEvent(QEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void moveEvent(QMoveEvent* e) override;

private:
    void setDesignState();
    void readLaunchValues();
    void place();
    // Places the window again once the window system reports a new frame.
    void followFrame();
    void watchForNoWindowLeft();

    AppState& st;
    bool loaded_ = false;
    QTimer* endWatch_ = nullptr;
    QTimer* frameWatch_ = nullptr;
    int frameChecks_ = 0;
    QMargins placedFrame_;
    QRect placedGeometry_;
    bool placing_ = false;
};

} // namespace brevik
