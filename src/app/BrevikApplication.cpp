#include "app/BrevikApplication.h"

#include <cstdio>
#include <exception>

namespace brevik {

bool BrevikApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "brevik: error in an event handler: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "brevik: unknown error in an event handler\n");
    }
    return false;
}

} // namespace brevik
