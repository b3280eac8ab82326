#include "ui/dialogs/QtDialogHost.h"

#include "ui/dialogs/DialogLayout.h"
#include "ui/dialogs/frmEntryMiss.h"
#include "ui/dialogs/frmShipai.h"
#include "ui/dialogs/frmUserInfo.h"

#include "platform/Yield.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPushButton>
#include <QTimer>
#include <QWindow>

namespace brevik {

namespace {

bool staysOnTop(const QWidget* w) {
    return w->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
}

// Waits until owner is the active window again, asking for it first: on X the
// window manager hands the focus back some time after the dialog is gone, and
// the caller's next step (a field to focus) must come after the owner's own
// activation, not before it.
void returnFocusTo(QWidget* owner) {
    if (!owner || !owner->isVisible())
        return;
    owner->activateWindow();
    runEventsUntil([owner] { return owner->isActiveWindow() || !owner->isVisible(); },
                   QtDialogHost::kReturnFocusMs);
}

} // namespace

QWidget* QtDialogHost::blockedWindow() {
    if (QWidget* modal = QApplication::activeModalWidget())
        return modal;
    if (QWidget* active = QApplication::activeWindow(); active && active->isVisible())
        return active->window();
    QWidget* found = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && w->windowType() == Qt::Window && (!found || staysOnTop(w)))
            found = w;
    return found;
}

int QtDialogHost::run(QDialog& dialog, bool onTop) {
    // Owned by the window it blocks: the window manager keeps it above that
    // window, and above a topmost one only when it is topmost too.
    QWidget* owner = dialog.parentWidget() ? dialog.parentWidget()->window() : nullptr;
    if (onTop || (owner && staysOnTop(owner)))
        dialog.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.winId();
    if (owner && owner->windowHandle())
        dialog.windowHandle()->setTransientParent(owner->windowHandle());
    QTimer::singleShot(0, &dialog, [this, &dialog] {
        // The window manager may not focus a new window by itself.
        dialog.raise();
        dialog.activateWindow();
        if (onDialogShown)
            onDialogShown(&dialog);
    });
    const int rc = dialog.exec();
    dialog.hide();
    returnFocusTo(owner);
    return rc;
}

MsgAnswer QtDialogHost::message(const MessageBoxSpec& box) {
    QMessageBox mb(blockedWindow());
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

    run(mb, box.systemModal);
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
    brevik::frmEntryMiss dialog(blockedWindow());
    dialog.lblErrMsg->setText(displayText(lblErrMsg));
    run(dialog);
}

std::optional<bool> QtDialogHost::frmUserInfo(const UserInfoTexts& texts) {
    bool intDlgResult = false;
    brevik::frmUserInfo dialog(intDlgResult, blockedWindow());
    const std::pair<QLabel*, const QString*> fields[] = {
        {dialog.lblName, &texts.lblName},         {dialog.lblSeibetu, &texts.lblSeibetu},
        {dialog.lblWork, &texts.lblWork},         {dialog.lblPurpose, &texts.lblPurpose},
        {dialog.lblBirthday, &texts.lblBirthday}, {dialog.lblEmail, &texts.lblEmail},
        {dialog.lblZipcode, &texts.lblZipcode},   {dialog.lblAddress, &texts.lblAddress},
        {dialog.lblAddress2, &texts.lblAddress2}, {dialog.lblTel, &texts.lblTel},
    };
    for (const auto& [label, text] : fields)
        label->setText(displayText(*text));
    // Only the two buttons accept the dialog.
    if (run(dialog) != QDialog::Accepted)
        return std::nullopt;
    return intDlgResult;
}

ShipaiChoice QtDialogHost::frmShipai(const ShipaiTexts& texts, const ShipaiActions& actions) {
    ShipaiChoice choice = ShipaiChoice::None;
    brevik::frmShipai dialog(
        [&] {
            choice = ShipaiChoice::Retry;
            if (actions.retry)
                actions.retry();
        },
        [&] {
            choice = ShipaiChoice::Abort;
            if (actions.abort)
                actions.abort();
        },
        blockedWindow());
    if (texts.label1)
        dialog.Label1->setText(displayText(*texts.label1));
    if (texts.label2)
        dialog.Label2->setText(displayText(*texts.label2));
    if (texts.label3)
        dialog.Label3->setText(displayText(*texts.label3));
    run(dialog);
    return choice;
}

bool QtDialogHost::printDialog(QPrinter& printer) {
    QPrintDialog dialog(&printer, blockedWindow());
    return run(dialog) == QDialog::Accepted;
}

} // namespace brevik
