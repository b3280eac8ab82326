// The desktop guard's lists and order, over a scripted desktop.
#include "exam/DesktopGuard.h"
#include "platform/Errors.h"
#include "platform/fake/FakeDesktop.h"

#include <QWidget>
#include <gtest/gtest.h>

using namespace brevik;

namespace {

QString close(WindowId w) {
    return QStringLiteral("close %1").arg(w);
}
QStringList escClose(WindowId w) {
    return {QStringLiteral("foreground %1").arg(w), "key 27 down", "key 27 up", close(w)};
}

} // namespace

TEST(DesktopGuard, PreExamTickClosesTheListInOrder) {
    FakeDesktop d;
    // Added in reverse so that the order can only come from the list.
    const WindowId result = d.add("CabinetWClass", "brevik_result");
    const WindowId folder = d.add("CabinetWClass", "brevik");
    const WindowId home = d.add("CabinetWClass", "ヴァルネブレビク");
    const WindowId oe = d.add("Outlook Express Browser Class", "Inbox");
    const WindowId outlook = d.add("rctrl_renwnd32", "Inbox - Outlook");
    const WindowId access = d.add("OMain", "db1");
    const WindowId word = d.add("opusapp", "Document1"); // any case
    const WindowId excel = d.add("XLMAIN", "Book1");
    const WindowId ie = d.add("IEFrame", "about:blank");
    DesktopGuard guard(d);
    guard.PreExamTick();
    EXPECT_EQ(d.calls,
              (QStringList{close(ie), close(excel), close(word), close(access), close(outlook),
                           close(oe), close(home), close(folder), close(result)}));
    EXPECT_TRUE(d.windows.empty());
}

TEST(DesktopGuard, FolderWindowsMatchOnlyTheirExactTitles) {
    struct Case {
        const char* cls;
        const char* title;
        bool pre, in; // closed before / during the exam
    } cases[] = {
        {"CabinetWClass", "brevik_result", true, true},
        {"CabinetWClass", "brevik_resulT", false, false},
        {"CabinetWClass", "brevik_result ", false, false},
        {"CabinetWClass", "brevik_resul", false, false},
        {"CabinetWClass", "ヴァルネブレビク", true, false},
        {"CabinetWClass", "ヴァルネブレビ", false, false},
        {"Thunar", "brevik_result - Thunar", true, true},
        {"Thunar", "brevik_result", true, true},
        {"Thunar", "brevik_result - Thunar2", false, false},
        {"dolphin", "brevik — Dolphin", true, true},
        {"dolphin", "brevik - Dolphin", false, false},
        {"org.gnome.Nautilus", "brevik", true, true},
        {"Nemo", "ヴァルネブレビク", true, false},
        {"org.gnome.Nautilus", "Home", false, false},
        {"Notepad", "brevik_result", false, true},
    };
    for (const Case& c : cases) {
        for (bool inExam : {false, true}) {
            FakeDesktop d;
            d.add(c.cls, QString::fromUtf8(c.title));
            DesktopGuard guard(d);
            if (inExam)
                guard.InExamTick(nullptr);
            else
                guard.PreExamTick();
            EXPECT_EQ(d.windows.empty(), inExam ? c.in : c.pre)
                << c.cls << " / " << c.title << (inExam ? " during" : " before") << " the exam";
        }
    }
}

TEST(DesktopGuard, EachListHasItsOwnApplications) {
    struct Case {
        const char* cls;
        bool pre, in;
    } cases[] = {
        {"IEFrame", true, true},
        {"XLMAIN", true, false},
        {"OpusApp", true, false},
        {"OMain", true, false},
        {"Notepad", false, true},
        {"rctrl_renwnd32", true, true},
        {"firefox-esr", true, true},
        {"Firefox", true, true},
        {"Chromium", true, true},
        {"libreoffice-calc", true, false},
        {"libreoffice-writer", true, false},
        {"libreoffice-base", true, false},
        {"Gedit", false, true},
        {"kate", false, true},
        {"thunderbird-default", true, true},
        {"Evolution", true, true},
        {"libreoffice-startcenter", false, false},
        {"Brevik", false, false},
        {"Thunar", false, false}, // a file manager showing some other folder
    };
    for (const Case& c : cases) {
        FakeDesktop before, during;
        before.add(c.cls, "x");
        during.add(c.cls, "x");
        DesktopGuard(before).PreExamTick();
        DesktopGuard(during).InExamTick(nullptr);
        EXPECT_EQ(before.windows.empty(), c.pre) << c.cls << " before the exam";
        EXPECT_EQ(during.windows.empty(), c.in) << c.cls << " during the exam";
    }
}

TEST(DesktopGuard, OneWindowPerEntryPerTick) {
    FakeDesktop d;
    const WindowId a = d.add("Notepad", "a.txt");
    const WindowId b = d.add("Notepad", "b.txt");
    const WindowId sheet = d.add("XLMAIN", "Book1");
    DesktopGuard guard(d);

    guard.InExamTick(nullptr);
    EXPECT_EQ(d.calls, escClose(a) + QStringList{"topmost on"});
    d.calls.clear();
    guard.InExamTick(nullptr);
    EXPECT_EQ(d.calls, escClose(b) + QStringList{"topmost on"});
    ASSERT_EQ(d.windows.size(), 1u);
    EXPECT_EQ(d.windows[0].id, sheet);

    FakeDesktop pre;
    const WindowId x = pre.add("IEFrame", "1"), y = pre.add("IEFrame", "2");
    DesktopGuard g2(pre);
    g2.PreExamTick();
    EXPECT_EQ(pre.calls, QStringList{close(x)});
    g2.PreExamTick();
    EXPECT_EQ(pre.calls, (QStringList{close(x), close(y)}));
}

