#pragma once
// Results kept in the result folder until the server has accepted them.
//
// Several programs can meet there: the exam program sending its result and
// any number of `--resend-pending` runs. A kept file is sent only by the one
// program that holds its lock (flock), and that lock is taken only under the
// folder's claim lock, so a new file is never seen unlocked between its
// creation and its first attempt. A resend run also holds the folder's resend
// lock for the whole run: a second run waits for the first and then finds
// only what the first could not deliver.
#include <QString>

namespace brevik {

struct AppState;

// An exclusive lock on one file of ours; released when the object goes or the
// program ends, however it ends.
class FileLock {
public:
    FileLock() = default;
    ~FileLock();
    FileLock(FileLock&& other) noexcept;
    FileLock& operator=(FileLock&& other) noexcept;
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    bool held() const { return fd_ >= 0; }
    // Whether the locked file still has a name (no other program removed it).
    bool stillNamed() const;
    void release();

    // Opens path, which must be a regular file of this user and no link
    // (created with mode 0600 when create), and locks it. wait: until the
    // lock is free; otherwise an unheld lock comes back when another holds it.
    // Throws FileError when the file cannot be used.
    static FileLock take(const QString& path, bool create, bool wait);

private:
    int fd_ = -1;
};

// The result of this run, kept until the server accepts it.
class KeptResult {
public:
    // Writes the request url and the examinee's name to a new kept file
    // named after endTime (synced to disk before this returns) and holds its
    // lock. Throws on failure (FileError, FolderError).
    static KeptResult create(const AppState& st, const QString& endTime, const QString& url);

    const QString& path() const { return path_; }
    // The server accepted the result: the file goes (false, with the reason
    // on stderr, when it could not be removed).
    bool remove();

private:
    QString path_;
    FileLock lock_;
};

// The name of the folder's lock files, hidden beside the kept results.
inline constexpr char kClaimLockName[] = ".claim.lock";
inline constexpr char kResendLockName[] = ".resend.lock";

} // namespace brevik
