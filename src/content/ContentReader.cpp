#include "content/ContentReader.h"

#include "content/JetDb.h"

#include <QtEndian>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

namespace brevik {

namespace {

const char* const kQueryTemplates = "select * from gamen order by id asc";

// The child's answer, one frame per file: magic, kind, stage, error, count,
// texts; every number a little-endian uint32, every text its UTF-8 length and
// bytes.
constexpr quint32 kMagic = 0x4b565242; // "BRVK"
void putNumber(QByteArray& out, quint32 n) {
    char b[4];
    qToLittleEndian(n, b);
    out.append(b, 4);
}
void putText(QByteArray& out, const QString& s) {
    const QByteArray u = s.toUtf8();
    putNumber(out, quint32(u.size()));
    out += u;
}
} // namespace

QByteArray ContentAnswerFrame(ContentKind kind, const ContentRead& r) {
    QByteArray out;
    putNumber(out, kMagic);
    putNumber(out, quint32(kind));
    putNumber(out, quint32(r.stage));
    putText(out, r.error);
    putNumber(out, quint32(r.texts.size()));
    for (const QString& t : r.texts)
        putText(out, t);
    return out;
}

std::optional<std::pair<ContentKind, ContentRead>> TakeContentAnswerFrame(QByteArray& bytes) {
    qsizetype at = 0;
    auto number = [&](quint32& n) {
        if (bytes.size() - at < 4)
            return false;
        n = qFromLittleEndian<quint32>(bytes.constData() + at);
        at += 4;
        return true;
    };
    auto text = [&](QString& s) {
        quint32 n = 0;
        if (!number(n) || bytes.size() - at < qsizetype(n))
            return false;
        s = QString::fromUtf8(bytes.constData() + at, qsizetype(n));
        at += qsizetype(n);
        return true;
    };
    quint32 magic = 0, kind = 0, stage = 0, count = 0;
    ContentRead r;
    if (!number(magic))
        return std::nullopt;
    if (magic != kMagic)
        throw DbError(QStringLiteral("the content reader sent something that is no answer"));
    if (!number(kind) || !number(stage))
        return std::nullopt;
    if (kind > quint32(ContentKind::Questions) || stage > quint32(ContentRead::QueryFailed))
        throw DbError(QStringLiteral("the content reader sent something that is no answer"));
    if (!text(r.error) || !number(count))
        return std::nullopt;
    if (count > 6)
        throw DbError(QStringLiteral("the content reader sent something that is no answer"));
    for (quint32 i = 0; i < count; ++i) {
        QString t;
        if (!text(t))
            return std::nullopt;
        r.texts << t;
    }
    r.stage = ContentRead::Stage(stage);
    bytes.remove(0, at);
    return std::make_pair(ContentKind(kind), r);
}

namespace {

qint64 nowUs() {
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return qint64(t.tv_sec) * 1000000 + t.tv_nsec / 1000;
}
qint64 nowMs() {
    return nowUs() / 1000;
}

QString describeEnd(int status) {
    if (WIFSIGNALED(status)) {
        const int sig = WTERMSIG(status);
        const char* name = ::sigabbrev_np(sig);
        if (sig == SIGXCPU)
            return QStringLiteral("the reader used up its CPU time and was stopped");
        return QStringLiteral("the reader crashed (signal %1%2)")
            .arg(sig)
            .arg(name ? QStringLiteral(", SIG") + QLatin1String(name) : QString());
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) != 0)
        return QStringLiteral("the reader failed (exit status %1)").arg(WEXITSTATUS(status));
    return QStringLiteral("the reader ended without an answer");
}

// The child: limits, the jobs, the answers, gone. Never returns.
[[noreturn]] void runChild(int fd, const std::vector<std::pair<ContentKind, QString>>& jobs,
                           const QString& password, const IsolatedContentReader::Limits& limits) {
    // The parent's signal handlers are not the child's.
    for (int sig = 1; sig < NSIG; ++sig)
        if (sig != SIGKILL && sig != SIGSTOP)
            std::signal(sig, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    const rlimit cpu{rlim_t(limits.cpuSeconds), rlim_t(limits.cpuSeconds + 1)};
    ::setrlimit(RLIMIT_CPU, &cpu);
    const rlimit mem{rlim_t(limits.memoryBytes), rlim_t(limits.memoryBytes)};
    ::setrlimit(RLIMIT_DATA, &mem);
    const rlimit core{0, 0};
    ::setrlimit(RLIMIT_CORE, &core);
    // libmdb prints progress notes on stdout now and then; stdout is not its.
    if (const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC); null >= 0) {
        ::dup2(null, STDOUT_FILENO);
        ::close(null);
    }
    if (limits.childHook)
        limits.childHook(fd);
    for (const auto& [kind, file] : jobs) {
        QByteArray out;
        try {
            out = ContentAnswerFrame(kind, ReadContent(kind, file, password));
        } catch (...) {
            ::_exit(3);
        }
        for (qsizetype done = 0; done < out.size();) {
            const ssize_t n = ::write(fd, out.constData() + done, size_t(out.size() - done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                ::_exit(4);
            done += n;
        }
    }
    ::_exit(0);
}

} // namespace

ContentRead ReadContent(ContentKind kind, const QString& file, const QString& password) {
    ContentRead r;
    std::unique_ptr<JetDatabase> db;
    try {
        db = JetDatabase::open(file, QStringLiteral(";pwd=") + password);
    } catch (const std::exception& e) {
        r.stage = ContentRead::OpenFailed;
        r.error = QString::fromUtf8(e.what());
        return r;
    }
    r.stage = ContentRead::QueryFailed;
    try {
        if (kind == ContentKind::Templates) {
            auto rs = db->OpenRecordset(QLatin1String(kQueryTemplates), 2);
            if (rs->eof()) {
                r.error = QStringLiteral("table gamen has no rows");
                return r;
            }
            // Up to six rows; a shorter table leaves the remaining texts empty.
            for (int k = 1; k <= 6 && !rs->eof(); ++k) {
                r.texts << rs->field(QStringLiteral("gamen"));
                rs->MoveNext();
            }
            rs->Close();
        } else {
            // Every document is read before the first file is written.
            QStringList docs;
            for (int k = 1; k <= 3; ++k) {
                auto rs = db->OpenRecordset(
                    QStringLiteral("select * from exam_doc where id =%1").arg(k), 2);
                docs << rs->field(QStringLiteral("q_doc"));
                rs->Close();
            }
            r.texts = docs;
        }
        db->Close();
    } catch (const DbDamaged& e) {
        r.texts.clear();
        r.stage = ContentRead::OpenFailed;
        r.error = QString::fromUtf8(e.what());
        return r;
    } catch (const std::exception& e) {
        r.texts.clear();
        r.error = QString::fromUtf8(e.what());
        return r;
    }
    r.stage = ContentRead::Ok;
    return r;
}

QString IsolatedContentReader::fileName(ContentKind kind) {
    return kind == ContentKind::Templates ? QStringLiteral("qfile.dat")
                                          : QStringLiteral("exam.dat");
}

IsolatedContentReader::IsolatedContentReader(const QString& dataFolder, const QString& password)
    : IsolatedContentReader(dataFolder, password, Limits{}) {}

IsolatedContentReader::IsolatedContentReader(const QString& dataFolder, const QString& password,
                                             Limits limits)
    : password_(password), limits_(limits) {
    QString folder = dataFolder;
    if (!folder.endsWith(u'/'))
        folder += u'/';
    spawn(ahead_, {{ContentKind::Templates, folder + fileName(ContentKind::Templates)},
                   {ContentKind::Questions, folder + fileName(ContentKind::Questions)}});
}

IsolatedContentReader::~IsolatedContentReader() {
    end(ahead_, true, QString());
}

void IsolatedContentReader::spawn(Child& c, std::vector<Job> jobs) {
    c.jobs = std::move(jobs);
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        c.failure = QStringLiteral("cannot start the content reader: ") +
                    QString::fromLocal8Bit(std::strerror(errno));
        return;
    }
    // Room for the usual answers, so the child can end before it is asked.
    ::fcntl(fds[1], F_SETPIPE_SZ, 1 << 20);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        runChild(fds[1], c.jobs, password_, limits_);
    }
    const int err = errno;
    ::close(fds[1]);
    if (pid < 0) {
        ::close(fds[0]);
        c.failure = QStringLiteral("cannot start the content reader: ") +
                    QString::fromLocal8Bit(std::strerror(err));
        return;
    }
    c.pid = pid;
    c.fd = fds[0];
}

