// setting.ini and the working folders as an attacker or bad luck leaves them.
#include "StartupFixture.h"
#include "app/InstanceLock.h"
#include "app/Startup.h"
#include "app/WorkFolders.h"
#include "platform/fake/ScriptedDialogHost.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <functional>
#include <sys/stat.h>
#include <unistd.h>

using namespace brevik;

namespace {

// None when problem is empty, else exactly one, naming the file and problem.
void expectProblem(const QStringList& problems, const QString& file, const QString& problem) {
    if (problem.isEmpty()) {
        EXPECT_TRUE(problems.isEmpty()) << problems.join(u'\n').toStdString();
        return;
    }
    ASSERT_EQ(problems.size(), 1) << problems.join(u'\n').toStdString();
    EXPECT_TRUE(problems[0].startsWith(file)) << problems[0].toStdString();
    EXPECT_TRUE(problems[0].contains(problem)) << problems[0].toStdString();
}

} // namespace

using HostileSettings = test::Startup;
using HostileFolders = test::Startup;

// setting.ini as an attacker or bad luck leaves it: each problem is named
// (file, line, what) and whatever is missing or refused keeps its built-in
// value; the run goes on.
TEST_F(HostileSettings, EveryProblemIsNamedAndBuiltInValuesStand) {
    const QString folder = GetSettingFolder();
    const QString ini = folder + QStringLiteral("setting.ini");
    const QString good = QStringLiteral("https://127.0.0.1:8443/r");
    const QString cred = QString::fromLatin1(QByteArray("user:secret").toBase64());
    AppState builtIn;
    ReadSettings(builtIn); // no file: the built-in values, nothing said
    ASSERT_TRUE(builtIn.strRegisterUrl.startsWith(QStringLiteral("https://")));

    struct Case {
        Case(const char* n, std::function<void()> m, QString p, QString g = {}, QString r = {},
             QString c = {})
            : name(n), make(std::move(m)), problem(std::move(p)), reg(std::move(g)),
              res(std::move(r)), credential(std::move(c)) {}
        const char* name;
        std::function<void()> make;
        QString problem;              // empty: none expected
        QString reg, res, credential; // null: the built-in value
    };
    auto text = [&](const QByteArray& b) { return [=] { test::writeFile(ini, b); }; };
    const QByteArray head = "[server]\n";
    const std::vector<Case> cases = {
        {"good",
         text(head + "register=" + good.toUtf8() + "\nresult=" + good.toUtf8() +
              "\ncredential=" + cred.toUtf8() + "\n"),
         {},
         good,
         good,
         cred},
        {"http endpoint", text(head + "register=http://evil.example/r\n"),
         ":2: register \"http://evil.example/r\" is not an https:// address"},
        {"HTTP in capitals", text(head + "result=HTTP://evil.example/r\n"),
         ":2: result \"HTTP://evil.example/r\" is not an https:// address"},
        {"ftp endpoint", text(head + "\n\nresult=ftp://x/y\n"), ":4: result \"ftp://x/y\""},
        {"no host", text(head + "register=https:///path\n"),
         ":2: register \"https:///path\" has no host"},
        {"not an address", text(head + "register=just words\n"), "is not a valid address"},
        {"control character in the address", text(head + "register=https://a/\x1b[2J\n"),
         "register \"https://a/\\x1b[2J\""},
        {"https in capitals is fine",
         text(head + "register=HTTPS://a.example/r\n"),
         {},
         QStringLiteral("HTTPS://a.example/r")},
        {"credential with CR", text(head + "credential=dXNlcjpw\rYXNz\n"),
         ":2: credential holds a control character: refused"},
        {"credential with ESC",
         text(head + "credential=dXNl\x1b"
                     "cjpwYXNz\n"),
         ":2: credential holds a control character"},
        {"credential with TAB", text(head + "credential=dXNl\tcjpwYXNz\n"),
         ":2: credential holds a control character"},
        {"credential not Base64", text(head + "credential=user:password\n"),
         ":2: credential is not Base64"},
        {"credential without user:password",
         text(head + "credential=" + QByteArray("nocolon").toBase64() + "\n"),
         ":2: credential is not the Base64 of user:password"},
        {"credential hiding a line break",
         text(head + "credential=" + QByteArray("u:p\r\nX-Evil: 1").toBase64() + "\n"),
         ":2: credential decodes to a text with a control character"},
        {"no server section", text("[other]\nregister=" + good.toUtf8() + "\n"),
         "setting.ini: has no [server] section"},
        {"empty file", text(""), "has no [server] section"},
        {"UTF-16", text(QByteArray("\xff\xfe[\0s\0", 6)), "is UTF-16 text; it must be UTF-8"},
        {"NUL byte", text(head + QByteArray("register=x\0y\n", 13)),
         ":2: holds a NUL byte: not a text file"},
        {"not UTF-8 on one line",
         text(head + "register=https://a/\xff\nresult=" + good.toUtf8() + "\n"),
         ":2: is not valid UTF-8: ignored",
         {},
         good},
        {"over the cap", text(head + "; " + QByteArray(70000, 'x') + "\n"),
         "larger than 65536 bytes"},
        {"unknown key", text(head + "registr=" + good.toUtf8() + "\n"),
         ":2: unknown key \"registr\""},
        {"line without =", text(head + "register " + good.toUtf8() + "\n"),
         ":2: neither key=value, a section nor a comment"},
        {"key given twice", text(head + "register=" + good.toUtf8() + "\nregister=https://b/\n"),
         ":3: register given again: the first one (line 2) counts", good},
        {"second section", text(head + "[x]\n[server]\nresult=" + good.toUtf8() + "\n"),
         ":3: a second [server] section: ignored"},
        {"unclosed section",
         text("[server\nresult=" + good.toUtf8() + "\n"),
         ":1: section name without its closing \"]\"",
         {},
         good},
        {"too long a value", text(head + "register=https://a/" + QByteArray(2000, 'p') + "\n"),
         ":2: value of register longer than 1023 characters: cut",
         QStringLiteral("https://a/") + QString(1013, u'p')},
        {"a folder", [&] { QDir().mkpath(ini); }, "setting.ini: is a folder: not read"},
        {"a pipe", [&] { ASSERT_EQ(::mkfifo(QFile::encodeName(ini).constData(), 0600), 0); },
         "is not a regular file: not read"},
        {"a link to /dev/zero", [&] { QFile::link(QStringLiteral("/dev/zero"), ini); },
         "is not a regular file: not read"},
        {"a link to a file of ours",
         [&] {
             test::writeFile(temp() + QStringLiteral("mine.ini"),
                             head + "result=" + good.toUtf8() + "\n");
             QFile::link(temp() + QStringLiteral("mine.ini"), ini);
         },
         {},
         {},
         good},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(ini);
        QDir(ini).removeRecursively();
        c.make();
        AppState s;
        expectProblem(ReadSettings(s), ini, c.problem);
        EXPECT_EQ(s.strRegisterUrl, c.reg.isNull() ? builtIn.strRegisterUrl : c.reg);
        EXPECT_EQ(s.strResultUrl, c.res.isNull() ? builtIn.strResultUrl : c.res);
        EXPECT_EQ(s.strCredential, c.credential.isNull() ? builtIn.strCredential : c.credential);
    }
    QFile::remove(ini);
}

