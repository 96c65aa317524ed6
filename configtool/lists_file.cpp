#include "configtool/lists_file.h"

#include "platform/failure.h"
#include "shared/error_text.h"
#include "shared/file_safety.h"
#include "shared/launcher.h"
#include "shared/schema.h"

#include "platform/owned.h"
#include "shared/address_entries.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QStringDecoder>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvale::tool {

namespace {

QString unicode(const std::string& text, const std::string& where) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString decoded = decoder(QByteArrayView(text.data(), static_cast<qsizetype>(text.size())));
    if (decoder.hasError() || text.find('\0') != std::string::npos) {
        throw Failure(where + " is not UTF-8 text, which a lists file cannot carry: " + printablePath(text));
    }
    return decoded;
}

// A path under home as the file carries it, "~/..."; another as it is.
std::string homeRelative(const std::string& path, const std::string& home) {
    if (home.empty() || home == "/") {
        return path;
    }
    if (path == home) {
        return "~";
    }
    return path.rfind(home + "/", 0) == 0 ? "~" + path.substr(home.size()) : path;
}

// A path as the file carries it, for this user: "~/..." under home.
std::string underHome(const std::string& path, const std::string& home) {
    if (home.empty() || (path != "~" && path.rfind("~/", 0) != 0)) {
        return path;
    }
    return (home == "/" ? std::string() : home) + path.substr(1);
}

// When an item runs, as the file says it.
constexpr const char* kWhenArrival = "arrival";
constexpr const char* kWhenLeaving = "leaving";

// The items of a list that a file can carry; one whose path JSON cannot
// hold (a NUL byte, bytes that are not UTF-8) is passed over, and said.
QJsonArray itemsDocument(const std::vector<ItemPaths>& items, const std::string& list,
                         const std::string& home, std::vector<std::string>& passedOver) {
    QJsonArray array;
    for (const ItemPaths& item : items) {
        const std::string where = "An item of " + list;
        try {
            QJsonObject written{{"target", unicode(homeRelative(item.target, home), where)},
                                {"startIn", unicode(homeRelative(item.startIn, home), where)},
                                {"stopOnLeaving", item.stopOnLeave}};
            // An arrival item says nothing of when: the file stays as an
            // earlier release wrote it.
            if (item.onLeaving) {
                written.insert("when", kWhenLeaving);
            }
            array.append(written);
        } catch (const Failure& failure) {
            passedOver.push_back("item " + printablePath(item.target) + " of " + list + ": " +
                                 failure.what());
        }
    }
    return array;
}

// How large a lists file may be: thousands of items fit many times over.
constexpr qint64 kMegabyte = qint64{1024} * 1024;
constexpr qint64 kLargestListsFile = 4 * kMegabyte;

// The characters no entry or name can hold: the form's box takes one line.
bool holdsControlCharacters(const std::string& text) {
    return std::any_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; });
}

// The text at key of object, which must be there (or, where optional, may
// be left out); place says where the object is.
std::string textAt(const QJsonObject& object, const char* key, const std::string& place,
                   bool optional = false) {
    const QJsonValue value = object.value(key);
    if (value.isUndefined() && optional) {
        return {};
    }
    if (!value.isString()) {
        throw Failure(place + "." + key + ": a text is needed here");
    }
    return value.toString().toStdString();
}

std::vector<ItemPaths> itemsAt(const QJsonValue& value, const std::string& place, const std::string& home) {
    if (!value.isArray()) {
        throw Failure(place + ": a list of items is needed here");
    }
    std::vector<ItemPaths> items;
    const QJsonArray array = value.toArray();
    for (qsizetype i = 0; i < array.size(); ++i) {
        const std::string at = place + "[" + std::to_string(i) + "]";
        if (!array[i].isObject()) {
            throw Failure(at + ": an item (an object with a target) is needed here");
        }
        const QJsonObject item = array[i].toObject();
        const QJsonValue stop = item.value("stopOnLeaving");
        if (!stop.isUndefined() && !stop.isBool()) {
            throw Failure(at + ".stopOnLeaving: true or false is needed here");
        }
        const QJsonValue when = item.value("when");
        if (!when.isUndefined() && when != QJsonValue(kWhenArrival) && when != QJsonValue(kWhenLeaving)) {
            throw Failure(at + ".when: \"arrival\" or \"leaving\" is needed here");
        }
        const bool leaving = when == QJsonValue(kWhenLeaving);
        items.push_back({underHome(textAt(item, "target", at), home),
                         underHome(textAt(item, "startIn", at, true), home), stop.toBool(false) && !leaving,
                         leaving});
        if (items.back().target.empty()) {
            throw Failure(at + ".target: it is empty");
        }
        for (const auto& [text, key] :
             {std::pair{items.back().target, ".target"}, {items.back().startIn, ".startIn"}}) {
            if (text.find('\0') != std::string::npos) {
                throw Failure(at + key + ": it holds a NUL character");
            }
        }
    }
    return items;
}

