#include "ui/dialogs/frmShipai.h"

#include "ui/dialogs/DialogLayout.h"

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

namespace brevik {

frmShipai::frmShipai(std::function<void()> onRetry, std::function<void()> onAbort, QWidget* parent)
    : QDialog(parent), onRetry_(std::move(onRetry)), onAbort_(std::move(onAbort)) {
    setObjectName(QStringLiteral("frmShipai"));
    setUpDialog(this, kTitleShipai, {366, 280}, 12, DialogBorder::Fixed);

    Label1 = addLabel(this, "Label1", {20, 12, 305, 33},
                      QStringLiteral("次の理由により、認証されませんでした。"));
    Frame1 = addFrame(this, "Frame1", {16, 56, 321, 93}, QStringLiteral("否認の理由"));
    Label2 = addLabel(Frame1, "Label2", {8, 24, 301, 53},
                      QStringLiteral("試験番号、または認証パスワードが正しくありません。"));
    Label3 = addLabel(
        this, "Label3", {24, 164, 305, 57},
        QStringLiteral("認証をもう一度やり直す場合には［やり直し］ボタンを、中断してプログラムを"
                       "終了するには［中断］ボタンをクリックしてください。"));
    OKButton = addButton(this, "OKButton", {52, 232, 81, 33}, QStringLiteral("中断"));
    CancelButton = addButton(this, "CancelButton", {208, 232, 81, 33}, QStringLiteral("やり直し"));
    setTabOrder(OKButton, CancelButton);

    // The main window goes first, so the program ends once the caller returns.
    connect(OKButton, &QPushButton::clicked, this, [this] {
        if (onAbort_)
            onAbort_();
        accept();
    });
    connect(CancelButton, &QPushButton::clicked, this, [this] {
        if (onRetry_)
            onRetry_();
        accept();
    });
    OKButton->setFocus();
}

} // namespace brevik
