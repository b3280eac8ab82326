#include "content/ContentStore.h"

#include "content/JetDb.h"
#include "platform/DialogHost.h"

#include <QSaveFile>
#include <cstdio>

namespace brevik {

namespace {

void showDataFileFailure(AppState& st) {
    if (!st.svc.dialogs)
        return;
    ShipaiTexts t;
    t.label2 = QStringLiteral(
        "データファイルの取得に失敗しました。インターネット環境の確認をお願いいたします。");
    st.svc.dialogs->frmShipai(t);
}

void tellOperator(const QString& file, const std::exception& e) {
    std::fprintf(stderr, "brevik: content file %s: %s\n", qPrintable(file), e.what());
}

std::unique_ptr<JetDatabase> openData(AppState& st, const QString& name) {
    return JetDatabase::open(st.strDataPath + name, QStringLiteral(";pwd=") + st.strDbPassword);
}

// UTF-8 with the byte-order mark, replacing the file only once it is complete.
void writeUtf8WithBom(const QString& path, const QString& text) {
    QSaveFile f(path);
    const QByteArray bytes = QByteArray("\xef\xbb\xbf") + text.toUtf8();
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size() || !f.commit())
        throw PlatformError(QStringLiteral("cannot write %1: %2").arg(path, f.errorString()));
}

} // namespace

bool LoadScreenTemplates(AppState& st) {
    const QString file = QStringLiteral("qfile.dat");
    std::array<QString, 7> texts;
    try {
        auto db = openData(st, file);
        auto rs = db->OpenRecordset(QStringLiteral("select * from gamen order by id asc"), 2);
        if (rs->eof()) {
            std::fprintf(stderr, "brevik: content file %s: table gamen has no rows\n",
                         qPrintable(file));
            showDataFileFailure(st);
            return false;
        }
        // Up to six rows; a shorter table leaves the remaining texts empty.
        for (int k = 1; k <= 6 && !rs->eof(); ++k) {
            texts[k] = rs->field(QStringLiteral("gamen"));
            rs->MoveNext();
        }
        rs->Close();
        db->Close();
    } catch (const std::exception& e) {
        tellOperator(file, e);
        showDataFileFailure(st);
        return false;
    }
    for (int k = 1; k <= 6; ++k)
        st.arrScreenHtml[k] = texts[k];
    return true;
}

void WriteQuestionFiles(AppState& st) {
    const QString file = QStringLiteral("exam.dat");
    std::unique_ptr<JetDatabase> db;
    try {
        db = openData(st, file);
    } catch (const std::exception& e) {
        tellOperator(file, e);
        showDataFileFailure(st);
        return;
    }
    // Every document is read before the first file is written; any later
    // failure stops here without a message.
    static const char* const kNames[3] = {"index.html", "index2.html", "index3.html"};
    QString docs[3];
    try {
        for (int k = 1; k <= 3; ++k) {
            auto rs =
                db->OpenRecordset(QStringLiteral("select * from exam_doc where id =%1").arg(k), 2);
            docs[k - 1] = rs->field(QStringLiteral("q_doc"));
            rs->Close();
        }
        db->Close();
        for (int k = 0; k < 3; ++k)
            writeUtf8WithBom(st.strDataPath + QLatin1String(kNames[k]), docs[k]);
    } catch (const std::exception& e) {
        tellOperator(file, e);
    }
}

} // namespace brevik
