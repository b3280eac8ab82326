#pragma once
#include <QString>

namespace brevik {

// Reads one value of an INI file the way the system's profile-string reader
// does: section and key names without regard to case, blanks around key and
// value trimmed, a value wholly inside matching quotes loses them, lines
// starting with ";" ignored, the first matching key wins, at most 1023
// characters. A missing or unreadable file, section or key, and an empty
// value, all give the empty string.
QString ReadIniString(const QString& path, const QString& section, const QString& key);

} // namespace brevik
