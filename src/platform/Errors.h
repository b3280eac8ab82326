#pragma once
// Failures of platform operations are exceptions; handlers that the exam runs
// in skip-on-error mode pass each step through brevik::step().
#include <QString>
#include <stdexcept>
#include <utility>

namespace brevik {

class PlatformError : public std::runtime_error {
public:
    explicit PlatformError(const QString& what) : std::runtime_error(what.toStdString()) {}
};
class PaneError : public PlatformError {
    using PlatformError::PlatformError;
};
class DbError : public PlatformError {
    using PlatformError::PlatformError;
};
class DesktopError : public PlatformError {
    using PlatformError::PlatformError;
};

// Reports a skipped step on the operator's debug channel (silent by default:
// QT_LOGGING_RULES="brevik.skip=true" shows them).
void reportSkipped(const char* what) noexcept;

// Runs one step of a skip-on-error handler: a failure is skipped, the caller
// goes on with its next step. Returns whether the step completed.
template <class F> bool step(F&& f) noexcept {
    try {
        std::forward<F>(f)();
        return true;
    } catch (const std::exception& e) {
        reportSkipped(e.what());
    } catch (...) {
        reportSkipped("unknown error");
    }
    return false;
}

} // namespace brevik
