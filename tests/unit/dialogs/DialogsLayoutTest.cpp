// The three registration dialogs against their fixed layouts: every control,
// where it sits, what it says, the font, the border and the tab order.
#include "ui/dialogs/frmEntryMiss.h"
#include "ui/dialogs/frmShipai.h"
#include "ui/dialogs/frmUserInfo.h"

#include <QFontInfo>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

namespace brevik {
namespace {

struct Control {
    const char* name;
    int index;          // Label2's index, -1 for plain controls
    const char* parent; // object name of the dialog or enclosing frame
    QRect geometry;
    QString text;
};

struct Layout {
    const char* dialog;
    std::function<std::unique_ptr<QDialog>()> make;
    QString title;
    QSize client;
    bool fixed;
    qreal points;
    std::vector<Control> controls;
    std::vector<const char*> tabOrder;
};

void PrintTo(const Layout& l, std::ostream* os) {
    *os << l.dialog;
}

bool dummyResult = false;

std::vector<Layout> layouts() {
    return {
        {"frmShipai",
         [] { return std::make_unique<frmShipai>(nullptr, nullptr); },
         QStringLiteral("試験ログインの失敗"),
         {366, 280},
         true,
         12,
         {
             {"Label1",
              -1,
              "frmShipai",
              {20, 12, 305, 33},
              QStringLiteral("次の理由により、認証されませんでした。")},
             {"Frame1", -1, "frmShipai", {16, 56, 321, 93}, QStringLiteral("否認の理由")},
             {"Label2",
              -1,
              "Frame1",
              {8, 24, 301, 53},
              QStringLiteral("試験番号、または認証パスワードが正しくありません。")},
             {"Label3",
              -1,
              "frmShipai",
              {24, 164, 305, 57},
              QStringLiteral(
                  "認証をもう一度やり直す場合には［やり直し］ボタンを、中断してプログラム"
                  "を終了するには［中断］ボタンをクリックしてください。")},
             {"OKButton", -1, "frmShipai", {52, 232, 81, 33}, QStringLiteral("中断")},
             {"CancelButton", -1, "frmShipai", {208, 232, 81, 33}, QStringLiteral("やり直し")},
         },
         {"OKButton", "CancelButton"}},
        {"frmEntryMiss",
         [] { return std::make_unique<frmEntryMiss>(); },
         QStringLiteral("入力エラー"),
         {366, 280},
         true,
         12,
         {
             {"Label1",
              -1,
              "frmEntryMiss",
              {20, 12, 305, 33},
              QStringLiteral("入力内容にエラーがあります。")},
             {"Frame1", -1, "frmEntryMiss", {16, 56, 321, 105}, QStringLiteral("エラーの理由")},
             {"lblErrMsg", -1, "Frame1", {8, 24, 301, 73}, QString()},
             {"Label3",
              -1,
              "frmEntryMiss",
              {24, 172, 305, 57},
              QStringLiteral("［入力内容の訂正］ボタンをクリックして、入力画面に戻ってください。")},
             {"CancelButton",
              -1,
              "frmEntryMiss",
              {104, 236, 133, 33},
              QStringLiteral("入力内容の訂正")},
         },
         {"CancelButton"}},
        {"frmUserInfo",
         [] { return std::make_unique<frmUserInfo>(dummyResult); },
         QStringLiteral("受験者情報の内容確認"),
         {544, 467},
         false,
         9.75,
         {
             {"Label1",
              -1,
              "frmUserInfo",
              {24, 12, 349, 21},
              QStringLiteral("入力内容を確認してください。")},
             {"Frame1", -1, "frmUserInfo", {16, 32, 513, 329}, QString()},
             {"Frame2", -1, "Frame1", {8, 9, 493, 134}, QStringLiteral("お名前")},
             {"lblName", -1, "Frame2", {8, 22, 473, 102}, QString()},
             {"Label2", 0, "Frame1", {12, 148, 69, 17}, QStringLiteral("【性別】")},
             {"lblSeibetu", -1, "Frame1", {128, 148, 137, 21}, QString()},
             {"Label2", 1, "Frame1", {12, 167, 69, 17}, QStringLiteral("【職業】")},
             {"lblWork", -1, "Frame1", {128, 167, 353, 21}, QString()},
             {"Label2", 7, "Frame1", {12, 186, 85, 17}, QStringLiteral("【受験の目的】")},
             {"lblPurpose", -1, "Frame1", {128, 187, 345, 21}, QString()},
             {"Label2", 2, "Frame1", {12, 206, 77, 17}, QStringLiteral("【生年月日】")},
             {"lblBirthday", -1, "Frame1", {128, 206, 137, 21}, QString()},
             {"Label2", 3, "Frame1", {12, 230, 105, 17}, QStringLiteral("【メールアドレス】")},
             {"lblEmail", -1, "Frame1", {128, 230, 365, 17}, QString()},
             {"Label2", 4, "Frame1", {12, 249, 69, 17}, QStringLiteral("【郵便番号】")},
             {"lblZipcode", -1, "Frame1", {128, 249, 293, 17}, QString()},
             {"Label2", 5, "Frame1", {12, 268, 69, 17}, QStringLiteral("【住所】")},
             {"lblAddress", -1, "Frame1", {128, 268, 293, 17}, QString()},
             {"lblAddress2", -1, "Frame1", {128, 284, 293, 17}, QString()},
             {"Label2", 6, "Frame1", {12, 304, 69, 17}, QStringLiteral("【電話番号】")},
             {"lblTel", -1, "Frame1", {128, 304, 293, 17}, QString()},
             {"Label3",
              -1,
              "frmUserInfo",
              {80, 380, 393, 25},
              QStringLiteral("上記の内容で登録してよろしければ［登録］ボタンを、訂正する場合には"
                             "［訂正］ボタンをクリックしてください。")},
             {"Command1", -1, "frmUserInfo", {80, 417, 133, 33}, QStringLiteral("訂正")},
             {"Command2", -1, "frmUserInfo", {336, 417, 129, 37}, QStringLiteral("登録")},
         },
         {"Command1", "Command2"}},
    };
}

QWidget* findControl(QDialog& d, const Control& c) {
    QWidget* found = nullptr;
    for (QWidget* w : d.findChildren<QWidget*>(QString::fromLatin1(c.name))) {
        if (c.index >= 0 && w->property("Index") != QVariant(c.index))
            continue;
        EXPECT_EQ(found, nullptr) << "two controls match " << c.name << "(" << c.index << ")";
        found = w;
    }
    return found;
}

QString textOf(QWidget* w) {
    if (auto* l = qobject_cast<QLabel*>(w))
        return l->text();
    if (auto* b = qobject_cast<QPushButton*>(w))
        return b->text();
    if (auto* g = qobject_cast<QGroupBox*>(w))
        return g->title();
    return QStringLiteral("<unknown kind>");
}

class DialogLayoutTest : public ::testing::TestWithParam<Layout> {};

TEST_P(DialogLayoutTest, WindowMatchesLayout) {
    const Layout& l = GetParam();
    auto d = l.make();
    EXPECT_EQ(d->objectName(), QString::fromLatin1(l.dialog));
    EXPECT_EQ(d->windowTitle(), l.title);
    EXPECT_EQ(d->size(), l.client);

    const Qt::WindowFlags f = d->windowFlags();
    if (l.fixed) {
        EXPECT_EQ(d->minimumSize(), l.client);
        EXPECT_EQ(d->maximumSize(), l.client);
        EXPECT_EQ(f & Qt::WindowType_Mask, Qt::Tool) << "kept off the task bar";
        EXPECT_FALSE(f & Qt::WindowMaximizeButtonHint);
    } else {
        EXPECT_NE(d->maximumSize(), l.client) << "a sizable border can grow";
        EXPECT_TRUE(f & Qt::WindowMaximizeButtonHint);
    }

    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    const QPoint centre = QRect(d->pos(), l.client).center();
    EXPECT_LE((centre - screen.center()).manhattanLength(), 1) << "centred on the screen";
}

TEST_P(DialogLayoutTest, ControlsMatchLayout) {
    const Layout& l = GetParam();
    auto d = l.make();
    for (const Control& c : l.controls) {
        SCOPED_TRACE(std::string(c.name) + "(" + std::to_string(c.index) + ")");
        QWidget* w = findControl(*d, c);
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->parentWidget()->objectName(), QString::fromLatin1(c.parent));
        EXPECT_EQ(w->geometry(), c.geometry);
        EXPECT_EQ(textOf(w), c.text);
        EXPECT_EQ(w->font().family(), QStringLiteral("ＭＳ Ｐゴシック"));
        EXPECT_DOUBLE_EQ(w->font().pointSizeF(), l.points);
        EXPECT_EQ(w->font().weight(), QFont::Normal);
        EXPECT_FALSE(w->font().italic());
        EXPECT_EQ(QFontInfo(w->font()).family(), QStringLiteral("IPAPGothic"))
            << "the screens' font resolves to the font of the same metrics";
        if (auto* label = qobject_cast<QLabel*>(w)) {
            EXPECT_EQ(label->textFormat(), Qt::PlainText) << "caller texts are never markup";
        }
    }
    // Nothing on the window beyond the layout.
    const auto all = d->findChildren<QWidget*>();
    EXPECT_EQ(all.size(), qsizetype(l.controls.size()));
}

TEST_P(DialogLayoutTest, TabOrderRunsThroughTheButtons) {
    const Layout& l = GetParam();
    auto d = l.make();
    QWidget* first = d->findChild<QWidget*>(QString::fromLatin1(l.tabOrder.front()));
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(d->focusWidget(), first) << "the first in tab order has the focus";

    std::vector<QString> chain;
    QWidget* w = first;
    do {
        if (w->focusPolicy() & Qt::TabFocus)
            chain.push_back(w->objectName());
        w = w->nextInFocusChain();
    } while (w != first);
    std::vector<QString> expected;
    for (const char* n : l.tabOrder)
        expected.push_back(QString::fromLatin1(n));
    EXPECT_EQ(chain, expected);
}

INSTANTIATE_TEST_SUITE_P(Dialogs, DialogLayoutTest, ::testing::ValuesIn(layouts()),
                         [](const auto& info) { return std::string(info.param.dialog); });

TEST(DialogLayout, Label2IsOneIndexedArray) {
    frmUserInfo d(dummyResult);
    for (int i = 0; i < 8; ++i) {
        ASSERT_NE(d.Label2[i], nullptr) << i;
        EXPECT_EQ(d.Label2[i]->objectName(), QStringLiteral("Label2"));
        EXPECT_EQ(d.Label2[i]->property("Index").toInt(), i);
    }
    EXPECT_EQ(d.Label2[7]->text(), QStringLiteral("【受験の目的】"));
}

} // namespace
} // namespace brevik
