#pragma once
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

namespace brevik {

// One thing wrong with an INI file; line 0 means the file as a whole.
struct IniProblem {
    int line = 0;
    QString what;
};

struct IniValue {
    QString value;
    int line = 0;
};

// One section of an INI file, read the way the system's profile-string reader
// does: section and key names without regard to case, blanks around key and
// value trimmed, a value wholly inside matching quotes loses them, lines
// starting with ";" ignored, the first matching key wins, at most 1023
// characters of a value count. The file is UTF-8 (a leading byte-order mark is
// dropped). Only a regular file of at most 64 KiB is read (ours: that belongs
// to this user). Everything that is not as it should be is listed in
// problems, with its line: a file that cannot be read or is not text (NUL
// bytes, UTF-16) gives no value at all, a line that is not valid UTF-8, not a
// section, key=value or comment, or a key not in keys is left out; a missing
// file is no problem.
struct IniSection {
    bool found = false;              // the section is in the file
    QHash<QString, IniValue> values; // by key in lower case; empty values included
    QList<IniProblem> problems;
};
IniSection ReadIniSection(const QString& path, const QString& section, const QStringList& keys,
                          bool ours = false);

// Several sections in one reading, each with the keys it knows (section name
// in lower case -> keys). Every problem of the file is listed once, in
// problems; a missing section is not one (found says it).
struct IniFile {
    QHash<QString, IniSection> sections; // by section name in lower case
    QList<IniProblem> problems;
    bool read = false; // the file was there and was read as text
};
IniFile ReadIniFile(const QString& path, const QHash<QString, QStringList>& keysBySection,
                    bool ours = false);

// One value (empty when the file, section or key is missing or unreadable).
QString ReadIniString(const QString& path, const QString& section, const QString& key);

} // namespace brevik
