#include "platform/Errors.h"

#include <QLoggingCategory>

namespace brevik {

Q_LOGGING_CATEGORY(lcSkip, "brevik.skip", QtWarningMsg)

void reportSkipped(const char* what) noexcept {
    try {
        qCDebug(lcSkip, "step skipped: %s", what);
    } catch (...) {
    }
}

} // namespace brevik
