#pragma once
// Failed registration or unreadable data file. "やり直し" and "中断" run the
// given actions before the dialog closes; a close without a button runs none.
#include <QDialog>

#include <functional>

class QGroupBox;
class QLabel;
class QPushButton;

namespace brevik {

inline const QString kTitleShipai = QStringLiteral("試験ログインの失敗");

class frmShipai : public QDialog {
    Q_OBJECT
public:
    frmShipai(std::function<void()> onRetry, std::function<void()> onAbort,
              QWidget* parent = nullptr);

    QLabel* Label1;
    QGroupBox* Frame1;
    QLabel* Label2;
    QLabel* Label3;
    QPushButton* OKButton;     // "中断"
    QPushButton* CancelButton; // "やり直し"

private:
    std::function<void()> onRetry_, onAbort_;
};

} // namespace brevik
