#pragma once
#include <QString>

namespace brevik {

// One running program per user and one per data folder.
//
// The user's lock lives where no other user can write: the per-user runtime
// folder $XDG_RUNTIME_DIR when it is a folder of this user that nobody else
// may enter, else ~/.cache/brevik (created private). It does not depend on
// $TMPDIR, so two runs with different temporary folders are still two
// instances. The data folder's lock (data/.brevik.lock) keeps runs of
// different users (or program copies sharing a data folder) from writing and
// deleting each other's question files. A lock is an flock on the file,
// which the system releases when its process ends however it ends, so a
// run that is gone leaves no lock behind. The file is opened without
// following a link or blocking: a link, pipe or device planted at its name
// is removed, never used.
class InstanceLock {
public:
    enum class Failure {
        None,
        Running,    // another instance holds one of the locks
        LockFolder, // a lock cannot be made there: folder() and reason() say why
    };

    InstanceLock();
    ~InstanceLock();
    // Takes the user's lock, then the data folder's (skipped when dataFolder
    // is empty or missing: there is nothing to write into then).
    bool tryLock(const QString& dataFolder = QString());
    void unlock();

    Failure failure() const { return failure_; }
    // The folder a LockFolder failure concerns, and an English reason for any failure.
    QString folder() const { return folder_; }
    QString reason() const { return reason_; }

    // The folder of the user's lock (created when needed); empty with why
    // and the folder tried set when there is none.
    static QString userLockFolder(QString* why = nullptr, QString* tried = nullptr);

private:
    bool take(int& fd, QString& path, const QString& folder, const QString& name,
              const QString& whose);
    static void release(int& fd, QString& path);

    int userFd_ = -1;
    int dataFd_ = -1;
    QString userPath_, dataPath_;
    Failure failure_ = Failure::None;
    QString folder_;
    QString reason_;
};

} // namespace brevik
