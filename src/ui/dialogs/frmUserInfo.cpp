#include "ui/dialogs/frmUserInfo.h"

#include "ui/dialogs/DialogLayout.h"

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

namespace brevik {

frmUserInfo::frmUserInfo(bool& intDlgResult, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmUserInfo"));
    setUpDialog(this, kTitleUserInfo, {544, 467}, 9.75, DialogBorder::Sizable);

    Label1 =
        addLabel(this, "Label1", {24, 12, 349, 21}, QStringLiteral("入力内容を確認してください。"));
    Frame1 = addFrame(this, "Frame1", {16, 32, 513, 329});
    Frame2 = addFrame(Frame1, "Frame2", {8, 9, 493, 134}, QStringLiteral("お名前"));
    lblName = addLabel(Frame2, "lblName", {8, 22, 473, 102});

    auto heading = [this](int index, QRect geometry, const QString& text) {
        Label2[index] = addLabel(Frame1, "Label2", geometry, text);
        Label2[index]->setProperty("Index", index);
    };
    heading(0, {12, 148, 69, 17}, QStringLiteral("【性別】"));
    lblSeibetu = addLabel(Frame1, "lblSeibetu", {128, 148, 137, 21});
    heading(1, {12, 167, 69, 17}, QStringLiteral("【職業】"));
    lblWork = addLabel(Frame1, "lblWork", {128, 167, 353, 21});
    heading(7, {12, 186, 85, 17}, QStringLiteral("【受験の目的】"));
    lblPurpose = addLabel(Frame1, "lblPurpose", {128, 187, 345, 21});
    heading(2, {12, 206, 77, 17}, QStringLiteral("【生年月日】"));
    lblBirthday = addLabel(Frame1, "lblBirthday", {128, 206, 137, 21});
    heading(3, {12, 230, 105, 17}, QStringLiteral("【メールアドレス】"));
    lblEmail = addLabel(Frame1, "lblEmail", {128, 230, 365, 17});
    heading(4, {12, 249, 69, 17}, QStringLiteral("【郵便番号】"));
    lblZipcode = addLabel(Frame1, "lblZipcode", {128, 249, 293, 17});
    heading(5, {12, 268, 69, 17}, QStringLiteral("【住所】"));
    lblAddress = addLabel(Frame1, "lblAddress", {128, 268, 293, 17});
    lblAddress2 = addLabel(Frame1, "lblAddress2", {128, 284, 293, 17});
    heading(6, {12, 304, 69, 17}, QStringLiteral("【電話番号】"));
    lblTel = addLabel(Frame1, "lblTel", {128, 304, 293, 17});

    Label3 =
        addLabel(this, "Label3", {80, 380, 393, 25},
                 QStringLiteral("上記の内容で登録してよろしければ［登録］ボタンを、訂正する場合には"
                                "［訂正］ボタンをクリックしてください。"));
    Command1 = addButton(this, "Command1", {80, 417, 133, 33}, QStringLiteral("訂正"));
    Command2 = addButton(this, "Command2", {336, 417, 129, 37}, QStringLiteral("登録"));
    setTabOrder(Command1, Command2);

    connect(Command1, &QPushButton::clicked, this, [this, &intDlgResult] {
        intDlgResult = false;
        accept();
    });
    connect(Command2, &QPushButton::clicked, this, [this, &intDlgResult] {
        intDlgResult = true;
        accept();
    });
    Command1->setFocus();
}

} // namespace brevik
