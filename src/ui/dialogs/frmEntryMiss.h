#pragma once
// The form check's failure report: the caller sets lblErrMsg, then exec().
#include <QDialog>

class QGroupBox;
class QLabel;
class QPushButton;

namespace brevik {

inline const QString kTitleEntryMiss = QStringLiteral("入力エラー");

class frmEntryMiss : public QDialog {
    Q_OBJECT
public:
    explicit frmEntryMiss(QWidget* parent = nullptr);

    QLabel* Label1;
    QGroupBox* Frame1;
    QLabel* lblErrMsg;
    QLabel* Label3;
    QPushButton* CancelButton;
};

} // namespace brevik