// [guard]: names the venue adds to a role or exempts. A name that cannot be
// one is named on stderr and left out; the rest of the file still counts.
TEST_F(HostileSettings, GuardSectionAddsAndExemptsNames) {
    const QString ini = GetSettingFolder() + QStringLiteral("setting.ini");
    const AppRoles web = roleBit(AppRole::WebBrowser), text = roleBit(AppRole::TextEditor);
    struct Case {
        const char* name;
        QByteArray text;
        QHash<QString, AppRoles> added;
        QSet<QString> exempt;
        QString problem; // empty: none expected
    } cases[] = {
        {"roles and an exemption",
         "[guard]\nbrowser = Netsurf-gtk3, org.example.Web.desktop\n"
         "text-editor=featherpad;kwrite\nexempt=org.gnome.Calculator\n",
         {{"netsurf-gtk3", web}, {"org.example.web", web}, {"featherpad", text}, {"kwrite", text}},
         {"org.gnome.calculator"},
         {}},
        {"one name in two roles",
         "[guard]\nbrowser=mailweb\nmail=mailweb\n",
         {{"mailweb", web | roleBit(AppRole::Email)}},
         {},
         {}},
        {"beside [server]",
         "[server]\nresult=\n[guard]\nspreadsheet=sc-x\n",
         {{"sc-x", roleBit(AppRole::Spreadsheet)}},
         {},
         {}},
        {"a path",
         "[guard]\nbrowser=/usr/bin/dillo, dillo\n",
         {{"dillo", web}},
         {},
         ":2: browser: \"/usr/bin/dillo\" is a path"},
        {"a pattern", "[guard]\nexempt=calc*\n", {}, {}, ":2: exempt: \"calc*\" holds \"*\""},
        {"a control character",
         "[guard]\nmail=a\x01"
         "b\n",
         {},
         {},
         ":2: mail: \"a\\x01b\" holds a control character"},
        {"an unknown role",
         "[guard]\ncalculator=galculator\n",
         {},
         {},
         ":2: unknown key \"calculator\""},
        {"exempt and added",
         "[guard]\nfile-manager=caja\nexempt=Caja\n",
         {{"caja", roleBit(AppRole::FileManager)}},
         {"caja"},
         ":3: exempt: \"caja\" is also given a role; the exemption holds"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::writeFile(ini, c.text);
        AppState s;
        expectProblem(ReadSettings(s), ini, c.problem);
        EXPECT_EQ(s.guardRoles.added, c.added);
        EXPECT_EQ(s.guardRoles.exempt, c.exempt);
    }
    QFile::remove(ini);
}

// The working folders open to others are made private before anything in
// them is read; a file planted in them by another user is not used.
TEST_F(HostileFolders, OpenFoldersAreMadePrivateAndOtherUsersFilesIgnored) {
    for (const char* name : {"tolva_net_vovuza", "quillo", "brevik_result"}) {
        const QString f = temp() + QLatin1String(name);
        QDir().mkpath(f);
        ASSERT_EQ(::chmod(QFile::encodeName(f).constData(), 0777), 0);
    }
    const QString ini = temp() + QStringLiteral("tolva_net_vovuza/setting.ini");
    test::writeFile(ini, "[server]\nregister=https://planted.example/r\n");
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown(QFile::encodeName(ini).constData(), 65534, 65534), 0);
    }
    ASSERT_EQ(RunStartup(st, lock, QString(), QStringLiteral("/opt")), StartupResult::Proceed);
    EXPECT_TRUE(dialogs.shown.empty());
    for (const char* name : {"tolva_net_vovuza", "quillo", "brevik_result"}) {
        struct stat fs {};
        ASSERT_EQ(::stat(QFile::encodeName(temp() + QLatin1String(name)).constData(), &fs), 0);
        EXPECT_EQ(fs.st_mode & 07777, 0700u) << name;
    }
    if (root)
        EXPECT_FALSE(st.strRegisterUrl.contains(QStringLiteral("planted")));
    else
        GTEST_SKIP() << "a file of another user needs root to be made";
}

