#include "platform/DialogHost.h"

#include "platform/BrowserPane.h"
#include "platform/Errors.h"

namespace brevik {

void DialogHost::shipaiRetry() {
    if (!wbMain)
        return;
    step([&] { wbMain->SetValue(QStringLiteral("ExamID"), QString()); });
    step([&] { wbMain->SetValue(QStringLiteral("ExamPass"), QString()); });
    step([&] { wbMain->Focus(QStringLiteral("ExamID")); });
}

void DialogHost::shipaiAbort() {
    if (closeMainWindow)
        closeMainWindow();
}

} // namespace brevik
