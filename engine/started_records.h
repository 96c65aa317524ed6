#pragma once

#include "platform/process_table.h"
#include "shared/statements.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

// What a watcher's runs tell their watcher of the processes they start, and
// how it travels between them: one record a process, on a pipe.
namespace brisken {

// A process that a watcher's run started for an item, in a process group of
// its own (its number the process's), told apart from a later process of
// the same number by its start time.
struct StartedProcess {
    std::string target; // the item's target as stored
    pid_t pid = 0;
    unsigned long long startTime = 0;
    bool stopOnLeave = false; // the item is marked so (ItemOptions)
    // The target's file when it started, where it was looked at: another
    // spelling of it, or a link to it, is the same item.
    std::optional<corvale::platform::FileId> file;
    // The item of the list that ran last and holds the target: the one that
    // started the process, or a later one that passed over it. Its mark, as
    // the database holds it when the laptop leaves, decides.
    corvale::statements::ListTable table = corvale::statements::ListTable::Connected;
    std::int64_t listId = 0;
    // It was asked to end once (a SIGTERM), and is never asked again.
    bool asked = false;

    // As a run hands it to its watcher: fields each ended by a NUL (a path
    // holds none).
    std::string record() const;
};
// Whether the process was started for the item whose target is target
// (stored text) and file (where known): the same file, or, where either's
// file is not known, the same text.
bool startedFor(const StartedProcess& process, const std::string& target,
                const std::optional<corvale::platform::FileId>& file);

// Whether the process still runs, and is the one that was started.
bool stillRuns(const StartedProcess& process);

// The process of started that was started for the item with this target
// and file (another spelling of it included) and still runs (as runs says),
// whatever it runs by now.
std::optional<StartedProcess>
stillRunningFor(const std::vector<StartedProcess>& started, const std::string& target,
                const std::optional<corvale::platform::FileId>& file,
                const std::function<bool(const StartedProcess&)>& runs = stillRuns);

// The records a run writes, read as they come: whole records are taken, the
// rest waits for its end; a record that does not parse is passed over.
class StartedRecords {
public:
    void append(const char* bytes, std::size_t size);
    std::vector<StartedProcess> take();

private:
    std::string m_unread;
};

} // namespace brisken
