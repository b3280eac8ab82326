#include "flow/Unattended.h"

#include "app/AppState.h"
#include "app/Defaults.h"
#include "app/Startup.h"
#include "exam/frmKaikei.h"
#include "flow/Session.h"
#include "net/ResultSubmission.h"
#include "platform/Errors.h"
#include "platform/ScreenFont.h"
#include "platform/Yield.h"
#include "platform/webengine/Sandbox.h"
#include "platform/webengine/WebEnginePane.h"
#include "platform/x11/XTestDriver.h"
#include "ui/dialogs/frmShipai.h"
#include "ui/dialogs/frmUserInfo.h"
#include "ui/main/frmMain.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDateTime>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QFontInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPrinter>
#include <QPushButton>
#include <QSaveFile>
#include <QThread>
#include <QTimer>
#include <QWindow>

#include <cstdio>

namespace brevik {

namespace {

// The longest an unattended run may take before it is stopped as hung.
constexpr int kWatchdogMs = 5 * 60 * 1000;
constexpr int kMaxResultRetries = 3;

QString fileSafe(QString s) {
    for (QChar& c : s)
        if (c == u'/' || c == u'\\' || c.isSpace())
            c = u'_';
    return s;
}

QAbstractButton* buttonWithText(QDialog* d, const QString& text) {
    const auto buttons = d->findChildren<QAbstractButton*>();
    for (QAbstractButton* b : buttons)
        if (b->text().remove(u'&').startsWith(text))
            return b;
    return nullptr;
}

WebEnginePane* webPane(BrowserPane* p) {
    return dynamic_cast<WebEnginePane*>(p);
}

// How the run answers a box or dialog, found by its title.
enum class Reply { Register, Print, Yes, SendFailed, SendRetry, SendGiveUp, Unexpected };

Reply replyTo(const QString& title) {
    // The print dialog is the toolkit's own, titled in Japanese.
    static const QString kPrintDialog = QStringLiteral("印刷");
    const std::pair<const QString&, Reply> replies[] = {
        {kTitleUserInfo, Reply::Register},
        {kPrintDialog, Reply::Print},
        {kTitleEndExam, Reply::Yes},
        {kTitlePrintResult, Reply::Yes},
        {kTitleTimeUp, Reply::Yes},
        {kTitleEndConfirm, Reply::Yes},
        {kTitleSendFailed, Reply::SendFailed},
        {kTitleSendRetry, Reply::SendRetry},
        {kTitleSendGiveUp, Reply::SendGiveUp},
    };
    for (const auto& [t, reply] : replies)
        if (title == t)
            return reply;
    return Reply::Unexpected;
}

} // namespace

bool UnattendedDialogHost::printDialog(QPrinter& printer) {
    if (pdfPath.isEmpty())
        return QtDialogHost::printDialog(printer);
    if (showPrintDialog && !QtDialogHost::printDialog(printer))
        return false;
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(pdfPath);
    return true;
}

UnattendedRun::UnattendedRun(AppState& state, UnattendedDialogHost& dialogs, const QString& dir)
    : st(state), dialogs_(dialogs), dir_(QDir(dir).absolutePath() + u'/') {
    clock_.start();
    dialogs_.pdfPath = dir_ + QStringLiteral("result.pdf");
    dialogs_.onDialogShown = [this](QDialog* d) { onDialog(d); };
    // For tests of the program as a whole, which stop it at a given step (with
    // a signal, say): BREVIK_TEST_HOLD=NAME makes the run say
    // "brevik-test: at NAME" on stderr at each named point it passes, and stay
    // at the point NAME with its events running. The points: first-screen,
    // exam-start-wait, exam, result-kept, result-page and, for a dialog left
    // unanswered, "dialog:" and its title.
    if (qEnvironmentVariableIsSet("BREVIK_TEST_HOLD")) {
        holdAt_ = qEnvironmentVariable("BREVIK_TEST_HOLD");
        st.svc.checkpoint = [this](const char* name) { checkpoint(QString::fromUtf8(name)); };
    }
}

void UnattendedRun::checkpoint(const QString& name) {
    if (holdAt_.isNull())
        return;
    std::fprintf(stderr, "brevik-test: at %s\n", qPrintable(name));
    std::fflush(stderr);
    if (name != holdAt_)
        return;
    std::fprintf(stderr, "brevik-test: holding at %s\n", qPrintable(name));
    std::fflush(stderr);
    QEventLoop hold;
    hold.exec();
}

UnattendedRun::~UnattendedRun() = default;

bool UnattendedRun::prepare() {
    if (!QDir().mkpath(dir_) || !QFileInfo(dir_).isWritable()) {
        std::fprintf(stderr, "brevik: cannot write to %s\n", qPrintable(dir_));
        return false;
    }
    QFile::remove(dialogs_.pdfPath);
    return true;
}

bool UnattendedRun::check(const QString& step, bool ok, const QString& reason) {
    const qint64 now = clock_.elapsed();
    report_ << QStringLiteral("%1  %2 ms  %3%4")
                   .arg(step, -44)
                   .arg(now - stepStart_, 6)
                   .arg(ok ? QStringLiteral("OK") : QStringLiteral("FAILED"))
                   .arg(ok || reason.isEmpty() ? QString() : QStringLiteral(": ") + reason);
    std::fprintf(stderr, "brevik self-check: %s %s\n", qPrintable(step), ok ? "OK" : "FAILED");
    stepStart_ = now;
    if (!ok)
        ++failures_;
    return ok;
}

void UnattendedRun::settle(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
}

void UnattendedRun::snap(QWidget* window, const QString& name) {
    if (!window)
        return;
    settle(400); // let the panes paint
    const QString file =
        dir_ +
        QStringLiteral("%1-%2.png").arg(++pictures_, 2, 10, QLatin1Char('0')).arg(fileSafe(name));
    if (!window->grab().save(file))
        check(QStringLiteral("picture ") + name, false, QStringLiteral("cannot write ") + file);
}

void UnattendedRun::checkImages(BrowserPane* pane, const QString& name) {
    WebEnginePane* p = webPane(pane);
    if (!p)
        return;
    // Every picture of the page, addressed relative to it or not, must have come.
    QVariantList found;
    const bool asked = step([&] {
        found = p->evaluate(QStringLiteral("Array.from(document.images).map(function(i){"
                                           "return (i.complete && i.naturalWidth > 0 ? '' : '!') "
                                           "+ i.getAttribute('src');})"))
                    .toList();
    });
    QStringList missing;
    for (const QVariant& v : found)
        if (v.toString().startsWith(u'!'))
            missing << v.toString().mid(1);
    report_ << QStringLiteral("images in %1: %2 of %3 shown")
                   .arg(name)
                   .arg(found.size() - missing.size())
                   .arg(found.size());
    check(QStringLiteral("images shown: ") + name, asked && missing.isEmpty(),
          asked ? QStringLiteral("not shown: ") + missing.join(QStringLiteral(", "))
                : QStringLiteral("the page did not answer"));
}

void UnattendedRun::checkEnvironment() {
    const QFontInfo p(QFont{kPGothic});
    const QFontInfo g(QFont{kGothic});
    check(QStringLiteral("fonts"),
          p.family() == QStringLiteral("IPAPGothic") && g.family() == QStringLiteral("IPAGothic"),
          QStringLiteral("screen fonts resolve to %1 / %2").arg(p.family(), g.family()));
    check(QStringLiteral("display at 96 dpi"), DisplayIs96Dpi());
    const bool files = QFileInfo(st.strDataPath + QStringLiteral("qfile.dat")).isFile() &&
                       QFileInfo(st.strDataPath + QStringLiteral("exam.dat")).isFile() &&
                       QFileInfo(st.strDataPath + QStringLiteral("images/pass.gif")).isFile();
    check(QStringLiteral("data files"), files, QStringLiteral("missing in ") + st.strDataPath);
}

QPoint UnattendedRun::onScreen(QWidget* w, QPoint local) {
    QWidget* top = w->window();
    const quint32 id = quint32(top->windowHandle() ? top->windowHandle()->winId() : top->winId());
    return person_->client(id).geometry.topLeft() + w->mapTo(top, local);
}

void UnattendedRun::press(QAbstractButton* button) {
    if (person_)
        person_->click(onScreen(button, button->rect().center()));
    else
        button->click();
}

bool UnattendedRun::pressAndWait(QAbstractButton* button, const std::function<bool()>& done,
                                 int timeoutMs) {
    press(button);
    return runEventsUntil(done, timeoutMs);
}

void UnattendedRun::checkAnswerable(QDialog* d) {
    if (!person_)
        return;
    auto id = [](QWidget* w) { return quint32(w->windowHandle()->winId()); };
    QWidget* owner = d->parentWidget() ? d->parentWidget()->window() : nullptr;
    const QString why =
        person_->whyNotAnswerable(id(d), owner ? id(owner) : 0, [this](int ms) { settle(ms); });
    check(QStringLiteral("\"%1\" above its window, with the keyboard").arg(d->windowTitle()),
          why.isEmpty(), why);
}

void UnattendedRun::begin(Session& session) {
    session_ = &session;
    // At a display with a window manager the run uses the pointer and the
    // keyboard as the examinee does, so a desktop that hides a dialog or
    // keeps the keyboard from it fails the run.
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        auto x = std::make_unique<XTestDriver>();
        if (x->connected() && x->windowManagerRunning()) {
            x->setPause([this](int ms) { settle(ms); });
            person_ = std::move(x);
        }
    }
    dialogs_.showPrintDialog = bool(person_);
    QTimer::singleShot(0, [this] { script(); });
    auto* watchdog = new QTimer(QCoreApplication::instance());
    watchdog->setSingleShot(true);
    QObject::connect(watchdog, &QTimer::timeout, [this] {
        end(QStringLiteral("the run did not end within %1 s").arg(kWatchdogMs / 1000));
    });
    watchdog->start(kWatchdogMs);
}

