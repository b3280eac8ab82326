#pragma once
// The platform services a run uses: real ones in the program, fakes in tests.
#include <functional>
#include <memory>

class QWidget;

namespace brevik {

class BrowserPane;
class Desktop;
class DialogHost;

using PaneFactory = std::function<std::unique_ptr<BrowserPane>(QWidget* parent)>;

struct Services {
    DialogHost* dialogs = nullptr;
    Desktop* desktop = nullptr;
    PaneFactory makePane;
    // Terminates the program at once (no close handler runs); tests replace it.
    std::function<void()> terminate;
    // Named points of a run ("exam-start-wait", "result-kept") where a test
    // may look at or hold the program; empty outside such tests.
    std::function<void(const char*)> checkpoint;
};

} // namespace brevik
