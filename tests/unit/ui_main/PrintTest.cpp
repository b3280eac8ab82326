#include "MainFixture.h"

#include <QPushButton>

namespace brevik::test {
namespace {

class ResultPrinting : public MainFixture {
protected:
    void SetUp() override {
        MainFixture::SetUp();
        form().Show();
        frm->cmdPrint->show();
        pane->calls.clear();
        // The button must be disabled while the confirmation is open.
        dialogs.onShow = [this](const ShownDialog&) {
            enabledWhileAsking.push_back(frm->cmdPrint->isEnabled());
        };
    }
    int prints() const { return int(pane->calls.count(QStringLiteral("print"))); }
    std::vector<bool> enabledWhileAsking;
};

TEST_F(ResultPrinting, ConfirmationBoxAsksWithNoAsDefault) {
    frm->cmdPrint->click();
    ASSERT_EQ(dialogs.shown.size(), 1u);
    const MessageBoxSpec& box = dialogs.shown[0].box;
    EXPECT_EQ(box.title, QStringLiteral("結果印刷"));
    EXPECT_EQ(box.text, QStringLiteral("試験結果を印刷します。\r\n\r\nよろしいですか"));
    EXPECT_EQ(box.icon, MsgIcon::Warning);
    EXPECT_EQ(box.buttons, MsgButtons::YesNo);
    EXPECT_EQ(box.defaultButton, MsgAnswer::No);
    EXPECT_EQ(enabledWhileAsking, std::vector<bool>{false});
}

TEST_F(ResultPrinting, AnsweringNoPrintsNothing) {
    for (Answer a : {Answer::No, Answer::Close}) {
        dialogs.answer({a});
        frm->cmdPrint->click();
        EXPECT_EQ(prints(), 0);
        EXPECT_FALSE(frm->blnResultPrinted);
        EXPECT_TRUE(frm->cmdPrint->isEnabled());
    }
}

TEST_F(ResultPrinting, AnsweringYesPrintsAndRemembersIt) {
    dialogs.answer({Answer::Yes});
    frm->cmdPrint->click();
    EXPECT_EQ(prints(), 1);
    EXPECT_TRUE(frm->blnResultPrinted);
    EXPECT_TRUE(frm->cmdPrint->isEnabled());
    EXPECT_EQ(enabledWhileAsking, std::vector<bool>{false});
}

TEST_F(ResultPrinting, TwoConfirmedClicksPrintTwiceAndNoNeverClearsTheFlag) {
    dialogs.answer({Answer::Yes, Answer::Yes, Answer::No});
    for (int i = 0; i < 3; ++i)
        frm->cmdPrint->click();
    EXPECT_EQ(prints(), 2);
    EXPECT_TRUE(frm->blnResultPrinted);
    EXPECT_TRUE(frm->cmdPrint->isEnabled());
    EXPECT_EQ(enabledWhileAsking, std::vector<bool>(3, false));
}

// A pane whose print command fails.
class BrokenPrintPane : public FakePane {
public:
    using FakePane::FakePane;
    void Print() override { throw PaneError(QStringLiteral("no printer")); }
};

TEST_F(ResultPrinting, AFailingPrintCommandStillCountsAndReenables) {
    AppState other = st;
    other.svc.makePane = [](QWidget* parent) { return std::make_unique<BrokenPrintPane>(parent); };
    frmMain w(other);
    w.onNoWindowLeft = [] {};
    w.Show();
    w.cmdPrint->show();
    dialogs.answer({Answer::Yes});
    w.cmdPrint->click();
    EXPECT_TRUE(w.blnResultPrinted);
    EXPECT_TRUE(w.cmdPrint->isEnabled());
}

} // namespace
} // namespace brevik::test
