// The main window's first screen and result printing through the real web
// pane, with the sample exam's data files.
#include "app/AppState.h"
#include "app/Defaults.h"
#include "app/LaunchArgs.h"
#include "platform/fake/FakeDesktop.h"
#include "platform/fake/ScriptedDialogHost.h"
#include "platform/webengine/WebEnginePane.h"
#include "support/TestSupport.h"
#include "ui/main/frmMain.h"

#include <QDateTime>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace brevik::test {
namespace {

class MainWindowPane : public ::testing::Test {
protected:
    void SetUp() override {
        st.strDataPath = binaryDir() + QStringLiteral("/data/");
        st.strDbPassword = QString::fromLatin1(kDbPassword);
        st.arrLaunchArgs = BuildLaunchList(QString(), QDateTime::currentDateTime());
        st.svc.dialogs = &dialogs;
        st.svc.desktop = &desktop;
        st.svc.makePane = webEnginePaneFactory(st.strDataPath, &dialogs);
        frm = std::make_unique<frmMain>(st);
        frm->onNoWindowLeft = [] {};
        frm->Show();
        pane = static_cast<WebEnginePane*>(frm->wbMain.get());
    }
    void TearDown() override {
        frm.reset();
        waitUntil([] { return false; }, 100);
    }
    QString bodyText() {
        return pane->evaluate(QStringLiteral("document.body.innerText")).toString();
    }

    ScriptedDialogHost dialogs;
    FakeDesktop desktop;
    AppState st;
    std::unique_ptr<frmMain> frm;
    WebEnginePane* pane = nullptr;
};

TEST_F(MainWindowPane, FirstLoadShowsTheFirstScreenOfTheSampleExam) {
    EXPECT_EQ(frm->Command1->text(), QStringLiteral("了解"));
    EXPECT_TRUE(bodyText().contains(QStringLiteral("体験プログラムのご案内")))
        << bodyText().toStdString();

    // The window shown again after the exam starts with an empty pane and
    // leaves the first screen alone.
    frm->Unload();
    frm->Show();
    EXPECT_TRUE(bodyText().trimmed().isEmpty()) << bodyText().toStdString();
    EXPECT_EQ(frm->windowTitle(), QStringLiteral("ヴァルネルドリン　体験プログラム"));
}

TEST_F(MainWindowPane, PrintingAskedTwiceCancelledThenPrinted) {
    QTemporaryDir out;
    dialogs.printPdfPath = out.filePath(QStringLiteral("result.pdf"));
    frm->cmdPrint->show();

    // Yes, then the print dialog cancelled: printing still counts as requested.
    dialogs.answer({Answer::Yes, Answer::CancelPrint});
    frm->cmdPrint->click();
    ASSERT_EQ(dialogs.shown.size(), 2u);
    EXPECT_EQ(dialogs.shown[0].kind, ShownDialog::Message);
    EXPECT_EQ(dialogs.shown[1].kind, ShownDialog::PrintDialog);
    EXPECT_TRUE(frm->blnResultPrinted);
    EXPECT_TRUE(frm->cmdPrint->isEnabled());
    EXPECT_FALSE(QFile::exists(dialogs.printPdfPath));

    // A second confirmed click prints the page shown.
    dialogs.answer({Answer::Yes, Answer::Print});
    frm->cmdPrint->click();
    EXPECT_EQ(dialogs.shown.size(), 4u);
    EXPECT_TRUE(frm->blnResultPrinted);
    EXPECT_TRUE(frm->cmdPrint->isEnabled());
    EXPECT_TRUE(readFile(dialogs.printPdfPath).startsWith("%PDF"));

    // No: no print dialog at all.
    dialogs.answer({Answer::No});
    frm->cmdPrint->click();
    EXPECT_EQ(dialogs.shown.size(), 5u);
    EXPECT_TRUE(frm->blnResultPrinted);
}

} // namespace
} // namespace brevik::test
