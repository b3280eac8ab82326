#include "Store.h"

#include <sqlite3.h>

#include <random>
#include <stdexcept>

namespace examserver {

namespace {

// A prepared statement that finalizes itself.
class Stmt {
public:
    Stmt(sqlite3* db, const char* sql) {
        if (sqlite3_prepare_v2(db, sql, -1, &s_, nullptr) != SQLITE_OK)
            throw std::runtime_error(std::string("database: ") + sqlite3_errmsg(db));
    }
    ~Stmt() { sqlite3_finalize(s_); }
    Stmt& bind(int i, const std::string& v) {
        sqlite3_bind_text(s_, i, v.data(), int(v.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Stmt& bind(int i, long v) {
        sqlite3_bind_int64(s_, i, v);
        return *this;
    }
    bool row() {
        const int rc = sqlite3_step(s_);
        if (rc != SQLITE_ROW && rc != SQLITE_DONE)
            throw std::runtime_error(std::string("database: ") +
                                     sqlite3_errmsg(sqlite3_db_handle(s_)));
        return rc == SQLITE_ROW;
    }
    std::string text(int i) {
        const auto* p = sqlite3_column_text(s_, i);
        return p ? reinterpret_cast<const char*>(p) : "";
    }
    long number(int i) { return long(sqlite3_column_int64(s_, i)); }

private:
    sqlite3_stmt* s_ = nullptr;
};

} // namespace

std::string param(const Params& params, const std::string& key) {
    for (const auto& [k, v] : params)
        if (k == key)
            return v;
    return {};
}

Store::Store(const std::string& path) {
    if (sqlite3_open(path.c_str(), &db_) != SQLITE_OK) {
        const std::string why = db_ ? sqlite3_errmsg(db_) : "out of memory";
        sqlite3_close(db_);
        throw std::runtime_error("cannot open the database " + path + ": " + why);
    }
    sqlite3_busy_timeout(db_, 2000);
    exec("PRAGMA journal_mode=WAL");
    exec("PRAGMA synchronous=NORMAL");
    exec("CREATE TABLE IF NOT EXISTS registrations (jid INTEGER PRIMARY KEY, result_id INTEGER NOT "
         "NULL,"
         " kfn TEXT, kgn TEXT, rfn TEXT, rgn TEXT, exe_id TEXT, query TEXT NOT NULL,"
         " received TEXT NOT NULL DEFAULT (datetime('now','localtime')))");
    exec("CREATE TABLE IF NOT EXISTS results (id INTEGER PRIMARY KEY, jid TEXT, result_id TEXT, "
         "rfn TEXT,"
         " rgn TEXT, exe_id TEXT, sp TEXT, tc TEXT, gouhi TEXT, reply TEXT, query TEXT NOT NULL,"
         " received TEXT NOT NULL DEFAULT (datetime('now','localtime')))");
}

Store::~Store() {
    sqlite3_close(db_);
}

void Store::exec(const char* sql) {
    char* err = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &err) != SQLITE_OK) {
        const std::string why = err ? err : "unknown error";
        sqlite3_free(err);
        throw std::runtime_error("database: " + why);
    }
}

std::pair<long, long> Store::addRegistration(const Params& p, const std::string& query) {
    std::lock_guard lock(mutex_);
    long jid = 1001;
    {
        Stmt s(db_, "SELECT COALESCE(MAX(jid) + 1, 1001) FROM registrations");
        if (s.row())
            jid = s.number(0);
    }
    static std::mt19937 rng{std::random_device{}()};
    const long resultId = std::uniform_int_distribution<long>(100000, 999999)(rng);
    Stmt s(db_, "INSERT INTO registrations (jid, result_id, kfn, kgn, rfn, rgn, exe_id, query)"
                " VALUES (?, ?, ?, ?, ?, ?, ?, ?)");
    s.bind(1, jid).bind(2, resultId).bind(3, param(p, "KFN")).bind(4, param(p, "KGN"));
    s.bind(5, param(p, "RFN")).bind(6, param(p, "RGN")).bind(7, param(p, "ExeID")).bind(8, query);
    s.row();
    return {jid, resultId};
}

bool Store::hasRegistration(const std::string& jid, const std::string& resultId) {
    std::lock_guard lock(mutex_);
    Stmt s(
        db_,
        "SELECT 1 FROM registrations WHERE CAST(jid AS TEXT) = ? AND CAST(result_id AS TEXT) = ?");
    s.bind(1, jid).bind(2, resultId);
    return s.row();
}

void Store::addResult(const Params& p, const std::string& query, const std::string& reply) {
    std::lock_guard lock(mutex_);
    Stmt s(db_,
           "INSERT INTO results (jid, result_id, rfn, rgn, exe_id, sp, tc, gouhi, reply, query)"
           " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    s.bind(1, param(p, "jid"))
        .bind(2, param(p, "result_id"))
        .bind(3, param(p, "RFN"))
        .bind(4, param(p, "RGN"));
    s.bind(5, param(p, "exe_id"))
        .bind(6, param(p, "SP"))
        .bind(7, param(p, "TC"))
        .bind(8, param(p, "GOUHI"));
    s.bind(9, reply).bind(10, query);
    s.row();
}

void Store::list(std::ostream& out) {
    std::lock_guard lock(mutex_);
    out << "Registrations (jid, result_id, received, family/given name, roman name, launch id):\n";
    Stmt r(db_, "SELECT jid, result_id, received, kfn, kgn, rfn, rgn, exe_id FROM registrations "
                "ORDER BY jid");
    while (r.row())
        out << "  " << r.number(0) << "\t" << r.number(1) << "\t" << r.text(2) << "\t" << r.text(3)
            << " " << r.text(4) << "\t" << r.text(5) << " " << r.text(6) << "\t" << r.text(7)
            << "\n";
    out << "Results (jid, result_id, received, roman name, points, end time, pass, reply):\n";
    Stmt s(
        db_,
        "SELECT jid, result_id, received, rfn, rgn, sp, tc, gouhi, reply FROM results ORDER BY id");
    while (s.row())
        out << "  " << s.text(0) << "\t" << s.text(1) << "\t" << s.text(2) << "\t" << s.text(3)
            << " " << s.text(4) << "\t" << s.text(5) << "\t" << s.text(6) << "\t" << s.text(7)
            << "\t" << s.text(8) << "\n";
}

} // namespace examserver
