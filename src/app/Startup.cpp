#include "app/Startup.h"

#include "app/Defaults.h"
#include "app/IniFile.h"
#include "app/InstanceLock.h"
#include "app/LaunchArgs.h"
#include "app/Layout.h"
#include "app/WorkFolders.h"
#include "platform/AppRoles.h"
#include "platform/DialogHost.h"

#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QScreen>
#include <QUrl>

#include <cstdio>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace brevik {

namespace {

constexpr int kLaunchItems = 7;

void refuse(AppState& st, const QString& title, const QString& text, bool systemModal = false) {
    st.svc.dialogs->message(
        {title, text, MsgIcon::Warning, MsgButtons::Ok, MsgAnswer::Ok, systemModal});
}

void refuseFolder(AppState& st, const FolderError& e) {
    // Said plainly when the temporary folder itself is the trouble.
    const QString temp = TempFolder();
    QByteArray t = QFile::encodeName(temp);
    while (t.size() > 1 && t.endsWith('/'))
        t.chop(1);
    struct stat ts {};
    const char* fault = ::stat(t.constData(), &ts) != 0             ? "does not exist"
                        : !S_ISDIR(ts.st_mode)                      ? "is not a folder"
                        : ::access(t.constData(), W_OK | X_OK) != 0 ? "is not writable"
                                                                    : nullptr;
    if (fault)
        std::fprintf(stderr, "brevik: the temporary folder %s ($TMPDIR) %s\n", qPrintable(temp),
                     fault);
    std::fprintf(stderr, "brevik: cannot use working folder %s: %s\n", qPrintable(e.path),
                 qPrintable(e.reason));
    refuse(st, FolderErrorTitle(), FolderErrorText(e.path));
}

QString settingFile() {
    return GetSettingFolder() + QStringLiteral("setting.ini");
}

} // namespace

bool DisplayIs96Dpi() {
    const QScreen* s = QGuiApplication::primaryScreen();
    return s && qRound(s->logicalDotsPerInchX()) == 96 && qRound(s->logicalDotsPerInchY()) == 96 &&
           s->devicePixelRatio() == 1.0;
}

QString AppFolder(const QString& programFolder) {
    return programFolder.endsWith(u'/') ? programFolder : programFolder + u'/';
}

namespace {

// A text from the settings file as it may be shown on a terminal.
QString printable(const QString& s) {
    QString out;
    for (const QChar c : s.left(200))
        out +=
            c.unicode() < 0x20 || c.unicode() == 0x7f || (c.unicode() >= 0x80 && c.unicode() < 0xa0)
                ? QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'))
                : QString(c);
    return s.size() > 200 ? out + QStringLiteral("...") : out;
}

// Why an endpoint cannot be used, or empty when it can: only https with a host.
QString endpointFault(const QString& value) {
    const QUrl url(value, QUrl::StrictMode);
    if (!url.isValid() || url.isRelative())
        return QStringLiteral("is not a valid address");
    if (url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) != 0)
        return QStringLiteral("is not an https:// address (nothing is sent in clear text)");
    if (url.host().isEmpty())
        return QStringLiteral("has no host");
    return {};
}

// Why a credential cannot be used, or empty when it can: the Base64 of
// user:password, without anything that could break the header line.
QString credentialFault(const QString& value) {
    for (const QChar c : value)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return QStringLiteral("holds a control character");
    static const QRegularExpression base64(QStringLiteral("^[A-Za-z0-9+/]+={0,2}$"));
    if (value.size() % 4 != 0 || !base64.match(value).hasMatch())
        return QStringLiteral("is not Base64");
    const QByteArray plain = QByteArray::fromBase64(value.toLatin1());
    if (!plain.contains(':'))
        return QStringLiteral("is not the Base64 of user:password");
    for (const char c : plain)
        if (uchar(c) < 0x20 || uchar(c) == 0x7f)
            return QStringLiteral("decodes to a text with a control character");
    return {};
}

// A system-wide file is used only when no examinee can have changed it.
QString siteFileFault(const QString& path) {
    struct stat s {};
    if (::stat(QFile::encodeName(path).constData(), &s) != 0)
        return {};
    if (s.st_uid != 0 && s.st_uid != ::geteuid())
        return QStringLiteral("belongs to another user than root: not read");
    if (s.st_mode & (S_IWGRP | S_IWOTH))
        return QStringLiteral("may be changed by other users (mode %1): not read")
            .arg(s.st_mode & 07777, 4, 8, QLatin1Char('0'));
    return {};
}

// The keys of [guard]: a role each, and the names the venue allows.
struct GuardKey {
    const char* key;
    AppRoles roles; // 0: exempt
};
constexpr GuardKey kGuardKeys[] = {
    {"browser", roleBit(AppRole::WebBrowser)},
    {"mail", roleBit(AppRole::Email)},
    {"spreadsheet", roleBit(AppRole::Spreadsheet)},
    {"word-processor", roleBit(AppRole::WordProcessor)},
    {"database", roleBit(AppRole::Database)},
    {"text-editor", roleBit(AppRole::TextEditor)},
    {"file-manager", roleBit(AppRole::FileManager)},
    {"exempt", 0},
};

