// The installed copy's folders: content from the venue before the sample,
// question files in a private folder of the examinee's, settings from a
// system-wide file where the examinee's own does not set them.
#include "app/Layout.h"
#include "StartupFixture.h"
#include "app/Startup.h"
#include "app/WorkFolders.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace brevik;

namespace {

using InstalledLayout = test::Startup;

// An install tree below the test's folder: bin/, the sample and venue content.
struct Installed {
    explicit Installed(const QString& root)
        : paths{root + QStringLiteral("bin"), root + QStringLiteral("share/data"),
                root + QStringLiteral("etc/content"), root + QStringLiteral("share/fonts.conf"),
                root + QStringLiteral("etc/setting.ini")} {
        for (const QString& d :
             {paths.bindir, paths.sampleFolder + QStringLiteral("/images"), paths.venueFolder})
            QDir().mkpath(d);
        for (const char* f : {"qfile.dat", "exam.dat", "images/pass.gif", "images/fail.gif"})
            test::writeFile(paths.sampleFolder + u'/' + QLatin1String(f), "sample");
    }
    InstallPaths paths;
};

QString linkTarget(const QString& path) {
    return QFileInfo(path).symLinkTarget();
}

} // namespace

TEST_F(InstalledLayout, ACopyOutsideTheInstallFolderKeepsDataBesideIt) {
    const Installed inst(temp());
    const QString build = temp() + QStringLiteral("build");
    QDir().mkpath(build);
    const Layout l = ProgramLayout(build, inst.paths, temp());
    EXPECT_FALSE(l.installed);
    EXPECT_EQ(l.dataPath, build + QStringLiteral("/data/"));
    EXPECT_EQ(l.fontsConf, build + QStringLiteral("/fonts.conf"));
    EXPECT_TRUE(l.siteSettings.isEmpty());
    EXPECT_TRUE(l.contentFolders.isEmpty());
    PrepareDataFolder(l); // nothing to do
    EXPECT_FALSE(QFileInfo::exists(temp() + QStringLiteral("brevik_data")));

    // The install folder, also when reached through a link, is the installed copy.
    ASSERT_TRUE(QFile::link(inst.paths.bindir, temp() + QStringLiteral("bin-link")));
    for (const QString& where : {inst.paths.bindir, temp() + QStringLiteral("bin-link/")}) {
        const Layout i = ProgramLayout(where, inst.paths, temp());
        EXPECT_TRUE(i.installed) << where.toStdString();
        EXPECT_EQ(i.dataPath, temp() + QStringLiteral("brevik_data/"));
        EXPECT_EQ(i.contentFolders,
                  QStringList({inst.paths.venueFolder + u'/', inst.paths.sampleFolder + u'/'}));
        EXPECT_EQ(i.fontsConf, inst.paths.fontsConf);
        EXPECT_EQ(i.siteSettings, inst.paths.siteSettings);
    }
}