// A working folder that belongs to another user is refused, not repaired.
TEST_F(HostileFolders, AnotherUsersWorkingFolderIsRefused) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "a folder of another user needs root to be made";
    for (const char* name : {"tolva_net_vovuza", "quillo", "brevik_result"}) {
        SCOPED_TRACE(name);
        QTemporaryDir t;
        qputenv("TMPDIR", QFile::encodeName(t.path()));
        const QString f = t.filePath(QLatin1String(name));
        QDir().mkpath(f);
        ASSERT_EQ(::chmod(QFile::encodeName(f).constData(), 0777), 0);
        ASSERT_EQ(::chown(QFile::encodeName(f).constData(), 65534, 65534), 0);
        dialogs.shown.clear();
        EXPECT_EQ(RunStartup(st, lock, QString(), QStringLiteral("/opt")), StartupResult::Refused);
        ASSERT_EQ(dialogs.shown.size(), 1u);
        EXPECT_EQ(dialogs.shown[0].box.text,
                  QStringLiteral("作業フォルダを作成できません。\r\n") + f + u'/');
        struct stat fs {};
        ASSERT_EQ(::stat(QFile::encodeName(f).constData(), &fs), 0);
        EXPECT_EQ(fs.st_mode & 07777, 0777u) << "not ours: left as it is";
        lock.unlock();
    }
}
