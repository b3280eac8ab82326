// The examinee's own mouse and keyboard: whole runs of the program played
// with real input from outside its process, on a real X server with a real
// window manager (one test run per window manager), checked from outside:
// what is on top, what has the keyboard, what the server got, what was printed.
#include "Examinee.h"
#include "ProgramRun.h"
#include "support/TestSupport.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <gtest/gtest.h>

using namespace brevik::test;
using Client = Examinee::Client;

namespace {

const QString kMainTitle = QStringLiteral("ヴァルネルドリン　体験プログラム");

// Controls of the dialogs, in their client areas.
const QRect kEntryMissCorrect(104, 236, 133, 33); // frmEntryMiss "入力内容の訂正"
const QRect kUserInfoRegister(336, 417, 129, 37); // frmUserInfo "登録"
const QRect kShipaiRetry(208, 232, 81, 33);       // frmShipai "やり直し"
const QRect kShipaiAbort(52, 232, 81, 33);        // frmShipai "中断"

// What the examinee types into the registration form, field by field.
struct Entry {
    QString kanjiFamily, kanjiGiven, kanaFamily, kanaGiven, romaFamily, romaGiven;
    // Option rows below the first ("選択してください", "--"), chosen with the arrow keys.
    int sex, job, purpose, year, month, day;
    QString mailId, mailDomain, zip1, zip2;
    int state;
    QString city, address1, address2, phone1, phone2, phone3;
};

class RealInput : public ProgramRun {
protected:
    void SetUp() override {
        ProgramRun::SetUp();
        ASSERT_TRUE(Examinee(0).x.connected()) << "needs an X display with XTest";
        ASSERT_TRUE(Examinee(0).x.windowManagerRunning()) << "needs a window manager";
    }

    void TearDown() override {
        if (proc && proc->state() != QProcess::NotRunning) {
            proc->kill();
            proc->waitForFinished(5000);
        }
        if (HasFailure() && proc)
            std::fprintf(stderr, "--- the program said:\n%s\n", programLog().c_str());
    }

    void play(const QStringList& args = {}) {
        start(args);
        ASSERT_EQ(proc->state(), QProcess::Running);
        person = std::make_unique<Examinee>(pid());
    }

    // The program's exit code once it has ended, -1 when it did not end normally.
    int waitExit() {
        if (!waitForEnd(30000) || endedBySignal())
            return -1;
        return proc->exitCode();
    }

    std::string programLog() {
        log += proc->readAll();
        return log.toStdString();
    }

    // Field by field, Tab between them: text is typed, a select is moved with
    // Down. The focus stays in the last field, as a person's would.
    void fill(const Entry& e) {
        Examinee& p = *person;
        bool first = true;
        auto next = [&] {
            if (!first)
                p.x.key(QStringLiteral("Tab"));
            first = false;
        };
        auto text = [&](const QString& s) {
            next();
            p.x.type(s);
        };
        auto pick = [&](int rows) {
            next();
            for (int i = 0; i < rows; ++i)
                p.x.key(QStringLiteral("Down"));
        };
        text(e.kanjiFamily);
        text(e.kanjiGiven);
        text(e.kanaFamily);
        text(e.kanaGiven);
        text(e.romaFamily);
        text(e.romaGiven);
        pick(e.sex);
        pick(e.job);
        pick(e.purpose);
        pick(2020 - e.year + 1); // the years run down from 2020
        pick(e.month);
        pick(e.day);
        text(e.mailId);
        text(e.mailDomain);
        text(e.zip1);
        text(e.zip2);
        pick(e.state);
        text(e.city);
        text(e.address1);
        text(e.address2);
        text(e.phone1);
        text(e.phone2);
        text(e.phone3);
    }

    // Clicks "登録" and answers the input-error box with its button; the
    // correction is then typed straight away, where the focus went.
    void failOnceThenCorrect(Client& main, const QString& message, const QString& correction) {
        Examinee& p = *person;
        // A person looks over the form before clicking.
        p.waitStill(main, QRect(0, 0, main.geometry.width(), 420));
        p.click(main, Examinee::command1);
        const Client miss = p.waitTitled(QStringLiteral("入力エラー"));

        ASSERT_TRUE(p.isAnswerable(miss, main)) << message.toStdString();
        p.clickCentre(miss, kEntryMissCorrect);
        ASSERT_TRUE(p.waitGone(miss.id));
        // As a person does: look at the form again, then type at once.
        p.waitStill(main, QRect(0, 0, main.geometry.width(), 420));
        p.x.key(QStringLiteral("ctrl+a"));
        p.x.type(correction);
    }

