// The Qt dialog host with real windows: the tests answer each box or dialog
// through its own buttons and keys while it is open and modal.
#include "ui/dialogs/QtDialogHost.h"

#include "ui/dialogs/frmEntryMiss.h"
#include "ui/dialogs/frmShipai.h"
#include "ui/dialogs/frmUserInfo.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

namespace brevik {
namespace {

template <class D> D* as(QDialog* d) {
    auto* typed = qobject_cast<D*>(d);
    EXPECT_NE(typed, nullptr);
    return typed;
}

// How a test leaves a dialog without a button.
enum class Leave { Escape, TitleBarClose };
void leave(QDialog* d, Leave how) {
    if (how == Leave::Escape)
        QTest::keyClick(d, Qt::Key_Escape);
    else
        d->close();
}

// --- message boxes ----------------------------------------------------------

struct BoxCase {
    const char* name;
    MsgButtons buttons;
    MsgAnswer defaultButton;
    std::function<void(QMessageBox*)> answer;
    MsgAnswer expected;
};

void PrintTo(const BoxCase& c, std::ostream* os) {
    *os << c.name;
}

void press(QMessageBox* mb, Qt::Key key) {
    QTest::keyClick(mb, key);
}
void click(QMessageBox* mb, QMessageBox::StandardButton b) {
    QTest::mouseClick(mb->button(b), Qt::LeftButton);
}

class MessageBoxAnswers : public ::testing::TestWithParam<BoxCase> {};

TEST_P(MessageBoxAnswers, AnswerComesFromTheButtonUsed) {
    const BoxCase& c = GetParam();
    QtDialogHost host;
    int shown = 0;
    host.onDialogShown = [&](QDialog* d) {
        ++shown;
        c.answer(as<QMessageBox>(d));
    };
    MessageBoxSpec box{QStringLiteral("確認"), QStringLiteral("よろしいですか？"),
                       MsgIcon::Exclamation,   c.buttons,
                       c.defaultButton,        false};
    EXPECT_EQ(host.message(box), c.expected);
    EXPECT_EQ(shown, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Boxes, MessageBoxAnswers,
    ::testing::Values(BoxCase{"OkEnter", MsgButtons::Ok, MsgAnswer::Ok,
                              [](QMessageBox* m) { press(m, Qt::Key_Return); }, MsgAnswer::Ok},
                      BoxCase{"OkEscape", MsgButtons::Ok, MsgAnswer::Ok,
                              [](QMessageBox* m) { press(m, Qt::Key_Escape); }, MsgAnswer::Ok},
                      BoxCase{"OkCancelEnter", MsgButtons::OkCancel, MsgAnswer::Ok,
                              [](QMessageBox* m) { press(m, Qt::Key_Return); }, MsgAnswer::Ok},
                      BoxCase{"OkCancelEscape", MsgButtons::OkCancel, MsgAnswer::Ok,
                              [](QMessageBox* m) { press(m, Qt::Key_Escape); }, MsgAnswer::Cancel},
                      BoxCase{"OkCancelTitleBar", MsgButtons::OkCancel, MsgAnswer::Ok,
                              [](QMessageBox* m) { m->close(); }, MsgAnswer::Cancel},
                      BoxCase{"YesNoEnterOnDefaultNo", MsgButtons::YesNo, MsgAnswer::No,
                              [](QMessageBox* m) { press(m, Qt::Key_Return); }, MsgAnswer::No},
                      BoxCase{"YesNoEnterOnDefaultYes", MsgButtons::YesNo, MsgAnswer::Yes,
                              [](QMessageBox* m) { press(m, Qt::Key_Return); }, MsgAnswer::Yes},
                      BoxCase{"YesNoEscape", MsgButtons::YesNo, MsgAnswer::Yes,
                              [](QMessageBox* m) { press(m, Qt::Key_Escape); }, MsgAnswer::No},
                      BoxCase{"YesNoClickYes", MsgButtons::YesNo, MsgAnswer::No,
                              [](QMessageBox* m) { click(m, QMessageBox::Yes); }, MsgAnswer::Yes},
                      BoxCase{"YesNoClickNo", MsgButtons::YesNo, MsgAnswer::Yes,
                              [](QMessageBox* m) { click(m, QMessageBox::No); }, MsgAnswer::No}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(MessageBox, ShowsTitleTextIconAndButtonsAsAsked) {
    struct Case {
        MsgIcon icon;
        MsgButtons buttons;
        QMessageBox::Icon qtIcon;
        QStringList captions;
    };
    const Case cases[] = {
        {MsgIcon::Warning, MsgButtons::Ok, QMessageBox::Warning, {QStringLiteral("OK")}},
        {MsgIcon::Exclamation,
         MsgButtons::YesNo,
         QMessageBox::Warning,
         {QStringLiteral("はい(&Y)"), QStringLiteral("いいえ(&N)")}},
        {MsgIcon::None,
         MsgButtons::OkCancel,
         QMessageBox::NoIcon,
         {QStringLiteral("OK"), QStringLiteral("キャンセル")}},
    };
    for (const Case& c : cases) {
        QtDialogHost host;
        host.onDialogShown = [&](QDialog* d) {
            auto* mb = as<QMessageBox>(d);
            EXPECT_TRUE(mb->isVisible());
            EXPECT_EQ(mb->windowTitle(), QStringLiteral("起動エラー"));
            EXPECT_EQ(mb->text(), QStringLiteral("一行目\n二行目 <b>x</b>"));
            EXPECT_EQ(mb->textFormat(), Qt::PlainText);
            EXPECT_EQ(mb->icon(), c.qtIcon);
            QStringList captions;
            for (QAbstractButton* b : mb->buttons())
                captions << b->text();
            captions.sort();
            QStringList expected = c.captions;
            expected.sort();
            EXPECT_EQ(captions, expected);
            EXPECT_EQ(mb->windowModality(), Qt::ApplicationModal);
            EXPECT_FALSE(mb->windowFlags() & Qt::WindowStaysOnTopHint);
            mb->close();
        };
        host.message({QStringLiteral("起動エラー"), QStringLiteral("一行目\r\n二行目 <b>x</b>"),
                      c.icon, c.buttons, MsgAnswer::Ok, false});
    }
}

TEST(MessageBox, SystemModalStaysOnTopAndDefaultHasFocus) {
    QtDialogHost host;
    host.onDialogShown = [&](QDialog* d) {
        auto* mb = as<QMessageBox>(d);
        EXPECT_EQ(mb->windowModality(), Qt::ApplicationModal);
        EXPECT_TRUE(mb->windowFlags() & Qt::WindowStaysOnTopHint);
        EXPECT_EQ(mb->defaultButton(), mb->button(QMessageBox::No));
        EXPECT_EQ(QApplication::activeModalWidget(), mb);
        QTest::mouseClick(mb->button(QMessageBox::Yes), Qt::LeftButton);
    };
    EXPECT_EQ(host.message({QStringLiteral("時間終了"), QStringLiteral("終了します"),
                            MsgIcon::Warning, MsgButtons::YesNo, MsgAnswer::No, true}),
              MsgAnswer::Yes);
}

// --- frmEntryMiss -------------------------------------------------------------

TEST(EntryMiss, ShowsTheMessageAndIsGoneAfterItsButton) {
    QtDialogHost host;
    QPointer<QDialog> seen;
    host.onDialogShown = [&](QDialog* d) {
        seen = d;
        auto* f = as<frmEntryMiss>(d);
        EXPECT_EQ(f->lblErrMsg->text(), QStringLiteral("メールアドレスが正しくありません。\n例"));
        EXPECT_EQ(f->windowModality(), Qt::ApplicationModal);
        QTest::mouseClick(f->CancelButton, Qt::LeftButton);
    };
    host.frmEntryMiss(QStringLiteral("メールアドレスが正しくありません。\r\n例"));
    EXPECT_TRUE(seen.isNull()) << "destroyed once closed";
}

// --- frmUserInfo --------------------------------------------------------------

TEST(UserInfo, ReturnsTheAnswerOrNothingForACloseWithoutAButton) {
    enum Action { Register, Correct, Escape, TitleBar };
    struct Case {
        Action action;
        std::optional<bool> answer;
    };
    const Case cases[] = {
        {Register, true},
        {Correct, false},
        {Escape, std::nullopt},
        {TitleBar, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "action " << c.action);
        QtDialogHost host;
        host.onDialogShown = [&](QDialog* d) {
            auto* f = as<frmUserInfo>(d);
            switch (c.action) {
            case Register:
                QTest::mouseClick(f->Command2, Qt::LeftButton);
                break;
            case Correct:
                QTest::mouseClick(f->Command1, Qt::LeftButton);
                break;
            case Escape:
                leave(f, Leave::Escape);
                break;
            case TitleBar:
                leave(f, Leave::TitleBarClose);
                break;
            }
        };
        EXPECT_EQ(host.frmUserInfo({}), c.answer);
    }
}

TEST(UserInfo, EachTextLandsInItsLabel) {
    UserInfoTexts t;
    t.lblName = QStringLiteral("山田 太郎\r\nヤマダ タロウ\r\nYAMADA TARO");
    t.lblSeibetu = QStringLiteral("男性");
    t.lblWork = QStringLiteral("会社員");
    t.lblPurpose = QStringLiteral("就職");
    t.lblBirthday = QStringLiteral("1990年1月2日");
    t.lblEmail = QStringLiteral("taro@example.jp");
    t.lblZipcode = QStringLiteral("123-4567");
    t.lblAddress = QStringLiteral("東京都千代田区1-2-3");
    t.lblAddress2 = QStringLiteral("<i>ビル</i>5F");
    t.lblTel = QStringLiteral("03-1234-5678");

    QtDialogHost host;
    host.onDialogShown = [&](QDialog* d) {
        auto* f = as<frmUserInfo>(d);
        EXPECT_EQ(f->lblName->text(), QStringLiteral("山田 太郎\nヤマダ タロウ\nYAMADA TARO"));
        EXPECT_EQ(f->lblSeibetu->text(), t.lblSeibetu);
        EXPECT_EQ(f->lblWork->text(), t.lblWork);
        EXPECT_EQ(f->lblPurpose->text(), t.lblPurpose);
        EXPECT_EQ(f->lblBirthday->text(), t.lblBirthday);
        EXPECT_EQ(f->lblEmail->text(), t.lblEmail);
        EXPECT_EQ(f->lblZipcode->text(), t.lblZipcode);
        EXPECT_EQ(f->lblAddress->text(), t.lblAddress);
        EXPECT_EQ(f->lblAddress2->text(), t.lblAddress2);
        EXPECT_EQ(f->lblTel->text(), t.lblTel);
        f->close();
    };
    host.frmUserInfo(t);
}

// --- frmShipai ----------------------------------------------------------------

const QString kHeading = QStringLiteral("次の理由により、認証されませんでした。");
const QString kInstruction =
    QStringLiteral("認証をもう一度やり直す場合には［やり直し］ボタンを、中断してプログラムを終了"
                   "するには［中断］ボタンをクリックしてください。");

// The action of the button pressed runs while the dialog is still open; the
// dialog closes right after it and says which button it was.
TEST(Shipai, EachButtonRunsItsActionBeforeTheDialogCloses) {
    struct Case {
        const char* name;
        bool retry;
        ShipaiChoice choice;
    };
    const Case cases[] = {{"やり直し", true, ShipaiChoice::Retry},
                          {"中断", false, ShipaiChoice::Abort}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QtDialogHost host;
        QPointer<QDialog> dialog;
        int retries = 0, aborts = 0;
        bool openDuringAction = false;
        const ShipaiActions actions{[&] {
                                        ++retries;
                                        openDuringAction = dialog && dialog->isVisible();
                                    },
                                    [&] {
                                        ++aborts;
                                        openDuringAction = dialog && dialog->isVisible();
                                    }};
        bool closedAfterClick = false;
        host.onDialogShown = [&](QDialog* d) {
            dialog = d;
            auto* f = as<frmShipai>(d);
            QTest::mouseClick(c.retry ? f->CancelButton : f->OKButton, Qt::LeftButton);
            closedAfterClick = !d->isVisible();
        };
        EXPECT_EQ(host.frmShipai({}, actions), c.choice);
        EXPECT_TRUE(openDuringAction);
        EXPECT_TRUE(closedAfterClick);
        EXPECT_EQ(retries, c.retry ? 1 : 0);
        EXPECT_EQ(aborts, c.retry ? 0 : 1);
    }
}

TEST(Shipai, AbortThatClosesTheMainWindowLeavesNoWindow) {
    QWidget mainWindow;
    mainWindow.setWindowTitle(QStringLiteral("main"));
    mainWindow.show();
    QtDialogHost host;
    host.onDialogShown = [&](QDialog* d) {
        QTest::mouseClick(as<frmShipai>(d)->OKButton, Qt::LeftButton);
    };
    host.frmShipai({}, {nullptr, [&] { mainWindow.close(); }});
    for (QWidget* w : QApplication::topLevelWidgets())
        EXPECT_FALSE(w->isVisible()) << w->metaObject()->className() << " still open";
}

TEST(Shipai, CloseWithoutAButtonDoesNothing) {
    for (Leave how : {Leave::Escape, Leave::TitleBarClose}) {
        QtDialogHost host;
        int actions = 0;
        host.onDialogShown = [&](QDialog* d) { leave(d, how); };
        EXPECT_EQ(host.frmShipai({}, {[&] { ++actions; }, [&] { ++actions; }}), ShipaiChoice::None);
        EXPECT_EQ(actions, 0);
    }
}

TEST(Shipai, ReplacedTextsDoNotCarryOverToTheNextShowing) {
    QtDialogHost host;
    std::vector<std::array<QString, 3>> seen;
    host.onDialogShown = [&](QDialog* d) {
        auto* f = as<frmShipai>(d);
        seen.push_back({f->Label1->text(), f->Label2->text(), f->Label3->text()});
        QTest::mouseClick(f->CancelButton, Qt::LeftButton);
    };
    host.frmShipai({QStringLiteral("サーバーに接続できませんでした。"),
                    QStringLiteral("接続エラー\r\n(12029)"),
                    QStringLiteral("ネットワークを確認してください。")},
                   {});
    host.frmShipai({std::nullopt, QStringLiteral("試験番号が違います。"), std::nullopt}, {});

    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0][0], QStringLiteral("サーバーに接続できませんでした。"));
    EXPECT_EQ(seen[0][1], QStringLiteral("接続エラー\n(12029)"));
    EXPECT_EQ(seen[0][2], QStringLiteral("ネットワークを確認してください。"));
    EXPECT_EQ(seen[1][0], kHeading);
    EXPECT_EQ(seen[1][1], QStringLiteral("試験番号が違います。"));
    EXPECT_EQ(seen[1][2], kInstruction);
}

// --- print dialog -------------------------------------------------------------

TEST(PrintDialog, ReportsWhetherTheExamineeChoseToPrint) {
    for (bool accept : {false, true}) {
        QtDialogHost host;
        host.onDialogShown = [&](QDialog* d) {
            auto* pd = as<QPrintDialog>(d);
            if (accept)
                pd->accept();
            else
                pd->reject();
        };
        QPrinter printer;
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(QDir::temp().filePath(QStringLiteral("p.pdf")));
        EXPECT_EQ(host.printDialog(printer), accept);
    }
}

} // namespace
} // namespace brevik
