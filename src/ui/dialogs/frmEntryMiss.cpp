#include "ui/dialogs/frmEntryMiss.h"

#include "ui/dialogs/DialogLayout.h"

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

namespace brevik {

frmEntryMiss::frmEntryMiss(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmEntryMiss"));
    setUpDialog(this, kTitleEntryMiss, {366, 280}, 12, DialogBorder::Fixed);

    Label1 =
        addLabel(this, "Label1", {20, 12, 305, 33}, QStringLiteral("入力内容にエラーがあります。"));
    Frame1 = addFrame(this, "Frame1", {16, 56, 321, 105}, QStringLiteral("エラーの理由"));
    lblErrMsg = addLabel(Frame1, "lblErrMsg", {8, 24, 301, 73});
    Label3 = addLabel(
        this, "Label3", {24, 172, 305, 57},
        QStringLiteral("［入力内容の訂正］ボタンをクリックして、入力画面に戻ってください。"));
    CancelButton =
        addButton(this, "CancelButton", {104, 236, 133, 33}, QStringLiteral("入力内容の訂正"));

    connect(CancelButton, &QPushButton::clicked, this, &QDialog::accept);
    CancelButton->setFocus();
}

} // namespace brevik