    // "登録" through the confirmation dialog; accepted: the exam-start screen follows.
    void confirm(const Client& main, bool accepted = true) {
        Examinee& p = *person;
        const QRect page(0, 0, main.geometry.width(), 420);
        const QImage form = p.grab(main, page);
        p.click(main, Examinee::command1);
        const Client info = p.waitTitled(QStringLiteral("受験者情報の内容確認"));
        ASSERT_TRUE(p.isAnswerable(info, main));
        p.clickCentre(info, kUserInfoRegister);
        ASSERT_TRUE(p.waitGone(info.id));
        if (accepted) {
            ASSERT_TRUE(p.waitChanged(main, page, form)) << "no exam-start screen";
            EXPECT_TRUE(p.hasFocus(main)) << "the exam-start screen";
        }
    }

    // The exam: an answer typed into each question, the answers kept when the
    // examinee goes back, then the end button confirmed.
    // keysFirst: keys pressed at once go where the screens put the focus: on
    // the exam-start screen the hidden button (nothing happens), on the exam
    // screen its end button, first in the tab order (its box asks).
    void takeExam(const Client& main, Client& exam, bool keysFirst = false) {
        Examinee& p = *person;
        if (keysFirst) {
            p.x.key(QStringLiteral("Return"));
            Examinee::pause(1500);
            EXPECT_FALSE(p.waitWindow([&](const Client& c) { return c.id != main.id; }, 100).id)
                << "Return on the exam-start screen did something: "
                << p.x.describe().toStdString();
        }
        p.click(main, Examinee::command1); // "試験開始"
        exam = p.waitExamScreen();
        ASSERT_TRUE(exam.id) << p.x.describe().toStdString();
        EXPECT_TRUE(exam.above) << "the exam screen stays on top";
        EXPECT_TRUE(exam.title.isEmpty());
        EXPECT_TRUE(p.hasFocus(exam));
        ASSERT_TRUE(p.waitGone(main.id)) << "the main window closes when the exam starts";
        if (keysFirst) {
            p.x.key(QStringLiteral("space"));
            const Client ask = p.waitTitled(QStringLiteral("ヴァルネルドリン"), 10000);
            EXPECT_TRUE(ask.id) << "a key on the exam screen did not reach its end button";
            if (ask.id) {
                EXPECT_TRUE(p.isAnswerable(ask, exam));
                p.x.key(QStringLiteral("n")); // back to the exam
                ASSERT_TRUE(p.waitGone(ask.id));
                p.waitStill(exam, Examinee::questionPane(exam));
            }
        }

        const QRect pane = Examinee::questionPane(exam);
        QImage blank[3];
        const QString answers[3] = {QStringLiteral("現金"), QStringLiteral("売掛金"),
                                    QStringLiteral("300000")};
        for (int q = 0; q < 3; ++q) {
            if (q > 0) {
                const QImage shown = p.grab(exam, pane);
                p.clickAt(exam, Examinee::cmdMondai(exam, q));
                ASSERT_TRUE(p.waitChanged(exam, pane, shown)) << "question " << q + 1;
            }
            // Into the page at its heading, then Tab to the first answer field.
            p.clickAt(exam, {40, 20});
            p.x.key(QStringLiteral("Tab"));
            blank[q] = p.grab(exam, pane);
            p.x.type(answers[q]);
            ASSERT_TRUE(p.waitChanged(exam, pane, blank[q], 5000))
                << "typing into question " << q + 1 << " shows nothing";
        }
        // Back to the first question: its answer is still there.
        p.clickAt(exam, Examinee::cmdMondai(exam, 0));
        EXPECT_TRUE(p.waitChanged(exam, pane, blank[0], 5000))
            << "the answer to question 1 is gone when it is shown again";

        p.click(exam, Examinee::examEnd);
        const Client box = p.waitTitled(QStringLiteral("ヴァルネルドリン"));
        ASSERT_TRUE(p.isAnswerable(box, exam));
        p.x.key(QStringLiteral("y")); // "はい(Y)"
        ASSERT_TRUE(p.waitGone(box.id));
    }

