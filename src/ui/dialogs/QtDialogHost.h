#pragma once
// The program's DialogHost: message boxes and the registration dialogs as Qt
// windows. Each dialog is built when shown and destroyed when it closes.
#include "platform/DialogHost.h"

#include <functional>

class QDialog;
class QWidget;

namespace brevik {

class QtDialogHost : public DialogHost {
public:
    MsgAnswer message(const MessageBoxSpec& box) override;
    void frmEntryMiss(const QString& lblErrMsg) override;
    std::optional<bool> frmUserInfo(const UserInfoTexts& texts) override;
    ShipaiChoice frmShipai(const ShipaiTexts& texts, const ShipaiActions& actions) override;
    bool printDialog(QPrinter& printer) override;

    // Called with every box or dialog once it is on screen and modal, before the
    // examinee answers it; tests drive the real buttons from here.
    std::function<void(QDialog*)> onDialogShown;

    // The window a dialog shown now would block: an open modal dialog of ours,
    // else the active window, else the visible main window (topmost first).
    static QWidget* blockedWindow();
    // How long a closed dialog waits for its owner to be active again.
    static constexpr int kReturnFocusMs = 1000;

private:
    // Shows dialog modally above owner and returns its result once the owner
    // has the keyboard again. onTop: the dialog stays above every window.
    int run(QDialog& dialog, bool onTop = false);
};

} // namespace brevik
