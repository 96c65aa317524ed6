#include "engine/dry_run.h"

#include "engine/item_start.h"
#include "platform/file_answer.h"
#include "shared/address_entries.h"
#include "shared/launcher.h"
#include "shared/names_and_marks.h"
#include "shared/statements.h"

namespace brisken {

namespace {
// A named entry by its name, with its text beside it.
std::string listAndEntry(const corvale::ListChoice& choice) {
    const std::string key = corvale::printablePath(choice.key);
    return choice.name.empty()
               ? key
               : corvale::printablePath(corvale::shownName(choice.name, corvale::kLongestEntryName)) +
                     ", entry " + key;
}
} // namespace

void DryRunReport::choice(const corvale::ListChoice& choice, const std::string& finding,
                          const std::vector<std::string>& notes, bool placeGiven,
                          corvale::Database& database) {
    const auto& say = m_say;
    for (const std::string& note : notes) {
        say("Note: " + note);
    }
    say("Network: " + finding);
    if (choice.throughTunnel) {
        say("Tunnel: " + *choice.throughTunnel + " taken after all: an entry on file matches its address " +
            choice.address + ", and none the network's own");
    }
    if (const auto& found = choice.gatewayHardwareAddress) {
        // The kernel is made to find it only for an entry that asks.
        say("Gateway's hardware address: " +
            (!found->value.empty() ? found->value
             : corvale::gatewayEntryOnFile(database)
                 ? "not known: " + found->why
                 : std::string("not looked up: no gateway: entry is on file")));
    }
    if (choice.wifiName) {
        say("Wi-Fi: " + (choice.wifiName->value.empty()
                             ? choice.wifiName->why
                             : "\"" + corvale::printablePath(choice.wifiName->value) + "\""));
    }
    for (const std::string& entry : choice.malformed) {
        say("Entry " + corvale::printablePath(entry) + "; it matches nothing");
    }
    if (!choice.notConsidered.empty()) {
        std::string entries;
        for (const std::string& entry : choice.notConsidered) {
            entries += (entries.empty() ? "" : ", ") + corvale::printablePath(entry);
        }
        say("Not considered, their network's identity not being known: " + entries);
    }
    for (const std::string& entry : choice.unreached) {
        say("Entry " + corvale::printablePath(entry) + ", whose list runs in its place; its own never runs");
    }
    if (placeGiven) {
        say("List: " + listAndEntry(choice) + " (the place given)");
    } else if (choice.disconnected()) {
        say("List: the disconnected list");
    } else if (choice.identity() || choice.anyOther()) {
        say("List: " + listAndEntry(choice) + " (" + corvale::howMatched(choice.match) + ")");
    } else if (!choice.onFile()) {
        std::string keys = choice.address;
        for (std::string key = choice.address; key.find('.') != std::string::npos;) {
            key.erase(key.rfind('.'));
            keys += (key.find('.') == std::string::npos ? " or " : ", ") + key;
        }
        say("List: none: no entry matches " + keys);
    } else if (choice.match == corvale::ListChoice::Match::Ipv4Prefix ||
               choice.match == corvale::ListChoice::Match::Ipv6Prefix) {
        say("List: " + listAndEntry(choice) + " (the prefix that holds " + choice.address + ")");
    } else {
        say("List: " + listAndEntry(choice) + " (" + corvale::howMatched(choice.match) + " of " +
            choice.address + ")");
    }
}

void DryRunReport::placeUnknown(const std::string& place, corvale::Database& database) {
    m_say("Nothing will start: no entry is named or written " + corvale::printablePath(place));
    entriesOnFile(database);
}

void DryRunReport::items(const std::vector<ItemPlan>& plans) {
    for (const ItemPlan& item : plans) {
        if (item.why == ItemPlan::Why::NoTarget) {
            m_say(std::string("Item: ") + kNoTarget + "\n  cannot start: no target");
            continue;
        }
        std::string line = "Item: " + corvale::printablePath(item.target) +
                           "\n  start in: " + corvale::printablePath(item.startIn) + "\n  ";
        if (item.why == ItemPlan::Why::NoAnswer) {
            line += "cannot start: " + corvale::platform::noAnswerReason();
        } else if (item.why == ItemPlan::Why::EngineItself) {
            line += std::string("passed over: ") + corvale::kEngineItself;
        } else if (item.why == ItemPlan::Why::OtherWriter) {
            line += "cannot start: " + corvale::otherWriterReason(*item.otherWriter) + " (" +
                    corvale::printablePath(item.otherWriter->what) + ")";
        } else if (item.launch) {
            line += corvale::describeLaunch(*item.launch);
            if (item.stopOnLeave) {
                line += "\n  marked to stop on leaving: a watcher asks what it started to end when it leaves";
            }
            if (item.running && item.launch->how == corvale::LaunchPlan::How::Program) {
                line += "\n  already running: process " + std::to_string(*item.running) +
                        "; a watcher's run passes it over";
            }
        }
        m_say(line);
    }
}

void DryRunReport::onLeaving(const std::vector<ItemPlan>& plans, std::chrono::seconds bound) {
    if (plans.empty()) {
        return;
    }
    m_say("On leaving: " + std::to_string(plans.size()) + (plans.size() == 1 ? " item" : " items") +
          " that a watcher runs when the laptop leaves this network, each waited for up to " +
          std::to_string(bound.count()) + " s (none in a run without --watch)");
    std::vector<std::string> lines;
    DryRunReport apart([&](const std::string& line) { lines.push_back(line); });
    apart.items(plans);
    for (const std::string& line : lines) {
        m_say("On leaving: " + line);
    }
}

void DryRunReport::nothingStarts(const corvale::ListChoice& choice, corvale::Database& database) {
    const auto& say = m_say;
    if (choice.disconnected()) {
        say("Nothing will start: the disconnected list is empty");
    } else if (choice.onFile()) {
        say("Nothing will start: the list of " + listAndEntry(choice) + " is empty");
    } else {
        say("Nothing will start: no entry matches " + choice.address);
    }
    entriesOnFile(database);
}

void DryRunReport::entriesOnFile(corvale::Database& database) {
    const auto& say = m_say;
    corvale::Recordset entries = database.openRecordset(corvale::statements::allAddresses());
    if (entries.recordCount() == 0) {
        say("Entries on file: none");
        return;
    }
    const std::unordered_map<std::int64_t, std::string> names = corvale::NamesAndMarks(database).names();
    say("Entries on file:");
    for (; !entries.eof(); entries.moveNext()) {
        const corvale::Field entry = entries.field("IPaddress");
        std::string line =
            "  " + (entry.isNull() ? std::string("(empty)") : corvale::printablePath(entry.text()));
        const corvale::Field key = entries.field("IPID");
        if (const auto name = key.isNull() ? names.end() : names.find(key.number()); name != names.end()) {
            line += ", named " +
                    corvale::printablePath(corvale::shownName(name->second, corvale::kLongestEntryName));
        }
        say(line);
    }
}

} // namespace brisken
