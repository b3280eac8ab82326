#pragma once
// Reading the two content files, in this process or in a short-lived child.
// libmdb is a C library that trusts the file it reads: a crafted file can make
// it read through a null pointer, loop or allocate without end, and a fuzzer
// gets no coverage of its code to find every such path. The program therefore
// reads its content files in a child process with a time limit, a memory limit
// and a cap on what it sends back; whatever goes wrong in there costs the exam
// a data-file failure, never the program.
#include <QString>
#include <QStringList>

#include <array>
#include <optional>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace brevik {

enum class ContentKind {
    Templates, // qfile.dat: column gamen of the first six rows in ascending id
    Questions, // exam.dat: column q_doc of the first row of each id 1, 2, 3
};

struct ContentRead {
    enum Stage {
        Ok,
        OpenFailed,  // the file cannot be taken: not opened, damaged, the reader crashed or hung
        QueryFailed, // a sound file without the table, column or row asked for
    };
    Stage stage = OpenFailed;
    QString error; // why not, for the operator's stderr
    QStringList texts;
};

// Reads one content file in this process (the child's work; also the unit tests').
ContentRead ReadContent(ContentKind kind, const QString& file, const QString& password);

// The child's answer for one file, and taking one from the front of what the
// parent received: nullopt while it is incomplete; throws DbError for bytes
// that are no answer (a child taken over by a crafted file may send anything).
QByteArray ContentAnswerFrame(ContentKind kind, const ContentRead& r);
std::optional<std::pair<ContentKind, ContentRead>> TakeContentAnswerFrame(QByteArray& bytes);

// Reads content files in a child process. The constructor forks the child at
// once and the child reads qfile.dat and exam.dat of dataFolder straight
// away, so the reading overlaps the program's own start-up; construct it
// before any other thread exists (fork copies only the calling thread). A
// file asked for that was not read ahead gets a child of its own.
class IsolatedContentReader {
public:
    struct Limits {
        int timeMs = 10000;                  // per read, from the moment it is asked for
        int cpuSeconds = 30;                 // of the whole child
        qint64 memoryBytes = 2048ll << 20;   // heap and anonymous mappings of the child
        qint64 outputBytes = 160ll << 20;    // what the parent takes from the child
        void (*childHook)(int fd) = nullptr; // tests: runs in the child before it reads
    };
    IsolatedContentReader(const QString& dataFolder, const QString& password);
    IsolatedContentReader(const QString& dataFolder, const QString& password, Limits limits);
    ~IsolatedContentReader();
    IsolatedContentReader(const IsolatedContentReader&) = delete;
    IsolatedContentReader& operator=(const IsolatedContentReader&) = delete;

    // What the child found for file (waits for it within the time limit).
    ContentRead read(ContentKind kind, const QString& file);

    static QString fileName(ContentKind kind);
    pid_t childPid() const { return ahead_.pid; }
    // Time read() spent waiting for the child, in microseconds (for the benchmarks).
    qint64 waitedUs() const { return waitedUs_; }

private:
    using Job = std::pair<ContentKind, QString>;
    struct Child {
        pid_t pid = -1;
        int fd = -1;
        std::vector<Job> jobs;
        QByteArray buffer;   // bytes received and not yet parsed
        qint64 received = 0; // every byte received so far
        std::array<std::optional<ContentRead>, 2> results;
        QString failure; // set once the child is gone without every result
    };
    void spawn(Child& c, std::vector<Job> jobs);
    ContentRead await(Child& c, ContentKind kind);
    void parse(Child& c);
    void end(Child& c, bool kill, const QString& why);

    QString password_;
    Limits limits_;
    Child ahead_;
    qint64 waitedUs_ = 0;
};

} // namespace brevik
