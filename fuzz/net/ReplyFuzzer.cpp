// Feeds arbitrary server replies to the registration and result reply handling.
#include "app/AppState.h"
#include "net/HttpGetBytes.h"
#include "net/Registration.h"
#include "net/ResultSubmission.h"
#include "platform/fake/ScriptedDialogHost.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray body(reinterpret_cast<const char*>(data), qsizetype(size));

    brevik::ScriptedDialogHost dialogs;
    brevik::AppState st;
    st.svc.dialogs = &dialogs;
    bool terminated = false;
    st.svc.terminate = [&] { terminated = true; };
    const auto outcome = brevik::HandleRegisterReply(st, qint32(size), body);
    // Only a fatal refusal may end the program, and it always shows its dialog first.
    if (terminated != (outcome == brevik::RegisterOutcome::FatalRefusal))
        std::abort();
    if (outcome != brevik::RegisterOutcome::Accepted && dialogs.shown.size() != 1)
        std::abort();

    QString err;
    if (size > 0 && !brevik::JudgeResultReply(body, err) && err.isEmpty())
        std::abort();

    qint32 n = 0;
    brevik::ReadReplyNumber(brevik::DecodeReply(body), &n);
    return 0;
}
