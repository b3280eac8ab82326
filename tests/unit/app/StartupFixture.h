#pragma once
// The start-up tests' fixture: the program's state, a scripted dialog host,
// an instance lock and a temporary folder of the test's own as TMPDIR.
#include "app/AppState.h"
#include "app/InstanceLock.h"
#include "platform/fake/ScriptedDialogHost.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace brevik::test {

// Each test gets a temporary folder of its own as TMPDIR.
class Startup : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = qgetenv("TMPDIR");
        qputenv("TMPDIR", tmp_.path().toLocal8Bit());
        st.svc.dialogs = &dialogs;
    }
    void TearDown() override {
        lock.unlock();
        qputenv("TMPDIR", saved_);
    }
    QString temp() const { return tmp_.path() + QStringLiteral("/"); }

    QTemporaryDir tmp_;
    QByteArray saved_;
    AppState st;
    ScriptedDialogHost dialogs;
    InstanceLock lock;
};

} // namespace brevik::test
