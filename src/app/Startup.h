#pragma once
#include "app/AppState.h"

#include <QDateTime>

namespace brevik {

class InstanceLock;

enum class StartupResult { Proceed, Refused };

// The start-up steps before the main window opens: launch list, the
// second-instance and display checks, setting.ini, fixed values and the
// folders. Refusals show their message box and return Refused; the caller
// then ends the program.
StartupResult RunStartup(AppState& st, InstanceLock& lock, const QString& argumentText,
                         const QString& programFolder,
                         const QDateTime& now = QDateTime::currentDateTime());

// True when the primary screen has a logical 96 dpi on both axes and a
// device pixel ratio of 1.
bool DisplayIs96Dpi();

// The application folder with exactly one final "/".
QString AppFolder(const QString& programFolder);

// setting.ini: the endpoints, credential and CA file of [server], each falling
// back to the built-in value when missing, empty or refused (an endpoint that
// is not https://, a credential that is not the Base64 of user:password or
// holds a control character), and the guard's roles of [guard] (a name that
// cannot be one is left out). siteFile (the venue's system-wide setting.ini,
// empty for none) gives the values that the examinee's own file does not set.
// Every problem with a file is written to stderr (file, line, what) and
// returned. Throws FolderError when the settings folder cannot be used.
QStringList ReadSettings(AppState& st, const QString& siteFile = QString());

} // namespace brevik
