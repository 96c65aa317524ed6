// The least a program could do with the database: open it and read the list.
#include <sqlite3.h>

int main(int argc, char** argv) {
    if (argc != 2) {
        return 2;
    }
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(argv[1], &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        return 1;
    }
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(db, "Select TargetPath,StartinPath from DisConnectedList order by ListOrder", -1,
                       &statement, nullptr);
    while (sqlite3_step(statement) == SQLITE_ROW) {
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return 0;
}
