// Any bytes as a content file: the reader must fail cleanly, never crash.
#include "app/Defaults.h"
#include "content/ContentReader.h"
#include "content/JetDb.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

using namespace brevik;

// libmdb prints notes on stdout for damaged files; libFuzzer reports on stderr.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (const int null = ::open("/dev/null", O_WRONLY); null >= 0)
        ::dup2(null, STDOUT_FILENO);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString connect = QStringLiteral(";pwd=") + QString::fromLatin1(kDbPassword);
    try {
        auto db = JetDatabase::openBytes(
            QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)), connect);
        for (const char* sql :
             {"select * from gamen order by id asc", "select * from exam_doc where id =2",
              "select * from Table1 order by ID asc"}) {
            try {
                auto rs = db->OpenRecordset(QString::fromLatin1(sql));
                for (; !rs->eof(); rs->MoveNext())
                    (void)rs->field(QStringLiteral("id"));
            } catch (const DbError&) {
            }
        }
        db->Close();
    } catch (const DbError&) {
    }
    // The same bytes as a reader child's answer (a child a crafted file took
    // over may send anything): taken or refused, never more.
    QByteArray answer(reinterpret_cast<const char*>(data), qsizetype(size));
    try {
        while (const auto frame = TakeContentAnswerFrame(answer))
            if (frame->second.texts.size() > 6)
                std::abort();
    } catch (const DbError&) {
    }
    return 0;
}

// libmdb loses a few bytes on some malformed catalogs; those are its leaks, not ours.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libglib-2.0.so\nleak:libmdb.so\n";
}
