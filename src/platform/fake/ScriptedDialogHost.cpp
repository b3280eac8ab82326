#include "platform/fake/ScriptedDialogHost.h"

#include <QPrinter>

namespace brevik {

QStringList ScriptedDialogHost::titles() const {
    QStringList t;
    for (const auto& d : shown)
        if (d.kind == ShownDialog::Message)
            t << d.box.title;
    return t;
}

Answer ScriptedDialogHost::next(ShownDialog& d, Answer fallback) {
    if (onShow)
        onShow(d);
    d.answer = answers.empty() ? fallback : answers.front();
    if (!answers.empty())
        answers.pop_front();
    shown.push_back(d);
    return d.answer;
}

MsgAnswer ScriptedDialogHost::message(const MessageBoxSpec& box) {
    ShownDialog d{ShownDialog::Message, box, {}, {}, {}, Answer::Close};
    Answer fallback = Answer::Ok;
    switch (box.defaultButton) {
    case MsgAnswer::Ok:
        fallback = Answer::Ok;
        break;
    case MsgAnswer::Cancel:
        fallback = Answer::Cancel;
        break;
    case MsgAnswer::Yes:
        fallback = Answer::Yes;
        break;
    case MsgAnswer::No:
        fallback = Answer::No;
        break;
    }
    switch (next(d, fallback)) {
    case Answer::Ok:
        return MsgAnswer::Ok;
    case Answer::Yes:
        return MsgAnswer::Yes;
    case Answer::No:
        return MsgAnswer::No;
    case Answer::Close: // Esc: Cancel where there is one, else the box's only way out
        return box.buttons == MsgButtons::OkCancel ? MsgAnswer::Cancel
               : box.buttons == MsgButtons::YesNo  ? MsgAnswer::No
                                                   : MsgAnswer::Ok;
    default:
        return MsgAnswer::Cancel;
    }
}

void ScriptedDialogHost::frmEntryMiss(const QString& lblErrMsg) {
    ShownDialog d{ShownDialog::EntryMiss, {}, lblErrMsg, {}, {}, Answer::Close};
    next(d, Answer::Close);
}

std::optional<bool> ScriptedDialogHost::frmUserInfo(const UserInfoTexts& texts) {
    ShownDialog d{ShownDialog::UserInfo, {}, {}, texts, {}, Answer::Close};
    switch (next(d, Answer::Close)) {
    case Answer::Register:
        return true;
    case Answer::Correct:
        return false;
    default:
        return std::nullopt;
    }
}

ShipaiChoice ScriptedDialogHost::frmShipai(const ShipaiTexts& texts, const ShipaiActions& actions) {
    ShownDialog d{ShownDialog::Shipai, {}, {}, {}, texts, Answer::Close};
    switch (next(d, Answer::Close)) {
    case Answer::Retry:
        if (actions.retry)
            actions.retry();
        return ShipaiChoice::Retry;
    case Answer::Abort:
        if (actions.abort)
            actions.abort();
        return ShipaiChoice::Abort;
    default:
        return ShipaiChoice::None;
    }
}

bool ScriptedDialogHost::printDialog(QPrinter& printer) {
    ShownDialog d{ShownDialog::PrintDialog, {}, {}, {}, {}, Answer::Close};
    if (next(d, Answer::CancelPrint) != Answer::Print)
        return false;
    if (!printPdfPath.isEmpty()) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(printPdfPath);
    }
    return true;
}

} // namespace brevik
