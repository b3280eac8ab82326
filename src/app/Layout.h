#pragma once
// Where the program takes its content and font aliases from and where it
// writes its question files. A copy run from its own folder (the build
// folder, say) keeps everything in data/ beside the program. The installed
// copy cannot write beside itself: it reads the venue's content before the
// sample content and writes into a private folder of the examinee's.
#include <QString>
#include <QStringList>

namespace brevik {

// Folders of the installed copy; the build fills them in from the install prefix.
struct InstallPaths {
    QString bindir;       // the installed program's folder
    QString sampleFolder; // the sample content
    QString venueFolder;  // the venue's content, which hides the sample's
    QString fontsConf;    // the panes' font aliases
    QString siteSettings; // the system-wide setting.ini
};
InstallPaths BuiltInInstallPaths();

struct Layout {
    bool installed = false;
    QString dataPath;           // strDataPath, ends in "/"
    QStringList contentFolders; // installed: the venue's, then the sample's (each ends in "/")
    QString fontsConf;
    QString siteSettings; // empty: none
};

// The layout for a program in programFolder: the installed one when that is
// the install folder, else data/ and fonts.conf beside the program. The
// installed copy's data folder is brevik_data/ in privateBase, by default
// the folder of the user's instance lock (the per-user runtime folder, else
// ~/.cache/brevik/): a folder no other user shares, unlike /tmp.
Layout ProgramLayout(const QString& programFolder,
                     const InstallPaths& paths = BuiltInInstallPaths(),
                     const QString& privateBase = QString());

// Installed: makes the private data folder (0700, ours, no link) hold one
// link for each name in the content folders, the first folder's winning, so
// the content and the question files' relative references (images/...) are
// found there. Hidden names and index*.html are left out. Links that are no
// longer wanted go; plain files (question files of an earlier run) stay.
// Does nothing for a copy run from its own folder. Throws FolderError.
void PrepareDataFolder(const Layout& layout);

} // namespace brevik
