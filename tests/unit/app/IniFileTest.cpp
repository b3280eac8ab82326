#include "app/IniFile.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace brevik;

TEST(IniFile, ReadsLikeTheProfileStringReader) {
    struct Case {
        const char* name;
        QByteArray content;
        QString expected;
    } cases[] = {
        {"plain", "[server]\nregister=https://a/r\n", QStringLiteral("https://a/r")},
        {"crlf and blanks", "  [ Server ]  \r\n  REGISTER   =  https://a/r  \r\n",
         QStringLiteral("https://a/r")},
        {"empty value", "[server]\nregister=\n", QString()},
        {"missing key", "[server]\nresult=x\n", QString()},
        {"missing section", "[other]\nregister=x\n", QString()},
        {"key of another section", "[other]\nregister=x\n[server]\nresult=y\n", QString()},
        {"double quotes", "[server]\nregister=\" quoted \"\n", QStringLiteral(" quoted ")},
        {"single quotes", "[server]\nregister='q'\n", QStringLiteral("q")},
        {"unmatched quotes stay", "[server]\nregister=\"q'\n", QStringLiteral("\"q'")},
        {"comment", "[server]\n;register=x\nregister=y\n", QStringLiteral("y")},
        {"first key wins", "[server]\nregister=first\nregister=second\n", QStringLiteral("first")},
        {"utf-8 bom", "\xEF\xBB\xBF[server]\nregister=z\n", QStringLiteral("z")},
        {"binary junk", QByteArray("[server]\nregister=x\n\0\x01\x02", 22), QString()},
        {"not decodable", "[server]\nregister=\xff\xfe\xfd\n", QString()},
    };
    QTemporaryDir dir;
    for (const auto& c : cases) {
        const QString path = dir.filePath(QStringLiteral("setting.ini"));
        test::writeFile(path, c.content);
        EXPECT_EQ(ReadIniString(path, QStringLiteral("server"), QStringLiteral("register")),
                  c.expected)
            << c.name;
    }
    EXPECT_EQ(ReadIniString(dir.filePath(QStringLiteral("none.ini")), QStringLiteral("server"),
                            QStringLiteral("register")),
              QString());
}

TEST(IniFile, ValueCountsAtMost1023Characters) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("setting.ini"));
    test::writeFile(path, "[server]\nregister=" + QByteArray(2000, 'u') + "\n");
    EXPECT_EQ(ReadIniString(path, QStringLiteral("server"), QStringLiteral("register")),
              QString(1023, u'u'));
}
