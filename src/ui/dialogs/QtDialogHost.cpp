#include "ui/dialogs/QtDialogHost.h"

#include "ui/dialogs/DialogLayout.h"
#include "ui/dialogs/frmEntryMiss.h"
#include "ui/dialogs/frmShipai.h"
#include "ui/dialogs/frmUserInfo.h"

#include <QLabel>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPushButton>
#include <QTimer>

namespace brevik {

int QtDialogHost::run(QDialog& dialog) {
    if (onDialogShown)
        QTimer::singleShot(0, &dialog, [this, &dialog] {
            if (onDialogShown)
                onDialogShown(&dialog);
        });
    return dialog.exec();
}

MsgAnswer QtDialogHost::message(const MessageBoxSpec& box) {
    QMessageBox mb;
    mb.setWindowTitle(box.title);
    mb.setTextFormat(Qt::PlainText);
    mb.setText(displayText(box.text));
    mb.setIcon(box.icon == MsgIcon::None ? QMessageBox::NoIcon : QMessageBox::Warning);

    // Japanese captions, so the examinee meets no English on a button.
    auto add = [&mb](QMessageBox::StandardButton b, const QString& text) {
        mb.addButton(b)->setText(text);
    };
    switch (box.buttons) {
    case MsgButtons::Ok:
        add(QMessageBox::Ok, QStringLiteral("OK"));
        mb.setEscapeButton(QMessageBox::Ok);
        break;
    case MsgButtons::OkCancel:
        add(QMessageBox::Ok, QStringLiteral("OK"));
        add(QMessageBox::Cancel, QStringLiteral("キャンセル"));
        mb.setEscapeButton(QMessageBox::Cancel);
        break;
    case MsgButtons::YesNo:
        add(QMessageBox::Yes, QStringLiteral("はい(&Y)"));
        add(QMessageBox::No, QStringLiteral("いいえ(&N)"));
        mb.setEscapeButton(QMessageBox::No);
        break;
    }
    const auto standard = [](MsgAnswer a) {
        switch (a) {
        case MsgAnswer::Ok:
            return QMessageBox::Ok;
        case MsgAnswer::Cancel:
            return QMessageBox::Cancel;
        case MsgAnswer::Yes:
            return QMessageBox::Yes;
        case MsgAnswer::No:
            return QMessageBox::No;
        }
        return QMessageBox::Ok;
    };
    // A default the box does not carry falls back to its first button.
    if (auto* def = qobject_cast<QPushButton*>(mb.button(standard(box.defaultButton))))
        mb.setDefaultButton(def);
    else
        mb.setDefaultButton(qobject_cast<QPushButton*>(mb.buttons().value(0)));

    mb.setWindowModality(Qt::ApplicationModal);
    if (box.systemModal)
        mb.setWindowFlag(Qt::WindowStaysOnTopHint, true);

    run(mb);
    switch (mb.standardButton(mb.clickedButton())) {
    case QMessageBox::Cancel:
        return MsgAnswer::Cancel;
    case QMessageBox::Yes:
        return MsgAnswer::Yes;
    case QMessageBox::No:
        return MsgAnswer::No;
    default:
        return MsgAnswer::Ok;
    }
}

void QtDialogHost::frmEntryMiss(const QString& lblErrMsg) {
    brevik::frmEntryMiss dialog;
    dialog.lblErrMsg->setText(displayText(lblErrMsg));
    run(dialog);
}

void QtDialogHost::frmUserInfo(const UserInfoTexts& texts, bool& intDlgResult) {
    brevik::frmUserInfo dialog(intDlgResult);
    const std::pair<QLabel*, const QString*> fields[] = {
        {dialog.lblName, &texts.lblName},         {dialog.lblSeibetu, &texts.lblSeibetu},
        {dialog.lblWork, &texts.lblWork},         {dialog.lblPurpose, &texts.lblPurpose},
        {dialog.lblBirthday, &texts.lblBirthday}, {dialog.lblEmail, &texts.lblEmail},
        {dialog.lblZipcode, &texts.lblZipcode},   {dialog.lblAddress, &texts.lblAddress},
        {dialog.lblAddress2, &texts.lblAddress2}, {dialog.lblTel, &texts.lblTel},
    };
    for (const auto& [label, text] : fields)
        label->setText(displayText(*text));
    run(dialog);
}

void QtDialogHost::frmShipai(const ShipaiTexts& texts) {
    brevik::frmShipai dialog([this] { shipaiRetry(); }, [this] { shipaiAbort(); });
    if (texts.label1)
        dialog.Label1->setText(displayText(*texts.label1));
    if (texts.label2)
        dialog.Label2->setText(displayText(*texts.label2));
    if (texts.label3)
        dialog.Label3->setText(displayText(*texts.label3));
    run(dialog);
}

bool QtDialogHost::printDialog(QPrinter& printer) {
    QPrintDialog dialog(&printer);
    return run(dialog) == QDialog::Accepted;
}

} // namespace brevik
