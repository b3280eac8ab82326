#include <QApplication>
#include <QWidget>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QWidget w;
    w.setWindowTitle(QStringLiteral("ヴァルネルドリン　体験プログラム"));
    w.show();
    return app.exec();
}
