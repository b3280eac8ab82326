#include "content/ContentStore.h"

#include "app/Defaults.h"
#include "app/SafeFiles.h"
#include "content/ContentReader.h"
#include "platform/DialogHost.h"

#include <cstdio>

namespace brevik {

namespace {

void showDataFileFailure(AppState& st) {
    if (!st.svc.dialogs)
        return;
    ShipaiTexts t;
    t.label2 = QStringLiteral(
        "データファイルの取得に失敗しました。インターネット環境の確認をお願いいたします。");
    // "中断" unloads the main window, "やり直し" clears its login fields.
    st.svc.dialogs->frmShipai(t, st.svc.mainWindow);
}

void tellOperator(const QString& file, const QString& why) {
    std::fprintf(stderr, "brevik: content file %s: %s\n", qPrintable(file), qPrintable(why));
}

// In the child process of the program's reader, else (tests) in this one.
ContentRead readContent(AppState& st, ContentKind kind) {
    const QString file = st.strDataPath + IsolatedContentReader::fileName(kind);
    if (st.contentReader)
        return st.contentReader->read(kind, file);
    return ReadContent(kind, file, st.strDbPassword);
}

} // namespace

bool LoadScreenTemplates(AppState& st) {
    const QString file = IsolatedContentReader::fileName(ContentKind::Templates);
    const ContentRead r = readContent(st, ContentKind::Templates);
    if (r.stage != ContentRead::Ok) {
        tellOperator(file, r.error);
        showDataFileFailure(st);
        return false;
    }
    for (int k = 1; k <= 6; ++k)
        st.arrScreenHtml[k] = k <= r.texts.size() ? r.texts[k - 1] : QString();
    return true;
}

void WriteQuestionFiles(AppState& st) {
    const QString file = IsolatedContentReader::fileName(ContentKind::Questions);
    const ContentRead r = readContent(st, ContentKind::Questions);
    if (r.stage != ContentRead::Ok || r.texts.size() != 3) {
        tellOperator(file,
                     r.stage == ContentRead::Ok ? QStringLiteral("not three documents") : r.error);
        // A file that cannot be taken shows the dialog; a failed query stops silently.
        if (r.stage != ContentRead::QueryFailed)
            showDataFileFailure(st);
        return;
    }
    for (int k = 0; k < kQuestionFiles; ++k) {
        const QString path = st.strDataPath + QuestionFile(k);
        try {
            // UTF-8 with the byte-order mark, put in place only once complete.
            // A link planted at the name is replaced, never written through.
            ReplaceFile(path, QByteArray("\xef\xbb\xbf") + r.texts[k].toUtf8(), 0644);
        } catch (const FileError& e) {
            std::fprintf(stderr, "brevik: cannot write question file %s: %s\n", qPrintable(path),
                         qPrintable(e.reason));
            if (st.svc.dialogs)
                st.svc.dialogs->message(
                    Refusal(FolderErrorTitle(), FolderErrorText(st.strDataPath)));
            return;
        }
    }
}

} // namespace brevik
