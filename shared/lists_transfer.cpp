#include "shared/lists_transfer.h"

#include "platform/failure.h"
#include "shared/address_entries.h"

namespace corvale {

namespace {

std::string textOf(const platform::SqlValue& value, const std::string& where) {
    if (std::holds_alternative<std::monostate>(value)) {
        return {};
    }
    if (const auto* text = std::get_if<std::string>(&value)) {
        return *text;
    }
    throw Failure(where + " holds a value that is not text, which a lists file cannot carry.");
}

} // namespace

ListsOnFile exportLists(Database& database) {
    StartupLists lists(database);
    ListsOnFile file;
    for (const ListRow& address : lists.addresses()) {
        ListsOnFile::Entry entry{textOf(address.text, "An entry of the address list"), address.name, {}};
        for (const ListRow& item : lists.connectedItems(address.id)) {
            const std::string where = "An item of " + entry.entry;
            entry.items.push_back(
                {textOf(item.text, where),
                 textOf(lists.startInOf(statements::tableFor(ListTable::Connected, item.onLeaving), item.id),
                        where),
                 item.stopOnLeave, item.onLeaving});
        }
        file.entries.push_back(std::move(entry));
    }
    for (const ListRow& item : lists.disconnectedItems()) {
        const std::string where = "An item of the disconnected list";
        file.disconnected.push_back(
            {textOf(item.text, where),
             textOf(lists.startInOf(statements::tableFor(ListTable::Disconnected, item.onLeaving), item.id),
                    where),
             item.stopOnLeave, item.onLeaving});
    }
    return file;
}

ImportOutcome importLists(Database& database, const ListsOnFile& file) {
    using Kind = ImportStep::Kind;
    using Result = ImportStep::Result;
    StartupLists lists(database);
    ImportOutcome outcome;
    database.transaction([&] {
        // The entries as they stand, those this import adds included: a
        // second spelling of one network in the file adds to the first.
        std::vector<ListRow> known = lists.addresses();
        for (const ListsOnFile::Entry& entry : file.entries) {
            ListRow* row = nullptr;
            for (ListRow& candidate : known) {
                const auto* text = std::get_if<std::string>(&candidate.text);
                if (text && (*text == entry.entry || sameNetwork(*text, entry.entry))) {
                    row = &candidate;
                    break;
                }
            }
            if (!row) {
                const AddedRow added = lists.addAddress(entry.entry);
                if (added.outcome != RowChange::Done) {
                    outcome.steps.push_back(
                        {Kind::Entry, Result::Refused, entry.entry, {}, {}, {}, added.outcome});
                    continue;
                }
                row = &known.emplace_back(ListRow{added.id, entry.entry, {}});
                outcome.steps.push_back({Kind::Entry, Result::Added, entry.entry});
            } else if (const auto* text = std::get_if<std::string>(&row->text);
                       text && *text != entry.entry) {
                outcome.steps.push_back({Kind::Entry,
                                         Result::SameNetwork,
                                         entry.entry,
                                         {},
                                         row->name,
                                         {},
                                         RowChange::Duplicate,
                                         *text});
            }
            if (!entry.name.empty() && !row->name.empty() && row->name != entry.name) {
                outcome.steps.push_back({Kind::Name, Result::NameKept, entry.entry, entry.name, row->name});
            } else if (!entry.name.empty() && row->name.empty()) {
                const RowChange change = lists.nameAddress(row->id, entry.name);
                outcome.steps.push_back({Kind::Name,
                                         change == RowChange::Done ? Result::Added : Result::Refused,
                                         entry.entry,
                                         entry.name,
                                         {},
                                         {},
                                         change});
                if (change == RowChange::Done) {
                    row->name = entry.name;
                }
            }
            for (const ItemPaths& item : entry.items) {
                const bool onFile = lists.addItem({row->id}, item).duplicates > 0;
                outcome.steps.push_back(
                    {Kind::Item, onFile ? Result::OnFile : Result::Added, entry.entry, {}, {}, item.target});
                if (!onFile) {
                    outcome.addedItems.push_back(item);
                }
            }
        }
        for (const ItemPaths& item : file.disconnected) {
            const bool onFile = lists.addDisconnectedItem(item).outcome == RowChange::Duplicate;
            outcome.steps.push_back(
                {Kind::Item, onFile ? Result::OnFile : Result::Added, {}, {}, {}, item.target});
            if (!onFile) {
                outcome.addedItems.push_back(item);
            }
        }
    });
    return outcome;
}

} // namespace corvale
