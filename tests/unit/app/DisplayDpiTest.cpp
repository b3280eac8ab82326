#include "app/InstanceLock.h"
#include "app/Startup.h"
#include "platform/fake/ScriptedDialogHost.h"

#include <QFileInfo>
#include <gtest/gtest.h>

using namespace brevik;

// Runs with QT_FONT_DPI=120: a valid start is refused for the display.
TEST(DisplayCheck, A120DpiDisplayIsRefused) {
    ASSERT_FALSE(DisplayIs96Dpi());
    AppState st;
    ScriptedDialogHost dialogs;
    st.svc.dialogs = &dialogs;
    InstanceLock lock;
    EXPECT_EQ(RunStartup(st, lock, QString(), QStringLiteral("/opt")), StartupResult::Refused);
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].box.title, QStringLiteral("画面設定エラー"));
    EXPECT_EQ(dialogs.shown[0].box.text,
              QStringLiteral("DPI設定が通常の大きさとは違っています。\r\n\r\n"
                             "画面のプロパティで通常の大きさに戻してから実行してください。\r\n\r\n"
                             "プログラムを終了します。"));
    EXPECT_FALSE(QFileInfo::exists(st.strWorkPath));
}
