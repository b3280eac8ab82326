#pragma once
// Dialog host for tests: records what was shown and answers from a queue.
// With the queue empty a message box gets its default button and a dialog is
// closed without a button.
#include "platform/DialogHost.h"

#include <QStringList>
#include <deque>
#include <functional>
#include <vector>

namespace brevik {

enum class Answer {
    Ok,
    Cancel,
    Yes,
    No, // message boxes
    Register,
    Correct, // frmUserInfo: "登録", "訂正"
    Retry,
    Abort, // frmShipai: "やり直し", "中断"
    Print,
    CancelPrint, // print dialog
    Close        // title bar / Esc: no button
};

struct ShownDialog {
    enum Kind { Message, EntryMiss, UserInfo, Shipai, PrintDialog } kind;
    MessageBoxSpec box; // Message
    QString errMsg;     // EntryMiss
    UserInfoTexts userInfo;
    ShipaiTexts shipai;
    Answer answer;
};

class ScriptedDialogHost : public DialogHost {
public:
    std::deque<Answer> answers;
    std::vector<ShownDialog> shown;
    // Called while a dialog is "open", before it is answered.
    std::function<void(const ShownDialog&)> onShow;
    // Where an accepted print dialog sends the document.
    QString printPdfPath;

    void answer(std::initializer_list<Answer> a) { answers.insert(answers.end(), a); }
    QStringList titles() const; // titles of the message boxes shown, in order

    MsgAnswer message(const MessageBoxSpec& box) override;
    void frmEntryMiss(const QString& lblErrMsg) override;
    std::optional<bool> frmUserInfo(const UserInfoTexts& texts) override;
    ShipaiChoice frmShipai(const ShipaiTexts& texts, const ShipaiActions& actions) override;
    bool printDialog(QPrinter& printer) override;

private:
    Answer next(ShownDialog& d, Answer fallback);
};

} // namespace brevik
