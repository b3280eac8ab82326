#pragma once
// The platform services a run uses: real ones in the program, fakes in tests.
#include "platform/DialogHost.h"

#include <functional>
#include <memory>

class QWidget;

namespace brevik {

class BrowserPane;
class Desktop;

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
    // What frmShipai's buttons do to the main window, registered by frmMain
    // for as long as it exists ("やり直し" clears the login fields, "中断"
    // unloads it). Callers hand them to DialogHost::frmShipai.
    ShipaiActions mainWindow;
};

} // namespace brevik
