#include "engine/started_records.h"

#include <charconv>

namespace brisken {

bool stillRuns(const StartedProcess& process) {
    const auto now = corvale::platform::processStartTime(process.pid);
    return now && *now == process.startTime;
}

bool startedFor(const StartedProcess& process, const std::string& target,
                const std::optional<corvale::platform::FileId>& file) {
    return process.file && file ? *process.file == *file : process.target == target;
}

std::optional<StartedProcess> stillRunningFor(const std::vector<StartedProcess>& started,
                                              const std::string& target,
                                              const std::optional<corvale::platform::FileId>& file,
                                              const std::function<bool(const StartedProcess&)>& runs) {
    for (const StartedProcess& process : started) {
        if (startedFor(process, target, file) && runs(process)) {
            return process;
        }
    }
    return std::nullopt;
}

namespace {
constexpr std::size_t kRecordFields = 9;

template <typename Number> std::optional<Number> numberIn(const std::string& field) {
    Number number{};
    const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), number);
    if (error != std::errc() || end != field.data() + field.size() || field.empty()) {
        return std::nullopt;
    }
    return number;
}

std::optional<StartedProcess> decoded(const std::vector<std::string>& fields) {
    StartedProcess process;
    process.target = fields[0];
    const auto pid = numberIn<pid_t>(fields[1]);
    const auto startTime = numberIn<unsigned long long>(fields[2]);
    if (!pid || *pid <= 0 || !startTime || (fields[3] != "0" && fields[3] != "1")) {
        return std::nullopt;
    }
    process.pid = *pid;
    process.startTime = *startTime;
    process.stopOnLeave = fields[3] == "1";
    const auto listId = numberIn<std::int64_t>(fields[7]);
    if ((fields[6] != "c" && fields[6] != "d") || !listId || (fields[8] != "0" && fields[8] != "1")) {
        return std::nullopt;
    }
    process.table = fields[6] == "d" ? corvale::statements::ListTable::Disconnected
                                     : corvale::statements::ListTable::Connected;
    process.listId = *listId;
    process.asked = fields[8] == "1";
    if (!fields[4].empty() || !fields[5].empty()) {
        const auto device = numberIn<dev_t>(fields[4]);
        const auto inode = numberIn<ino_t>(fields[5]);
        if (!device || !inode) {
            return std::nullopt;
        }
        process.file = corvale::platform::FileId{*device, *inode};
    }
    return process;
}
} // namespace

std::string StartedProcess::record() const {
    return target + '\0' + std::to_string(pid) + '\0' + std::to_string(startTime) + '\0' +
           (stopOnLeave ? "1" : "0") + '\0' + (file ? std::to_string(file->first) : "") + '\0' +
           (file ? std::to_string(file->second) : "") + '\0' +
           (table == corvale::statements::ListTable::Disconnected ? "d" : "c") + '\0' +
           std::to_string(listId) + '\0' + (asked ? "1" : "0") + '\0';
}

void StartedRecords::append(const char* bytes, std::size_t size) {
    m_unread.append(bytes, size);
}

std::vector<StartedProcess> StartedRecords::take() {
    std::vector<StartedProcess> taken;
    std::vector<std::string> fields;
    std::size_t used = 0;
    for (std::size_t at = 0, end; (end = m_unread.find('\0', at)) != std::string::npos; at = end + 1) {
        fields.push_back(m_unread.substr(at, end - at));
        if (fields.size() == kRecordFields) {
            if (std::optional<StartedProcess> process = decoded(fields)) {
                taken.push_back(std::move(*process));
            }
            fields.clear();
            used = end + 1;
        }
    }
    m_unread.erase(0, used);
    return taken;
}

} // namespace brisken
