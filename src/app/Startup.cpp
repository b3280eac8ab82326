#include "app/Startup.h"

#include "app/Defaults.h"
#include "app/IniFile.h"
#include "app/InstanceLock.h"
#include "app/LaunchArgs.h"
#include "app/WorkFolders.h"
#include "platform/DialogHost.h"

#include <QGuiApplication>
#include <QScreen>

#include <cstdio>

namespace brevik {

namespace {

constexpr int kLaunchItems = 7;

void refuse(AppState& st, const QString& title, const QString& text, bool systemModal = false) {
    st.svc.dialogs->message(
        {title, text, MsgIcon::Warning, MsgButtons::Ok, MsgAnswer::Ok, systemModal});
}

void refuseFolder(AppState& st, const FolderError& e) {
    std::fprintf(stderr, "brevik: cannot use working folder %s: %s\n", qPrintable(e.path),
                 qPrintable(e.reason));
    refuse(st, QStringLiteral("フォルダ作成エラー"),
           QStringLiteral("作業フォルダを作成できません。\r\n") + e.path);
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

void ReadServerSettings(AppState& st) {
    const QString server = QStringLiteral("server");
    const QString host = QStringLiteral("https://" BREVIK_SERVER_HOST);
    // The folder is asked for again before each key, so it exists before the first read.
    st.strRegisterUrl = ReadIniString(settingFile(), server, QStringLiteral("register"));
    if (st.strRegisterUrl.isEmpty())
        st.strRegisterUrl = host + QLatin1String(kRegisterPath);
    st.strResultUrl = ReadIniString(settingFile(), server, QStringLiteral("result"));
    if (st.strResultUrl.isEmpty())
        st.strResultUrl = host + QLatin1String(kResultPath);
    st.strCredential = ReadIniString(settingFile(), server, QStringLiteral("credential"));
    if (st.strCredential.isEmpty())
        st.strCredential = QStringLiteral(BREVIK_CREDENTIAL);
    st.strCaFile = ReadIniString(settingFile(), server, QStringLiteral("cafile"));
}

StartupResult RunStartup(AppState& st, InstanceLock& lock, const QString& argumentText,
                         const QString& programFolder, const QDateTime& now) {
    st.argumentText = argumentText;
    st.arrLaunchArgs = BuildLaunchList(argumentText, now);
    st.blnMainLoaded = false;

    if (!lock.tryLock()) {
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
        ReadServerSettings(st);
        st.strUserAgent = QLatin1String(kUserAgent);
        st.strDbPassword = QLatin1String(kDbPassword);
        st.strAppPath = AppFolder(programFolder);
        st.strDataPath = st.strAppPath + QStringLiteral("data/");
        st.strWorkPath = GetWorkFolder();
        st.strResultPath = GetResultFolder();
    } catch (const FolderError& e) {
        refuseFolder(st, e);
        return StartupResult::Refused;
    }
    return StartupResult::Proceed;
}

} // namespace brevik
