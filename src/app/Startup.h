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

// The endpoints and credential from setting.ini, each falling back to the
// built-in value when missing or empty.
void ReadServerSettings(AppState& st);

} // namespace brevik
