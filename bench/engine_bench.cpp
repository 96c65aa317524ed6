// Times the built engine against minimal programs doing the same job, in one
// run, and prints the ratios:
//  - a list of N items (a program that exits at once) against a loop that
//    spawns the same N programs;
//  - a run with an empty list and nothing to show against a process that only
//    opens the same database file and reads the list.
#include "engine/address_discovery.h"
#include "tests/support/test_support.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

// A display that does not exist: an engine that tried to make its GUI
// application would fail on it.
const std::vector<std::string> kEnvironment = {"PATH=/usr/bin:/bin", "DISPLAY=:31999"};

struct Outcome {
    double seconds;
    int status;
};

// Runs argv in folder, waits for it and for every process it left behind
// (we are their subreaper), and returns how long the program itself took.
Outcome timeRun(const std::vector<std::string>& argv, const std::string& folder) {
    const auto begun = Clock::now();
    const int pid = testsupport::startProcess(argv, kEnvironment, folder);
    if (pid < 0) {
        std::fprintf(stderr, "cannot start %s\n", argv[0].c_str());
        std::exit(1);
    }
    int status = 0;
    waitpid(pid, &status, 0); // blocking: a polling wait would round the times
    status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    const double seconds = std::chrono::duration<double>(Clock::now() - begun).count();
    while (waitpid(-1, nullptr, 0) > 0) {
    }
    return {seconds, status};
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// A program folder with the engine and a database whose applicable list holds
// count items.
struct ProgramFolder {
    testsupport::TempDir dir;
    std::string engine;
    std::string database;

    explicit ProgramFolder(int count) {
        engine = dir / "brisken";
        database = dir / "corvale.mdb";
        testsupport::installPrograms(dir.path());
        testsupport::DatabaseFile db(database);
        testsupport::ApplicableList list(db);
        db.database().execute({"BEGIN", {}});
        for (int i = 0; i < count; ++i) {
            list.add(EXIT_AT_ONCE_PATH, dir.path(), i + 1);
        }
        db.database().execute({"COMMIT", {}});
    }
};

double timeEngine(const ProgramFolder& folder, int repetitions) {
    std::vector<double> runs;
    for (int r = 0; r < repetitions; ++r) {
        const Outcome outcome = timeRun({folder.engine}, "/");
        if (outcome.status != 0) {
            std::fprintf(stderr, "the engine ended with status %d\n", outcome.status);
            std::exit(1);
        }
        runs.push_back(outcome.seconds);
    }
    return median(runs);
}

double timeBaseline(const std::vector<std::string>& argv, int repetitions) {
    std::vector<double> runs;
    for (int r = 0; r < repetitions; ++r) {
        runs.push_back(timeRun(argv, "/").seconds);
    }
    return median(runs);
}

} // namespace

int main() {
    prctl(PR_SET_CHILD_SUBREAPER, 1);

    std::printf("Engine against minimal programs, medians of repeated runs, one process each run.\n\n");
    std::printf("%-28s %12s %12s %8s\n", "case", "engine ms", "minimal ms", "ratio");

    ProgramFolder empty(0);
    const int emptyReps = 41;
    const double engineEmpty = timeEngine(empty, emptyReps);
    const double openOnly = timeBaseline({OPEN_DATABASE_PATH, empty.database}, emptyReps);
    std::printf("%-28s %12.3f %12.3f %8.2f\n", "empty list, nothing shown", engineEmpty * 1e3, openOnly * 1e3,
                engineEmpty / openOnly);
    const double loopEmpty = timeBaseline({SPAWN_LOOP_PATH, EXIT_AT_ONCE_PATH, "0"}, emptyReps);

    for (const int count : {1, 100, 1000}) {
        const int reps = count == 1 ? 41 : count == 100 ? 11 : 5;
        ProgramFolder folder(count);
        const double engine = timeEngine(folder, reps);
        const double loop = timeBaseline({SPAWN_LOOP_PATH, EXIT_AT_ONCE_PATH, std::to_string(count)}, reps);
        char label[64];
        std::snprintf(label, sizeof label, "%d items, per item", count);
        std::printf("%-28s %12.4f %12.4f %8.2f\n", label, engine * 1e3 / count, loop * 1e3 / count,
                    engine / loop);
        if (count == 1) {
            continue; // the difference of two whole runs is all noise for one item
        }
        std::snprintf(label, sizeof label, "%d items, beyond empty", count);
        const double engineExtra = (engine - engineEmpty) / count;
        const double loopExtra = (loop - loopEmpty) / count;
        std::printf("%-28s %12.4f %12.4f %8.2f\n", label, engineExtra * 1e3, loopExtra * 1e3,
                    engineExtra / loopExtra);
    }
    std::printf("\n'per item': whole run divided by N. 'beyond empty': the run less the same program's run\n"
                "with an empty list, divided by N: the cost of one more item. The engine runs with\n"
                "DISPLAY set to a display that does not exist, so a run that made its GUI application\n"
                "would fail; every run above ended with status 0.\n");
    return 0;
}
