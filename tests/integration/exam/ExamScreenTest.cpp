// The exam screen with real web panes (offscreen): load, question switching,
// the refused close and the placement of the window and its controls.
#include "exam/frmKaikei.h"
#include "platform/fake/FakeDesktop.h"
#include "platform/fake/ScriptedDialogHost.h"
#include "platform/webengine/WebEnginePane.h"
#include "support/TestSupport.h"

#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using namespace brevik;

namespace {

QByteArray question(int n) {
    return QStringLiteral("<!DOCTYPE html><html><head><meta charset=\"UTF-8\"></head><body>"
                          "<h1>第%1問</h1><input name=\"which\" value=\"%1\">"
                          "<input name=\"answer\" value=\"\"></body></html>")
        .arg(n)
        .toUtf8();
}

class ExamScreenTest : public ::testing::Test {
protected:
    ExamScreenTest() {
        data = dir.path() + QStringLiteral("/");
        test::writeFile(data + QStringLiteral("index.html"), question(1));
        test::writeFile(data + QStringLiteral("index2.html"), question(2));
        test::writeFile(data + QStringLiteral("index3.html"), question(3));
        st.strDataPath = data;
        st.svc.desktop = &desk;
        st.svc.dialogs = &dlg;
        st.svc.makePane = webEnginePaneFactory(data, &dlg);
    }
    ~ExamScreenTest() override { dispose(); }

    // Closes the screen and lets the engine settle before its views go away.
    void dispose() {
        if (!w)
            return;
        w->blnBlockUnload = false;
        w->close();
        w.release()->deleteLater();
        test::waitUntil([] { return false; }, 100);
    }

    // Opens the screen as the flow does and waits until it is active.
    void open() {
        w = std::make_unique<frmKaikei>(st);
        w->Show();
        ASSERT_TRUE(test::waitUntil([&] { return w->isActiveWindow(); }));
    }
    QWidget* paneWidget(int i) const {
        return i == 0   ? w->wbQuestion->widget()
               : i == 1 ? w->wbQuestion2->widget()
                        : w->wbQuestion3->widget();
    }
    BrowserPane* pane(int i) const {
        return i == 0 ? w->wbQuestion.get() : i == 1 ? w->wbQuestion2.get() : w->wbQuestion3.get();
    }
    QColor selectorColour(int i) const {
        return w->cmdMondai[i]->palette().color(QPalette::Button);
    }
    // Only pane `shown` is visible, at full size, and only its selector is highlighted.
    void expectShowing(int shown) const {
        const QSize full(w->width(), w->height() - 71);
        for (int i = 0; i < 3; ++i) {
            SCOPED_TRACE(QStringLiteral("pane %1 of shown %2").arg(i).arg(shown).toStdString());
            EXPECT_EQ(paneWidget(i)->isVisible(), i == shown);
            EXPECT_EQ(paneWidget(i)->x(), 0);
            EXPECT_EQ(selectorColour(i),
                      i == shown ? frmKaikei::selectedColour() : frmKaikei::buttonFaceColour());
        }
        EXPECT_EQ(paneWidget(shown)->size(), full);
        EXPECT_EQ(w->intCurrentQuestion, shown);
    }

