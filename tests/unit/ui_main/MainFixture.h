#pragma once
// A main window over a fake pane and desktop, with the sample exam's real
// data files and the rehearsal launch list.
#include "app/AppState.h"
#include "app/Defaults.h"
#include "app/LaunchArgs.h"
#include "platform/Errors.h"
#include "platform/Yield.h"
#include "platform/fake/FakeDesktop.h"
#include "platform/fake/FakePane.h"
#include "platform/fake/ScriptedDialogHost.h"
#include "support/TestSupport.h"
#include "ui/main/frmMain.h"

#include <QDateTime>
#include <gtest/gtest.h>
#include <memory>

namespace brevik::test {

class MainFixture : public ::testing::Test {
protected:
    void SetUp() override {
        st.svc.dialogs = &dialogs;
        st.svc.desktop = &desktop;
        st.svc.makePane = [this](QWidget* parent) {
            auto p = std::make_unique<FakePane>(parent);
            pane = p.get();
            return p;
        };
        st.strDataPath = binaryDir() + QStringLiteral("/data/");
        st.strDbPassword = QString::fromLatin1(kDbPassword);
        st.arrLaunchArgs = BuildLaunchList(QString(), QDateTime::currentDateTime());
    }

    frmMain& form() {
        if (!frm) {
            frm = std::make_unique<frmMain>(st);
            frm->onNoWindowLeft = [this] { ++noWindowLeft; };
        }
        return *frm;
    }

    ScriptedDialogHost dialogs;
    FakeDesktop desktop;
    AppState st;
    FakePane* pane = nullptr;
    std::unique_ptr<frmMain> frm;
    int noWindowLeft = 0;
};

} // namespace brevik::test
