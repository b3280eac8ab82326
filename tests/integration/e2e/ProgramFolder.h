#pragma once
// A copy of the program's folder (so runs never share the data folder) and a
// temporary folder of the run's own, as an exam PC has them.
#include "../net/ExamServerProcess.h"

#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>

namespace brevik::test {

struct ProgramFolder {
    QTemporaryDir tmp;
    QString app, temp, out; // each ends in "/"

    // Copies the program, its fonts.conf and the sample data; false when one is missing.
    bool prepare();
    QString program() const { return app + QStringLiteral("brevik"); }
    // setting.ini pointing the program at server.
    void pointAt(const ExamServerProcess& server);
    // The environment a run gets: its own TMPDIR.
    QProcessEnvironment environment() const;
    // No question file left in data/ and the work folder empty.
    bool cleanEnd(QString* what = nullptr) const;
};

} // namespace brevik::test
