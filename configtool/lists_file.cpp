#include "configtool/lists_file.h"

#include "platform/failure.h"
#include "shared/error_text.h"
#include "shared/file_safety.h"
#include "shared/launcher.h"
#include "shared/schema.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringDecoder>
#include <cstdio>
#include <fstream>
#include <sstream>

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

QJsonArray itemsDocument(const std::vector<ItemPaths>& items, const std::string& list) {
    QJsonArray array;
    for (const ItemPaths& item : items) {
        const std::string where = "An item of " + list;
        array.append(QJsonObject{{"target", unicode(item.target, where)},
                                 {"startIn", unicode(item.startIn, where)},
                                 {"stopOnLeaving", item.stopOnLeave}});
    }
    return array;
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

std::vector<ItemPaths> itemsAt(const QJsonValue& value, const std::string& place) {
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
        items.push_back({textAt(item, "target", at), textAt(item, "startIn", at, true), stop.toBool(false)});
        if (items.back().target.empty()) {
            throw Failure(at + ".target: it is empty");
        }
    }
    return items;
}

std::string databaseBeside(const std::string& programFolder) {
    const std::string path = programFolder + "/" + kDatabaseFileName;
    return requirePrivateFile(path);
}

} // namespace

std::string listsDocument(const ListsOnFile& lists) {
    QJsonArray entries;
    for (const ListsOnFile::Entry& entry : lists.entries) {
        QJsonObject object{{"entry", unicode(entry.entry, "An entry")},
                           {"items", itemsDocument(entry.items, entry.entry)}};
        if (!entry.name.empty()) {
            object.insert("name", unicode(entry.name, "The name of " + entry.entry));
        }
        entries.append(object);
    }
    const QJsonObject document{{"corvale-lists", kListsFileVersion},
                               {"entries", entries},
                               {"disconnected", itemsDocument(lists.disconnected, "the disconnected list")}};
    return QJsonDocument(document).toJson(QJsonDocument::Indented).toStdString();
}

ListsOnFile readListsDocument(const std::string& text) {
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
    if (top.value("corvale-lists").toInt(0) != kListsFileVersion) {
        throw Failure("corvale-lists: this program reads version " + std::to_string(kListsFileVersion) +
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
                                 itemsAt(entry.value("items"), at + ".items")});
        if (lists.entries.back().entry.empty()) {
            throw Failure(at + ".entry: it is empty");
        }
    }
    if (const QJsonValue disconnected = top.value("disconnected"); !disconnected.isUndefined()) {
        lists.disconnected = itemsAt(disconnected, "disconnected");
    }
    return lists;
}

int exportLists(const std::string& programFolder, const std::string& file) {
    try {
        Database database(databaseBeside(programFolder), Database::Access::ReadOnly);
        const std::string document = listsDocument(StartupLists(database).exportLists());
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        if (!(out << document) || !out.flush()) {
            throw Failure("The file " + file + " could not be written.");
        }
        std::printf("corvale: the lists of %s are in %s\n", database.path().c_str(), file.c_str());
        return 0;
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "corvale: nothing exported: %s\n", failure.what());
        return 1;
    }
}

int importLists(const std::string& programFolder, const std::string& file) {
    try {
        std::ifstream in(file, std::ios::binary);
        std::ostringstream text;
        if (!in || !(text << in.rdbuf())) {
            throw Failure("The file " + file + " could not be read.");
        }
        ListsOnFile lists;
        try {
            lists = readListsDocument(text.str());
        } catch (const std::exception& fault) {
            throw Failure(file + ": " + fault.what());
        }
        Database database(databaseBeside(programFolder));
        const ImportOutcome outcome = StartupLists(database).importLists(lists);
        for (const std::string& line : outcome.added) {
            std::printf("added %s\n", printablePath(line).c_str());
        }
        for (const std::string& line : outcome.passedOver) {
            std::printf("passed over %s\n", printablePath(line).c_str());
        }
        std::printf("corvale: %zu added, %zu passed over, from %s\n", outcome.added.size(),
                    outcome.passedOver.size(), file.c_str());
        return 0;
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "corvale: nothing imported: %s\n", failure.what());
        return 1;
    }
}

} // namespace corvale::tool
