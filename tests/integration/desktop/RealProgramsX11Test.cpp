// Real programs from the distribution, known to the guard only through their
// desktop entries (no fixed row names them), under a real window manager:
// each is closed, or left open, before and during the exam as its role says.
#include "app/DesktopEntries.h"
#include "exam/DesktopGuard.h"
#include "platform/x11/X11Desktop.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <gtest/gtest.h>

#include <functional>

using namespace brevik;
using brevik::test::tickUntil;
using brevik::test::waitUntil;

namespace {

// A mail program already set up, as on a PC in use: without an account it
// opens its first-run questions, and its main window waits for them.
void setUpMail(const QString& home) {
    QDir(home).mkpath(QStringLiteral(".sylpheed-2.0"));
    QDir(home).mkpath(QStringLiteral("Mail"));
    auto write = [&](const char* name, const QByteArray& text) {
        QFile f(home + QStringLiteral("/.sylpheed-2.0/") + QLatin1String(name));
        if (f.open(QIODevice::WriteOnly))
            f.write(text);
    };
    QByteArray folders = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<folderlist>\n"
                         "<folder type=\"mh\" name=\"Mailbox\" path=\"Mail\">\n";
    for (const char* f : {"inbox", "outbox", "queue", "trash", "draft", "junk"})
        folders +=
            "<folderitem type=\"" + QByteArray(f) + "\" name=\"" + f + "\" path=\"" + f + "\" />\n";
    write("folderlist.xml", folders + "</folder>\n</folderlist>\n");
    write("accountrc", "[Account: 1]\naccount_name=examinee@example.org\nis_default=1\n"
                       "name=Examinee\naddress=examinee@example.org\nprotocol=1\n"
                       "receive_server=localhost\nsmtp_server=localhost\nuser_id=examinee\n");
}

// One real program with a home folder of its own (no settings of this machine).
struct Program {
    QTemporaryDir home;
    QProcess proc;
    explicit Program(const QString& name) {
        if (name == QLatin1String("sylpheed"))
            setUpMail(home.path());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), home.path());
        for (const char* v : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"})
            env.remove(QLatin1String(v));
        env.insert(QStringLiteral("NO_AT_BRIDGE"), QStringLiteral("1"));
        proc.setProcessEnvironment(env);
        proc.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        proc.setStandardOutputFile(QProcess::nullDevice());
        proc.start(QStandardPaths::findExecutable(name), {});
    }
    ~Program() {
        if (proc.state() != QProcess::NotRunning) {
            proc.kill();
            proc.waitForFinished(3000);
        }
    }
    bool running() const { return proc.state() != QProcess::NotRunning; }
};

class RealPrograms : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // The table as the program reads it: the machine's own desktop entries.
        std::shared_ptr<const RoleTable> table;
        ReadRoleTableInBackground({}, [&](std::shared_ptr<const RoleTable> t) { table = t; });
        ASSERT_TRUE(waitUntil([&] { return table != nullptr; }, 20000));
        table_ = new std::shared_ptr<const RoleTable>(table);
    }
    void SetUp() override {
        desk.SetRoleTable(*table_);
        exam.setGeometry(0, 0, 400, 300);
        exam.show();
        ASSERT_TRUE(
            waitUntil([&] { return exam.windowHandle() && exam.windowHandle()->isExposed(); }));
    }

    // Starts the program, waits for a window of it in its role (ticking
    // nothing), then runs the watcher for up to tickMs: true when the
    // program ended.
    bool closedBy(const char* name, AppRole role, bool inExam, int tickMs = 15000) {
        Program p{QString::fromLatin1(name)};
        EXPECT_TRUE(p.proc.waitForStarted(5000)) << name << " is not installed";
        const bool seen =
            waitUntil([&] { return desk.FindWindowByRole(role) != 0 || !p.running(); }, 30000);
        EXPECT_TRUE(seen && p.running()) << name << ": no window in its role";
        if (!seen || !p.running())
            return false;
        auto tick = [&] { inExam ? guard.InExamTick(&exam) : guard.PreExamTick(); };
        // A program that asks something on the way out is asked again on later ticks.
        const bool ended = tickUntil(
            tick, [&] { return !p.running(); }, tickMs);
        if (!ended) {
            EXPECT_NE(desk.FindWindowByRole(role), 0u) << name << " open, but its window not found";
        }
        return ended;
    }

    static std::shared_ptr<const RoleTable>* table_;
    X11Desktop desk;
    DesktopGuard guard{desk};
    QWidget exam;
};
std::shared_ptr<const RoleTable>* RealPrograms::table_ = nullptr;

} // namespace

TEST_F(RealPrograms, BrowserIsClosedBeforeAndDuringTheExam) {
    EXPECT_TRUE(closedBy("netsurf-gtk", AppRole::WebBrowser, false));
    EXPECT_TRUE(closedBy("netsurf-gtk", AppRole::WebBrowser, true));
}

TEST_F(RealPrograms, MailProgramIsClosedBeforeAndDuringTheExam) {
    EXPECT_TRUE(closedBy("sylpheed", AppRole::Email, false));
    EXPECT_TRUE(closedBy("sylpheed", AppRole::Email, true));
}

TEST_F(RealPrograms, SpreadsheetIsClosedBeforeTheExamOnly) {
    EXPECT_TRUE(closedBy("gnumeric", AppRole::Spreadsheet, false));
    EXPECT_FALSE(closedBy("gnumeric", AppRole::Spreadsheet, true, 2000));
}

TEST_F(RealPrograms, TextEditorIsClosedDuringTheExamOnly) {
    EXPECT_FALSE(closedBy("l3afpad", AppRole::TextEditor, false, 2000));
    EXPECT_TRUE(closedBy("l3afpad", AppRole::TextEditor, true));
}
