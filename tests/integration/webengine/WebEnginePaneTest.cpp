// The browser pane against the real engine, offscreen: written forms, element
// access, resources from the data folder, the navigation rules and printing.
#include "platform/webengine/WebEnginePane.h"
#include "platform/Errors.h"
#include "platform/Services.h"
#include "platform/fake/ScriptedDialogHost.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QFontInfo>
#include <QLabel>
#include <QPrinter>
#include <QProcess>
#include <QTemporaryDir>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <QWidget>
#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <memory>

using namespace brevik;

namespace {

const QString kForm = QStringLiteral(R"(<html><body>
<p id="greeting">受験者の方へ：氏名を入力してください</p>
<form>
<input type="text" name="FamilyName" value="山田">
<input type="text" name="q" value="first"><input type="text" name="q" value="second">
<select name="Seibetu"><option value="">--</option><option value="1">男性</option>
<option value="2" selected>女性</option></select>
<textarea name="Note">line</textarea>
<input type="text" id="OnlyId" value="by id">
<div id="NoValue">plain</div>
</form></body></html>)");

class PaneTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(root.isValid());
        data = root.path() + QStringLiteral("/data/");
        ASSERT_TRUE(QDir().mkpath(data + QStringLiteral("images")));
        ASSERT_TRUE(QFile::copy(test::sourceDir() + QStringLiteral("/sample-exam/images/pass.gif"),
                                data + QStringLiteral("images/pass.gif")));
        window.resize(800, 600);
        pane = std::make_unique<WebEnginePane>(&window, data, &dialogs);
        pane->widget()->resize(800, 600);
        window.show();
    }

    QVariant js(const QString& script) { return pane->evaluate(script); }
    QWebEnginePage* page() { return static_cast<QWebEngineView*>(pane->widget())->page(); }
    QString url() { return page()->url().toString(); }

    QTemporaryDir root;
    QString data;
    QWidget window;
    ScriptedDialogHost dialogs;
    std::unique_ptr<WebEnginePane> pane;
};

TEST_F(PaneTest, WrittenFormIsReadableAndWritableByName) {
    pane->Navigate2(QStringLiteral("about:blank"));
    pane->Write(kForm);

    EXPECT_EQ(pane->Value(QStringLiteral("FamilyName")), QStringLiteral("山田"));
    EXPECT_EQ(pane->Value(QStringLiteral("q")), QStringLiteral("first"));
    EXPECT_EQ(pane->Value(QStringLiteral("q"), 0), QStringLiteral("first"));
    EXPECT_EQ(pane->Value(QStringLiteral("q"), 1), QStringLiteral("second"));
    EXPECT_EQ(pane->Value(QStringLiteral("Seibetu")), QStringLiteral("2"));
    EXPECT_EQ(pane->Value(QStringLiteral("Note")), QStringLiteral("line"));
    EXPECT_EQ(pane->Value(QStringLiteral("OnlyId")), QStringLiteral("by id"));
    EXPECT_EQ(js(QStringLiteral("document.getElementById('greeting').textContent")).toString(),
              QStringLiteral("受験者の方へ：氏名を入力してください"));

    // Values travel unharmed whatever they contain.
    const QString awkward[] = {QStringLiteral("鈴木　花子"),
                               QStringLiteral("it's \"quoted\" \\ back\\slash"),
                               QStringLiteral("</script><script>alert(1)</script>"),
                               QStringLiteral("${x} `tick`"),
                               QStringLiteral("ｱｲｳ～①\u2028"),
                               QString()};
    for (const QString& v : awkward) {
        pane->SetValue(QStringLiteral("FamilyName"), v);
        EXPECT_EQ(pane->Value(QStringLiteral("FamilyName")), v);
    }
    pane->SetValue(QStringLiteral("Note"), QStringLiteral("二行目\nです"));
    EXPECT_EQ(pane->Value(QStringLiteral("Note")), QStringLiteral("二行目\nです"));

    pane->SetValue(QStringLiteral("q"), QStringLiteral("changed"), 1);
    EXPECT_EQ(pane->Value(QStringLiteral("q"), 0), QStringLiteral("first"));
    EXPECT_EQ(pane->Value(QStringLiteral("q"), 1), QStringLiteral("changed"));

    // A select takes a value by choosing the option that carries it.
    pane->SetValue(QStringLiteral("Seibetu"), QStringLiteral("1"));
    EXPECT_EQ(js(QStringLiteral("document.getElementsByName('Seibetu')[0].selectedIndex")).toInt(),
              1);
    EXPECT_EQ(pane->Value(QStringLiteral("Seibetu")), QStringLiteral("1"));
}