// The private folder links each content name, the venue's before the
// sample's; what the program writes there itself is never linked, and the
// links follow the content when the venue changes it.
TEST_F(InstalledLayout, TheVenuesContentHidesTheSampleAndLinksFollowChanges) {
    const Installed inst(temp());
    const Layout l = ProgramLayout(inst.paths.bindir, inst.paths, temp());
    const QString venue = inst.paths.venueFolder + u'/';
    const QString sample = inst.paths.sampleFolder + u'/';
    test::writeFile(venue + QStringLiteral("exam.dat"), "venue");
    test::writeFile(venue + QStringLiteral("index.html"), "never linked");
    test::writeFile(venue + QStringLiteral(".hidden"), "never linked");
    test::writeFile(sample + QStringLiteral("index2.html"), "never linked");

    PrepareDataFolder(l);
    const QString data = l.dataPath;
    struct stat ds {};
    ASSERT_EQ(::lstat(QFile::encodeName(temp() + QStringLiteral("brevik_data")).constData(), &ds),
              0);
    EXPECT_TRUE(S_ISDIR(ds.st_mode));
    EXPECT_EQ(ds.st_mode & 07777, 0700u);
    EXPECT_EQ(linkTarget(data + QStringLiteral("exam.dat")), venue + QStringLiteral("exam.dat"));
    EXPECT_EQ(linkTarget(data + QStringLiteral("qfile.dat")), sample + QStringLiteral("qfile.dat"));
    EXPECT_EQ(linkTarget(data + QStringLiteral("images")), sample + QStringLiteral("images"));
    EXPECT_EQ(test::readFile(data + QStringLiteral("images/pass.gif")), "sample");
    EXPECT_EQ(
        QDir(data).entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot),
        QStringList({"exam.dat", "images", "qfile.dat"}));

    // A question file of an earlier run stays (the next one replaces it); the
    // venue's own images now stand in for the sample's; a venue file that is
    // gone takes its link along.
    test::writeFile(data + QStringLiteral("index.html"), "question");
    QDir().mkpath(venue + QStringLiteral("images"));
    QFile::remove(venue + QStringLiteral("exam.dat"));
    test::writeFile(venue + QStringLiteral("extra.png"), "x");
    PrepareDataFolder(l);
    EXPECT_EQ(linkTarget(data + QStringLiteral("images")), venue + QStringLiteral("images"));
    EXPECT_EQ(linkTarget(data + QStringLiteral("exam.dat")), sample + QStringLiteral("exam.dat"));
    EXPECT_EQ(linkTarget(data + QStringLiteral("extra.png")), venue + QStringLiteral("extra.png"));
    EXPECT_EQ(test::readFile(data + QStringLiteral("index.html")), "question");
    QFile::remove(venue + QStringLiteral("extra.png"));
    PrepareDataFolder(l);
    EXPECT_FALSE(QFileInfo(data + QStringLiteral("extra.png")).isSymLink());
}

// The private folder is refused when it is a link or not a folder, as every
// working folder is; nothing is linked into the place it leads to.
TEST_F(InstalledLayout, APlantedDataFolderIsRefused) {
    const Installed inst(temp());
    const Layout l = ProgramLayout(inst.paths.bindir, inst.paths, temp());
    const QString elsewhere = temp() + QStringLiteral("elsewhere");
    QDir().mkpath(elsewhere);
    ASSERT_TRUE(QFile::link(elsewhere, temp() + QStringLiteral("brevik_data")));
    EXPECT_THROW(PrepareDataFolder(l), FolderError);
    EXPECT_TRUE(QDir(elsewhere).isEmpty());

    QFile::remove(temp() + QStringLiteral("brevik_data"));
    test::writeFile(temp() + QStringLiteral("brevik_data"), "a file");
    EXPECT_THROW(PrepareDataFolder(l), FolderError);

    if (::geteuid() != 0)
        GTEST_SKIP() << "a folder of another user needs root to be made";
    QFile::remove(temp() + QStringLiteral("brevik_data"));
    QDir().mkpath(temp() + QStringLiteral("brevik_data"));
    ASSERT_EQ(::chown(QFile::encodeName(temp() + QStringLiteral("brevik_data")).constData(), 65534,
                      65534),
              0);
    EXPECT_THROW(PrepareDataFolder(l), FolderError);
}

