// The real program against files and folders an attacker or bad luck leaves:
// broken and crafted content files, devices and pipes where files belong,
// links planted where the program writes, folders and files of another user,
// a second run beside the first, temporary folders that are not there. Each
// case ends as a normal exit with the failure named (never a crash or a
// hang), and nothing is written through a link.
#include "support/TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <functional>
#include <sys/stat.h>
#include <unistd.h>

using namespace brevik::test;

namespace {

constexpr int kTimeLimitMs = 120000;
const QString kDataFailure = QStringLiteral("データファイルの取得に失敗しました。");
const QString kFolderFailure = QStringLiteral("作業フォルダを作成できません。");

QByteArray enc(const QString& p) {
    return QFile::encodeName(p);
}

mode_t modeOf(const QString& p) {
    struct stat st {};
    return ::lstat(enc(p).constData(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// A copy of the program's folder, a temporary folder and an output folder of
// the test's own, below base (a folder the test may open to another user).
struct Program {
    QString base, app, data, temp, out;
    explicit Program(const QString& baseFolder) : base(baseFolder) {
        app = base + QStringLiteral("/app/");
        data = app + QStringLiteral("data/");
        temp = base + QStringLiteral("/tmp/");
        out = base + QStringLiteral("/out/");
        QDir().mkpath(temp);
        copySampleData(data);
        for (const char* f : {"brevik", "fonts.conf"})
            QFile::copy(binaryDir() + u'/' + QLatin1String(f), app + QLatin1String(f));
    }
    QString exe() const { return app + QStringLiteral("brevik"); }
};

struct Outcome {
    int exit = 0;   // -1: crashed or killed, -2: did not end in time
    QByteArray log; // stdout and stderr
    QString report; // report.txt of an unattended run
    qint64 ms = 0;
    bool endedNormally() const { return exit >= 0; }
};

QProcessEnvironment environment(const Program& p, const QMap<QString, QString>& extra) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TMPDIR"), p.temp);
    env.insert(QStringLiteral("QTWEBENGINE_DISABLE_SANDBOX"), QStringLiteral("1"));
    for (auto it = extra.begin(); it != extra.end(); ++it)
        if (it.value().isNull())
            env.remove(it.key());
        else
            env.insert(it.key(), it.value());
    return env;
}

Outcome run(const Program& p, const QStringList& args, const QMap<QString, QString>& extra = {},
            const QStringList& wrapper = {}) {
    QProcess proc;
    proc.setProcessEnvironment(environment(p, extra));
    proc.setProcessChannelMode(QProcess::MergedChannels);
    QFile::remove(p.out + QStringLiteral("report.txt"));
    QElapsedTimer t;
    t.start();
    if (wrapper.isEmpty())
        proc.start(p.exe(), args);
    else
        proc.start(wrapper.front(), wrapper.mid(1) + QStringList{p.exe()} + args);
    Outcome o;
    if (!proc.waitForFinished(kTimeLimitMs)) {
        proc.kill();
        proc.waitForFinished();
        o.exit = -2;
    } else {
        o.exit = proc.exitStatus() == QProcess::NormalExit ? proc.exitCode() : -1;
    }
    o.ms = t.elapsed();
    o.log = proc.readAll();
    o.report = QString::fromUtf8(readFile(p.out + QStringLiteral("report.txt")));
    return o;
}

Outcome selfCheck(const Program& p, const QMap<QString, QString>& extra = {},
                  const QStringList& wrapper = {}) {
    return run(p, {QStringLiteral("--self-check"), p.out}, extra, wrapper);
}

std::string show(const Outcome& o) {
    return "exit " + std::to_string(o.exit) + " after " + std::to_string(o.ms) + " ms\n" +
           o.log.toStdString() + "\n" + o.report.toStdString();
}

void expectNoQuestionFileLeft(const Program& p) {
    EXPECT_TRUE(QDir(p.data)
                    .entryList({QStringLiteral("index*.html")}, QDir::Files | QDir::System)
                    .isEmpty());
}

class Hostile : public ::testing::Test {
protected:
    QTemporaryDir tmp;
    int cases = 0; // hostile cases tried in this test, for the log
    void TearDown() override { std::printf("[hostile cases tried: %d]\n", cases); }
};

} // namespace

// The three files that crashed libmdb, and files that are no content files at
// all, as qfile.dat and as exam.dat: the data-file failure dialog (or, for a
// sound file without the exam table, a silent stop without question files), the reason on
// stderr, a normal end.
TEST_F(Hostile, ContentFilesTheReaderCannotTake) {
    struct Case {
        const char* name;
        std::function<void(const QString&)> make;
        bool examDialog; // as exam.dat: the dialog (false: a sound file without exam_doc)
    };
    auto crash = [](int i) {
        return [i](const QString& to) {
            QFile::copy(sourceDir() +
                            QStringLiteral("/tests/data/content-crashes/fuzz-crash%1.dat").arg(i),
                        to);
        };
    };
    const std::vector<Case> cases_ = {
        {"fuzz-crash1", crash(1), true},
        {"fuzz-crash2", crash(2), false},
        {"fuzz-crash3", crash(3), false},
        {"a pipe", [](const QString& to) { ::mkfifo(enc(to).constData(), 0600); }, true},
        {"a link to /dev/zero", [](const QString& to) { QFile::link("/dev/zero", to); }, true},
        {"a link to /dev/urandom", [](const QString& to) { QFile::link("/dev/urandom", to); },
         true},
        {"a folder", [](const QString& to) { QDir().mkpath(to); }, true},
        {"a dangling link", [](const QString& to) { QFile::link(to + ".gone", to); }, true},
        {"empty", [](const QString& to) { writeFile(to, {}); }, true},
    };
    for (const char* file : {"qfile.dat", "exam.dat"})
        for (const Case& c : cases_) {
            SCOPED_TRACE(std::string(file) + ": " + c.name);
            ++cases;
            Program p(tmp.path() + QStringLiteral("/%1-%2").arg(QLatin1String(file)).arg(cases));
            QFile::remove(p.data + QLatin1String(file));
            c.make(p.data + QLatin1String(file));
            const Outcome o = selfCheck(p);
            ASSERT_TRUE(o.endedNormally()) << show(o);
            EXPECT_EQ(o.exit, 1) << show(o);
            EXPECT_TRUE(o.log.contains("brevik: content file " + QByteArray(file) + ": "))
                << show(o);
            EXPECT_FALSE(o.log.contains("reader crashed")) << show(o);
            const bool dialog = QByteArray(file) == "qfile.dat" || c.examDialog;
            EXPECT_EQ(o.report.contains(QStringLiteral("試験ログインの失敗: ")) &&
                          o.report.contains(kDataFailure),
                      dialog)
                << show(o);
            expectNoQuestionFileLeft(p);
        }
}

// Links planted where the question files go: replaced, never followed; the
// exam shows the real questions and nothing outside data/ is touched.
TEST_F(Hostile, LinksPlantedAsQuestionFiles) {
    Program p(tmp.path() + QStringLiteral("/links"));
    const QString outside = tmp.path() + QStringLiteral("/outside/");
    QDir().mkpath(outside);
    writeFile(outside + QStringLiteral("precious.txt"), "precious");
    QFile::link(outside + QStringLiteral("precious.txt"), p.data + QStringLiteral("index.html"));
    QFile::link(outside + QStringLiteral("created.txt"), p.data + QStringLiteral("index2.html"));
    QFile::link(QStringLiteral("/dev/null"), p.data + QStringLiteral("index3.html"));
    cases += 3;
    const Outcome o = selfCheck(p);
    ASSERT_EQ(o.exit, 0) << show(o);
    EXPECT_TRUE(o.report.contains(QStringLiteral("answer typed into question 1"))) << show(o);
    EXPECT_EQ(readFile(outside + QStringLiteral("precious.txt")), QByteArray("precious"));
    EXPECT_FALSE(QFileInfo::exists(outside + QStringLiteral("created.txt")));
    EXPECT_TRUE(QFileInfo(QStringLiteral("/dev/null")).exists());
    expectNoQuestionFileLeft(p);
}

// A folder where a question file goes cannot be replaced: the folder message.
TEST_F(Hostile, FolderWhereAQuestionFileGoes) {
    Program p(tmp.path() + QStringLiteral("/folder"));
    QDir().mkpath(p.data + QStringLiteral("index2.html"));
    ++cases;
    const Outcome o = selfCheck(p);
    ASSERT_TRUE(o.endedNormally()) << show(o);
    EXPECT_TRUE(o.report.contains(QStringLiteral("フォルダ作成エラー: ") + kFolderFailure))
        << show(o);
    EXPECT_TRUE(o.log.contains("cannot write question file")) << show(o);
    EXPECT_TRUE(QFileInfo(p.data + QStringLiteral("index2.html")).isDir());
}

// setting.ini as a device, a pipe, UTF-16, or planted by another user in a
// folder left open: named on stderr, never blocking, the run goes on with the
// built-in values; the open folders are made private first.
TEST_F(Hostile, SettingsFilesThatAreNoSettings) {
    struct Case {
        const char* name;
        std::function<void(const QString& ini)> make;
        const char* said;
    };
    const bool root = ::geteuid() == 0;
    std::vector<Case> cases_ = {
        {"a pipe", [](const QString& ini) { ::mkfifo(enc(ini).constData(), 0600); },
         "is not a regular file: not read"},
        {"a link to /dev/zero", [](const QString& ini) { QFile::link("/dev/zero", ini); },
         "is not a regular file: not read"},
        {"UTF-16", [](const QString& ini) { writeFile(ini, QByteArray("\xff\xfe[\0s\0", 6)); },
         "is UTF-16 text"},
        {"an http endpoint",
         [](const QString& ini) {
             writeFile(ini, "[server]\nregister=http://127.0.0.1:9/api/grade/register\n");
         },
         ":2: register \"http://127.0.0.1:9/api/grade/register\" is not an https:// address"},
        {"a credential with ESC",
         [](const QString& ini) { writeFile(ini, "[server]\ncredential=dXNl\x1b[2Jcjpw\n"); },
         ":2: credential holds a control character: refused"},
    };
    if (root)
        cases_.push_back({"a link another user made to a file of ours",
                          [](const QString& ini) {
                              const QString ours =
                                  QFileInfo(ini).path() + QStringLiteral("/../mine");
                              writeFile(ours, "[server]\nregister=https://chosen.example/r\n");
                              QFile::link(ours, ini);
                              (void)!::lchown(enc(ini).constData(), 65534, 65534);
                          },
                          "is a link of another user: not read"});
    if (root)
        cases_.push_back({"planted by another user",
                          [](const QString& ini) {
                              writeFile(ini, "[server]\nregister=https://planted.example/r\n");
                              (void)!::chown(enc(ini).constData(), 65534, 65534);
                          },
                          "belongs to another user: not read"});
    for (const Case& c : cases_) {
        SCOPED_TRACE(c.name);
        ++cases;
        Program p(tmp.path() + QStringLiteral("/ini-%1").arg(cases));
        for (const char* f : {"tolva_net_vovuza", "quillo", "brevik_result"}) {
            QDir().mkpath(p.temp + QLatin1String(f));
            ::chmod(enc(p.temp + QLatin1String(f)).constData(), 0777);
        }
        c.make(p.temp + QStringLiteral("tolva_net_vovuza/setting.ini"));
        const Outcome o = selfCheck(p);
        ASSERT_EQ(o.exit, 0) << show(o);
        EXPECT_TRUE(o.log.contains(c.said)) << show(o);
        EXPECT_LT(o.ms, kTimeLimitMs);
        for (const char* f : {"tolva_net_vovuza", "quillo", "brevik_result"})
            EXPECT_EQ(modeOf(p.temp + QLatin1String(f)), 0700u) << f;
        EXPECT_TRUE(o.log.contains("made private (0700)")) << show(o);
    }
}

// A plain-HTTP endpoint in setting.ini: refused; the examinee's data never
// reaches it (the registration goes to the built-in https endpoint).
TEST_F(Hostile, NothingGoesToAPlainHttpEndpoint) {
    QTcpServer plain;
    ASSERT_TRUE(plain.listen(QHostAddress::LocalHost));
    int connections = 0;
    QObject::connect(&plain, &QTcpServer::newConnection, [&] {
        while (QTcpSocket* s = plain.nextPendingConnection()) {
            ++connections;
            s->close();
        }
    });
    Program p(tmp.path() + QStringLiteral("/http"));
    QDir().mkpath(p.temp + QStringLiteral("tolva_net_vovuza"));
    writeFile(p.temp + QStringLiteral("tolva_net_vovuza/setting.ini"),
              QStringLiteral("[server]\nregister=http://127.0.0.1:%1/api/grade/register\n"
                             "result=http://127.0.0.1:%1/api/grade/result\n")
                  .arg(plain.serverPort())
                  .toUtf8());
    ++cases;
    QProcess proc;
    proc.setProcessEnvironment(environment(p, {}));
    proc.setProcessChannelMode(QProcess::MergedChannels);
    proc.start(p.exe(), {QStringLiteral("--trial-run"), p.out, kRealLaunch});
    ASSERT_TRUE(waitUntil([&] { return proc.state() == QProcess::NotRunning; }, kTimeLimitMs));
    const QByteArray log = proc.readAll();
    EXPECT_EQ(proc.exitStatus(), QProcess::NormalExit) << log.toStdString();
    EXPECT_EQ(connections, 0) << log.toStdString();
    EXPECT_TRUE(log.contains("is not an https:// address")) << log.toStdString();
}

// Two runs side by side on one data folder: with different temporary folders
// (one user), and with different runtime folders (as two users have). The
// second is refused as a second instance and deletes nothing of the first.
TEST_F(Hostile, SecondRunOnTheSameDataFolder) {
    Program p(tmp.path() + QStringLiteral("/twice"));
    QTemporaryDir otherTemp, otherRuntime;
    // The first run waits at its first screen for ever (no examinee clicks).
    QProcess first;
    first.setProcessEnvironment(environment(p, {}));
    first.setProcessChannelMode(QProcess::MergedChannels);
    first.start(p.exe(), QStringList{});
    ASSERT_TRUE(waitUntil(
        [&] { return QFileInfo::exists(p.data + QStringLiteral(".brevik.lock")); }, 60000));
    writeFile(p.data + QStringLiteral("index.html"), "the first run's question");

    struct Case {
        const char* name;
        QMap<QString, QString> env;
    } cases_[] = {
        {"another TMPDIR", {{QStringLiteral("TMPDIR"), otherTemp.path()}}},
        {"another user's runtime folder",
         {{QStringLiteral("TMPDIR"), otherTemp.path()},
          {QStringLiteral("XDG_RUNTIME_DIR"), otherRuntime.path()}}},
    };
    for (const Case& c : cases_) {
        SCOPED_TRACE(c.name);
        ++cases;
        const Outcome o = selfCheck(p, c.env);
        ASSERT_TRUE(o.endedNormally()) << show(o);
        EXPECT_EQ(o.exit, 1);
        EXPECT_TRUE(o.report.contains(QStringLiteral("2重起動エラー"))) << show(o);
        EXPECT_TRUE(o.log.contains("another instance is running")) << show(o);
        EXPECT_EQ(readFile(p.data + QStringLiteral("index.html")),
                  QByteArray("the first run's question"));
    }
    EXPECT_EQ(first.state(), QProcess::Running);
    first.kill();
    first.waitForFinished();
    // Its locks are taken over once it is gone.
    const Outcome o = selfCheck(p);
    EXPECT_EQ(o.exit, 0) << show(o);
}

// A temporary folder that is missing, a file, or not writable for the
// examinee: the folder message with the path and the reason on stderr, never
// "2重起動エラー".
TEST_F(Hostile, TemporaryFolderThatCannotBeUsed) {
    Program p(tmp.path() + QStringLiteral("/temp"));
    writeFile(tmp.path() + QStringLiteral("/a-file"), "x");
    struct Case {
        const char* name;
        QString temp;
        const char* said;
    } cases_[] = {
        {"missing", tmp.path() + QStringLiteral("/missing/"), "does not exist"},
        {"a file", tmp.path() + QStringLiteral("/a-file/"), "is not a folder"},
    };
    for (const Case& c : cases_) {
        SCOPED_TRACE(c.name);
        ++cases;
        const Outcome o = selfCheck(p, {{QStringLiteral("TMPDIR"), c.temp}});
        ASSERT_TRUE(o.endedNormally()) << show(o);
        EXPECT_EQ(o.exit, 1);
        EXPECT_TRUE(o.report.contains(QStringLiteral("フォルダ作成エラー: ") + kFolderFailure))
            << show(o);
        EXPECT_TRUE(o.report.contains(c.temp + QStringLiteral("tolva_net_vovuza/"))) << show(o);
        EXPECT_FALSE(o.report.contains(QStringLiteral("2重起動エラー")));
        EXPECT_TRUE(o.log.contains(c.said)) << show(o);
    }
}

// The same as an ordinary user (nobody) whose temporary folder, and then data
// folder, belongs to root: not writable. Needs root to switch users.
TEST_F(Hostile, FoldersNotWritableForTheExaminee) {
    if (::geteuid() != 0 || QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty())
        GTEST_SKIP() << "needs root and setpriv to run the program as another user";
    // A base that nobody may enter, with the program, data and output folders
    // of nobody's and a temporary folder of root's.
    char base[] = "/tmp/brevik-hostile-XXXXXX";
    ASSERT_NE(::mkdtemp(base), nullptr);
    ::chmod(base, 0755);
    Program p(QString::fromLatin1(base));
    const QString runtime = p.base + QStringLiteral("/run");
    QDir().mkpath(runtime);
    QDir().mkpath(p.out);
    ::chmod(enc(runtime).constData(), 0700);
    ::chmod(enc(p.temp).constData(), 0755);
    for (const QString& f : {p.app, p.data, p.out, runtime})
        ASSERT_EQ(::chown(enc(f).constData(), 65534, 65534), 0);
    ::chmod(enc(p.app).constData(), 0755);
    ++cases;
    const Outcome o = selfCheck(
        p, {{QStringLiteral("XDG_RUNTIME_DIR"), runtime}, {QStringLiteral("HOME"), runtime}},
        {QStringLiteral("setpriv"), QStringLiteral("--reuid=65534"),
         QStringLiteral("--regid=65534"), QStringLiteral("--clear-groups"), QStringLiteral("--")});
    ASSERT_TRUE(o.endedNormally()) << show(o);
    EXPECT_EQ(o.exit, 1) << show(o);
    EXPECT_TRUE(o.log.contains("is not writable")) << show(o);
    EXPECT_TRUE(o.report.contains(QStringLiteral("フォルダ作成エラー: ") + kFolderFailure))
        << show(o);
    EXPECT_TRUE(o.report.contains(p.temp + QStringLiteral("tolva_net_vovuza/"))) << show(o);
    EXPECT_FALSE(o.report.contains(QStringLiteral("2重起動エラー")));

    // The same with a data folder the examinee may not write: its lock cannot be
    // made, a folder problem named with the reason.
    ++cases;
    ASSERT_EQ(::chown(enc(p.data).constData(), 0, 0), 0);
    ::chmod(enc(p.data).constData(), 0755);
    const Outcome d = selfCheck(
        p, {{QStringLiteral("XDG_RUNTIME_DIR"), runtime}, {QStringLiteral("HOME"), runtime}},
        {QStringLiteral("setpriv"), QStringLiteral("--reuid=65534"),
         QStringLiteral("--regid=65534"), QStringLiteral("--clear-groups"), QStringLiteral("--")});
    QDir(p.base).removeRecursively();
    ASSERT_TRUE(d.endedNormally()) << show(d);
    EXPECT_EQ(d.exit, 1) << show(d);
    EXPECT_TRUE(d.log.contains("cannot create the instance lock " + enc(p.data) +
                               ".brevik.lock: Permission denied"))
        << show(d);
    EXPECT_TRUE(d.report.contains(QStringLiteral("フォルダ作成エラー: ") + kFolderFailure))
        << show(d);
    EXPECT_TRUE(d.report.contains(p.data)) << show(d);
    EXPECT_FALSE(d.report.contains(QStringLiteral("2重起動エラー")));
}