    // The result page: printed through the print dialog, then "試験終了".
    void printAndFinish(const Client& result, bool askFirst) {
        Examinee& p = *person;
        if (askFirst) { // not printed yet: "試験終了" asks, and "いいえ" stays
            p.click(result, Examinee::command1);
            const Client ask = p.waitTitled(QStringLiteral("終了確認"));
            ASSERT_TRUE(p.isAnswerable(ask, result));
            p.x.key(QStringLiteral("n"));
            ASSERT_TRUE(p.waitGone(ask.id));
            ASSERT_EQ(proc->state(), QProcess::Running);
        }
        const QStringList printedBefore = printedFiles();
        p.click(result, Examinee::cmdPrint);
        const Client confirm = p.waitTitled(QStringLiteral("結果印刷"));
        ASSERT_TRUE(p.isAnswerable(confirm, result));
        p.x.key(QStringLiteral("y"));
        ASSERT_TRUE(p.waitGone(confirm.id));
        const Client dialog = p.waitTitled(QStringLiteral("印刷"));
        ASSERT_TRUE(p.isAnswerable(dialog, result)) << "the print dialog speaks Japanese";
        if (printer.isEmpty()) {
            // No print server: the dialog offers its PDF file, put into the run's folder.
            pdf = out + QStringLiteral("printed.pdf");
            QDir().mkpath(out);
            p.x.key(QStringLiteral("alt+f"));
            p.x.key(QStringLiteral("ctrl+a"));
            p.x.type(pdf);
        }
        p.x.key(QStringLiteral("Return"));
        ASSERT_TRUE(p.waitGone(dialog.id));
        if (!printer.isEmpty()) {
            QElapsedTimer t;
            t.start();
            QStringList now;
            while ((now = printedFiles()) == printedBefore && t.elapsed() < 60000)
                Examinee::pause(200);
            for (const QString& f : now)
                if (!printedBefore.contains(f))
                    pdf = printer + u'/' + f;
            ASSERT_FALSE(pdf.isEmpty()) << "nothing came out of the printer queue";
            // The queue writes the file for a while.
            qint64 size = -1;
            for (t.restart(); t.elapsed() < 30000; Examinee::pause(500)) {
                const qint64 now = QFileInfo(pdf).size();
                if (now > 0 && now == size)
                    break;
                size = now;
            }
        }
        p.click(result, Examinee::command1); // "試験終了"
        EXPECT_EQ(waitExit(), 0) << programLog();
    }

    // PDF files the printer queue wrote since the run began (its job
    // numbers start again with every print server, and so do its file names).
    QStringList printedFiles() const {
        QStringList out;
        if (printer.isEmpty())
            return out;
        for (const QFileInfo& f :
             QDir(printer).entryInfoList({QStringLiteral("*.pdf")}, QDir::Files))
            if (f.lastModified() >= started)
                out << f.fileName();
        return out;
    }

    static QString run(const QString& program, const QStringList& args) {
        QProcess p;
        p.start(program, args);
        p.waitForFinished(60000);
        return QString::fromUtf8(p.readAll());
    }