    QTemporaryDir dir;
    QString data;
    AppState st;
    FakeDesktop desk;
    ScriptedDialogHost dlg;
    std::unique_ptr<frmKaikei> w;
};

TEST_F(ExamScreenTest, DesignLookBeforeTheLoad) {
    w = std::make_unique<frmKaikei>(st);
    EXPECT_TRUE(w->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(w->palette().color(QPalette::Window), QColor(0, 64, 64));
    const char* const captions[] = {"第１問", "第２問", "第３問"};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(w->cmdMondai[i]->text(), QString::fromUtf8(captions[i]));
        EXPECT_EQ(w->cmdMondai[i]->font().pointSize(), 18);
        EXPECT_TRUE(w->cmdMondai[i]->font().bold());
    }
    EXPECT_EQ(w->Command1->text(), QStringLiteral("試験終了"));
    EXPECT_EQ(w->lblRemaining->text(), QStringLiteral("残り時間：30:00"));
    EXPECT_EQ(w->lblRemaining->palette().color(QPalette::WindowText), QColor(Qt::white));
    EXPECT_FALSE(w->lblRemaining->autoFillBackground());
    EXPECT_FALSE(w->lblWaitMsg->isVisibleTo(w.get()));
    EXPECT_FALSE(w->Timer1->isActive());
    EXPECT_TRUE(w->Timer2->isActive());
}

TEST_F(ExamScreenTest, LoadShowsQuestionOneAndKeepsTheOthersLoadedButHidden) {
    desk.tick = 123'456;
    open();
    expectShowing(0);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(pane(i)->Value(QStringLiteral("which")), QString::number(i + 1)) << i;
    EXPECT_EQ(w->lngStartTick, 123'456);
    EXPECT_TRUE(w->blnBlockUnload);
    EXPECT_TRUE(w->Timer1->isActive());
    // No title anywhere, and on top.
    EXPECT_EQ(desk.calls,
              (QStringList{QStringLiteral("clear title"), QStringLiteral("topmost on")}));
}

TEST_F(ExamScreenTest, SwitchingShowsTheChosenPaneAndNeverReloadsOne) {
    open();
    // What the examinee typed stays in its question while others are shown.
    pane(0)->Focus(QStringLiteral("answer"));
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("300000"));
    ASSERT_TRUE(test::waitUntil(
        [&] { return pane(0)->Value(QStringLiteral("answer")) == QStringLiteral("300000"); }));
    pane(2)->SetValue(QStringLiteral("answer"), QStringLiteral("売掛金"));

    for (int index : {1, 2, 0, 0, 2, 2, 1, 0}) {
        SCOPED_TRACE(index);
        w->cmdMondai[index]->click();
        expectShowing(index);
    }
    EXPECT_EQ(pane(0)->Value(QStringLiteral("answer")), QStringLiteral("300000"));
    EXPECT_EQ(pane(2)->Value(QStringLiteral("answer")), QStringLiteral("売掛金"));
}

TEST_F(ExamScreenTest, CloseRequestIsRefusedDuringTheExam) {
    open();
    EXPECT_FALSE(w->close());
    EXPECT_TRUE(w->isVisible());
    EXPECT_TRUE(w->isLoaded());

    w->blnBlockUnload = false; // as the end of the exam leaves it
    EXPECT_TRUE(w->close());
    EXPECT_FALSE(w->isLoaded());

    // A later load after the exam has ended does nothing.
    st.blnExamEnded = true;
    desk.calls.clear();
    w->Form_Load();
    EXPECT_FALSE(w->blnBlockUnload);
    EXPECT_TRUE(desk.calls.isEmpty());
}

TEST_F(ExamScreenTest, WindowCoversTheWorkAreaWhereverItStarts) {
    struct Case {
        WorkArea area;
        const char* where;
    };
    const Case cases[] = {
        {{0, 40, 1280, 1024}, "task bar on top"},
        {{64, 0, 1024, 768}, "task bar on the left"},
        {{0, 0, 1025, 700}, "odd width"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.where);
        desk.workArea = c.area;
        open();
        const int W = c.area.right - c.area.left, H = c.area.bottom - c.area.top;
        EXPECT_EQ(w->pos(), QPoint(-1, -1));
        EXPECT_EQ(w->size(), QSize(W, H));
        EXPECT_EQ(w->rcWorkArea, c.area);
        EXPECT_EQ(w->Command1->pos(), QPoint(W - 120, H - 60));
        EXPECT_EQ(w->cmdMondai[0]->pos(), QPoint(7, H - 63));
        EXPECT_EQ(w->cmdMondai[1]->pos(), QPoint(140, H - 63));
        EXPECT_EQ(w->cmdMondai[2]->pos(), QPoint(273, H - 63));
        // Centred to within the rounding of half a pixel.
        EXPECT_LE(std::abs(2 * w->lblRemaining->x() + w->lblRemaining->width() - W), 1);
        EXPECT_EQ(w->lblRemaining->y(), H - 56);
        EXPECT_LE(std::abs(2 * w->lblWaitMsg->x() + w->lblWaitMsg->width() - W), 1);
        EXPECT_EQ(w->lblWaitMsg->y(), H - 58);
        EXPECT_EQ(paneWidget(0)->geometry(), QRect(0, 0, W, H - 71));
        dispose();
    }
}

TEST_F(ExamScreenTest, TinyWorkAreaKeepsTheWaitLabelInsideAndThePanesEmpty) {
    desk.workArea = {0, 0, 200, 50};
    open();
    EXPECT_EQ(w->lblWaitMsg->x(), 4); // 60 twips
    EXPECT_EQ(paneWidget(0)->height(), 0);
    w->cmdMondai[1]->click();
    EXPECT_EQ(paneWidget(1)->size(), QSize(200, 0));
    EXPECT_EQ(w->intCurrentQuestion, 1);
}

TEST_F(ExamScreenTest, UnreportedWorkAreaFallsBackToTheScreen) {
    desk.workArea = {};
    open();
    const QRect avail = QGuiApplication::primaryScreen()->availableGeometry();
    ASSERT_FALSE(avail.isEmpty());
    EXPECT_EQ(w->size(), avail.size());
    EXPECT_EQ(paneWidget(0)->height(), avail.height() - 71);
}

} // namespace
