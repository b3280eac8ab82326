#include "flow/Session.h"

#include "app/Defaults.h"
#include "app/HeapMemory.h"
#include "app/WorkFolders.h"
#include "content/ContentStore.h"
#include "exam/frmKaikei.h"
#include "flow/FormCheck.h"
#include "net/Registration.h"
#include "platform/DialogHost.h"
#include "platform/Errors.h"
#include "platform/Yield.h"
#include "results/EndProcessing.h"
#include "ui/main/frmMain.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

namespace brevik {

namespace {
void deletePlainFiles(const QString& folder, const QStringList& patterns) {
    QDir dir(folder);
    const auto names =
        dir.entryList(patterns, QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks);
    for (const QString& name : names)
        step([&] {
            if (!QFile::remove(dir.filePath(name)))
                throw PlatformError(QStringLiteral("cannot delete ") + dir.filePath(name));
        });
}
} // namespace

void DeleteWorkingFiles(const AppState& st) {
    // A work folder that is not ours (a link, another user's) is left alone;
    // a folder not yet known (an end during start-up) is no folder at all,
    // never the current one.
    if (!st.strWorkPath.isEmpty() && step([&] { EnsurePrivateFolder(st.strWorkPath); }))
        deletePlainFiles(st.strWorkPath, {QStringLiteral("*")});
    if (!st.strDataPath.isEmpty())
        deletePlainFiles(st.strDataPath, {QuestionFilePattern()});
}

Session::Session(AppState& state)
    : st(state), main_(std::make_unique<frmMain>(state)), guard_(*state.svc.desktop) {
    main_->onCommand1Click = [this] { Command1_Click(); };
    main_->onTimer1Tick = [this] { guard_.PreExamTick(); };
}

Session::~Session() = default;

void Session::start() {
    main_->Show();
    yieldEvents();
}

void Session::Command1_Click() {
    // A click that arrives while a phase step yields is dropped: the step in
    // progress owns the window until it returns.
    if (clickRunning_)
        return;
    clickRunning_ = true;
    const QString caption = main_->Command1->text();
    if (caption == kCaptionAcknowledge)
        acknowledge();
    else if (caption == kCaptionRegister)
        registerExaminee();
    else if (caption == kCaptionExamStart)
        startExam();
    else if (caption == kCaptionExamEnd)
        finish();
    clickRunning_ = false;
}

void Session::acknowledge() {
    BrowserPane& pane = *main_->wbMain;
    step([&] { pane.Navigate2(QStringLiteral("about:blank")); });
    step([&] { pane.Refresh(); });
    yieldEvents();
    main_->Command1->setText(kCaptionRegister);
    step([&] { pane.Write(st.arrScreenHtml[3]); });
    yieldEvents();
    step([&] { pane.Focus(QStringLiteral("KanjiFamilyName")); });
    yieldEvents();
}

void Session::registerExaminee() {
    bool passed = false;
    step([&] { passed = RunFormCheck(st, *main_->wbMain); });
    if (!passed)
        return;

    const ExamineeRecord& r = st.rec;
    const UserInfoTexts texts{r.strKanjiName + QStringLiteral("\r\n") + r.strKanaName +
                                  QStringLiteral("\r\n") + r.strRomaName,
                              r.strSex,
                              r.strJob,
                              r.strPurpose,
                              r.strBirthday,
                              r.strEmail,
                              r.strZip,
                              r.strState + r.strCity + r.strAddress1,
                              r.strAddress2,
                              r.strTel};
    // Only a "登録" of this showing registers: closing the window is no
    // confirmation, whatever an earlier press answered.
    st.intDlgResult = false;
    step([&] {
        if (const std::optional<bool> answer = st.svc.dialogs->frmUserInfo(texts))
            st.intDlgResult = *answer;
    });
    if (!st.intDlgResult)
        return;

    QString query;
    step([&] { query = BuildRegisterQuery(st); });
    if (!st.blnRehearsal) {
        RegisterOutcome outcome = RegisterOutcome::ConnectionFailure;
        step([&] { outcome = SendRegistration(st, query); });
        if (outcome != RegisterOutcome::Accepted)
            return;
    }
    prepareExamStart();
}

void Session::prepareExamStart() {
    BrowserPane& pane = *main_->wbMain;
    step([&] { WriteQuestionFiles(st); });
    step([&] { pane.Navigate2(QStringLiteral("about:blank")); });
    step([&] { pane.Refresh(); });
    yieldEvents();
    main_->Command1->setText(kCaptionExamStart);
    st.arrScreenHtml[5].replace(QStringLiteral("30分間"), QStringLiteral("40分間"));
    step([&] { pane.Write(st.arrScreenHtml[5]); });
    yieldEvents();
}

void Session::startExam() {
    step([&] { main_->lblWaitMsg->show(); });
    yieldEvents();
    if (st.svc.checkpoint)
        st.svc.checkpoint("exam-start-wait");
    step([&] { st.svc.desktop->wait_ms(3000); });
    step([&] { main_->Timer1->stop(); });
    st.blnExamEnded = false;

    exam_ = std::make_unique<frmKaikei>(st);
    frmKaikei* exam = exam_.get();
    exam->onTimer2Tick = [this, exam] { guard_.InExamTick(exam); };
    exam->end_syori = [this, exam] {
        end_syori(st, *exam, *main_);
        // The exam screen may still be on the call stack: delete it later.
        if (exam_.get() == exam) {
            QObject::connect(exam, &QObject::destroyed, [] {
                // Once the engine has let the exam's pages go as well.
                QTimer::singleShot(0, ReturnFreedHeap);
                QTimer::singleShot(2000, ReturnFreedHeap);
            });
            exam_.release()->deleteLater();
        }
    };
    step([&] { exam->Show(); });
    step([&] { main_->lblWaitMsg->hide(); });
    step([&] { main_->Unload(); });
}

void Session::finish() {
    if (!main_->blnResultPrinted) {
        const MsgAnswer a = st.svc.dialogs->message(Confirmation(
            kTitleEndConfirm,
            QStringLiteral("まだ試験結果が印刷されていませんが\r\n終了してよろしいですか。\r\n\r\n"
                           "終了すると試験結果は印刷できません。")));
        if (a == MsgAnswer::No)
            return;
    }
    DeleteWorkingFiles(st);
    st.svc.terminate();
}

} // namespace brevik
