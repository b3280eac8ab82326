#pragma once
// The program's DialogHost: message boxes and the registration dialogs as Qt
// windows. Each dialog is built when shown and destroyed when it closes.
#include "platform/DialogHost.h"

#include <functional>

class QDialog;

namespace brevik {

class QtDialogHost : public DialogHost {
public:
    MsgAnswer message(const MessageBoxSpec& box) override;
    void frmEntryMiss(const QString& lblErrMsg) override;
    void frmUserInfo(const UserInfoTexts& texts, bool& intDlgResult) override;
    void frmShipai(const ShipaiTexts& texts) override;
    bool printDialog(QPrinter& printer) override;

    // Called with every box or dialog once it is on screen and modal, before the
    // examinee answers it; tests drive the real buttons from here.
    std::function<void(QDialog*)> onDialogShown;

private:
    int run(QDialog& dialog);
};

} // namespace brevik
