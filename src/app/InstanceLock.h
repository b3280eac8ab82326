#pragma once
#include <QLockFile>
#include <memory>

namespace brevik {

// One running program per user: a lock file in the temporary folder. A lock
// left behind by a crashed run is taken over.
class InstanceLock {
public:
    InstanceLock();
    ~InstanceLock();
    bool tryLock();
    void unlock();
    static QString path();

private:
    std::unique_ptr<QLockFile> lock_;
};

} // namespace brevik