TEST_F(PaneTest, MissingElementsThrow) {
    pane->Write(kForm);
    struct Case {
        const char* what;
        QString name;
        int index;
    } cases[] = {
        {"unknown name", QStringLiteral("ExamID"), -1},
        {"index past the last", QStringLiteral("q"), 2},
        {"case differs", QStringLiteral("familyname"), -1},
        {"element without a value", QStringLiteral("NoValue"), -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_THROW(pane->Value(c.name, c.index), PaneError);
        EXPECT_THROW(pane->SetValue(c.name, QStringLiteral("x"), c.index), PaneError);
    }
    EXPECT_THROW(pane->Focus(QStringLiteral("ExamID")), PaneError);
    // Skip-on-error callers go on with their next step.
    EXPECT_FALSE(step([&] { pane->SetValue(QStringLiteral("ExamID"), QString()); }));
    EXPECT_EQ(pane->Value(QStringLiteral("FamilyName")), QStringLiteral("山田"));
}

TEST_F(PaneTest, FocusMovesIntoTheElement) {
    pane->Write(kForm);
    pane->Focus(QStringLiteral("q"), 1);
    EXPECT_TRUE(js(QStringLiteral("document.activeElement === document.getElementsByName('q')[1]"))
                    .toBool());
    pane->Focus(QStringLiteral("Note"));
    EXPECT_EQ(js(QStringLiteral("document.activeElement.name")).toString(), QStringLiteral("Note"));
}

TEST_F(PaneTest, WritesAddToTheBlankDocumentAndRefreshEmptiesIt) {
    pane->Navigate2(QStringLiteral("about:blank"));
    pane->Refresh();
    pane->Write(QStringLiteral("<p>一</p>"));
    pane->Write(QStringLiteral("<input name=\"ExamID\" value=\"A1\">"));
    EXPECT_EQ(js(QStringLiteral("document.body.innerText.trim()")).toString(),
              QStringLiteral("一"));
    EXPECT_EQ(pane->Value(QStringLiteral("ExamID")), QStringLiteral("A1"));

    pane->Refresh();
    EXPECT_EQ(js(QStringLiteral("document.body ? document.body.innerHTML : ''")).toString(),
              QString());
    EXPECT_THROW(pane->Value(QStringLiteral("ExamID")), PaneError);
}

TEST_F(PaneTest, ScriptsInDocumentsRun) {
    pane->Write(QStringLiteral("<input name=\"a\"><script>document.getElementsByName('a')[0].value"
                               " = 'set by ' + 'script';</script>"));
    EXPECT_EQ(pane->Value(QStringLiteral("a")), QStringLiteral("set by script"));
}

TEST_F(PaneTest, DocumentsLargerThanTheInlineLimitAreWritten) {
    QString big = QStringLiteral("<input name=\"top\" value=\"上\"><div>");
    const QString row = QStringLiteral("<p>仕訳の問題文です。勘定科目を選んでください。</p>\n");
    for (qsizetype bytes = 0; bytes < 3 * 1024 * 1024; bytes += row.toUtf8().size())
        big += row;
    big += QStringLiteral("</div><img name=\"pic\" src=\"images/pass.gif\">"
                          "<input name=\"bottom\" value=\"下\">");
    pane->Write(big);
    EXPECT_EQ(pane->Value(QStringLiteral("top")), QStringLiteral("上"));
    EXPECT_EQ(pane->Value(QStringLiteral("bottom")), QStringLiteral("下"));
    EXPECT_TRUE(test::waitUntil(
        [&] { return js(QStringLiteral("document.images[0].naturalWidth")).toInt() > 0; }));

    // Nothing of it is left behind in the data folder.
    pane->Refresh();
    EXPECT_THROW(pane->Value(QStringLiteral("top")), PaneError);
    EXPECT_EQ(QDir(data).entryList(QDir::Files | QDir::Hidden), QStringList());
}

TEST_F(PaneTest, ImagesFromTheDataFolderLoad) {
    // Relative, and absolute as the result page builds it (folder + "/images/...").
    pane->Write(
        QStringLiteral("<img src=\"images/pass.gif\"><img src=\"%1/images/pass.gif\">").arg(data));
    EXPECT_EQ(js(QStringLiteral("document.images[0].naturalWidth")).toInt(), 160);
    EXPECT_EQ(js(QStringLiteral("document.images[1].naturalWidth")).toInt(), 160);
}

// The installed program's data folder holds links into its content folders:
// question files there show the images their relative addresses lead to, and
// a link leads into a content folder only, never elsewhere.
TEST_F(PaneTest, LinksOfAnInstalledDataFolderLeadIntoTheContentOnly) {
    const QString content = root.path() + QStringLiteral("/content/");
    const QString priv = root.path() + QStringLiteral("/private/");
    ASSERT_TRUE(QDir().mkpath(content + QStringLiteral("images")));
    ASSERT_TRUE(QDir().mkpath(priv));
    ASSERT_TRUE(QFile::copy(data + QStringLiteral("images/pass.gif"),
                            content + QStringLiteral("images/pass.gif")));
    test::writeFile(content + QStringLiteral("guide.html"), "<input name=ans value=guide>");
    test::writeFile(root.path() + QStringLiteral("/outside.html"), "<input name=ans value=out>");
    ASSERT_TRUE(QFile::link(content + QStringLiteral("images"), priv + QStringLiteral("images")));
    ASSERT_TRUE(
        QFile::link(content + QStringLiteral("guide.html"), priv + QStringLiteral("guide.html")));
    ASSERT_TRUE(QFile::link(root.path() + QStringLiteral("/outside.html"),
                            priv + QStringLiteral("leak.html")));
    test::writeFile(priv + QStringLiteral("index.html"),
                    "<img src=\"images/pass.gif\"><input name=ans value=q1>");

    WebEnginePane installed(&window, priv, &dialogs, {content});
    installed.Navigate2(priv + QStringLiteral("index.html"));
    EXPECT_EQ(installed.evaluate(QStringLiteral("document.images[0].naturalWidth")).toInt(), 160);
    installed.Navigate2(priv + QStringLiteral("guide.html"));
    EXPECT_EQ(installed.Value(QStringLiteral("ans")), QStringLiteral("guide"));
    EXPECT_THROW(installed.Navigate2(priv + QStringLiteral("leak.html")), PaneError);
    // Without the content folder, the same link is refused.
    WebEnginePane plain(&window, priv, &dialogs);
    EXPECT_THROW(plain.Navigate2(priv + QStringLiteral("guide.html")), PaneError);
}

TEST_F(PaneTest, QuestionFilesLoadButNothingOutsideTheDataFolder) {
    test::writeFile(data + QStringLiteral("index.html"),
                    QStringLiteral("\uFEFF<html><head><meta charset=\"utf-8\"></head><body>"
                                   "<input name=\"ans\" value=\"第1問\">"
                                   "<a id=\"out\" href=\"../outside.html\">x</a></body></html>")
                        .toUtf8());
    test::writeFile(root.path() + QStringLiteral("/outside.html"), "<input name=ans value=out>");
    pane->Navigate2(data + QStringLiteral("index.html"));
    EXPECT_EQ(pane->Value(QStringLiteral("ans")), QStringLiteral("第1問"));
    // Again, and to a place in it: both return once shown.
    pane->SetValue(QStringLiteral("ans"), QStringLiteral("消える"));
    pane->Navigate2(data + QStringLiteral("index.html"));
    EXPECT_EQ(pane->Value(QStringLiteral("ans")), QStringLiteral("第1問"));
    QElapsedTimer jump;
    jump.start();
    pane->Navigate2(QUrl::fromLocalFile(data + QStringLiteral("index.html")).toString() +
                    QStringLiteral("#out"));
    EXPECT_LT(jump.elapsed(), 5000);
    EXPECT_TRUE(test::waitUntil([&] { return url().endsWith(QStringLiteral("#out")); }));
    pane->Navigate2(data + QStringLiteral("index.html"));
    const QString question = url();

    // Refused by Navigate2 itself.
    const QString refused[] = {
        root.path() + QStringLiteral("/outside.html"), data + QStringLiteral("../outside.html"),
        data + QStringLiteral("missing.html"),         data,
        QStringLiteral("http://127.0.0.1:9/"),         QStringLiteral("file:///etc/passwd")};
    for (const QString& target : refused) {
        SCOPED_TRACE(target.toStdString());
        EXPECT_THROW(pane->Navigate2(target), PaneError);
        EXPECT_EQ(url(), question);
    }

    // Refused when the page itself tries: a link, a script, a pop-up, a frame, a submit.
    js(QStringLiteral("document.getElementById('out').click()"));
    js(QStringLiteral("location.href = 'https://127.0.0.1:9/'"));
    js(QStringLiteral("window.__popup = window.open('file:///etc/passwd')"));
    js(QStringLiteral("var f = document.createElement('iframe'); f.src = 'file:///etc/hostname';"
                      "document.body.appendChild(f)"));
    test::waitUntil([] { return false; }, 500);
    EXPECT_EQ(url(), question);
    EXPECT_EQ(pane->Value(QStringLiteral("ans")), QStringLiteral("第1問"));
    EXPECT_FALSE(js(QStringLiteral("!!window.__popup")).toBool());
    EXPECT_EQ(js(QStringLiteral("(function(){try{return document.querySelector('iframe')"
                                ".contentWindow.location.href}catch(e){return 'no access'}})()"))
                  .toString(),
              QStringLiteral("about:blank"));

    // Links between the exam's own files still work.
    test::writeFile(data + QStringLiteral("index2.html"), "<input name=ans value=two>");
    js(QStringLiteral("location.href = 'index2.html'"));
    EXPECT_TRUE(test::waitUntil([&] { return url().endsWith(QStringLiteral("/index2.html")); }));
    EXPECT_TRUE(test::waitUntil([&] {
        return js(QStringLiteral("document.readyState")).toString() == QStringLiteral("complete");
    }));
    EXPECT_EQ(pane->Value(QStringLiteral("ans")), QStringLiteral("two"));
}

TEST_F(PaneTest, SubmitsAndHistoryKeepTheExamineesInput) {
    // Enter in a field submits, a mouse button or a script goes back: the answers
    // must stay where the program reads them.
    test::writeFile(data + QStringLiteral("index.html"), "<form><input name=\"ans\"></form>");
    const QString written = QStringLiteral("<form><input name=\"ans\"></form>");
    const QString leave[] = {QStringLiteral("document.forms[0].submit()"),
                             QStringLiteral("history.back()")};
    for (const QString& script : leave) {
        for (bool fromFile : {true, false}) {
            SCOPED_TRACE((script + (fromFile ? " on a question file" : " on a written document"))
                             .toStdString());
            pane->Navigate2(QStringLiteral("about:blank"));
            if (fromFile)
                pane->Navigate2(data + QStringLiteral("index.html"));
            else
                pane->Write(written);
            pane->SetValue(QStringLiteral("ans"), QStringLiteral("入力済み"));
            js(script);
            test::waitUntil([] { return false; }, 500);
            EXPECT_EQ(pane->Value(QStringLiteral("ans")), QStringLiteral("入力済み"));
        }
    }
}

TEST_F(PaneTest, PrintGoesThroughTheDialog) {
    pane->Write(QStringLiteral("<h1>試験結果</h1><p>合計 70 点 Result page</p>"));
    const QString pdf = root.path() + QStringLiteral("/result.pdf");
    dialogs.printPdfPath = pdf;

    dialogs.answer({Answer::CancelPrint});
    pane->Print();
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].kind, ShownDialog::PrintDialog);
    EXPECT_FALSE(QFileInfo::exists(pdf));

    dialogs.answer({Answer::Print});
    pane->Print();
    ASSERT_TRUE(QFileInfo::exists(pdf));
    QProcess text;
    text.start(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")});
    ASSERT_TRUE(text.waitForFinished(30000));
    const QString printed = QString::fromUtf8(text.readAllStandardOutput());
    EXPECT_TRUE(printed.contains(QStringLiteral("試験結果"))) << printed.toStdString();
    EXPECT_TRUE(printed.contains(QStringLiteral("Result page"))) << printed.toStdString();
}