void UnattendedRun::onDialog(QDialog* d) {
    const QString title = d->windowTitle();
    snap(d, title.isEmpty() ? QStringLiteral("dialog") : title);
    checkpoint(QStringLiteral("dialog:") + title);
    checkAnswerable(d);
    auto press = [&](QMessageBox::StandardButton which, const QString& text) {
        QAbstractButton* b = nullptr;
        if (auto* box = qobject_cast<QMessageBox*>(d))
            b = box->button(which);
        if (!b)
            b = buttonWithText(d, text);
        if (b)
            this->press(b);
        else
            d->reject();
    };
    const auto* box = qobject_cast<QMessageBox*>(d);
    switch (replyTo(title)) {
    case Reply::Register:
        if (auto* info = qobject_cast<frmUserInfo*>(d))
            return this->press(info->Command2); // "登録"
        break;
    case Reply::Print:
        if (auto* buttons = d->findChild<QDialogButtonBox*>();
            buttons && buttons->button(QDialogButtonBox::Ok))
            return this->press(buttons->button(QDialogButtonBox::Ok)); // the dialog's "印刷"
        break;
    case Reply::Yes:
        return press(QMessageBox::Yes, QStringLiteral("はい"));
    case Reply::SendFailed:
        // Not a failure of the run by itself: the retries that follow decide.
        report_ << QStringLiteral("result submission refused, retrying: ") +
                       (box ? box->text().replace(u'\n', u' ') : title);
        return press(QMessageBox::Ok, QStringLiteral("OK"));
    case Reply::SendRetry:
        if (++retries_ <= kMaxResultRetries)
            return press(QMessageBox::Ok, QStringLiteral("OK"));
        return press(QMessageBox::Cancel, QStringLiteral("キャンセル"));
    case Reply::SendGiveUp:
        check(QStringLiteral("result submission"), false,
              QStringLiteral("given up after %1 retries; the result was kept")
                  .arg(kMaxResultRetries));
        return press(QMessageBox::Ok, QStringLiteral("OK"));
    case Reply::Unexpected:
        break;
    }
    // A refusal or an error: the run cannot go on as an examinee's would.
    QString said = box ? box->text() : QString();
    if (!box) // a dialog of labels (frmShipai): the texts it shows
        for (const QLabel* l : d->findChildren<QLabel*>())
            if (l->isVisibleTo(d) && !l->text().isEmpty())
                said += (said.isEmpty() ? QString() : QStringLiteral(" / ")) + l->text();
    check(QStringLiteral("unexpected dialog"), false,
          title + (said.isEmpty() ? QString() : QStringLiteral(": ") + said));
    if (auto* shipai = qobject_cast<frmShipai*>(d))
        this->press(shipai->OKButton); // "中断"
    else if (box)
        press(QMessageBox::Ok, QStringLiteral("OK"));
    else
        d->reject();
}