    // The printed result shows the examinee's name. Through a print server the
    // page travels as a picture: then a printed page that is not blank must do.
    ::testing::AssertionResult printedFor(const QString& name) {
        if (pdf.isEmpty())
            return ::testing::AssertionFailure() << "nothing printed";
        const QString info = run(QStringLiteral("pdfinfo"), {pdf});
        if (!QRegularExpression(QStringLiteral("Pages:\\s+[1-9]")).match(info).hasMatch())
            return ::testing::AssertionFailure()
                   << "no page in " << pdf.toStdString() << ": " << info.toStdString();
        if (run(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")}).contains(name))
            return ::testing::AssertionSuccess();
        QDir().mkpath(out);
        const QString png = out + QStringLiteral("printed");
        run(QStringLiteral("pdftoppm"),
            {QStringLiteral("-png"), QStringLiteral("-r"), QStringLiteral("30"),
             QStringLiteral("-singlefile"), pdf, png});
        const QImage page(png + QStringLiteral(".png"));
        int ink = 0;
        for (int y = 0; y < page.height(); ++y)
            for (int x = 0; x < page.width(); ++x)
                ink += qGray(page.pixel(x, y)) < 200;
        if (!page.isNull() && ink > page.width() * page.height() / 100)
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << pdf.toStdString() << " is blank";
    }

    std::unique_ptr<Examinee> person;
    QString printer = qEnvironmentVariable("BREVIK_TEST_PRINTED");
    QDateTime started = QDateTime::currentDateTime();
    QString pdf;
};

const Entry kRehearsal{QStringLiteral("山田"),
                       QStringLiteral("花子"),
                       QStringLiteral("ヤマダ"), // katakana: corrected below
                       QStringLiteral("はなこ"),
                       QStringLiteral("Yamada"),
                       QStringLiteral("Hanako"),
                       2,
                       4,
                       1,
                       1990,
                       4,
                       15,
                       QString(),
                       QString(),
                       QString(),
                       QString(),
                       0,
                       QString(),
                       QString(),
                       QString(),
                       QString(),
                       QString(),
                       QString()};

const Entry kReal{QStringLiteral("鈴木"),
                  QStringLiteral("一郎"),
                  QStringLiteral("すずき"),
                  QStringLiteral("いちろう"),
                  QStringLiteral("Ｓｕｚｕｋｉ"), // full-width letters: corrected below
                  QStringLiteral("Ichiro"),
                  1,
                  4,
                  2,
                  1985,
                  11,
                  3,
                  QStringLiteral("ichiro.suzuki"),
                  QStringLiteral("example.jp"),
                  QStringLiteral("100"),
                  QStringLiteral("0001"),
                  13,
                  QStringLiteral("千代田区"),
                  QStringLiteral("千代田1-1"),
                  QStringLiteral("ヴァルネビル3F"),
                  QStringLiteral("03"),
                  QStringLiteral("1234"),
                  QStringLiteral("5678")};

} // namespace

TEST_F(RealInput, RehearsalThroughEveryScreenByMouseAndKeyboard) {
    play();
    Examinee& p = *person;
    Client main = p.waitTitled(kMainTitle);
    ASSERT_TRUE(main.id) << programLog();
    ASSERT_TRUE(p.hasFocus(main));

    const QRect pane(0, 0, main.geometry.width(), 300);
    QImage shown = p.grab(main, pane);
    p.click(main, Examinee::command1); // "了解"
    ASSERT_TRUE(p.waitChanged(main, pane, shown)) << "no registration form";

    fill(kRehearsal); // the focus is in the first field of the form
    ASSERT_NO_FATAL_FAILURE(
        failOnceThenCorrect(main, QStringLiteral("かなの姓にかな以外の字が使用されています。"),
                            QStringLiteral("やまだ")));
    ASSERT_NO_FATAL_FAILURE(confirm(main));

    Client exam;
    ASSERT_NO_FATAL_FAILURE(takeExam(main, exam, true));
    const Client result = p.waitTitled(kMainTitle);
    ASSERT_TRUE(result.id) << "no result page: " << p.x.describe().toStdString();
    EXPECT_TRUE(result.above) << "the result page stays on top";
    EXPECT_TRUE(p.hasFocus(result));
    ASSERT_TRUE(p.waitGone(exam.id));

    ASSERT_NO_FATAL_FAILURE(printAndFinish(result, true));
    EXPECT_TRUE(printedFor(QStringLiteral("山田 花子")));
    expectCleanEnd();
}

TEST_F(RealInput, RealRunWithRefusalsThroughEveryDialog) {
    ExamServerProcess server({QStringLiteral("--fail-registrations"), QStringLiteral("1"),
                              QStringLiteral("--fail-results"), QStringLiteral("1")});
    ASSERT_TRUE(server.running());
    pointAt(server);
    play({kRealLaunch});
    Examinee& p = *person;
    Client main = p.waitTitled(kMainTitle);
    ASSERT_TRUE(main.id) << programLog();

    const QRect pane(0, 0, main.geometry.width(), 300);
    QImage shown = p.grab(main, pane);
    p.click(main, Examinee::command1); // "了解"
    ASSERT_TRUE(p.waitChanged(main, pane, shown)) << "no registration form";
    fill(kReal);
    ASSERT_NO_FATAL_FAILURE(failOnceThenCorrect(
        main, QStringLiteral("ローマ字の姓にアルファベット以外の字が使用されています。"),
        QStringLiteral("Suzuki")));

    // The server refuses the first registration: "やり直し", then again.
    ASSERT_NO_FATAL_FAILURE(confirm(main, false));
    const Client refused = p.waitTitled(QStringLiteral("試験ログインの失敗"));
    ASSERT_TRUE(p.isAnswerable(refused, main));
    p.clickCentre(refused, kShipaiRetry);
    ASSERT_TRUE(p.waitGone(refused.id));
    ASSERT_NO_FATAL_FAILURE(confirm(main));

    Client exam;
    ASSERT_NO_FATAL_FAILURE(takeExam(main, exam));
    // The first result is refused: the failure and the retry box, both answered OK.
    const Client failed = p.waitTitled(QStringLiteral("送信失敗"));
    ASSERT_TRUE(p.isAnswerable(failed, exam));
    p.x.key(QStringLiteral("Return"));
    ASSERT_TRUE(p.waitGone(failed.id));
    const Client retry = p.waitTitled(QStringLiteral("送信リトライ"));
    ASSERT_TRUE(p.isAnswerable(retry, exam));
    p.x.key(QStringLiteral("Return"));
    ASSERT_TRUE(p.waitGone(retry.id));

    const Client result = p.waitTitled(kMainTitle);
    ASSERT_TRUE(result.id) << p.x.describe().toStdString();
    EXPECT_TRUE(p.hasFocus(result));
    ASSERT_NO_FATAL_FAILURE(printAndFinish(result, false));
    EXPECT_TRUE(printedFor(QStringLiteral("鈴木 一郎")));

    // What the server got is what was typed, with the correction.
    const auto reg = server.requestsTo(QStringLiteral("/api/grade/register"));
    ASSERT_EQ(reg.size(), 2);
    const QUrlQuery q = ExamServerProcess::query(reg[1]);
    const std::pair<const char*, QString> expected[] = {
        {"KFN", QStringLiteral("鈴木")},
        {"KGN", QStringLiteral("一郎")},
        {"KanaFN", QStringLiteral("すずき")},
        {"KanaGN", QStringLiteral("いちろう")},
        {"RFN", QStringLiteral("SUZUKI")},
        {"RGN", QStringLiteral("ICHIRO")},
        {"Sex", QStringLiteral("男")},
        {"Work", QStringLiteral("会社員")},
        {"Birthday", QStringLiteral("1985/11/03")},
        {"Email", QStringLiteral("ichiro.suzuki@example.jp")},
        {"Zip", QStringLiteral("1000001")},
        {"State", QStringLiteral("東京都")},
        {"City", QStringLiteral("千代田区")},
        {"Address1", QStringLiteral("千代田1-1")},
        {"Address2", QStringLiteral("ヴァルネビル3F")},
        {"Tel", QStringLiteral("03-1234-5678")},
        {"ExeID", QStringLiteral("4711")}};
    for (const auto& [key, value] : expected)
        EXPECT_EQ(q.queryItemValue(QLatin1String(key), QUrl::FullyDecoded), value) << key;
    const auto res = server.requestsTo(QStringLiteral("/api/grade/result"));
    ASSERT_EQ(res.size(), 2);
    EXPECT_EQ(ExamServerProcess::query(res[1]).queryItemValue(QStringLiteral("SP")),
              QStringLiteral("70"));
    expectCleanEnd();
    EXPECT_TRUE(kept().isEmpty()) << "nothing kept: the result was accepted";
}

TEST_F(RealInput, DataFileFailureIsAnsweredAndEndsTheProgram) {
    writeFile(app + QStringLiteral("data/qfile.dat"), "not a database");
    play();
    Examinee& p = *person;
    const Client failure = p.waitTitled(QStringLiteral("試験ログインの失敗"));
    ASSERT_TRUE(failure.id) << programLog();
    ASSERT_TRUE(p.hasFocus(failure));
    p.clickCentre(failure, kShipaiAbort);
    EXPECT_EQ(waitExit(), 0) << programLog();
}