std::string databaseBeside(const std::string& programFolder) {
    const std::string path = programFolder + "/" + kDatabaseFileName;
    return requirePrivateFile(path);
}

} // namespace

std::string listsDocument(const ListsOnFile& lists, const std::string& home,
                          std::vector<std::string>& passedOver) {
    QJsonArray entries;
    for (const ListsOnFile::Entry& entry : lists.entries) {
        QJsonObject object{{"entry", unicode(entry.entry, "An entry")},
                           {"items", itemsDocument(entry.items, entry.entry, home, passedOver)}};
        if (!entry.name.empty()) {
            object.insert("name", unicode(entry.name, "The name of " + entry.entry));
        }
        entries.append(object);
    }
    const QJsonObject document{
        {"corvale-lists", kListsFileVersion},
        {"entries", entries},
        {"disconnected", itemsDocument(lists.disconnected, "the disconnected list", home, passedOver)}};
    return QJsonDocument(document).toJson(QJsonDocument::Indented).toStdString();
}

ListsOnFile readListsDocument(const std::string& text, const std::string& home) {
    QJsonParseError error{};
    const QJsonDocument document =
        QJsonDocument::fromJson(QByteArray(text.data(), static_cast<qsizetype>(text.size())), &error);
    if (document.isNull()) {
        throw Failure("at character " + std::to_string(error.offset) + ": " +
                      error.errorString().toStdString());
    }
    if (!document.isObject()) {
        throw Failure("the document: an object with \"corvale-lists\" is needed");
    }
    const QJsonObject top = document.object();
    const int version = top.value("corvale-lists").toInt(0);
    if (version < 1 || version > kListsFileVersion) {
        throw Failure("corvale-lists: this program reads versions 1 to " + std::to_string(kListsFileVersion) +
                      " of the lists file");
    }
    ListsOnFile lists;
    const QJsonValue entries = top.value("entries");
    if (!entries.isArray()) {
        throw Failure("entries: a list of entries is needed here");
    }
    const QJsonArray array = entries.toArray();
    for (qsizetype i = 0; i < array.size(); ++i) {
        const std::string at = "entries[" + std::to_string(i) + "]";
        if (!array[i].isObject()) {
            throw Failure(at + ": an entry (an object) is needed here");
        }
        const QJsonObject entry = array[i].toObject();
        lists.entries.push_back({textAt(entry, "entry", at), textAt(entry, "name", at, true),
                                 itemsAt(entry.value("items"), at + ".items", home)});
        const ListsOnFile::Entry& added = lists.entries.back();
        // Only what the tool itself would take: one line, and an entry
        // Brisken can choose.
        if (added.entry.empty()) {
            throw Failure(at + ".entry: it is empty");
        }
        if (holdsControlCharacters(added.entry)) {
            throw Failure(at + ".entry: it holds a line break or another control character: " +
                          printablePath(added.entry));
        }
        if (const std::string why = whyEntryNeverMatches(added.entry); !why.empty()) {
            std::string fault = at + ".entry: " + printablePath(added.entry);
            fault += " is no entry Brisken can choose: " + why;
            throw Failure(fault);
        }
        if (holdsControlCharacters(added.name)) {
            throw Failure(at + ".name: it holds a line break or another control character: " +
                          printablePath(added.name));
        }
    }
    if (const QJsonValue disconnected = top.value("disconnected"); !disconnected.isUndefined()) {
        lists.disconnected = itemsAt(disconnected, "disconnected", home);
    }
    return lists;
}

std::string homeFolder() {
    if (const char* home = std::getenv("HOME"); home && *home == '/') {
        return std::filesystem::path(home).lexically_normal().string();
    }
    const struct passwd* account = ::getpwuid(::geteuid());
    return account && account->pw_dir ? account->pw_dir : std::string();
}

int exportLists(const std::string& programFolder, const std::string& file) {
    try {
        Database database(databaseBeside(programFolder), Database::Access::ReadOnly);
        std::vector<std::string> passedOver;
        const std::string document = listsDocument(corvale::exportLists(database), homeFolder(), passedOver);
        // A link there could lead anywhere: nothing is written through it.
        struct stat there {};
        if (::lstat(file.c_str(), &there) == 0 && S_ISLNK(there.st_mode)) {
            throw Failure("The file " + file + " is a link; nothing is written through it.");
        }
        // Written beside it and put in its place whole: a failed write
        // leaves the file that was there as it was.
        QSaveFile out(QString::fromStdString(file));
        out.setDirectWriteFallback(false);
        if (!out.open(QIODevice::WriteOnly) ||
            out.write(document.data(), static_cast<qint64>(document.size())) !=
                static_cast<qint64>(document.size()) ||
            !out.commit()) {
            throw Failure("The file " + file + " could not be written: " + out.errorString().toStdString());
        }
        for (const std::string& line : passedOver) {
            std::printf("passed over %s\n", line.c_str());
        }
        std::printf("corvale: the lists of %s are in %s\n", database.path().c_str(), file.c_str());
        return 0;
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "corvale: nothing exported: %s\n", failure.what());
        return 1;
    }
}

