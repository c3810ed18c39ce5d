#include <disk_cleaner/firefox_history.h>

#include <disk_cleaner/Trace.h>

#include <platform/FileSystem.h>
#include <platform/Machine.h>

#include <sqlite3.h>

#include <memory>
#include <string>

namespace diskcleaner {

namespace {

constexpr const char *countStatement = "SELECT COUNT(*) FROM moz_historyvisits";
constexpr const char *deleteStatement = "DELETE FROM moz_historyvisits";
constexpr const char *compactStatement = "VACUUM";

struct DatabaseCloser
{
    void operator()(sqlite3 *database) const { sqlite3_close(database); }
};
using Database = std::unique_ptr<sqlite3, DatabaseCloser>;

struct StatementFinalizer
{
    void operator()(sqlite3_stmt *statement) const { sqlite3_finalize(statement); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

Statement prepare(sqlite3 *database, const char *text)
{
    sqlite3_stmt *statement = nullptr;
    if (sqlite3_prepare_v2(database, text, -1, &statement, nullptr) != SQLITE_OK) {
        sqlite3_finalize(statement);
        return nullptr;
    }
    return Statement(statement);
}

bool execute(sqlite3 *database, const char *text)
{
    return sqlite3_exec(database, text, nullptr, nullptr, nullptr) == SQLITE_OK;
}

// Opens an existing database for reading and writing. Nothing is created, a link in place of the
// file is refused, and a lock held by another program makes every statement fail at once rather
// than wait: the browser is then running, and its database is left alone.
Database openDatabase(std::u16string_view databasePath)
{
    if (!platform::Machine::hasCurrent())
        return nullptr;
    const platform::FileSystem &fileSystem = platform::Machine::current().fileSystem();
    const std::optional<platform::DirectoryEntry> entry = fileSystem.entry(databasePath);
    if (!entry ||
        (entry->attributes & (platform::AttributeDirectory | platform::AttributeReparsePoint |
                              platform::AttributeOffline)))
        return nullptr;
    const std::string hostPath = fileSystem.hostPath(databasePath);
    if (hostPath.empty())
        return nullptr;
    sqlite3 *handle = nullptr;
    const int result = sqlite3_open_v2(hostPath.c_str(), &handle,
                                       SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW, nullptr);
    Database database(handle);
    if (result != SQLITE_OK)
        return nullptr;
    sqlite3_busy_timeout(handle, 0);
    // The file comes from elsewhere: nothing stored in it may run code of its own. Without
    // triggers, deleting the visits changes that one table and nothing else.
    sqlite3_db_config(handle, SQLITE_DBCONFIG_ENABLE_TRIGGER, 0, nullptr);
    sqlite3_db_config(handle, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
    sqlite3_db_config(handle, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    return database;
}

// True when the database is intact and has the visit table. Runs inside a transaction, so the
// answer still holds for the statements that follow in it.
bool usable(sqlite3 *database)
{
    const Statement integrity = prepare(database, "PRAGMA quick_check(1)");
    if (!integrity || sqlite3_step(integrity.get()) != SQLITE_ROW)
        return false;
    const unsigned char *verdict = sqlite3_column_text(integrity.get(), 0);
    if (!verdict || std::string_view(reinterpret_cast<const char *>(verdict)) != "ok")
        return false;
    const Statement table = prepare(database, "SELECT 1 FROM sqlite_schema WHERE type = 'table' "
                                              "AND name = 'moz_historyvisits'");
    return table && sqlite3_step(table.get()) == SQLITE_ROW;
}

void traceUnopened(std::u16string_view databasePath)
{
    Trace(u"%hs: Unable to find or open places.sqlite database in %s", "", databasePath);
}

} // namespace

firefox_history::firefox_history()
{
    Title = u"Firefox History";
    Description = u"Removes Firefox history records";
}

std::optional<std::uint64_t> firefox_history::CountVisits(std::u16string_view databasePath)
{
    const Database database = openDatabase(databasePath);
    if (!database) {
        traceUnopened(databasePath);
        return std::nullopt;
    }
    if (!execute(database.get(), "BEGIN"))
        return std::nullopt;
    std::optional<std::uint64_t> count;
    if (usable(database.get())) {
        const Statement statement = prepare(database.get(), countStatement);
        if (statement && sqlite3_step(statement.get()) == SQLITE_ROW) {
            const sqlite3_int64 visits = sqlite3_column_int64(statement.get(), 0);
            if (visits >= 0)
                count = static_cast<std::uint64_t>(visits);
        }
    }
    execute(database.get(), "ROLLBACK");
    return count;
}

std::optional<std::uint64_t> firefox_history::DeleteVisits(std::u16string_view databasePath)
{
    const Database database = openDatabase(databasePath);
    if (!database) {
        traceUnopened(databasePath);
        return std::nullopt;
    }
    // The write lock first: with it, no other program can change the database between the checks
    // and the deletion.
    if (!execute(database.get(), "BEGIN IMMEDIATE") || !usable(database.get())) {
        execute(database.get(), "ROLLBACK");
        Trace(u"I cannot open Firefox' history file, is Firefox still running?");
        return std::nullopt;
    }
    std::optional<std::uint64_t> deleted;
    if (const Statement statement = prepare(database.get(), deleteStatement)) {
        Trace(u"%hs: prepared \"%hs\"", "", deleteStatement);
        if (sqlite3_step(statement.get()) == SQLITE_DONE)
            deleted = static_cast<std::uint64_t>(sqlite3_changes64(database.get()));
    } else {
        Trace(u"I cannot open Firefox' history file, is Firefox still running?");
    }
    if (!deleted || !execute(database.get(), "COMMIT")) {
        execute(database.get(), "ROLLBACK");
        return std::nullopt;
    }
    if (!execute(database.get(), compactStatement))
        Trace(u"%hs: could not compact %s", "", databasePath);
    return deleted;
}

void firefox_history::DoScan(bool)
{
    ScanProfileFiles({u"History.dat"});
    if (!ProfileLocation().located)
        return;
    const std::u16string databasePath = ProfilePath(u"places.sqlite");
    Trace(u"%hs: placesfolder = %s", "", databasePath);
    if (const std::optional<std::uint64_t> visits = CountVisits(databasePath))
        ItemsFound = *visits;
}

void firefox_history::Clean()
{
    ItemsCleaned = 0;
    BytesCleaned = 0;
    CleanFile({u"History.dat"}, u"Unable to delete firefox history");
    if (!ProfileLocation().located)
        return;
    const std::u16string databasePath = ProfilePath(u"places.sqlite");
    if (const std::optional<std::uint64_t> visits = DeleteVisits(databasePath))
        ItemsCleaned += *visits;
}

} // namespace diskcleaner
