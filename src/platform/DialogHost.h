#pragma once
// Every message box and dialog the examinee answers goes through one host:
// the real one shows Qt windows, tests use a scripted one. A host only shows
// and returns the examinee's choice; it holds no state of its own.
#include <QString>
#include <functional>
#include <optional>

class QPrinter;

namespace brevik {

enum class MsgIcon { None, Warning, Exclamation };
enum class MsgButtons { Ok, OkCancel, YesNo };
enum class MsgAnswer { Ok, Cancel, Yes, No };

struct MessageBoxSpec {
    QString title;
    QString text; // line breaks are CR LF
    MsgIcon icon = MsgIcon::None;
    MsgButtons buttons = MsgButtons::Ok;
    MsgAnswer defaultButton = MsgAnswer::Ok;
    bool systemModal = false;
};

// The kinds of box the program shows; every box is built through one of these.
// A refusal: OK with the warning icon.
inline MessageBoxSpec Refusal(const QString& title, const QString& text, bool systemModal = false) {
    return {title, text, MsgIcon::Warning, MsgButtons::Ok, MsgAnswer::Ok, systemModal};
}
// A confirmation: Yes and No, with No as the default.
inline MessageBoxSpec Confirmation(const QString& title, const QString& text,
                                   MsgIcon icon = MsgIcon::Warning, bool systemModal = false) {
    return {title, text, icon, MsgButtons::YesNo, MsgAnswer::No, systemModal};
}
// A question with OK and Cancel, warning icon.
inline MessageBoxSpec OkCancelQuestion(const QString& title, const QString& text,
                                       MsgAnswer defaultButton, bool systemModal = false) {
    return {title, text, MsgIcon::Warning, MsgButtons::OkCancel, defaultButton, systemModal};
}
// A notice: OK without an icon.
inline MessageBoxSpec Notice(const QString& title, const QString& text, bool systemModal = false) {
    return {title, text, MsgIcon::None, MsgButtons::Ok, MsgAnswer::Ok, systemModal};
}

// Texts of frmUserInfo, set in this order by the caller.
struct UserInfoTexts {
    QString lblName, lblSeibetu, lblWork, lblPurpose, lblBirthday, lblEmail, lblZipcode, lblAddress,
        lblAddress2, lblTel;
};

// frmShipai: a label left empty (nullopt) keeps the dialog's own text.
struct ShipaiTexts {
    std::optional<QString> label1, label2, label3;
};

// What frmShipai's buttons do. The main window registers its own in
// Services::mainWindow; callers pass them to DialogHost::frmShipai.
struct ShipaiActions {
    std::function<void()> retry; // "やり直し"
    std::function<void()> abort; // "中断"
};
enum class ShipaiChoice { None, Retry, Abort }; // None: closed without a button

class DialogHost {
public:
    virtual ~DialogHost() = default;

    virtual MsgAnswer message(const MessageBoxSpec& box) = 0;

    // frmEntryMiss with lblErrMsg set; returns when it has closed.
    virtual void frmEntryMiss(const QString& lblErrMsg) = 0;
    // frmUserInfo: true for "登録", false for "訂正", nullopt for a close
    // without a button.
    virtual std::optional<bool> frmUserInfo(const UserInfoTexts& texts) = 0;
    // frmShipai: the button's action runs while the dialog is still open (the
    // main window goes first, so the program ends once the caller returns).
    virtual ShipaiChoice frmShipai(const ShipaiTexts& texts, const ShipaiActions& actions) = 0;

    // The system print dialog for printer; true when the examinee chose to print.
    virtual bool printDialog(QPrinter& printer) = 0;
};

} // namespace brevik
