#pragma once
// Confirmation of the examinee record: "登録" sets intDlgResult true, "訂正"
// false; a close without a button leaves it as it was.
#include <QDialog>

#include <array>

class QGroupBox;
class QLabel;
class QPushButton;

namespace brevik {

inline const QString kTitleUserInfo = QStringLiteral("受験者情報の内容確認");

class frmUserInfo : public QDialog {
    Q_OBJECT
public:
    explicit frmUserInfo(bool& intDlgResult, QWidget* parent = nullptr);

    QLabel* Label1;
    QGroupBox* Frame1;
    QGroupBox* Frame2;
    QLabel* lblName;
    std::array<QLabel*, 8> Label2{}; // headings, indexed like the record's fields
    QLabel* lblSeibetu;
    QLabel* lblWork;
    QLabel* lblPurpose;
    QLabel* lblBirthday;
    QLabel* lblEmail;
    QLabel* lblZipcode;
    QLabel* lblAddress;
    QLabel* lblAddress2;
    QLabel* lblTel;
    QLabel* Label3;
    QPushButton* Command1; // "訂正"
    QPushButton* Command2; // "登録"
};

} // namespace brevik