TEST_F(PaneTest, APrintThatCannotBeMadeIsReportedAsFailed) {
    // The examinee "chose" a printer that does not exist.
    struct NoSuchPrinter : ScriptedDialogHost {
        bool printDialog(QPrinter& printer) override {
            printer.setPrinterName(QStringLiteral("brevik-no-such-printer"));
            return true;
        }
    } host;
    WebEnginePane printing(&window, data, &host);
    printing.Write(QStringLiteral("<p>結果</p>"));
    EXPECT_THROW(printing.Print(), PaneError);
}

TEST_F(PaneTest, ScreenFontNamesUseTheIpaFonts) {
    // In widgets.
    EXPECT_EQ(QFontInfo(QFont(QStringLiteral("ＭＳ Ｐゴシック"))).family(),
              QStringLiteral("IPAPGothic"));
    EXPECT_EQ(QFontInfo(QFont(QStringLiteral("ＭＳ ゴシック"))).family(),
              QStringLiteral("IPAGothic"));

    // In the panes: the aliased names measure like the fonts they stand for.
    pane->Write(QStringLiteral("<canvas id=\"c\"></canvas>"));
    auto width = [&](const QString& family) {
        return js(QStringLiteral(
                      "(function(){var c=document.getElementById('c').getContext('2d');"
                      "c.font='20px \"%1\"';return c.measureText('Wil1 受験ｱｲ').width})()")
                      .arg(family))
            .toDouble();
    };
    const double pGothic = width(QStringLiteral("IPAPGothic"));
    const double gothic = width(QStringLiteral("IPAGothic"));
    ASSERT_NE(pGothic, gothic);
    EXPECT_EQ(width(QStringLiteral("ＭＳ Ｐゴシック")), pGothic);
    EXPECT_EQ(width(QStringLiteral("ＭＳ ゴシック")), gothic);
}

