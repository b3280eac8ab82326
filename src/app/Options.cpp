#include "app/Options.h"

namespace brevik {

Options ParseOptions(const QStringList& args) {
    Options o;
    if (args.isEmpty() || !args.front().startsWith(QStringLiteral("--")))
        return o;
    const QString& opt = args.front();
    if (opt == QStringLiteral("--help") && args.size() == 1) {
        o.mode = Options::Help;
    } else if (opt == QStringLiteral("--version") && args.size() == 1) {
        o.mode = Options::Version;
    } else if (opt == QStringLiteral("--resend-pending") && args.size() == 1) {
        o.mode = Options::ResendPending;
    } else if (opt == QStringLiteral("--self-check") && args.size() == 2 && !args[1].isEmpty()) {
        o.mode = Options::SelfCheck;
        o.selfCheckDir = args[1];
    } else if (opt == QStringLiteral("--trial-run") && args.size() >= 3 && !args[1].isEmpty()) {
        o.mode = Options::TrialRun;
        o.selfCheckDir = args[1];
        o.launchText = ArgumentText(args.mid(2));
    } else {
        o.mode = Options::Invalid;
        o.error = QStringLiteral("unknown option or wrong arguments: ") + args.join(u' ');
    }
    return o;
}

QString Usage() {
    return QStringLiteral(
        "Usage: brevik [LAUNCH-LIST]\n"
        "       brevik --self-check DIR\n"
        "       brevik --trial-run DIR LAUNCH-LIST\n"
        "       brevik --resend-pending\n"
        "       brevik --help | --version\n"
        "\n"
        "LAUNCH-LIST   seven comma-separated items written by the exam launcher;\n"
        "              without it the program runs a rehearsal that contacts no server.\n"
        "--self-check DIR\n"
        "              run an unattended rehearsal through every screen, save a picture\n"
        "              of each screen, the printed result and a report to DIR.\n"
        "--trial-run DIR LAUNCH-LIST\n"
        "              the same unattended run as a real exam with the launch list, against\n"
        "              the exam server named in setting.ini (for trials with a test server).\n"
        "--resend-pending\n"
        "              send the kept results that the server has not accepted yet\n"
        "              (brevik_result/ below the temporary folder); one run at a time.\n"
        "--help        print this text.\n"
        "--version     print the program's version.\n");
}

QString Version() {
    return QStringLiteral(BREVIK_VERSION);
}

QString ArgumentText(const QStringList& args) {
    return args.join(QLatin1Char(' '));
}

} // namespace brevik
