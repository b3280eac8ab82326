// The exam screen on a real X server with a window manager: it fills the work
// area, sits in the topmost band and stays open when the window manager asks
// it to close.
#include "exam/frmKaikei.h"
#include "platform/fake/ScriptedDialogHost.h"
#include "platform/webengine/WebEnginePane.h"
#include "platform/x11/X11Desktop.h"
#include "support/TestSupport.h"

#include <QPushButton>
#include <QTemporaryDir>
#include <QWindow>
#include <gtest/gtest.h>

using namespace brevik;

namespace {

TEST(ExamScreenX11, StaysOpenAndOnTopUntilTheExamEnds) {
    QTemporaryDir dir;
    const QString data = dir.path() + QStringLiteral("/");
    for (const char* name : {"index.html", "index2.html", "index3.html"})
        test::writeFile(data + QString::fromLatin1(name),
                        "<html><body><input name=\"answer\"></body></html>");
    X11Desktop desk;
    ASSERT_TRUE(desk.available());
    ScriptedDialogHost dlg;
    AppState st;
    st.strDataPath = data;
    st.svc.desktop = &desk;
    st.svc.dialogs = &dlg;
    st.svc.makePane = webEnginePaneFactory(data, &dlg);

    auto* w = new frmKaikei(st);
    w->Show();
    ASSERT_TRUE(test::waitUntil([&] { return w->isActiveWindow(); }));
    const WorkArea wa = desk.GetWorkArea();
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
