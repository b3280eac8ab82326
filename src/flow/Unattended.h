#pragma once
// An unattended run through the real windows, dialogs and web engine: the
// program answers the dialogs itself, saves a picture of every screen and
// dialog, prints the result to a PDF file and writes a report. Exam staff use
// it to check a PC; a trial run does the same against a real exam server.
#include "ui/dialogs/QtDialogHost.h"

#include <QElapsedTimer>
#include <QPoint>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

class QAbstractButton;
class QDialog;
class QWidget;

namespace brevik {

struct AppState;
class BrowserPane;
class Session;
class XTestDriver;

// The program's dialog host. In an unattended run the print goes to the
// run's PDF file: without a dialog, or (showPrintDialog) through the real
// dialog answered like any other, so that no paper is printed either way.
class UnattendedDialogHost : public QtDialogHost {
public:
    QString pdfPath;
    bool showPrintDialog = false;
    bool printDialog(QPrinter& printer) override;
};

class UnattendedRun {
public:
    UnattendedRun(AppState& st, UnattendedDialogHost& dialogs, const QString& dir);
    ~UnattendedRun();

    // Where the run writes; false (with the reason on stderr) when it cannot.
    bool prepare();
    // Starts the script once the event loop runs.
    void begin(Session& session);
    // Records the last checks, writes report.txt and returns the exit code:
    // 0 only when every step passed. why: a reason the run stopped early.
    int finish(const QString& why = {});
    // Ends the program with finish()'s exit code; set by the program.
    std::function<void(int)> exitProgram;

private:
    void script();
    void end(const QString& why = {});
    void onDialog(QDialog* dialog);
    bool check(const QString& step, bool ok, const QString& reason = {});
    void snap(QWidget* window, const QString& name);
    void settle(int ms);
    void checkEnvironment();
    // Every image of the page in pane has been loaded; the count goes into the report.
    void checkImages(BrowserPane* pane, const QString& name);
    // A named point of the run (see BREVIK_TEST_HOLD in Unattended.cpp).
    void checkpoint(const QString& name);
    // As the examinee presses a button: at a display with a window manager a
    // real click where the button is seen, else QAbstractButton::click().
    void press(QAbstractButton* button);
    // Presses button, then lets the program work until done() holds.
    bool pressAndWait(QAbstractButton* button, const std::function<bool()>& done,
                      int timeoutMs = 60000);
    // Where a point of w is on the screen, as the X server has the window.
    QPoint onScreen(QWidget* w, QPoint local);
    // With real input: the dialog is above the window it blocks and has the keyboard.
    void checkAnswerable(QDialog* dialog);

    AppState& st;
    UnattendedDialogHost& dialogs_;
    Session* session_ = nullptr;
    QString dir_;
    QStringList report_;
    QElapsedTimer clock_;
    qint64 stepStart_ = 0;
    int pictures_ = 0;
    int failures_ = 0;
    int retries_ = 0;
    bool finished_ = false;
    QString holdAt_;                      // null: no test looks at the run
    std::unique_ptr<XTestDriver> person_; // real input; null without a window manager
};

} // namespace brevik
