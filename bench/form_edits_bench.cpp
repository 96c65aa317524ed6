// Times four clicks that edit many rows, in the configuration form itself
// (offscreen), each from the click to the form shown again, against the
// least bare SQLite can do for the same rows, on an equal file:
//  - Add Path with every one of 10 000 addresses selected;
//  - Delete IP of 10 000 addresses (three items each, one marked);
//  - Delete of an item that 10 000 selected addresses hold;
//  - Up on an item in the middle of a list of 10 000.
// Each pair runs in turn, ROUNDS times (5 unless given); each line gives the
// form's median time and the median of the pairwise ratios.
#include "tests/configtool/form_harness.h"

#include <QApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <sqlite3.h>
#include <string>
#include <vector>

using Clock = std::chrono::steady_clock;

namespace {

constexpr int kRows = 10000;

std::string addressNumber(int i) {
    return "10." + std::to_string(i / 65536) + "." + std::to_string(i / 256 % 256) + "." +
           std::to_string(i % 256);
}

// kRows addresses, each with items of the targets given (the first marked
// to stop on leaving where marked is set).
void addresses(testsupport::DatabaseFile& db, int items, bool marked) {
    db.database().transaction([&] {
        for (int i = 0; i < kRows; ++i) {
            const std::int64_t id = db.addAddress(addressNumber(i));
            for (int item = 1; item <= items; ++item) {
                const std::int64_t listId =
                    db.addConnectedItem(id, "/usr/bin/tool" + std::to_string(item), "/home/user", item);
                if (marked && item == 1) {
                    db.database().execute(
                        {"insert into ItemOptions (List, ListID, StopOnLeave) values ('ConnectedList', ?, 1)",
                         {listId}});
                }
            }
        }
    });
}

// One address with a list of kRows items.
void longList(testsupport::DatabaseFile& db) {
    db.database().transaction([&] {
        const std::int64_t id = db.addAddress("10.1");
        for (int item = 1; item <= kRows; ++item) {
            db.addConnectedItem(id, "/usr/bin/tool" + std::to_string(item), "/home/user", item);
        }
    });
}

void require(bool done, const char* what) {
    if (!done) {
        std::fprintf(stderr, "the form did not %s\n", what);
        std::exit(1);
    }
}

template <typename Work> double timed(Work&& work) {
    const auto begun = Clock::now();
    work();
    return std::chrono::duration<double>(Clock::now() - begun).count();
}

// Bare SQLite on a file filled as the form's: the statements given, each run
// for every key from first to last, in one transaction.
double bare(const std::function<void(testsupport::DatabaseFile&)>& fill, const std::vector<const char*>& sql,
            int first, int last) {
    testsupport::TempDir dir;
    {
        testsupport::DatabaseFile db(dir / "corvale.mdb");
        fill(db);
    }
    sqlite3* raw = nullptr;
    sqlite3_open((dir / "corvale.mdb").c_str(), &raw);
    std::vector<sqlite3_stmt*> statements(sql.size());
    for (std::size_t s = 0; s < sql.size(); ++s) {
        sqlite3_prepare_v2(raw, sql[s], -1, &statements[s], nullptr);
    }
    const double seconds = timed([&] {
        sqlite3_exec(raw, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
        for (int key = first; key <= last; ++key) {
            for (sqlite3_stmt* statement : statements) {
                sqlite3_bind_int64(statement, 1, key);
                sqlite3_step(statement);
                sqlite3_reset(statement);
            }
        }
        sqlite3_exec(raw, "COMMIT", nullptr, nullptr, nullptr);
    });
    for (sqlite3_stmt* statement : statements) {
        sqlite3_finalize(statement);
    }
    sqlite3_close(raw);
    return seconds;
}

double addPathInTheForm() {
    toolsupport::FormHarness h;
    addresses(h.file, 0, false);
    h.open();
    h.list("List1")->selectAll();
    h.text("Text2")->setText("/usr/bin/new");
    h.text("Text3")->setText("/home/user");
    const double seconds = timed([&] { h.button("cmdAddPath")->click(); });
    require(h.rows("select count(*) from ConnectedList") == QStringList{QString::number(kRows)},
            "add every row");
    return seconds;
}

double deleteIpInTheForm() {
    toolsupport::FormHarness h;
    addresses(h.file, 3, true);
    h.open();
    h.list("List1")->selectAll();
    h.dialogs.answers = {corvale::MessageAnswer::Yes};
    const double seconds = timed([&] { h.button("cmdDelIP")->click(); });
    require(h.list("List1")->count() == 0 && h.rows("select count(*) from ConnectedList") == QStringList{"0"},
            "delete every address");
    return seconds;
}

double deleteHeldItemInTheForm() {
    toolsupport::FormHarness h;
    addresses(h.file, 2, false);
    h.open();
    h.click(h.list("List1"), 0);
    h.list("List1")->selectAll();
    h.click(h.list("List2"), 0);
    h.dialogs.answers = {corvale::MessageAnswer::Yes};
    const double seconds = timed([&] { h.button("cmdDelListItem")->click(); });
    require(h.rows("select count(*) from ConnectedList") == QStringList{QString::number(kRows)},
            "delete the item from every address");
    return seconds;
}

double moveUpInTheForm() {
    toolsupport::FormHarness h;
    longList(h.file);
    h.open();
    h.click(h.list("List2"), kRows / 2);
    const double seconds = timed([&] { h.button("cmdUp")->click(); });
    require(h.list("List2")->item(kRows / 2 - 1)->text() == "/usr/bin/tool" + QString::number(kRows / 2 + 1),
            "move the item up");
    return seconds;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

struct Click {
    const char* name;
    std::function<double()> form;
    std::function<double()> bare;
};

} // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const std::vector<Click> clicks = {
        {"Add Path to 10 000 selected addresses", addPathInTheForm,
         [] {
             return bare([](auto& db) { addresses(db, 0, false); },
                         // The table is empty: each address's row takes the next number.
                         {"insert into ConnectedList (IPID,TargetPath,StartinPath,ListOrder) values "
                          "(?1,'/usr/bin/new','/home/user',?1)"},
                         1, kRows);
         }},
        {"Delete IP of 10 000 addresses (3 items each)", deleteIpInTheForm,
         [] {
             return bare([](auto& db) { addresses(db, 3, true); },
                         {"delete from ItemOptions where List = 'ConnectedList' and ListID in "
                          "(select ListID from ConnectedList where IPID = ?)",
                          "delete from ConnectedList where IPID = ?", "delete from EntryNames where IPID = ?",
                          "delete from IPs where IPID = ?"},
                         1, kRows);
         }},
        {"Delete of an item 10 000 selected addresses hold", deleteHeldItemInTheForm,
         [] {
             return bare([](auto& db) { addresses(db, 2, false); },
                         {"delete from ConnectedList where IPID = ? and TargetPath = '/usr/bin/tool1'"}, 1,
                         kRows);
         }},
        {"Up on an item of a list of 10 000", moveUpInTheForm,
         [] {
             return bare(
                 [](auto& db) { longList(db); },
                 {"update ConnectedList set ListOrder = case ListOrder when ?1 then ?1 - 1 else ?1 end "
                  "where ListOrder in (?1, ?1 - 1)"},
                 kRows / 2 + 1, kRows / 2 + 1);
         }},
    };
    for (const Click& click : clicks) {
        std::vector<double> form, ratios;
        for (int round = 0; round < rounds; ++round) {
            const double bareSeconds = click.bare();
            form.push_back(click.form());
            ratios.push_back(form.back() / bareSeconds);
        }
        std::printf("%s, in the form: %.0f ms, %.1f times bare SQLite on the same rows (median of %d)\n",
                    click.name, median(form) * 1000, median(ratios), rounds);
        std::fflush(stdout);
    }
    return 0;
}
