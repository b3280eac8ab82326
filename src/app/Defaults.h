#pragma once
// Values fixed in the program. The database password is never shown, logged
// or read from a settings file.
#include <QString>

namespace brevik {

// The main window's title once loaded, also the title of the program's own notices.
inline QString ProgramTitle() {
    return QStringLiteral("ヴァルネルドリン　体験プログラム");
}

inline constexpr char kUserAgent[] = "tolvapc";
inline constexpr char kDbPassword[] = "Kq7#vR2m!xT9zLw4"; // 16 ASCII characters
inline constexpr char kRegisterPath[] = "/api/grade/register";
inline constexpr char kResultPath[] = "/api/grade/result";

} // namespace brevik
