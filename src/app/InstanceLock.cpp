#include "app/InstanceLock.h"

#include "app/WorkFolders.h"

#include <unistd.h>

namespace brevik {

InstanceLock::InstanceLock() = default;
InstanceLock::~InstanceLock() = default;

QString InstanceLock::path() {
    return TempFolder() + QStringLiteral("brevik-%1.lock").arg(::geteuid());
}

bool InstanceLock::tryLock() {
    lock_ = std::make_unique<QLockFile>(path());
    lock_->setStaleLockTime(0); // stale only when its process is gone
    return lock_->tryLock(0);
}

void InstanceLock::unlock() {
    if (lock_)
        lock_->unlock();
}

} // namespace brevik
