#pragma once
// A whole session over the real web engine and a copy of the sample exam's
// data folder, with scripted dialogs and a fake desktop.
#include "app/Defaults.h"
#include "app/LaunchArgs.h"
#include "exam/frmKaikei.h"
#include "flow/Session.h"
#include "platform/fake/FakeDesktop.h"
#include "platform/fake/ScriptedDialogHost.h"
#include "platform/webengine/WebEnginePane.h"
#include "support/TestSupport.h"
#include "ui/main/frmMain.h"

#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QWebEngineView>
#include <gtest/gtest.h>
#include <memory>

namespace brevik::test {

class SessionFixture : public ::testing::Test {
protected:
    void SetUp() override {
        root = tmp.path() + QStringLiteral("/");
        data = root + QStringLiteral("data/");
        ASSERT_TRUE(copySampleData(data));
        st.strAppPath = root;
        st.strDataPath = data;
        st.strWorkPath = root + QStringLiteral("quillo/");
        st.strResultPath = root + QStringLiteral("brevik_result/");
        QDir().mkpath(st.strWorkPath);
        QDir().mkpath(st.strResultPath);
        st.strDbPassword = QString::fromLatin1(kDbPassword);
        st.strUserAgent = QString::fromLatin1(kUserAgent);
        st.arrLaunchArgs = BuildLaunchList(QString(), QDateTime::currentDateTime());
        st.svc.dialogs = &dialogs;
        st.svc.desktop = &desktop;
        st.svc.makePane = webEnginePaneFactory(data, &dialogs);
        st.svc.terminate = [this] { ++terminated; };
    }

    // Windows with web views are hidden, never destroyed: tearing views down
    // between tests is not what the program ever does. The fixture's fakes go
    // away with the test, so nothing may tick on.
    void TearDown() override {
        if (!session)
            return;
        if (frmKaikei* exam = session->exam()) {
            exam->Timer1->stop();
            exam->Timer2->stop();
            exam->blnBlockUnload = false;
            exam->close();
        }
        session->main().Timer1->stop();
        session->main().onTimer1Tick = nullptr;
        session->main().hide();
        session.release();
    }

    void start(const QString& launchText = QString()) {
        if (!launchText.isEmpty())
            st.arrLaunchArgs = BuildLaunchList(launchText, QDateTime::currentDateTime());
        session = std::make_unique<Session>(st);
        session->main().onNoWindowLeft = [] {};
        session->start();
    }
    // Registers with the sample record and opens the exam screen.
    frmKaikei& toExam(const QString& launchText = QString()) {
        start(launchText);
        click();
        dialogs.answer({Answer::Register});
        click();
        click();
        EXPECT_NE(session->exam(), nullptr);
        return *session->exam();
    }

    frmMain& main() { return session->main(); }
    QString caption() { return main().Command1->text(); }
    WebEnginePane& pane() { return static_cast<WebEnginePane&>(*main().wbMain); }
    static QWebEnginePage* pageOf(BrowserPane& p) {
        return static_cast<QWebEngineView*>(p.widget())->page();
    }
    QVariant eval(const QString& js) { return pane().evaluate(js); }
    QString pageText() { return eval(QStringLiteral("document.body.innerText")).toString(); }
    void click() { session->Command1_Click(); }

    QTemporaryDir tmp;
    QString root, data;
    AppState st;
    ScriptedDialogHost dialogs;
    FakeDesktop desktop;
    std::unique_ptr<Session> session;
    int terminated = 0;
};

} // namespace brevik::test