void IsolatedContentReader::end(Child& c, bool kill, const QString& why) {
    if (c.fd >= 0) {
        ::close(c.fd);
        c.fd = -1;
    }
    if (c.pid > 0) {
        if (kill)
            ::kill(c.pid, SIGKILL);
        int status = 0;
        pid_t got;
        do
            got = ::waitpid(c.pid, &status, 0);
        while (got < 0 && errno == EINTR);
        c.pid = -1;
        // Killed: for the reason given. Gone by itself: how it ended tells more.
        const bool normalExit = got > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
        if (c.failure.isEmpty() && !kill && got > 0 && !normalExit)
            c.failure = describeEnd(status);
    }
    if (c.failure.isEmpty())
        c.failure = why.isEmpty() ? QStringLiteral("the reader ended without an answer") : why;
}

void IsolatedContentReader::parse(Child& c) {
    while (auto f = TakeContentAnswerFrame(c.buffer))
        c.results[size_t(f->first)] = f->second;
}

ContentRead IsolatedContentReader::await(Child& c, ContentKind kind) {
    const qint64 deadline = nowMs() + limits_.timeMs;
    try {
        while (!c.results[size_t(kind)] && c.fd >= 0) {
            const qint64 left = deadline - nowMs();
            if (left <= 0) {
                end(c, true,
                    QStringLiteral("the reader did not finish within %1 s")
                        .arg(limits_.timeMs / 1000.0));
                break;
            }
            pollfd p{c.fd, POLLIN, 0};
            const int ready = ::poll(&p, 1, int(left));
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready <= 0)
                continue;
            char chunk[64 * 1024];
            const ssize_t n = ::read(c.fd, chunk, sizeof chunk);
            if (n < 0 && (errno == EINTR || errno == EAGAIN))
                continue;
            if (n <= 0) {
                parse(c);
                end(c, false,
                    c.buffer.isEmpty() ? QString()
                                       : QStringLiteral("the content reader's answer breaks off"));
                break;
            }
            c.received += n;
            if (c.received > limits_.outputBytes) {
                end(c, true,
                    QStringLiteral("the reader sent more than %1 bytes").arg(limits_.outputBytes));
                break;
            }
            c.buffer.append(chunk, n);
            parse(c);
        }
        // Whatever is still buffered once the child is gone.
        parse(c);
    } catch (const std::exception& e) {
        end(c, true, QString::fromUtf8(e.what()));
    }
    if (c.results[size_t(kind)])
        return *c.results[size_t(kind)];
    ContentRead r;
    r.stage = ContentRead::OpenFailed;
    r.error = c.failure;
    return r;
}

ContentRead IsolatedContentReader::read(ContentKind kind, const QString& file) {
    const qint64 start = nowUs();
    for (const auto& [k, f] : ahead_.jobs)
        if (k == kind && f == file) {
            ContentRead r = await(ahead_, kind);
            waitedUs_ += nowUs() - start;
            return r;
        }
    // Not read ahead: a child of its own, gone before this returns.
    Child once;
    spawn(once, {{kind, file}});
    ContentRead r = await(once, kind);
    end(once, true, QString());
    waitedUs_ += nowUs() - start;
    return r;
}

} // namespace brevik
