#include "ui/dialogs/DialogLayout.h"

#include "platform/ScreenFont.h"

#include <QDialog>
#include <QFont>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

namespace brevik {

void setUpDialog(QDialog* dialog, const QString& title, QSize client, qreal pointSize,
                 DialogBorder border) {
    Qt::WindowFlags flags = Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                            Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    if (border == DialogBorder::Fixed) {
        // A tool window has no task bar entry; exec() still makes it modal.
        flags |= Qt::Tool | Qt::MSWindowsFixedSizeDialogHint;
        dialog->setFixedSize(client);
    } else {
        // A dialog all the same: the window it blocks owns it, which keeps it above.
        flags |= Qt::Dialog | Qt::WindowMinMaxButtonsHint;
        dialog->resize(client);
    }
    dialog->setWindowFlags(flags);
    dialog->setWindowTitle(title);
    dialog->setSizeGripEnabled(false);

    dialog->setFont(ScreenFont(kPGothic, pointSize));

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect r(QPoint(), client);
        r.moveCenter(screen->geometry().center());
        dialog->move(r.topLeft());
    }
}

QString displayText(const QString& text) {
    QString t = text;
    t.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    t.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return t;
}

QLabel* addLabel(QWidget* parent, const char* name, QRect geometry, const QString& text) {
    auto* label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setGeometry(geometry);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setText(displayText(text));
    return label;
}

QGroupBox* addFrame(QWidget* parent, const char* name, QRect geometry, const QString& title) {
    auto* frame = new QGroupBox(title, parent);
    frame->setObjectName(QString::fromLatin1(name));
    frame->setGeometry(geometry);
    return frame;
}

QPushButton* addButton(QWidget* parent, const char* name, QRect geometry, const QString& text) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(geometry);
    button->setAutoDefault(true);
    return button;
}

} // namespace brevik
