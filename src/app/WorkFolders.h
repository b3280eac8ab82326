#pragma once
#include <QString>
#include <stdexcept>

namespace brevik {

// A working folder that cannot be used: not creatable, or not ours.
class FolderError : public std::runtime_error {
public:
    FolderError(const QString& path, const QString& reason);
    QString path;
    QString reason;
};

// The temporary folder: $TMPDIR, else /tmp, always ending in "/".
QString TempFolder();

// The program's folders below the temporary folder. Each is created (mode
// 0700) when missing; an existing one must be a real folder owned by this
// user, since /tmp is shared and the program reads settings from and deletes
// files in them. Throws FolderError otherwise. An existing folder of ours that
// others may enter or write is made private (0700) again, said on stderr.
QString GetSettingFolder(const QString& temp = TempFolder());
QString GetWorkFolder(const QString& temp = TempFolder());
QString GetResultFolder(const QString& temp = TempFolder());

// Creates one folder level (mode 0700) or checks (and repairs) the existing one as above.
void EnsurePrivateFolder(const QString& path);

} // namespace brevik
