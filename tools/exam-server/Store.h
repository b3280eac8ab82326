#pragma once
// What the reference server received, kept in one SQLite file.
#include <mutex>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

struct sqlite3;

namespace examserver {

using Params = std::vector<std::pair<std::string, std::string>>;

// Value of key in params, empty when absent.
std::string param(const Params& params, const std::string& key);

class Store {
public:
    explicit Store(const std::string& path); // throws std::runtime_error
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    // Stores a registration; returns its jid and result id.
    std::pair<long, long> addRegistration(const Params& params, const std::string& query);
    bool hasRegistration(const std::string& jid, const std::string& resultId);
    void addResult(const Params& params, const std::string& query, const std::string& reply);
    void list(std::ostream& out);

private:
    void exec(const char* sql);
    sqlite3* db_ = nullptr;
    std::mutex mutex_;
};

} // namespace examserver
