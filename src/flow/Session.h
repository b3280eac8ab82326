#pragma once
// One examinee's run: the main window with its phase button, the exam screen
// while the exam runs, and the desktop guard that watches over both.
#include "app/AppState.h"
#include "exam/DesktopGuard.h"

#include <memory>

namespace brevik {

class frmKaikei;
class frmMain;

class Session {
public:
    explicit Session(AppState& st);
    ~Session();

    // Shows the main window (its first load) and lets pending events run once.
    void start();

    // The main button: its caption is the phase the examinee is in.
    void Command1_Click();

    frmMain& main() { return *main_; }
    // The exam screen while the exam runs, else nullptr.
    frmKaikei* exam() { return exam_.get(); }

private:
    void acknowledge();
    void registerExaminee();
    void prepareExamStart();
    void startExam();
    void finish();

    AppState& st;
    std::unique_ptr<frmMain> main_;
    std::unique_ptr<frmKaikei> exam_;
    DesktopGuard guard_;
    bool clickRunning_ = false;
};

// Deletes every plain file in the work folder (creating the folder when it is
// missing) and every plain index*.html file in the data folder. Symbolic
// links are never followed nor removed.
void DeleteWorkingFiles(const AppState& st);

} // namespace brevik
