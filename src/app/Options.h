#pragma once
#include <QStringList>

namespace brevik {

// The program's own options. A launcher's list never starts with "--" (its
// first item is "TEST TYPE = 8"), so such arguments are options.
struct Options {
    enum Mode { Exam, Help, Version, SelfCheck, TrialRun, ResendPending, Invalid } mode = Exam;
    QString selfCheckDir; // SelfCheck, TrialRun
    QString launchText;   // TrialRun: the launch list
    QString error;        // Invalid: what was wrong
};

Options ParseOptions(const QStringList& args);
QString Usage();
// The program's version, as the build names it.
QString Version();

// The argument text: the arguments after the program's path joined by single spaces.
QString ArgumentText(const QStringList& args);

} // namespace brevik
