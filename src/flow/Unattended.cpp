#include "flow/Unattended.h"

#include "app/AppState.h"
#include "app/Startup.h"
#include "exam/frmKaikei.h"
#include "flow/Session.h"
#include "platform/Errors.h"
#include "platform/webengine/WebEnginePane.h"
#include "ui/main/frmMain.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDateTime>
#include <QDialog>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QFontInfo>
#include <QLabel>
#include <QMessageBox>
#include <QPrinter>
#include <QPushButton>
#include <QSaveFile>
#include <QThread>
#include <QTimer>

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

} // namespace

bool UnattendedDialogHost::printDialog(QPrinter& printer) {
    if (pdfPath.isEmpty())
        return QtDialogHost::printDialog(printer);
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

void UnattendedRun::checkEnvironment() {
    const QFontInfo p(QFont(QStringLiteral("ＭＳ Ｐゴシック")));
    const QFontInfo g(QFont(QStringLiteral("ＭＳ ゴシック")));
    check(QStringLiteral("fonts"),
          p.family() == QStringLiteral("IPAPGothic") && g.family() == QStringLiteral("IPAGothic"),
          QStringLiteral("screen fonts resolve to %1 / %2").arg(p.family(), g.family()));
    check(QStringLiteral("display at 96 dpi"), DisplayIs96Dpi());
    const bool files = QFileInfo(st.strDataPath + QStringLiteral("qfile.dat")).isFile() &&
                       QFileInfo(st.strDataPath + QStringLiteral("exam.dat")).isFile() &&
                       QFileInfo(st.strDataPath + QStringLiteral("images/pass.gif")).isFile();
    check(QStringLiteral("data files"), files, QStringLiteral("missing in ") + st.strDataPath);
}

void UnattendedRun::begin(Session& session) {
    session_ = &session;
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
    auto press = [&](QMessageBox::StandardButton which, const QString& text) {
        QAbstractButton* b = nullptr;
        if (auto* box = qobject_cast<QMessageBox*>(d))
            b = box->button(which);
        if (!b)
            b = buttonWithText(d, text);
        if (b)
            b->click();
        else
            d->reject();
    };
    if (title == QStringLiteral("受験者情報の内容確認")) {
        press(QMessageBox::NoButton, QStringLiteral("登録"));
    } else if (title == QStringLiteral("ヴァルネルドリン") || title == QStringLiteral("結果印刷") ||
               title == QStringLiteral("解答時間終了") || title == QStringLiteral("終了確認")) {
        press(QMessageBox::Yes, QStringLiteral("はい"));
    } else if (title == QStringLiteral("送信失敗")) {
        // Not a failure of the run by itself: the retries that follow decide.
        const auto* box = qobject_cast<QMessageBox*>(d);
        report_ << QStringLiteral("result submission refused, retrying: ") +
                       (box ? box->text().replace(u'\n', u' ') : title);
        press(QMessageBox::Ok, QStringLiteral("OK"));
    } else if (title == QStringLiteral("送信リトライ")) {
        if (++retries_ <= kMaxResultRetries)
            press(QMessageBox::Ok, QStringLiteral("OK"));
        else
            press(QMessageBox::Cancel, QStringLiteral("キャンセル"));
    } else if (title == QStringLiteral("送信中止")) {
        check(QStringLiteral("result submission"), false,
              QStringLiteral("given up after %1 retries; the result was kept")
                  .arg(kMaxResultRetries));
        press(QMessageBox::Ok, QStringLiteral("OK"));
    } else {
        // A refusal or an error: the run cannot go on as an examinee's would.
        const auto* box = qobject_cast<QMessageBox*>(d);
        QString said = box ? box->text() : QString();
        if (!box) // a dialog of labels (frmShipai): the texts it shows
            for (const QLabel* l : d->findChildren<QLabel*>())
                if (l->isVisibleTo(d) && !l->text().isEmpty())
                    said += (said.isEmpty() ? QString() : QStringLiteral(" / ")) + l->text();
        check(QStringLiteral("unexpected dialog"), false,
              title + (said.isEmpty() ? QString() : QStringLiteral(": ") + said));
        if (QAbstractButton* abort = buttonWithText(d, QStringLiteral("中断")))
            abort->click();
        else if (box)
            press(QMessageBox::Ok, QStringLiteral("OK"));
        else
            d->reject();
    }
}

void UnattendedRun::script() {
    Session& s = *session_;
    frmMain& main = s.main();
    checkEnvironment();

    snap(&main, QStringLiteral("first-screen"));
    checkpoint(QStringLiteral("first-screen"));
    if (!check(QStringLiteral("first screen"), main.Command1->text() == QStringLiteral("了解"),
               QStringLiteral("caption is ") + main.Command1->text()))
        return end();

    main.Command1->click();
    snap(&main, QStringLiteral("registration-form"));
    check(QStringLiteral("registration form"), main.Command1->text() == QStringLiteral("登録"));

    main.Command1->click(); // the empty form takes the sample record; the dialog is answered "登録"
    const bool registered = main.Command1->text() == QStringLiteral("試験開始");
    check(QStringLiteral("registration"), registered,
          QStringLiteral("caption stayed ") + main.Command1->text());
    if (!registered)
        return end();
    check(QStringLiteral("question files written"),
          QFileInfo::exists(st.strDataPath + QStringLiteral("index.html")) &&
              QFileInfo::exists(st.strDataPath + QStringLiteral("index2.html")) &&
              QFileInfo::exists(st.strDataPath + QStringLiteral("index3.html")));
    snap(&main, QStringLiteral("exam-start"));

    main.Command1->click();
    frmKaikei* exam = s.exam();
    if (!check(QStringLiteral("exam screen"), exam && exam->isVisible()))
        return end();
    snap(exam, QStringLiteral("question-1"));
    checkpoint(QStringLiteral("exam"));
    const QString answer = QStringLiteral("現金");
    const QString type = QStringLiteral(
        "(function(){var i=document.querySelector('input[type=text],input:not([type])');"
        "if(!i)return '';i.focus();i.value=%1;return i.value;})()");
    QString typed;
    step([&] {
        typed = webPane(exam->wbQuestion.get())
                    ->evaluate(type.arg(QStringLiteral("'") + answer + QStringLiteral("'")))
                    .toString();
    });
    check(QStringLiteral("answer typed into question 1"), typed == answer);
    exam->cmdMondai[1]->click();
    snap(exam, QStringLiteral("question-2"));
    exam->cmdMondai[2]->click();
    snap(exam, QStringLiteral("question-3"));
    exam->cmdMondai[0]->click();
    QString kept;
    step([&] {
        kept = webPane(exam->wbQuestion.get())
                   ->evaluate(QStringLiteral("document.querySelector('input').value"))
                   .toString();
    });
    check(QStringLiteral("questions switched, answer kept"),
          kept == answer && exam->wbQuestion->widget()->isVisible());

    exam->Command1->click(); // confirmed "はい": end processing and the result page
    settle(200);
    const bool result = main.isVisible() && main.Command1->text() == QStringLiteral("試験終了") &&
                        main.cmdPrint->isVisible();
    check(QStringLiteral("result page"), result);
    snap(&main, QStringLiteral("result-page"));
    checkpoint(QStringLiteral("result-page"));

    main.cmdPrint->click();
    const QFileInfo pdf(dialogs_.pdfPath);
    check(QStringLiteral("result printed to result.pdf"),
          main.blnResultPrinted && pdf.isFile() && pdf.size() > 0);

    main.Command1->click(); // "試験終了": deletes the working files and ends the run
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
                  QDir(st.strDataPath)
                      .entryList({QStringLiteral("index*.html")}, QDir::Files)
                      .isEmpty());
        if (!st.strWorkPath.isEmpty())
            check(QStringLiteral("work folder empty"),
                  QDir(st.strWorkPath).entryList(QDir::Files | QDir::Hidden).isEmpty());
        QStringList text;
        text << QStringLiteral("brevik unattended run, %1")
                    .arg(QDateTime::currentDateTime().toString(Qt::ISODate))
             << (st.blnRehearsal || st.arrLaunchArgs.value(6) == QStringLiteral("id=rehearsal")
                     ? QStringLiteral("rehearsal: no server contacted")
                     : QStringLiteral("real run against ") + st.strRegisterUrl)
             << QString() << report_ << QString()
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
