// The exam screen on a real X server with a window manager: it fills the work
// area, sits in the topmost band, stays open when the window manager asks it
// to close, and its time-up box is above everything and answered with keys.
#include "../desktop/TestWindow.h"
#include "exam/frmKaikei.h"
#include "platform/fake/ScriptedDialogHost.h"
#include "platform/webengine/WebEnginePane.h"
#include "platform/x11/X11Desktop.h"
#include "platform/x11/XTestDriver.h"
#include "support/TestSupport.h"
#include "ui/dialogs/QtDialogHost.h"

#include <QDialog>
#include <QPushButton>
#include <QTemporaryDir>
#include <QWindow>
#include <gtest/gtest.h>

using namespace brevik;

namespace {

// The real desktop with a clock that can be moved on (40 minutes cannot be waited for).
class LateDesktop : public X11Desktop {
public:
    qint64 late = 0;
    qint64 GetTickCount() override { return X11Desktop::GetTickCount() + late; }
};

QString questionFolder(const QTemporaryDir& dir) {
    const QString data = dir.path() + QStringLiteral("/");
    for (const char* name : {"index.html", "index2.html", "index3.html"})
        test::writeFile(data + QString::fromLatin1(name),
                        "<html><body><input name=\"answer\"></body></html>");
    return data;
}

// An exam screen's state: the question files in data, real panes.
void wire(AppState& st, const QString& data, Desktop& desk, DialogHost& dlg) {
    st.strDataPath = data;
    st.svc.desktop = &desk;
    st.svc.dialogs = &dlg;
    st.svc.makePane = webEnginePaneFactory(data, &dlg);
}

quint32 xid(QWidget* w) {
    return quint32(w->windowHandle()->winId());
}

TEST(ExamScreenX11, TimeUpBoxIsAboveEverythingAndTakesTheKeys) {
    QTemporaryDir dir;
    const QString data = questionFolder(dir);
    LateDesktop desk;
    ASSERT_TRUE(desk.available());
    QtDialogHost dlg;
    AppState st;
    wire(st, data, desk, dlg);
    XTestDriver person;
    ASSERT_TRUE(person.connected());
    const XTestDriver::Pause pause = [](int ms) { test::waitUntil([] { return false; }, ms); };
    person.setPause(pause);

    // Another program's window that keeps itself on top.
    test::TestWindow other({"--class", "Sticky", "--title", "sticky"});
    ASSERT_TRUE(other.ready());

    auto* w = new frmKaikei(st);
    bool ended = false;
    w->end_syori = [&] {
        ended = true;
        w->close();
    };
    w->Show();
    ASSERT_TRUE(test::waitUntil([&] { return w->isActiveWindow(); }));
    quint32 sticky = 0;
    for (const auto& c : person.clients())
        if (c.title == QStringLiteral("sticky"))
            sticky = c.id;
    ASSERT_NE(sticky, 0u);
    test::setStateAbove(sticky);
    ASSERT_TRUE(test::waitUntil([&] { return person.client(sticky).above; }));

    // The time is up at the next tick: the box comes, "いいえ" brings it back at
    // the tick after, "はい" ends the exam. Each time it is above the exam
    // screen and the other program's topmost window, and has the keyboard.
    int shown = 0;
    dlg.onDialogShown = [&](QDialog* box) {
        ++shown;
        EXPECT_EQ(box->windowTitle(), QStringLiteral("解答時間終了"));
        EXPECT_EQ(person.whyNotAnswerable(xid(box), xid(w), pause), QString()) << shown;
        EXPECT_TRUE(person.isAbove(xid(box), sticky)) << person.describe().toStdString();
        person.key(shown == 1 ? QStringLiteral("n") : QStringLiteral("y"));
    };
    desk.late = 2401 * 1000;
    ASSERT_TRUE(test::waitUntil([&] { return ended; }, 30000)) << "shown " << shown;
    EXPECT_EQ(shown, 2);
    w->deleteLater();
    test::waitUntil([] { return false; }, 200);
}

TEST(ExamScreenX11, StaysOpenAndOnTopUntilTheExamEnds) {
    QTemporaryDir dir;
    const QString data = questionFolder(dir);
    X11Desktop desk;
    ASSERT_TRUE(desk.available());
    ScriptedDialogHost dlg;
    AppState st;
    wire(st, data, desk, dlg);

    auto* w = new frmKaikei(st);
    w->Show();
    ASSERT_TRUE(test::waitUntil([&] { return w->isActiveWindow(); }));
    const WorkArea wa = WorkAreaOrScreen(desk);
    EXPECT_EQ(w->size(), QSize(wa.right - wa.left, wa.bottom - wa.top));
    EXPECT_TRUE(w->windowHandle()->flags() & Qt::WindowStaysOnTopHint);

    // The window manager's close (what Alt+F4 sends) is refused during the exam.
    EXPECT_FALSE(desk.RequestClose(WindowId(w->winId())));
    test::waitUntil([] { return false; }, 200);
    EXPECT_TRUE(w->isVisible());
    EXPECT_TRUE(w->isLoaded());

    // The end button's Yes lets it go.
    dlg.answer({Answer::Yes});
    w->end_syori = [&] { w->close(); };
    w->Command1->click();
    EXPECT_FALSE(w->isVisible());
    EXPECT_FALSE(w->isLoaded());
    w->deleteLater();
    test::waitUntil([] { return false; }, 200);
}

} // namespace
