#pragma once
// The web engine's sandbox: its renderer processes run in namespaces of their
// own (no view of the file system, the network or other processes) under a
// seccomp filter. An ordinary user's run always asks for it; only root may go
// without it (the engine does not start as root with the sandbox on).
#include <QString>

namespace brevik {

// Before the engine starts (and before any thread). For a user other than
// root, settings that would turn the sandbox off (QTWEBENGINE_DISABLE_SANDBOX,
// --no-sandbox and its kin in QTWEBENGINE_CHROMIUM_FLAGS) are removed, said
// on stderr. Then checks that this kernel lets an unprivileged process make
// the namespaces and the seccomp filter the sandbox needs; returns why not,
// or an empty string. Writes nothing itself about the kernel: the caller does.
QString PrepareSandbox();

// The state of the engine's renderer processes now running below this
// process, for the self-check: ok when each one is in a PID namespace of its
// own and under a seccomp filter. text describes what was found.
struct RendererSandbox {
    bool ok = false;
    QString text;
};
RendererSandbox CheckRendererSandbox();

} // namespace brevik