TEST_F(PaneTest, FactoryPanesFailCleanlyOnceTheirWindowIsGone) {
    Services svc;
    svc.makePane = webEnginePaneFactory(data, &dialogs);
    auto* owner = new QWidget;
    std::unique_ptr<BrowserPane> made = svc.makePane(owner);
    EXPECT_EQ(made->widget()->parentWidget(), owner);
    made->Write(QStringLiteral("<input name=\"x\" value=\"1\">"));
    EXPECT_EQ(made->Value(QStringLiteral("x")), QStringLiteral("1"));

    delete owner;
    EXPECT_THROW(made->Value(QStringLiteral("x")), PaneError);
    EXPECT_THROW(made->Write(QStringLiteral("<p>")), PaneError);
    made.reset();
}

TEST_F(PaneTest, ARendererThatDiesShowsANoticeAndItsDocumentComesBack) {
    // A written document and a navigated question file: both come back.
    QFile q(data + QStringLiteral("index.html"));
    ASSERT_TRUE(q.open(QIODevice::WriteOnly));
    q.write(kForm.toUtf8());
    q.close();
    const std::function<void()> loads[] = {
        [&] { pane->Write(kForm); },
        [&] { pane->Navigate2(data + QStringLiteral("index.html")); },
    };
    for (const auto& load : loads) {
        load();
        const qint64 pid = page()->renderProcessPid();
        ASSERT_GT(pid, 0);
        bool died = false;
        auto c = QObject::connect(page(), &QWebEnginePage::renderProcessTerminated,
                                  [&died] { died = true; });
        testing::internal::CaptureStderr();
        ::kill(static_cast<pid_t>(pid), SIGKILL); // as the out-of-memory killer does
        ASSERT_TRUE(test::waitUntil([&] { return died; }));
        QObject::disconnect(c);
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_NE(err.find("was killed"), std::string::npos) << err;

        auto* notice = pane->widget()->findChild<QLabel*>();
        ASSERT_NE(notice, nullptr);
        EXPECT_TRUE(notice->text().contains(QStringLiteral("試験監督者にお知らせください")));
        EXPECT_EQ(notice->size(), pane->widget()->size());
        // The document is loaded again in a new renderer, and the notice goes.
        ASSERT_TRUE(test::waitUntil([&] { return notice->isHidden(); }));
        EXPECT_NE(page()->renderProcessPid(), pid);
        EXPECT_EQ(pane->Value(QStringLiteral("FamilyName")), QStringLiteral("山田"));
    }
}