// The venue's system-wide setting.ini gives each key the examinee's own file
// does not set (missing or empty); a system-wide file others may change is
// not read.
TEST_F(InstalledLayout, SystemWideSettingsApplyWhereTheOwnFileIsSilent) {
    const QString site = temp() + QStringLiteral("site.ini");
    const QString own = GetSettingFolder() + QStringLiteral("setting.ini");
    const QString cred = QString::fromLatin1(QByteArray("venue:pw").toBase64());
    test::writeFile(site, "[server]\nregister=https://venue.example/reg\n"
                          "result=https://venue.example/res\ncredential=" +
                              cred.toUtf8() + "\n");
    AppState builtIn;
    ReadSettings(builtIn);

    struct Case {
        const char* name;
        QByteArray own; // the examinee's file, empty: none
        QString reg, res;
        QString problem; // part of the one problem expected, empty: none
    };
    const Case cases[] = {
        {"no own file", "", "https://venue.example/reg", "https://venue.example/res", {}},
        {"own key wins",
         "[server]\nregister=https://own.example/r\n",
         "https://own.example/r",
         "https://venue.example/res",
         {}},
        {"own empty value",
         "[server]\nregister=\nresult=\n",
         "https://venue.example/reg",
         "https://venue.example/res",
         {}},
        // Set, though refused: the built-in value, as without a system-wide file.
        {"own refused value", "[server]\nresult=http://own.example/r\n",
         "https://venue.example/reg", builtIn.strResultUrl,
         "setting.ini:2: result \"http://own.example/r\" is not an https:// address (nothing is "
         "sent in clear text): refused, the built-in " +
             builtIn.strResultUrl + " used"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(own);
        if (!c.own.isEmpty())
            test::writeFile(own, c.own);
        AppState s;
        const QStringList problems = ReadSettings(s, site);
        EXPECT_EQ(s.strRegisterUrl, c.reg);
        EXPECT_EQ(s.strResultUrl, c.res);
        EXPECT_EQ(s.strCredential, cred);
        if (c.problem.isEmpty())
            EXPECT_TRUE(problems.isEmpty()) << problems.join(u'\n').toStdString();
        else
            EXPECT_TRUE(problems.size() == 1 && problems[0].endsWith(c.problem))
                << problems.join(u'\n').toStdString();
    }

    // A venue's problem is named with its own file and line.
    QFile::remove(own);
    test::writeFile(site, "[server]\nregister=http://venue.example/r\n");
    AppState s;
    QStringList problems = ReadSettings(s, site);
    EXPECT_EQ(s.strRegisterUrl, builtIn.strRegisterUrl);
    ASSERT_EQ(problems.size(), 1);
    EXPECT_TRUE(problems[0].startsWith(site + QStringLiteral(":2: register")))
        << problems[0].toStdString();

    // The venue's guard names apply where the examinee's file has none; a bad
    // one is named with the venue's file.
    test::writeFile(site, "[guard]\nbrowser=venue-browser, a/b\nexempt=venue-calc\n");
    test::writeFile(own, "[guard]\nexempt=own-calc\n");
    problems = ReadSettings(s, site);
    EXPECT_EQ(s.guardRoles.added.value(QStringLiteral("venue-browser")),
              roleBit(AppRole::WebBrowser));
    EXPECT_EQ(s.guardRoles.exempt, QSet<QString>{QStringLiteral("own-calc")});
    ASSERT_EQ(problems.size(), 1);
    EXPECT_TRUE(problems[0].startsWith(site + QStringLiteral(":2: browser: \"a/b\"")))
        << problems[0].toStdString();
    QFile::remove(own);

    // Writable by others: any examinee could have redirected the exam.
    test::writeFile(site, "[server]\nregister=https://planted.example/r\n");
    ASSERT_EQ(::chmod(QFile::encodeName(site).constData(), 0666), 0);
    problems = ReadSettings(s, site);
    EXPECT_EQ(s.strRegisterUrl, builtIn.strRegisterUrl);
    ASSERT_EQ(problems.size(), 1);
    EXPECT_TRUE(problems[0].contains(QStringLiteral("may be changed by other users")))
        << problems[0].toStdString();

    // Missing: the built-in values, nothing said.
    QFile::remove(site);
    EXPECT_TRUE(ReadSettings(s, site).isEmpty());
    EXPECT_EQ(s.strRegisterUrl, builtIn.strRegisterUrl);
}