// Why a name in [guard] cannot be used, or empty when it can.
QString guardNameFault(const QString& name) {
    for (const QChar c : name)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return QStringLiteral("holds a control character");
    if (name.size() > 255)
        return QStringLiteral("is longer than 255 characters");
    if (name.contains(u'/'))
        return QStringLiteral("is a path; give the entry's file name without \".desktop\"");
    for (const QChar c : {u'*', u'?', u'['})
        if (name.contains(c))
            return QStringLiteral("holds \"%1\"; names are compared whole, without patterns")
                .arg(c);
    return {};
}

// The [guard] section: each key a list of names separated by "," or ";".
// problem gets the key the value came from, so its file can be named.
OperatorRoles guardRules(const IniSection& sec,
                         const std::function<void(int, const QString&, const QString&)>& problem) {
    OperatorRoles rules;
    QHash<QString, int> exemptLine;
    for (const GuardKey& k : kGuardKeys) {
        const IniValue v = sec.values.value(QLatin1String(k.key));
        static const QRegularExpression sep(QStringLiteral("[,;]"));
        for (QString name : v.value.split(sep, Qt::SkipEmptyParts)) {
            name = name.trimmed();
            if (name.endsWith(QLatin1String(".desktop"), Qt::CaseInsensitive))
                name.chop(8);
            if (name.isEmpty())
                continue;
            if (const QString fault = guardNameFault(name); !fault.isEmpty()) {
                problem(v.line,
                        QStringLiteral("%1: \"%2\" %3: ignored")
                            .arg(QLatin1String(k.key), printable(name), fault),
                        QLatin1String(k.key));
                continue;
            }
            const QString lower = name.toLower();
            if (k.roles) {
                rules.added[lower] |= k.roles;
            } else {
                rules.exempt.insert(lower);
                exemptLine.insert(lower, v.line);
            }
        }
    }
    for (auto it = exemptLine.cbegin(); it != exemptLine.cend(); ++it)
        if (rules.added.contains(it.key()))
            problem(it.value(),
                    QStringLiteral("exempt: \"%1\" is also given a role; the "
                                   "exemption holds")
                        .arg(printable(it.key())),
                    QStringLiteral("exempt"));
    return rules;
}

} // namespace

QStringList ReadSettings(AppState& st, const QString& siteFile) {
    const QString host = QStringLiteral("https://" BREVIK_SERVER_HOST);
    st.strRegisterUrl = host + QLatin1String(kRegisterPath);
    st.strResultUrl = host + QLatin1String(kResultPath);
    st.strCredential = QStringLiteral(BREVIK_CREDENTIAL);
    st.strCaFile.clear();

    // The folder is asked for first, so it exists (and is checked) before the read.
    const QString file = settingFile();
    // Only our own regular file of a sane size; every problem is named, and
    // what is missing or refused keeps its built-in value.
    QStringList guardKeys;
    for (const GuardKey& k : kGuardKeys)
        guardKeys << QLatin1String(k.key);
    const QStringList keys = {QStringLiteral("register"), QStringLiteral("result"),
                              QStringLiteral("credential"), QStringLiteral("cafile")};
    const QHash<QString, QStringList> sections = {{QStringLiteral("server"), keys},
                                                  {QStringLiteral("guard"), guardKeys}};
    const IniFile read = ReadIniFile(file, sections, /*ours=*/true);
    IniSection ini = read.sections.value(QStringLiteral("server"));
    IniSection guard = read.sections.value(QStringLiteral("guard"));
    QStringList problems;
    auto problem = [&](int line, const QString& what, const QString& in = QString()) {
        const QString& f = in.isEmpty() ? file : in;
        problems << (line > 0 ? QStringLiteral("%1:%2: %3").arg(f).arg(line).arg(what)
                              : QStringLiteral("%1: %2").arg(f, what));
    };
    for (const IniProblem& p : read.problems)
        problem(p.line, p.what + (p.line == 0 && p.what.endsWith(QLatin1String("not read"))
                                      ? QStringLiteral("; built-in values used")
                                      : QString()));
    // A file with the guard's section alone leaves the server's values built in.
    if (read.read && !ini.found && !guard.found)
        problem(0, QStringLiteral("has no [server] section"));
    // The venue's system-wide file gives the keys the examinee's own leaves
    // unset (missing or empty); its values are checked the same way.
    QHash<QString, QString> fromSite; // key -> the file its value came from
    if (!siteFile.isEmpty()) {
        if (const QString fault = siteFileFault(siteFile); !fault.isEmpty()) {
            problem(0, fault, siteFile);
        } else {
            const IniFile siteRead = ReadIniFile(siteFile, sections);
            for (const IniProblem& p : siteRead.problems)
                problem(p.line, p.what, siteFile);
            const IniSection site = siteRead.sections.value(QStringLiteral("server"));
            for (const QString& key : keys)
                if (ini.values.value(key).value.isEmpty() &&
                    !site.values.value(key).value.isEmpty()) {
                    ini.values.insert(key, site.values.value(key));
                    fromSite.insert(key, siteFile);
                }
            // The venue's guard names apply where the examinee's file has none.
            const IniSection siteGuard = siteRead.sections.value(QStringLiteral("guard"));
            for (const QString& key : guardKeys)
                if (guard.values.value(key).value.isEmpty() &&
                    !siteGuard.values.value(key).value.isEmpty()) {
                    guard.values.insert(key, siteGuard.values.value(key));
                    fromSite.insert(QStringLiteral("guard.") + key, siteFile);
                }
        }
    }

    auto endpoint = [&](const char* key, QString& target) {
        const IniValue v = ini.values.value(QLatin1String(key));
        if (v.value.isEmpty())
            return;
        if (const QString fault = endpointFault(v.value); !fault.isEmpty())
            problem(v.line,
                    QStringLiteral("%1 \"%2\" %3: refused, the built-in %4 used")
                        .arg(QLatin1String(key), printable(v.value), fault, target),
                    fromSite.value(QLatin1String(key)));
        else
            target = v.value;
    };
    endpoint("register", st.strRegisterUrl);
    endpoint("result", st.strResultUrl);

    if (const IniValue v = ini.values.value(QStringLiteral("credential")); !v.value.isEmpty()) {
        if (const QString fault = credentialFault(v.value); !fault.isEmpty())
            problem(
                v.line,
                QStringLiteral("credential %1: refused, the built-in credential used").arg(fault),
                fromSite.value(QStringLiteral("credential")));
        else
            st.strCredential = v.value;
    }
    if (const IniValue v = ini.values.value(QStringLiteral("cafile")); !v.value.isEmpty()) {
        st.strCaFile = v.value;
        if (!QFileInfo(v.value).isFile())
            problem(v.line,
                    QStringLiteral("cafile \"%1\" is not a file: the connection will fail")
                        .arg(printable(v.value)),
                    fromSite.value(QStringLiteral("cafile")));
    }
    st.guardRoles = guardRules(guard, [&](int line, const QString& what, const QString& key) {
        problem(line, what, fromSite.value(QStringLiteral("guard.") + key));
    });
    for (const QString& p : problems)
        std::fprintf(stderr, "brevik: %s\n", qPrintable(p));
    return problems;
}

