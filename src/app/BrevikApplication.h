#pragma once
#include <QApplication>

namespace brevik {

// The application object. An exception that escapes an event handler is
// written to stderr and the program goes on: ending here would lose an exam
// in progress.
class BrevikApplication : public QApplication {
public:
    using QApplication::QApplication;
    bool notify(QObject* receiver, QEvent* event) override;
};

} // namespace brevik