void UnattendedRun::script() {
    Session& s = *session_;
    frmMain& main = s.main();
    checkEnvironment();

    snap(&main, QStringLiteral("first-screen"));
    checkpoint(QStringLiteral("first-screen"));
    if (!check(QStringLiteral("first screen"), main.Command1->text() == kCaptionAcknowledge,
               QStringLiteral("caption is ") + main.Command1->text()))
        return end();
    // A page is shown, so the engine's renderer runs: as it was started.
    const RendererSandbox sandbox = CheckRendererSandbox();
    report_ << QStringLiteral("web engine sandbox: ") + sandbox.text;
    check(QStringLiteral("web engine sandbox"), sandbox.ok, sandbox.text);

    auto caption = [&](const QString& text) {
        return [&main, &text] { return main.Command1->text() == text; };
    };
    pressAndWait(main.Command1, caption(kCaptionRegister));
    snap(&main, QStringLiteral("registration-form"));
    check(QStringLiteral("registration form"), main.Command1->text() == kCaptionRegister);

    // The empty form takes the sample record; the dialog is answered "登録".
    pressAndWait(main.Command1, caption(kCaptionExamStart));
    const bool registered = main.Command1->text() == kCaptionExamStart;
    check(QStringLiteral("registration"), registered,
          QStringLiteral("caption stayed ") + main.Command1->text());
    if (!registered)
        return end();
    check(QStringLiteral("question files written"),
          QFileInfo::exists(st.strDataPath + QuestionFile(0)) &&
              QFileInfo::exists(st.strDataPath + QuestionFile(1)) &&
              QFileInfo::exists(st.strDataPath + QuestionFile(2)));
    snap(&main, QStringLiteral("exam-start"));

    pressAndWait(main.Command1,
                 [&] { return s.exam() && s.exam()->isVisible() && !main.isVisible(); });
    frmKaikei* exam = s.exam();
    if (!check(QStringLiteral("exam screen"), exam && exam->isVisible()))
        return end();
    if (person_) {
        const quint32 id = quint32(exam->windowHandle()->winId());
        const QString why = person_->whyNotFocused(id, [this](int ms) { settle(ms); });
        check(QStringLiteral("exam screen on top, with the keyboard"),
              why.isEmpty() && person_->client(id).above,
              why.isEmpty() ? QStringLiteral("not topmost: ") + person_->describe() : why);
    }
    snap(exam, QStringLiteral("question-1"));
    checkImages(exam->wbQuestion.get(), QStringLiteral("question-1"));
    checkpoint(QStringLiteral("exam"));
    WebEnginePane* question1 = webPane(exam->wbQuestion.get());
    const QString answer = QStringLiteral("現金");
    const QString firstField =
        QStringLiteral("document.querySelector('input[type=text],input:not([type])')");
    QString typed;
    if (person_) {
        // Clicked where the first answer field is seen, then typed.
        QVariantList box;
        step([&] {
            box = question1
                      ->evaluate(QStringLiteral("(function(){var r=%1.getBoundingClientRect();"
                                                "return [r.left,r.top,r.width,r.height];})()")
                                     .arg(firstField))
                      .toList();
        });
        if (box.size() == 4) {
            const QRect field(box[0].toInt(), box[1].toInt(), box[2].toInt(), box[3].toInt());
            person_->click(onScreen(exam->wbQuestion->widget(), field.center()));
            person_->type(answer);
            runEventsUntil(
                [&] {
                    step([&] {
                        typed =
                            question1->evaluate(firstField + QStringLiteral(".value")).toString();
                    });
                    return typed == answer;
                },
                10000);
        }
    } else {
        step([&] {
            typed = question1
                        ->evaluate(QStringLiteral("(function(){var i=%1;if(!i)return '';i.focus();"
                                                  "i.value='%2';return i.value;})()")
                                       .arg(firstField, answer))
                        .toString();
        });
    }
    check(QStringLiteral("answer typed into question 1"), typed == answer,
          QStringLiteral("the field holds \"%1\"").arg(typed));
    auto shown = [&](int q) { return [exam, q] { return exam->intCurrentQuestion == q; }; };
    pressAndWait(exam->cmdMondai[1], shown(1));
    snap(exam, QStringLiteral("question-2"));
    checkImages(exam->wbQuestion2.get(), QStringLiteral("question-2"));
    pressAndWait(exam->cmdMondai[2], shown(2));
    snap(exam, QStringLiteral("question-3"));
    checkImages(exam->wbQuestion3.get(), QStringLiteral("question-3"));
    pressAndWait(exam->cmdMondai[0], shown(0));
    QString kept;
    step([&] { kept = question1->evaluate(firstField + QStringLiteral(".value")).toString(); });
    check(QStringLiteral("questions switched, answer kept"),
          kept == answer && exam->wbQuestion->widget()->isVisible());

    // Confirmed "はい": end processing and the result page.
    const auto resultShown = [&] {
        return main.isVisible() && main.Command1->text() == kCaptionExamEnd &&
               main.cmdPrint->isVisible();
    };
    pressAndWait(exam->Command1, resultShown);
    settle(200);
    check(QStringLiteral("result page"), resultShown());
    if (person_ && resultShown()) {
        const quint32 id = quint32(main.windowHandle()->winId());
        const QString why = person_->whyNotFocused(id, [this](int ms) { settle(ms); });
        check(QStringLiteral("result page on top, with the keyboard"),
              why.isEmpty() && person_->client(id).above,
              why.isEmpty() ? QStringLiteral("not topmost: ") + person_->describe() : why);
    }
    snap(&main, QStringLiteral("result-page"));
    checkImages(main.wbMain.get(), QStringLiteral("result-page"));
    checkpoint(QStringLiteral("result-page"));

    const QFileInfo pdf(dialogs_.pdfPath);
    pressAndWait(main.cmdPrint, [&] {
        return main.blnResultPrinted && main.cmdPrint->isEnabled() &&
               QFileInfo(pdf.filePath()).size() > 0;
    });
    check(QStringLiteral("result printed to result.pdf"),
          main.blnResultPrinted && QFileInfo(pdf.filePath()).size() > 0);

    // "試験終了": deletes the working files and ends the run.
    pressAndWait(
        main.Command1, [] { return false; }, 30000);
    end(QStringLiteral("the program did not end after the last step"));
}

