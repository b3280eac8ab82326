#pragma once
// What the start-up benchmark measures, in one place, so that the program's
// probe and the baseline measure exactly alike. Every figure is printed as
// one line "FIGURE name value" on stdout for bench/run-figures to collect.
#include <QString>
#include <QtGlobal>
#include <functional>

class QWidget;

namespace bench {

// Milliseconds since the launch time the script put in BENCH_T0_NS (wall
// clock, taken just before the program was started); since the process
// started when it is not set.
double msSinceLaunch();
double msNow(); // monotonic

// True once the widget's grabbed pixels show text: dark pixels in numbers
// that a blank or half-built page does not have. A grab at the first-frame
// signal is still blank, so callers poll.
bool hasText(QWidget* w);

// Runs the event loop until pred() holds (checked every 10 ms) or timeoutMs
// passes; false on time-out.
bool waitUntil(const std::function<bool()>& pred, int timeoutMs = 60000);
// Runs the event loop for ms milliseconds.
void settle(int ms);

struct TreeMemory {
    qint64 pssKb = 0; // proportional set size
    qint64 ussKb = 0; // pages no other process maps
    int foreignEngines = 0;
};
// Memory of this process and all its descendants (the web engine's zygote,
// renderers, GPU and utility processes); also prints one "MEMORY label ..."
// line with the share of each kind of process. PSS splits the engine's
// shared library among every process mapping it, so other programs using the
// engine at the same time (counted in foreignEngines) lower it; USS does not
// depend on them. With BENCH_SMAPS_DIR set, each process's /proc/PID/smaps is
// kept there as LABEL-KIND@DEPTH-PID.smaps (bench/memory-split reads them).
TreeMemory treeMemory(const char* label);
// Prints prefix_pss_kb, prefix_uss_kb and prefix_other_engine_users.
void memoryFigures(const char* prefix, const char* label);

void figure(const char* name, double value);

// Ends the process without tearing the web engine down: quitting in the same
// turn as a first paint can corrupt the engine's heap, and no figure depends
// on a clean shutdown.
[[noreturn]] void endProcess(int rc);

} // namespace bench
