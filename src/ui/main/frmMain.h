#pragma once
// The main window: the pane wbMain with the phase button Command1 below it,
// the print button and the please-wait label. The object lives for the whole
// run; its on-screen window is unloaded while the exam runs and loaded again
// for the result.
#include "app/AppState.h"
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
    static QString loadedTitle() { return QStringLiteral("ヴァルネルドリン　体験プログラム"); }

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

// The launch id as a 32-bit number: the number at the start of the id text, a
// fraction rounded half to even, 0 when the text starts with no number.
// Throws std::overflow_error when the number does not fit in 32 bits.
qint32 LaunchIdNumber(const QString& idText);

} // namespace brevik
