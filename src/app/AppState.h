#pragma once
// The program-wide values of one run: created in main (or by a test) and
// passed by reference. Nothing else in the program is mutable and global.
#include "platform/AppRoles.h"
#include "platform/Services.h"

#include <QString>
#include <QStringList>
#include <array>

namespace brevik {

class IsolatedContentReader;

// The examinee as the form check leaves it.
struct ExamineeRecord {
    QString strKanjiName; // family, one space, given
    // The name parts after their normalisation, kept apart for the registration query.
    QString kanjiFamily, kanjiGiven, kanaFamily, kanaGiven;
    QString strKanaName, strRomaName, strSex, strJob, strPurpose, strBirthday, strEmail, strZip,
        strState, strCity, strAddress1, strAddress2, strTel;
    QString strPassword; // set by the registration request
};

struct AppState {
    // Launch list and launch values.
    QStringList arrLaunchArgs;
    bool blnMainLoaded = false;
    bool blnRehearsal = false;
    qint32 lngLaunchId = 0;
    QString strExamTitle;
    QString strTestCenter;

    // Server and content settings.
    QString strRegisterUrl;
    QString strResultUrl;
    QString strUserAgent;
    QString strDbPassword;
    QString strCredential;    // Base64 of "user:password" for the Authorization header
    QString strCaFile;        // extra CA bundle, empty for the system's
    OperatorRoles guardRoles; // [guard] of setting.ini: names added to a role or exempted
    // Bounds of one request (see HttpGetBytes): connection, no data at all,
    // the whole request, and the least a begun reply must bring per window.
    int connectTimeoutMs = 30000;
    int stallTimeoutMs = 60000;
    int totalTimeoutMs = 90000;
    int rateWindowMs = 10000;
    int minBytesPerWindow = 1024;
    // Reads the content files in a child process (the program); null: in
    // this process (unit tests).
    IsolatedContentReader* contentReader = nullptr;

    // Folders, each ending in "/".
    QString strAppPath;
    QString strDataPath;
    QString strWorkPath;
    QString strResultPath;

    // Screen templates, slots 1..6 (slot 0 unused).
    std::array<QString, 7> arrScreenHtml;

    // Registration.
    ExamineeRecord rec;
    QString strRomaFamilyName;
    QString strRomaGivenName;
    qint32 lngJid = 0;
    qint32 lngResultId = 0;
    bool intDlgResult = false;

    // Exam.
    bool blnExamEnded = false;
    qint16 intTimeLimit = 2400;
    qint16 intSelectPoint1 = 0, intSelectPoint2 = 0, intSelectPoint3 = 0, intSelectPointA = 0,
           intExePoint = 0;

    Services svc;
};

} // namespace brevik
