// Times Delete IP in the configuration form, offscreen, with every address
// of a large file selected (each with three items, one of them marked), from
// the click that the question's Yes answers to the form shown again, against
// the least SQLite can do for it: one transaction that deletes the same rows
// by address. Both run on equal files, in turn; the figure is the median of
// the pairwise ratios, beside the form's own median time.
#include "tests/configtool/form_harness.h"

#include <QApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sqlite3.h>
#include <string>
#include <vector>

using Clock = std::chrono::steady_clock;

namespace {

void fill(testsupport::DatabaseFile& db, int count) {
    db.database().transaction([&] {
        for (int i = 0; i < count; ++i) {
            const std::int64_t id =
                db.addAddress("10." + std::to_string(i / 65536) + "." + std::to_string(i / 256 % 256) + "." +
                              std::to_string(i % 256));
            for (int item = 1; item <= 3; ++item) {
                const std::int64_t listId =
                    db.addConnectedItem(id, "/usr/bin/tool" + std::to_string(item), "/home/user", item);
                if (item == 1) {
                    db.database().execute(
                        {"insert into ItemOptions (List, ListID, StopOnLeave) values ('ConnectedList', ?, 1)",
                         {listId}});
                }
            }
        }
    });
}

double deletedInTheForm(int count) {
    toolsupport::FormHarness h;
    fill(h.file, count);
    h.open();
    h.list("List1")->selectAll();
    h.dialogs.answers = {corvale::MessageAnswer::Yes};
    const auto begun = Clock::now();
    h.button("cmdDelIP")->click();
    const double seconds = std::chrono::duration<double>(Clock::now() - begun).count();
    if (h.list("List1")->count() != 0 || h.rows("select count(*) from ConnectedList") != QStringList{"0"}) {
        std::fprintf(stderr, "the form did not delete every address\n");
        std::exit(1);
    }
    return seconds;
}

double deletedByBareSqlite(int count) {
    testsupport::TempDir dir;
    {
        testsupport::DatabaseFile db(dir / "corvale.mdb");
        fill(db, count);
    }
    sqlite3* raw = nullptr;
    sqlite3_open((dir / "corvale.mdb").c_str(), &raw);
    const auto begun = Clock::now();
    sqlite3_exec(raw, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    sqlite3_stmt* statements[4] = {};
    const char* sql[4] = {"delete from ItemOptions where List = 'ConnectedList' and ListID in "
                          "(select ListID from ConnectedList where IPID = ?)",
                          "delete from ConnectedList where IPID = ?", "delete from EntryNames where IPID = ?",
                          "delete from IPs where IPID = ?"};
    for (int s = 0; s < 4; ++s) {
        sqlite3_prepare_v2(raw, sql[s], -1, &statements[s], nullptr);
    }
    for (int id = 1; id <= count; ++id) {
        for (sqlite3_stmt* statement : statements) {
            sqlite3_bind_int64(statement, 1, id);
            sqlite3_step(statement);
            sqlite3_reset(statement);
        }
    }
    sqlite3_exec(raw, "COMMIT", nullptr, nullptr, nullptr);
    const double seconds = std::chrono::duration<double>(Clock::now() - begun).count();
    for (sqlite3_stmt* statement : statements) {
        sqlite3_finalize(statement);
    }
    sqlite3_close(raw);
    return seconds;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const int count = 10000;
    std::vector<double> form, ratios;
    for (int round = 0; round < rounds; ++round) {
        const double bare = deletedByBareSqlite(count);
        form.push_back(deletedInTheForm(count));
        ratios.push_back(form.back() / bare);
    }
    std::printf("Delete IP of %d addresses (3 items each), in the form: %.0f ms, %.2f times bare SQLite "
                "deleting the same rows (median of %d)\n",
                count, median(form) * 1000, median(ratios), rounds);
    return 0;
}
