#pragma once
// Every message box and dialog the examinee answers goes through one host:
// the real one shows Qt windows, tests use a scripted one.
#include <QString>
#include <functional>
#include <optional>

class QPrinter;

namespace brevik {

class BrowserPane;

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

// Texts of frmUserInfo, set in this order by the caller.
struct UserInfoTexts {
    QString lblName, lblSeibetu, lblWork, lblPurpose, lblBirthday, lblEmail, lblZipcode,
        lblAddress, lblAddress2, lblTel;
};

// frmShipai: a label left empty (nullopt) keeps the dialog's own text.
struct ShipaiTexts {
    std::optional<QString> label1, label2, label3;
};

class DialogHost {
public:
    virtual ~DialogHost() = default;

    virtual MsgAnswer message(const MessageBoxSpec& box) = 0;

    // frmEntryMiss with lblErrMsg set; returns when it has closed.
    virtual void frmEntryMiss(const QString& lblErrMsg) = 0;
    // frmUserInfo: "登録" sets intDlgResult True, "訂正" False; any other
    // close leaves it unchanged.
    virtual void frmUserInfo(const UserInfoTexts& texts, bool& intDlgResult) = 0;
    // frmShipai: "やり直し" runs shipaiRetry(), "中断" runs shipaiAbort().
    virtual void frmShipai(const ShipaiTexts& texts) = 0;

    // The system print dialog for printer; true when the examinee chose to print.
    virtual bool printDialog(QPrinter& printer) = 0;

    // Set by the main window: its pane and how to close it.
    BrowserPane* wbMain = nullptr;
    std::function<void()> closeMainWindow;

protected:
    // The actions of frmShipai's buttons, shared by every host.
    void shipaiRetry();
    void shipaiAbort();
};

} // namespace brevik
