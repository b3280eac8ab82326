#include "results/EndProcessing.h"

#include "exam/frmKaikei.h"
#include "net/ResultSubmission.h"
#include "platform/EndSignals.h"
#include "platform/Errors.h"
#include "platform/Yield.h"
#include "results/ResultPage.h"
#include "ui/main/frmMain.h"

#include <QLabel>
#include <QPushButton>

namespace brevik {

void end_syori(AppState& st, frmKaikei& exam, frmMain& main) {
    if (st.blnExamEnded)
        return;
    st.blnExamEnded = true;
    // From here the result is finished: an end signal (SIGTERM, ...) is acted
    // on only once it is on disk, before the first attempt to send it.
    EndSignals::Hold hold;

    step([&] { exam.lblRemaining->hide(); });
    step([&] { exam.Command1->hide(); });
    step([&] { exam.lblWaitMsg->show(); });
    yieldEvents();

    bool blnPass = false;
    QString strResultHtml;
    step([&] { strResultHtml = BuildResultPage(st, main.test_start_time, blnPass); });

    if (!st.blnRehearsal)
        step([&] { RunSubmissionLoop(st, st.intSelectPointA, blnPass, [&] { hold.release(); }); });
    hold.release();
    yieldEvents();

    // The main window comes back: its later load only places it and sets its title.
    step([&] { main.Load(); });
    step([&] { main.wbMain->Navigate2(QStringLiteral("about:blank")); });
    yieldEvents();
    step([&] { main.wbMain->Refresh(); });
    yieldEvents();
    step([&] { main.Command1->setText(kCaptionExamEnd); });
    step([&] { main.cmdPrint->setVisible(true); });
    step([&] { main.wbMain->Write(strResultHtml); });
    yieldEvents();
    step([&] { st.svc.desktop->SetTopmostAt(&main, 0, 0); });
    step([&] { main.Show(); });

    step([&] { exam.close(); });
}

} // namespace brevik
