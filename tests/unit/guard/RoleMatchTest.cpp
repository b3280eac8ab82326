// Which desktop entry, and so which roles, a window gets: desktop entries
// written into a private XDG_DATA_HOME / XDG_DATA_DIRS and read as the
// program reads them, then a table of windows.
#include "app/DesktopEntries.h"
#include "platform/AppRoles.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace brevik;

namespace {

constexpr AppRoles kWeb = roleBit(AppRole::WebBrowser), kMail = roleBit(AppRole::Email),
                   kSheet = roleBit(AppRole::Spreadsheet), kWord = roleBit(AppRole::WordProcessor),
                   kDb = roleBit(AppRole::Database), kText = roleBit(AppRole::TextEditor);

// Process id -> executable, standing in for /proc/PID/exe.
QHash<qint64, QString>& executables() {
    static QHash<qint64, QString> map;
    return map;
}
QString fakeExecutable(qint64 pid) {
    return executables().value(pid);
}

class RoleMatch : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* v : {"XDG_DATA_HOME", "XDG_DATA_DIRS"})
            saved_.insert(v, qgetenv(v));
        qputenv("XDG_DATA_HOME", path("home").toLocal8Bit());
        qputenv("XDG_DATA_DIRS", (path("sys1") + ':' + path("sys2")).toLocal8Bit());
        bin = path("bin/");
        QDir().mkpath(bin);
        for (const char* name : {"my editor", "sheet", "mailer"}) {
            QFile f(bin + QLatin1String(name));
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write("#!/bin/sh\n");
            f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
    }
    void TearDown() override {
        for (auto it = saved_.cbegin(); it != saved_.cend(); ++it)
            it.value().isNull() ? qunsetenv(it.key()) : qputenv(it.key(), it.value());
    }
    QString path(const QString& rel) const { return dir_.path() + u'/' + rel; }
    void entry(const QString& rel, const QString& body,
               const QString& type = QStringLiteral("Application")) {
        const QString p = path(rel);
        QDir().mkpath(QFileInfo(p).path());
        QFile f(p);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(("[Desktop Entry]\nType=" + type + "\nName=x\n" + body).toUtf8());
    }

    QTemporaryDir dir_;
    QHash<const char*, QByteArray> saved_;
    QString bin;
};

} // namespace