TEST_F(PaneTest, ARendererThatHangsFailsTheCallInsteadOfBlocking) {
    pane->Write(kForm);
    pane->setTimeoutMs(1000);
    QElapsedTimer t;
    t.start();
    EXPECT_THROW(pane->evaluate(QStringLiteral("while (true) {}")), PaneError);
    EXPECT_LT(t.elapsed(), 5000);
}

TEST_F(PaneTest, AHiddenPaneGivesUpItsRendererAndComesBackEmpty) {
    pane->Write(kForm);
    // Not while it is shown.
    pane->releaseRenderer();
    EXPECT_EQ(page()->lifecycleState(), QWebEnginePage::LifecycleState::Active);
    EXPECT_EQ(pane->Value(QStringLiteral("FamilyName")), QStringLiteral("山田"));

    window.hide();
    pane->releaseRenderer();
    EXPECT_EQ(page()->lifecycleState(), QWebEnginePage::LifecycleState::Discarded);
    // The next call finds an empty document, as after about:blank.
    EXPECT_THROW(pane->Value(QStringLiteral("FamilyName")), PaneError);
    EXPECT_EQ(page()->lifecycleState(), QWebEnginePage::LifecycleState::Active);
    EXPECT_EQ(url(), QStringLiteral("about:blank"));
    pane->Write(kForm);
    EXPECT_EQ(pane->Value(QStringLiteral("FamilyName")), QStringLiteral("山田"));
    window.show();
    EXPECT_TRUE(pane->widget()->findChild<QLabel*>() == nullptr) << "no notice for a release";
}

} // namespace
