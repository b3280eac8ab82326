#pragma once
// The exam screen: three question panes, the question selectors, the answer
// clock (Timer1) and the end button. Timer2 carries the in-exam guard.
#include "app/AppState.h"
#include "platform/BrowserPane.h"
#include "platform/Desktop.h"

#include <QColor>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>

class QLabel;
class QPushButton;
class QTimer;

namespace brevik {

// Titles of the boxes that block the exam screen: the end button's
// confirmation, and the notice that the time is up.
inline const QString kTitleEndExam = QStringLiteral("ヴァルネルドリン");
inline const QString kTitleTimeUp = QStringLiteral("解答時間終了");

class frmKaikei : public QWidget {
    Q_OBJECT
public:
    explicit frmKaikei(AppState& st, QWidget* parent = nullptr);
    ~frmKaikei() override;

    // Loads the screen (once per unload) and shows it modeless.
    void Show();

    // Event handlers; each runs as the window's own event would run it.
    void Form_Load();
    void Form_Activate();
    void Form_Resize();
    void cmdMondai_Click(int Index);
    void Command1_Click();
    void Timer1_Timer(); // answer clock
    void Timer2_Timer(); // in-exam guard: runs onTimer2Tick

    bool isLoaded() const { return loaded_; }

    // Hooks wired by the owner: the guard's tick body and end processing.
    std::function<void()> onTimer2Tick;
    std::function<void()> end_syori;

    // Controls.
    std::unique_ptr<BrowserPane> wbQuestion, wbQuestion2, wbQuestion3;
    std::array<QPushButton*, 3> cmdMondai{};
    QPushButton* Command1 = nullptr;
    QLabel* lblRemaining = nullptr;
    QLabel* lblWaitMsg = nullptr;
    QTimer* Timer1 = nullptr;
    QTimer* Timer2 = nullptr;

    // Window variables.
    WorkArea rcWorkArea;
    qint16 intPaneMargin = 0;      // twips
    qint16 intCurrentQuestion = 0; // 0..2
    qint64 lngStartTick = 0;       // ms on the desktop's monotonic tick
    qint16 intRemaining = 0;       // seconds
    bool blnBlockUnload = false;

    // Face colours of the question selectors.
    static QColor selectedColour() { return QColor(255, 128, 128); }
    static QColor buttonFaceColour();

protected:
    void closeEvent(QCloseEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void changeEvent(QEvent* e) override;

private:
    BrowserPane* pane(int index) const;
    void setSelectorColour(int index, const QColor& c);
    // Pane height for the current window height: never below 0.
    int paneHeight() const;
    void stopTimers();
    void startTimers();

    AppState& st;
    bool loaded_ = false;
};

// "残り時間：m:ss" for a number of seconds.
QString remainingTimeText(int seconds);

} // namespace brevik