TEST_F(RoleMatch, WindowsGetTheRolesOfTheirEntries) {
    const QString sys = QStringLiteral("sys1/applications/");
    entry(sys + "org.example.Web.desktop", "Exec=web\nCategories=Network;WebBrowser;\n");
    entry(sys + "sylph.desktop", "Exec=sylph\nStartupWMClass=Sylph\nCategories=GTK;Email;\n");
    entry(sys + "dillo.desktop", "Exec=dillo %F\nCategories=Network;WebBrowser;\n");
    entry(sys + "kde/kwrite.desktop", "Exec=kwrite\nCategories=Qt;KDE;Utility;TextEditor;\n");
    entry(sys + "editor.desktop",
          "Exec=\"" + bin + "my editor\" --new %F\nCategories=Utility;TextEditor;\n");
    entry(sys + "sheet.desktop",
          "TryExec=" + bin + "sheet\nExec=sh -c \"sheet\"\nCategories=Office;Spreadsheet;\n");
    entry(sys + "hidden.desktop", "Exec=hidden\nHidden=true\nCategories=WebBrowser;\n");
    entry(sys + "quiet.desktop", "Exec=quiet\nNoDisplay=true\nCategories=Network;Email;\n");
    entry(sys + "suite.desktop",
          "Exec=suite\nCategories=Office;Spreadsheet;WordProcessor;Database;\n");
    entry(sys + "link.desktop", "Categories=WebBrowser;\nURL=https://example.org\n",
          QStringLiteral("Link"));
    // Only the main group counts.
    entry(sys + "actions.desktop",
          "Exec=a\nCategories=Utility;\n[Desktop Action new]\nCategories=WebBrowser;\n");
    entry(sys + "wrapped.desktop", "Exec=sh -c \"wrapped\"\nCategories=WebBrowser;\n");
    entry(sys + "envrun.desktop",
          "Exec=env LANG=C " + bin + "mailer -x\nCategories=Network;Email;\n");
    entry(sys + "calc.desktop", "Exec=calc\nCategories=Utility;Calculator;\n");
    entry(sys + "allowed-web.desktop", "Exec=allowed\nCategories=WebBrowser;\n");
    // The user's own copy of an entry takes no role away.
    entry(QStringLiteral("home/applications/dillo.desktop"), "Exec=dillo\nCategories=\n");
    entry(QStringLiteral("sys2/applications/Word.desktop"),
          "Exec=word\nCategories=Office;WordProcessor;\n");
    // No application at all: a pipe is not read (and does not hang the reading).
    ASSERT_EQ(mkfifo(qPrintable(path(sys + "pipe.desktop")), 0600), 0);

    EXPECT_EQ(ApplicationFolders(),
              (QStringList{path("home/applications"), path("sys1/applications"),
                           path("sys2/applications")}));

    OperatorRoles rules;
    rules.added.insert(QStringLiteral("netsurf-gtk3"), kWeb);
    rules.added.insert(QStringLiteral("calc"), kText);
    rules.exempt.insert(QStringLiteral("allowed-web"));
    rules.exempt.insert(QStringLiteral("quietclass"));
    const qint64 own = 4242;
    RoleTable table(own, rules);
    table.setExecutableOf(&fakeExecutable);
    ReadDesktopEntries(table, ApplicationFolders(),
                       {bin, QStringLiteral("/usr/bin"), QStringLiteral("/bin")});
    executables() = {{100, QFileInfo(bin + "my editor").canonicalFilePath()},
                     {101, QFileInfo(bin + "sheet").canonicalFilePath()},
                     {102, QFileInfo(bin + "mailer").canonicalFilePath()},
                     {103, QFileInfo(QStringLiteral("/bin/sh")).canonicalFilePath()},
                     {own, QFileInfo(bin + "my editor").canonicalFilePath()}};

    struct Case {
        const char* name;
        WindowFacts w; // appId, desktopFile, instance, class, pid
        AppRoles roles;
    } cases[] = {
        {"GTK application id names the entry", {"org.example.Web", "", "web", "Web", 0}, kWeb},
        {"KDE desktop-file hint, entry in a subfolder",
         {"", "kde-kwrite", "kwrite", "x", 0},
         kText},
        {"hint with .desktop", {"", "kde-kwrite.desktop", "", "", 0}, kText},
        {"StartupWMClass", {"", "", "main_window", "Sylph", 0}, kMail},
        {"StartupWMClass in another case", {"", "", "sylph", "SYLPH", 0}, kMail},
        {"class as entry id, any case", {"", "", "dillo", "Dillo", 0}, kWeb},
        {"instance as entry id", {"", "", "dillo", "Whatever", 0}, kWeb},
        {"entry id with capitals", {"", "", "word", "word", 0}, kWord},
        {"Exec with a quoted path", {"", "", "ed", "Ed", 100}, kText},
        {"TryExec before Exec", {"", "", "s", "S", 101}, kSheet},
        {"Exec through env", {"", "", "m", "M", 102}, kMail},
        {"a shell runs anything: never matched by executable", {"", "", "w", "W", 103}, 0},
        {"hidden entry counts as deleted", {"", "", "hidden", "Hidden", 0}, 0},
        {"NoDisplay entry still counts", {"", "", "quiet", "Quiet", 0}, kMail},
        {"several categories", {"", "", "suite", "Suite", 0}, kSheet | kWord | kDb},
        {"link entry", {"", "", "link", "Link", 0}, 0},
        {"categories of another group", {"", "", "actions", "Actions", 0}, 0},
        {"hint and class add up", {"calc", "", "x", "Sylph", 0}, kMail | kText},
        {"an entry named: no executable fallback", {"", "", "calc", "Calc", 100}, kText},
        {"program's own window", {"", "", "dillo", "Dillo", own}, 0},
        {"program's own process by executable", {"", "", "x", "X", own}, 0},
        {"operator adds a class", {"", "", "netsurf-gtk3", "Netsurf-gtk3", 0}, kWeb},
        {"operator exempts an entry id", {"", "", "allowed-web", "Allowed-web", 0}, 0},
        {"operator exempts a class", {"", "", "quiet", "QuietClass", 0}, 0},
        {"no entry, unknown class", {"", "", "mystery", "Mystery", 999}, 0},
        {"hint naming no entry", {"org.example.None", "", "none", "None", 0}, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(table.match(c.w).roles, c.roles) << c.name;
    EXPECT_EQ(table.match({"", "", "dillo", "Dillo", 0}).entryId, QStringLiteral("dillo"));
}

// The reading runs off the calling thread and hands the table back on it.
TEST_F(RoleMatch, TheTableArrivesOnTheApplicationThread) {
    entry(QStringLiteral("sys2/applications/mail.desktop"), "Exec=m\nCategories=Email;\n");
    std::shared_ptr<const RoleTable> got;
    Qt::HANDLE onThread = nullptr;
    QEventLoop loop;
    ReadRoleTableInBackground({}, [&](std::shared_ptr<const RoleTable> t) {
        got = std::move(t);
        onThread = QThread::currentThreadId();
        loop.quit();
    });
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    loop.exec();
    ASSERT_TRUE(got);
    EXPECT_EQ(onThread, QThread::currentThreadId());
    EXPECT_EQ(got->match({"", "", "mail", "Mail", 0}).roles, kMail);
}
