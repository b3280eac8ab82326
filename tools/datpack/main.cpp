// datpack: packs the HTML sources of an exam into its password-protected data files.
//   datpack screens DIR qfile.dat      table gamen from DIR/1.html..6.html
//   datpack questions DIR exam.dat     table exam_doc from DIR/1.html..3.html
#include "JetWriter.h"

#include "app/Defaults.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <cstdio>

using namespace brevik::datpack;

namespace {

int usage() {
    std::fputs("usage: datpack [--password PW] screens DIR qfile.dat\n"
               "       datpack [--password PW] questions DIR exam.dat\n",
               stderr);
    return 2;
}

int fail(const QString& msg) {
    std::fprintf(stderr, "datpack: %s\n", qPrintable(msg));
    return 1;
}

// One source file as text; UTF-8 with or without a byte-order mark.
bool readHtml(const QString& path, QString& text, QString& error) {
    QFileInfo fi(path);
    if (!fi.exists()) {
        error = QStringLiteral("missing file %1").arg(path);
        return false;
    }
    QFile f(path);
    if (!fi.isFile() || !f.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot read %1: %2").arg(path, f.errorString());
        return false;
    }
    QByteArray bytes = f.readAll();
    if (bytes.startsWith("\xef\xbb\xbf"))
        bytes.remove(0, 3); // the encoding's signature, not part of the document
    QStringDecoder dec(QStringDecoder::Utf8);
    text = dec.decode(bytes);
    if (dec.hasError()) {
        error = QStringLiteral("%1 is not UTF-8 text").arg(path);
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    QString password = QString::fromLatin1(brevik::kDbPassword);
    if (args.size() >= 2 && args[0] == QLatin1String("--password")) {
        password = args[1];
        args = args.mid(2);
    }
    if (args.size() != 3)
        return usage();
    const QString kind = args[0], dir = args[1], out = args[2];
    QString table, column;
    int count = 0;
    if (kind == QLatin1String("screens")) {
        table = column = QStringLiteral("gamen");
        count = 6;
    } else if (kind == QLatin1String("questions")) {
        table = QStringLiteral("exam_doc");
        column = QStringLiteral("q_doc");
        count = 3;
    } else {
        return usage();
    }
    if (!QFileInfo(dir).isDir())
        return fail(QStringLiteral("missing folder %1").arg(dir));
    if (password.size() > 20)
        return fail(QStringLiteral("the password may have at most 20 characters"));

    std::vector<MemoRow> rows;
    for (int i = 1; i <= count; ++i) {
        QString text, error;
        if (!readHtml(QDir(dir).filePath(QStringLiteral("%1.html").arg(i)), text, error))
            return fail(error);
        rows.push_back({i, text});
    }
    try {
        writeMemoTable(out, table, column, rows, password);
    } catch (const std::exception& e) {
        return fail(QString::fromUtf8(e.what()));
    }
    return 0;
}
