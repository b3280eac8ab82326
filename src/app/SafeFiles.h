#pragma once
// Reading and writing the program's own files where other users or a crafted
// file system may have planted something: never read a device or a pipe,
// never write through a link.
#include "platform/Errors.h"

#include <QByteArray>
#include <QString>

namespace brevik {

// A file that cannot be read or written as asked; what() names path and reason.
class FileError : public PlatformError {
public:
    FileError(const QString& path, const QString& reason);
    QString path;
    QString reason;
};

// The whole content of a regular file of at most maxBytes. Links are
// followed to their target, but a device, a pipe, a socket or a folder is
// refused without blocking, and nothing beyond maxBytes is read. ours: a file
// that belongs to another user, or a link another user made, is refused too
// (files in our private folders).
QByteArray ReadRegularFile(const QString& path, qint64 maxBytes, bool ours = false);

// Puts bytes at path in one step: a new file beside it (mode), then renamed
// over it, so a reader sees the old file or the whole new one. A link at path
// is replaced, never followed; a folder there is refused. durable: the data
// and the rename are synced to disk before this returns.
void ReplaceFile(const QString& path, const QByteArray& bytes, int mode = 0600,
                 bool durable = false);

} // namespace brevik
