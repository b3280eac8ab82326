// The main window on a real X server with a window manager and a 30-pixel
// task bar at the bottom of a 1024 x 768 screen.
#include "app/AppState.h"
#include "app/Defaults.h"
#include "app/LaunchArgs.h"
#include "platform/fake/ScriptedDialogHost.h"
#include "platform/webengine/WebEnginePane.h"
#include "platform/x11/X11Desktop.h"
#include "support/TestSupport.h"
#include "ui/main/frmMain.h"

#include <QApplication>
#include <QDateTime>
#include <QPushButton>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <xcb/xcb.h>

namespace brevik::test {
namespace {

// A dock window that reserves a strip at the bottom of the screen, as a
// desktop's panel does; the window manager takes it out of the work area.
class TaskBar {
public:
    explicit TaskBar(int height) : c_(xcb_connect(nullptr, nullptr)) {
        const xcb_screen_t* s = xcb_setup_roots_iterator(xcb_get_setup(c_)).data;
        w_ = xcb_generate_id(c_);
        xcb_create_window(c_, XCB_COPY_FROM_PARENT, w_, s->root, 0,
                          int16_t(s->height_in_pixels - height), s->width_in_pixels,
                          uint16_t(height), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, s->root_visual, 0,
                          nullptr);
        const xcb_atom_t dock = atom("_NET_WM_WINDOW_TYPE_DOCK");
        xcb_change_property(c_, XCB_PROP_MODE_REPLACE, w_, atom("_NET_WM_WINDOW_TYPE"),
                            XCB_ATOM_ATOM, 32, 1, &dock);
        const uint32_t strut[12] = {
            0, 0, 0, uint32_t(height), 0, 0, 0, 0, 0, 0, 0, uint32_t(s->width_in_pixels - 1)};
        xcb_change_property(c_, XCB_PROP_MODE_REPLACE, w_, atom("_NET_WM_STRUT_PARTIAL"),
                            XCB_ATOM_CARDINAL, 32, 12, strut);
        xcb_change_property(c_, XCB_PROP_MODE_REPLACE, w_, atom("_NET_WM_STRUT"), XCB_ATOM_CARDINAL,
                            32, 4, strut);
        xcb_map_window(c_, w_);
        xcb_flush(c_);
    }
    // What a close button in the window manager's frame does.
    void closeViaWindowManager(xcb_window_t window) {
        const xcb_screen_t* s = xcb_setup_roots_iterator(xcb_get_setup(c_)).data;
        xcb_client_message_event_t ev{};
        ev.response_type = XCB_CLIENT_MESSAGE;
        ev.format = 32;
        ev.window = window;
        ev.type = atom("_NET_CLOSE_WINDOW");
        ev.data.data32[1] = 2;
        xcb_send_event(c_, 0, s->root,
                       XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                       reinterpret_cast<const char*>(&ev));
        xcb_flush(c_);
    }
    ~TaskBar() {
        xcb_destroy_window(c_, w_);
        xcb_flush(c_);
        xcb_disconnect(c_);
    }

private:
    xcb_atom_t atom(const char* name) {
        auto* r = xcb_intern_atom_reply(c_, xcb_intern_atom(c_, 0, uint16_t(strlen(name)), name),
                                        nullptr);
        const xcb_atom_t a = r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
        free(r);
        return a;
    }
    xcb_connection_t* c_;
    xcb_window_t w_ = 0;
};

TEST(MainWindowX11, FillsTheWorkAreaTwoPixelsLeftOfTheScreen) {
    X11Desktop desk;
    ASSERT_TRUE(desk.available());
    TaskBar bar(30);
    ASSERT_TRUE(waitUntil([&] {
        return desk.GetWorkArea() == WorkArea{0, 0, 1024, 738};
    })) << desk.GetWorkArea().bottom;

    ScriptedDialogHost dialogs;
    AppState st;
    st.strDataPath = binaryDir() + QStringLiteral("/data/");
    st.strDbPassword = QString::fromLatin1(kDbPassword);
    st.arrLaunchArgs = BuildLaunchList(QString(), QDateTime::currentDateTime());
    st.svc.dialogs = &dialogs;
    st.svc.desktop = &desk;
    st.svc.makePane = webEnginePaneFactory(st.strDataPath, &dialogs);
    int ended = 0;
    auto* frm = new frmMain(st);
    frm->onNoWindowLeft = [&] { ++ended; };
    frm->Show();

    // The outer frame, title bar included, fills the work area once the
    // window manager has framed the window.
    const QRect expected(-2, 0, 1024, 738);
    ASSERT_TRUE(waitUntil([&] { return frm->frameGeometry().height() > frm->height(); }))
        << "the window manager put no frame around the window";
    EXPECT_TRUE(waitUntil([&] { return frm->frameGeometry() == expected; }))
        << frm->frameGeometry().x() << "," << frm->frameGeometry().y() << " "
        << frm->frameGeometry().width() << "x" << frm->frameGeometry().height();
    EXPECT_EQ(frm->wbMain->widget()->height(), 638);
    EXPECT_EQ(frm->wbMain->widget()->width(), frm->width());
    EXPECT_EQ(frm->Command1->y(), 738 - 88);
    const int left = frm->Command1->x(), right = 1024 - left - frm->Command1->width();
    EXPECT_LE(std::abs(left - right), 1) << left << " / " << right;
    EXPECT_EQ(frm->Command1->text(), QStringLiteral("了解"));

    // Activation leaves the keyboard focus on the button out of sight.
    EXPECT_TRUE(waitUntil([&] { return frm->isActiveWindow(); }));
    EXPECT_EQ(QApplication::focusWidget(), frm->dummy);

    // The window manager's close unloads it; no window left ends the program.
    bar.closeViaWindowManager(xcb_window_t(frm->winId()));
    EXPECT_TRUE(waitUntil([&] { return ended == 1; }));
    EXPECT_FALSE(frm->isLoaded());
    EXPECT_FALSE(frm->isVisible());

    // Shown again for the result and moved to the screen's corner first, as end
    // processing does: the frame watch must not pull it back to its placement.
    // (Where exactly the window manager puts a window moved while hidden varies
    // by a title bar's height, so only the way back is checked.)
    frm->Load();
    desk.SetTopmostAt(frm, 0, 0);
    frm->Show();
    EXPECT_TRUE(waitUntil([&] { return frm->isActiveWindow(); }));
    waitUntil([] { return false; }, 500);
    EXPECT_GE(frm->frameGeometry().x(), 0);
    frm->onNoWindowLeft = [] {};
    delete frm;
    waitUntil([] { return false; }, 200);
}

} // namespace
} // namespace brevik::test