TEST(DesktopGuard, InExamTickRaisesAndPressesEscBeforeClosingThenFoldersThenTopmost) {
    FakeDesktop d;
    const WindowId folder = d.add("CabinetWClass", "brevik");
    const WindowId mail = d.add("thunderbird", "Inbox");
    const WindowId ie = d.add("IEFrame", "Search");
    QWidget exam;
    DesktopGuard guard(d);
    guard.InExamTick(&exam);
    // Applications (foreground, Esc, close) come before folder windows (close only).
    EXPECT_EQ(d.calls, escClose(ie) + escClose(mail) + QStringList({close(folder), "topmost on"}));
}

TEST(DesktopGuard, ARefusedCloseIsAskedAgainOnTheNextTick) {
    FakeDesktop d;
    const WindowId w = d.add("IEFrame", "Leave page?", /*closes=*/false);
    DesktopGuard guard(d);
    guard.InExamTick(nullptr);
    guard.InExamTick(nullptr);
    EXPECT_EQ(d.calls,
              escClose(w) + QStringList{"topmost on"} + escClose(w) + QStringList{"topmost on"});
    d.calls.clear();
    guard.PreExamTick();
    EXPECT_EQ(d.calls, QStringList{close(w)});
}

namespace {
// A desktop whose foreground call fails, like a system that refuses it.
class RefusingDesktop : public FakeDesktop {
public:
    void SetForegroundWindow(WindowId) override { throw DesktopError("foreground refused"); }
    WindowId FindWindow(const QString& cls, const std::optional<QString>& title) override {
        if (failFind)
            throw DesktopError("search failed");
        return FakeDesktop::FindWindow(cls, title);
    }
    bool failFind = false;
};
} // namespace

TEST(DesktopGuard, FailuresAreSkippedDuringTheExamButReachThePreExamCaller) {
    RefusingDesktop d;
    const WindowId w = d.add("Notepad", "memo");
    DesktopGuard guard(d);
    guard.InExamTick(nullptr);
    // Esc goes to whatever has the focus and the close request is still sent.
    EXPECT_EQ(d.calls, (QStringList{"key 27 down", "key 27 up", close(w), "topmost on"}));

    d.failFind = true;
    d.calls.clear();
    EXPECT_NO_THROW(guard.InExamTick(nullptr));
    EXPECT_EQ(d.calls, QStringList{"topmost on"});
    EXPECT_THROW(guard.PreExamTick(), DesktopError);
}

TEST(DesktopGuard, SendKeyPressesAndReleasesTheLowByte) {
    FakeDesktop d;
    send_key(d, 27);
    send_key(d, 0x141);
    EXPECT_EQ(d.calls, (QStringList{"key 27 down", "key 27 up", "key 65 down", "key 65 up"}));
}

// Applications known only by their role follow the row of that role: browser
// and mail like the browser and mail rows, office programs before the exam
// only, text editors during the exam only, file managers only on the
// program's folders.
TEST(DesktopGuard, RolesFollowTheRowsOfTheirKind) {
    struct Case {
        AppRoles roles;
        const char* title;
        bool pre, in;
    } cases[] = {
        {roleBit(AppRole::WebBrowser), "Start page", true, true},
        {roleBit(AppRole::Email), "Inbox", true, true},
        {roleBit(AppRole::Spreadsheet), "Book1", true, false},
        {roleBit(AppRole::WordProcessor), "Document1", true, false},
        {roleBit(AppRole::Database), "db1", true, false},
        {roleBit(AppRole::TextEditor), "memo.txt", false, true},
        {roleBit(AppRole::FileManager), "brevik_result", true, true},
        {roleBit(AppRole::FileManager), "brevik", true, true},
        {roleBit(AppRole::FileManager), "ヴァルネブレビク", true, false},
        {roleBit(AppRole::FileManager), "brevik_result - Caja", false, false},
        {roleBit(AppRole::FileManager), "Home", false, false},
        {roleBit(AppRole::Spreadsheet) | roleBit(AppRole::TextEditor), "both", true, true},
        {0, "no role", false, false},
    };
    for (const Case& c : cases) {
        FakeDesktop before, during;
        before.addWithRoles(c.roles, "Unknown-app", QString::fromUtf8(c.title));
        during.addWithRoles(c.roles, "Unknown-app", QString::fromUtf8(c.title));
        DesktopGuard(before).PreExamTick();
        DesktopGuard(during).InExamTick(nullptr);
        EXPECT_EQ(before.windows.empty(), c.pre) << c.roles << " " << c.title << " before";
        EXPECT_EQ(during.windows.empty(), c.in) << c.roles << " " << c.title << " during";
    }
}

// A window that a class row and a role row (or two roles) both name is asked
// once per tick, and the role rows go on to the next window of their role.
TEST(DesktopGuard, AWindowNamedTwiceIsAskedOncePerTick) {
    FakeDesktop d;
    const WindowId fox = d.addWithRoles(roleBit(AppRole::WebBrowser) | roleBit(AppRole::Email),
                                        "firefox-esr", "Leave page?", /*closes=*/false);
    const WindowId web = d.addWithRoles(roleBit(AppRole::WebBrowser), "Epiphany", "Web");
    DesktopGuard guard(d);
    guard.PreExamTick();
    EXPECT_EQ(d.calls, (QStringList{close(fox), close(web)}));
    d.calls.clear();
    guard.InExamTick(nullptr);
    EXPECT_EQ(d.calls, escClose(fox) + QStringList{"topmost on"});
}