void UnattendedRun::end(const QString& why) {
    const int rc = finish(why);
    if (exitProgram)
        exitProgram(rc);
    std::_Exit(rc);
}

int UnattendedRun::finish(const QString& why) {
    if (!finished_) {
        finished_ = true;
        if (!why.isEmpty())
            check(QStringLiteral("run ended"), false, why);
        if (!st.strDataPath.isEmpty())
            check(QStringLiteral("no question file left"),
                  QDir(st.strDataPath).entryList({QuestionFilePattern()}, QDir::Files).isEmpty());
        if (!st.strWorkPath.isEmpty())
            check(QStringLiteral("work folder empty"),
                  QDir(st.strWorkPath).entryList(QDir::Files | QDir::Hidden).isEmpty());
        QStringList text;
        text << QStringLiteral("brevik unattended run, %1")
                    .arg(QDateTime::currentDateTime().toString(Qt::ISODate))
             << (person_ ? QStringLiteral("input: the pointer and the keyboard, through the "
                                          "window manager, as the examinee's")
                         : QStringLiteral("input: buttons pressed inside the program (no window "
                                          "manager)"))
             << (st.blnRehearsal || st.arrLaunchArgs.value(6) == QStringLiteral("id=rehearsal")
                     ? QStringLiteral("rehearsal: no server contacted")
                     : QStringLiteral("real run against ") + st.strRegisterUrl)
             << QStringLiteral("data folder: ") + st.strDataPath << QString() << report_
             << QString()
             << (failures_ ? QStringLiteral("RESULT: %1 step(s) FAILED").arg(failures_)
                           : QStringLiteral("RESULT: every step passed"));
        QSaveFile f(dir_ + QStringLiteral("report.txt"));
        if (f.open(QIODevice::WriteOnly)) {
            f.write(text.join(u'\n').toUtf8() + '\n');
            f.commit();
        }
        std::fprintf(stderr, "brevik self-check: report in %sreport.txt\n", qPrintable(dir_));
    }
    std::fflush(stdout);
    std::fflush(stderr);
    return failures_ ? 1 : 0;
}

} // namespace brevik
