#pragma once
// Building blocks of the registration dialogs: fixed pixel layouts, one font,
// plain-text labels that wrap like the form engine's.
#include <QRect>
#include <QSize>
#include <QString>

class QDialog;
class QGroupBox;
class QLabel;
class QPushButton;
class QWidget;

namespace brevik {

enum class DialogBorder {
    Fixed,   // fixed dialog border, kept off the task bar
    Sizable, // sizable, with minimise and maximise buttons
};

// Title, border, client size and font of a dialog; centres it on the screen.
void setUpDialog(QDialog* dialog, const QString& title, QSize client, qreal pointSize,
                 DialogBorder border);

// Texts are CR LF separated; Qt widgets break lines at LF.
QString displayText(const QString& text);

// Controls at a fixed place in parent (a dialog or a frame). Texts are shown
// as plain text: callers pass examinee input and server replies.
QLabel* addLabel(QWidget* parent, const char* name, QRect geometry, const QString& text = {});
QGroupBox* addFrame(QWidget* parent, const char* name, QRect geometry, const QString& title = {});
QPushButton* addButton(QWidget* parent, const char* name, QRect geometry, const QString& text);

} // namespace brevik