StartupResult RunStartup(AppState& st, InstanceLock& lock, const QString& argumentText,
                         const QString& programFolder, const QDateTime& now) {
    st.arrLaunchArgs = BuildLaunchList(argumentText, now);
    st.blnMainLoaded = false;

    // One instance per user and per data folder; a lock that cannot be made
    // is a folder problem, not a second instance.
    const Layout layout = ProgramLayout(programFolder);
    if (!lock.tryLock(layout.dataPath)) {
        std::fprintf(stderr, "brevik: %s\n", qPrintable(lock.reason()));
        if (lock.failure() == InstanceLock::Failure::LockFolder) {
            refuse(st, FolderErrorTitle(), FolderErrorText(lock.folder()));
            return StartupResult::Refused;
        }
        refuse(st, QStringLiteral("2重起動エラー"),
               QStringLiteral("すでに試験プログラムは起動されています。\r\n"
                              "同時に実行することは出来ません。"),
               true);
        return StartupResult::Refused;
    }
    if (!DisplayIs96Dpi()) {
        std::fprintf(stderr, "brevik: the display must run at 96 dpi with a pixel ratio of 1\n");
        refuse(st, QStringLiteral("画面設定エラー"),
               QStringLiteral("DPI設定が通常の大きさとは違っています。\r\n\r\n"
                              "画面のプロパティで通常の大きさに戻してから実行してください。\r\n\r\n"
                              "プログラムを終了します。"));
        return StartupResult::Refused;
    }
    if (st.arrLaunchArgs.size() < kLaunchItems) {
        std::fprintf(stderr, "brevik: the launch list needs %d comma-separated items, got %d: %s\n",
                     kLaunchItems, int(st.arrLaunchArgs.size()), qPrintable(argumentText));
        refuse(st, QStringLiteral("起動エラー"),
               QStringLiteral("起動パラメータが正しくありません。\r\nプログラムを終了します。"));
        return StartupResult::Refused;
    }

    try {
        ReadSettings(st, layout.siteSettings);
        st.strUserAgent = QLatin1String(kUserAgent);
        st.strDbPassword = QLatin1String(kDbPassword);
        st.strAppPath = AppFolder(programFolder);
        st.strDataPath = layout.dataPath;
        PrepareDataFolder(layout);
        st.strWorkPath = GetWorkFolder();
        st.strResultPath = GetResultFolder();
    } catch (const FolderError& e) {
        refuseFolder(st, e);
        return StartupResult::Refused;
    }
    return StartupResult::Proceed;
}

} // namespace brevik
