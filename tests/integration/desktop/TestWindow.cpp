#include "TestWindow.h"

#include "support/TestSupport.h"

#include <QFile>

namespace brevik::test {

TestWindow::TestWindow(const QStringList& args) {
    logPath_ = dir_.filePath(QStringLiteral("log"));
    proc_.setProcessChannelMode(QProcess::ForwardedChannels);
    proc_.start(QStringLiteral(BREVIK_TESTWIN), args + QStringList{"--log", logPath_});
    proc_.waitForStarted();
    waitUntil([this] { return ready() || !running(); });
}

TestWindow::~TestWindow() {
    if (running()) {
        proc_.kill();
        proc_.waitForFinished(2000);
    }
}

QStringList TestWindow::log() const {
    QFile f(logPath_);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readAll()).split(u'\n', Qt::SkipEmptyParts);
}

int TestWindow::count(const QString& word) const {
    int n = 0;
    for (const QString& line : log())
        n += line.startsWith(word + u' ');
    return n;
}

bool TestWindow::waitForExit(int ms) {
    return waitUntil([this] { return !running(); }, ms);
}

} // namespace brevik::test