namespace {

// What a step of an import was about, in words: "entry 10.20", "name Office
// of 10.20", "item /usr/bin/mail of the disconnected list".
std::string importedThing(const ImportStep& step) {
    const std::string list = step.entry.empty() ? "the disconnected list" : step.entry;
    switch (step.kind) {
    case ImportStep::Kind::Entry:
        return "entry " + step.entry;
    case ImportStep::Kind::Name:
        return "name " + step.name + " of " + step.entry;
    case ImportStep::Kind::Item:
        break;
    }
    return "item " + step.target + " of " + list;
}

std::string whyPassedOver(const ImportStep& step) {
    switch (step.result) {
    case ImportStep::Result::OnFile:
        return "on file already";
    case ImportStep::Result::NameKept:
        return "kept the name " + step.nameOnFile + "; the file's " + step.name + " passed over";
    case ImportStep::Result::SameNetwork:
        return "the same network as " + step.entryOnFile +
               (step.nameOnFile.empty() ? "" : " (" + step.nameOnFile + ")") +
               ", which is on file; its items go to that entry's list";
    case ImportStep::Result::Refused:
    case ImportStep::Result::Added:
        break;
    }
    switch (step.why) {
    case RowChange::Duplicate:
        return "another entry has it";
    case RowChange::TooLong:
        return "it is longer than " + std::to_string(kLongestEntryName) + " characters";
    case RowChange::ReadsAsAnEntry:
        return "it reads as an entry";
    default:
        return "its entry is gone";
    }
}

// The file's text: a regular file, and no larger than a lists file is.
std::string listsFileText(const std::string& file) {
    const int descriptor = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0) {
        throw Failure(systemDescription("The file " + file + " could not be read", errno));
    }
    const platform::FileDescriptor owned(descriptor);
    struct stat info {};
    if (::fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode)) {
        throw Failure("The file " + file + " is not a regular file.");
    }
    std::string text;
    char buffer[65536];
    for (ssize_t got; (got = ::read(descriptor, buffer, sizeof buffer)) != 0;) {
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw Failure(systemDescription("The file " + file + " could not be read", errno));
        }
        text.append(buffer, static_cast<std::size_t>(got));
        if (static_cast<qint64>(text.size()) > kLargestListsFile) {
            throw Failure("The file " + file + " is larger than a lists file may be (" +
                          std::to_string(kLargestListsFile / kMegabyte) + " MB).");
        }
    }
    return text;
}

} // namespace

int importLists(const std::string& programFolder, const std::string& file) {
    try {
        const std::string text = listsFileText(file);
        ListsOnFile lists;
        try {
            lists = readListsDocument(text, homeFolder());
        } catch (const std::exception& fault) {
            throw Failure(file + ": " + fault.what());
        }
        Database database(databaseBeside(programFolder));
        const ImportOutcome outcome = corvale::importLists(database, lists);
        std::size_t added = 0;
        for (const ImportStep& step : outcome.steps) {
            added += step.added() ? 1 : 0;
            if (step.added()) {
                std::printf("added %s\n", printablePath(importedThing(step)).c_str());
            }
        }
        for (const ImportStep& step : outcome.steps) {
            if (!step.added()) {
                std::printf("passed over %s: %s\n", printablePath(importedThing(step)).c_str(),
                            printablePath(whyPassedOver(step)).c_str());
            }
        }
        // Another account's script would run at each logon: Brisken refuses
        // it, and the user hears of it now.
        for (const ItemPaths& item : outcome.addedItems) {
            if (const auto other = otherWriterOf(itemTargetFile(item.target, item.startIn, programFolder))) {
                std::printf("warning: %s: %s (%s), so Brisken does not start it\n",
                            printablePath(item.target).c_str(), otherWriterReason(*other).c_str(),
                            printablePath(other->what).c_str());
            }
        }
        std::printf("corvale: %zu added, %zu passed over, from %s\n", added, outcome.steps.size() - added,
                    file.c_str());
        return 0;
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "corvale: nothing imported: %s\n", failure.what());
        return 1;
    }
}

} // namespace corvale::tool
