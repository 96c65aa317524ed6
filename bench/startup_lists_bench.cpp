// Times one item added to the lists of many addresses at once (Add Path with
// every address selected) against the least SQLite can do for it: one
// transaction that inserts the same rows through one prepared statement.
// Both are run on equal files, in turn, and the figure is the median of the
// pairwise ratios; the growth from half the addresses to all of them tells
// whether the cost grows with the rows or faster.
#include "shared/startup_lists.h"
#include "tests/support/test_support.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sqlite3.h>
#include <string>
#include <vector>

using Clock = std::chrono::steady_clock;

namespace {

struct Addresses {
    testsupport::TempDir dir;
    std::string path;
    std::vector<std::int64_t> ids;

    explicit Addresses(int count) : path(dir / "corvale.mdb") {
        testsupport::DatabaseFile db(path);
        db.database().transaction([&] {
            for (int i = 0; i < count; ++i) {
                ids.push_back(db.addAddress("10." + std::to_string(i / 65536) + "." +
                                            std::to_string(i / 256 % 256) + "." + std::to_string(i % 256)));
                // Every address holds some items already, as a used file does.
                db.addConnectedItem(ids.back(), "/usr/bin/mail" + std::to_string(i % 7), "/home/user", i + 1);
            }
        });
    }
};

double addedByTheService(int count) {
    Addresses file(count);
    corvale::Database database(file.path);
    const auto begun = Clock::now();
    const corvale::AddedToAddresses added =
        corvale::StartupLists(database).addItem(file.ids, {"/usr/bin/music", "/home/user"});
    const double seconds = std::chrono::duration<double>(Clock::now() - begun).count();
    if (added.added.size() != file.ids.size()) {
        std::fprintf(stderr, "added %zu of %zu\n", added.added.size(), file.ids.size());
        std::exit(1);
    }
    return seconds;
}

double addedByBareSqlite(int count) {
    Addresses file(count);
    sqlite3* db = nullptr;
    sqlite3_open_v2(file.path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
    const auto begun = Clock::now();
    sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db,
                       "Insert into ConnectedList (IPID,TargetPath,StartinPath,ListOrder) values (?,?,?,?)",
                       -1, &insert, nullptr);
    std::int64_t order = count + 1;
    for (const std::int64_t ipid : file.ids) {
        sqlite3_bind_int64(insert, 1, ipid);
        sqlite3_bind_text(insert, 2, "/usr/bin/music", -1, SQLITE_STATIC);
        sqlite3_bind_text(insert, 3, "/home/user", -1, SQLITE_STATIC);
        sqlite3_bind_int64(insert, 4, order++);
        sqlite3_step(insert);
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    const bool committed = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
    const double seconds = std::chrono::duration<double>(Clock::now() - begun).count();
    sqlite3_close(db);
    if (!committed) {
        std::fprintf(stderr, "the bare insert did not commit\n");
        std::exit(1);
    }
    return seconds;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 5;
    std::vector<double> full;
    std::vector<double> half;
    std::vector<double> ratios;
    for (int i = 0; i < std::max(1, rounds); ++i) {
        half.push_back(addedByTheService(5000));
        full.push_back(addedByTheService(10000));
        ratios.push_back(full.back() / addedByBareSqlite(10000));
    }
    std::printf("Add Path to 10000 addresses: %.0f ms (5000: %.0f ms, growth %.2fx for twice the rows)\n",
                median(full) * 1000, median(half) * 1000, median(full) / median(half));
    std::printf("against one bare prepared insert per address in one transaction: %.2fx (median of %d)\n",
                median(ratios), std::max(1, rounds));
    return 0;
}
