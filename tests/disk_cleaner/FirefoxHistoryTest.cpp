// The Firefox history item on places databases that the tests build with SQLite.
#include "FirefoxTestSupport.h"

#include <disk_cleaner/firefox_history.h>

#include <sqlite3.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>

using namespace diskcleaner;
using namespace firefoxtest;

namespace {

// A connection of the test's own, standing for Firefox or for whoever else uses the file.
class Connection final
{
public:
    explicit Connection(const std::string &path)
    {
        if (sqlite3_open_v2(path.c_str(), &m_database, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                            nullptr) != SQLITE_OK)
            throw std::runtime_error("cannot open " + path);
    }
    ~Connection() { sqlite3_close(m_database); }
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    void run(const std::string &sql) const
    {
        char *message = nullptr;
        if (sqlite3_exec(m_database, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
            const std::string text = message ? message : "?";
            sqlite3_free(message);
            throw std::runtime_error(sql + ": " + text);
        }
    }

    std::int64_t number(const std::string &sql) const
    {
        sqlite3_stmt *statement = nullptr;
        if (sqlite3_prepare_v2(m_database, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK)
            throw std::runtime_error(sql + ": " + sqlite3_errmsg(m_database));
        const bool row = sqlite3_step(statement) == SQLITE_ROW;
        const std::int64_t value = row ? sqlite3_column_int64(statement, 0) : -1;
        sqlite3_finalize(statement);
        return value;
    }

private:
    sqlite3 *m_database = nullptr;
};

// The tables of a places database, as far as the item and these tests care.
constexpr const char *placesSchema = R"(
CREATE TABLE moz_places (id INTEGER PRIMARY KEY, url LONGVARCHAR, title LONGVARCHAR,
    rev_host LONGVARCHAR, visit_count INTEGER DEFAULT 0, hidden INTEGER DEFAULT 0 NOT NULL,
    typed INTEGER DEFAULT 0 NOT NULL, frecency INTEGER DEFAULT -1 NOT NULL,
    last_visit_date INTEGER, guid TEXT, foreign_count INTEGER DEFAULT 0 NOT NULL,
    url_hash INTEGER DEFAULT 0 NOT NULL);
CREATE TABLE moz_historyvisits (id INTEGER PRIMARY KEY, from_visit INTEGER, place_id INTEGER,
    visit_date INTEGER, visit_type INTEGER, session INTEGER, source INTEGER DEFAULT 0 NOT NULL,
    triggeringPlaceId INTEGER);
CREATE INDEX moz_historyvisits_placedateindex ON moz_historyvisits (place_id, visit_date);
CREATE TABLE moz_bookmarks (id INTEGER PRIMARY KEY, type INTEGER, fk INTEGER DEFAULT NULL,
    parent INTEGER, position INTEGER, title LONGVARCHAR);
)";

constexpr int placeCount = 50;
constexpr int visitCount = 3000;
constexpr int bookmarkCount = 7;

// Fills a places database: 50 places, 3000 visits, 7 bookmarks.
void fillPlaces(const std::string &path, const std::string &journalMode)
{
    const Connection database(path);
    database.run("PRAGMA journal_mode=" + journalMode);
    database.run(placesSchema);
    database.run("BEGIN");
    for (int place = 1; place <= placeCount; ++place)
        database.run("INSERT INTO moz_places (id, url, title, visit_count) VALUES (" +
                     std::to_string(place) + ", 'https://example.com/page/" +
                     std::to_string(place) + "', 'Page " + std::to_string(place) + "', 60)");
    for (int visit = 1; visit <= visitCount; ++visit)
        database.run("INSERT INTO moz_historyvisits (from_visit, place_id, visit_date, "
                     "visit_type, session) VALUES (0, " +
                     std::to_string(visit % placeCount + 1) + ", " +
                     std::to_string(1700000000000000LL + visit) + ", 1, 0)");
    for (int bookmark = 1; bookmark <= bookmarkCount; ++bookmark)
        database.run("INSERT INTO moz_bookmarks (type, fk, parent, position, title) VALUES (1, " +
                     std::to_string(bookmark) + ", 3, " + std::to_string(bookmark) +
                     ", 'Bookmark')");
    database.run("COMMIT");
}

// The bytes of a file; a mark for a folder.
std::string readAll(const std::string &path)
{
    if (std::filesystem::is_directory(path))
        return "<folder>";
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class FirefoxHistoryTest : public FirefoxTest
{
protected:
    std::string placesPath() const { return m_prefix.hostPath(profile() + "/places.sqlite"); }
};

// ---------------------------------------------------------------------------------------------
// Counting and deleting, in both journal modes the file may be in (Firefox uses WAL).

class FirefoxHistoryModeTest :
    public FirefoxHistoryTest,
    public ::testing::WithParamInterface<const char *>
{};

TEST_P(FirefoxHistoryModeTest, CountsTheVisits)
{
    useRelativeProfile();
    m_prefix.makeFolder(profile());
    fillPlaces(placesPath(), GetParam());
    firefox_history item;
    item.Scan();
    EXPECT_EQ(item.GetItemsFound(), std::uint64_t(visitCount));
    // Without a History.dat there are no bytes to show.
    EXPECT_EQ(item.GetBytesFound(), 0u);
    FileList files;
    item.GetFileList(files);
    EXPECT_TRUE(files.empty());
    // The count changes nothing.
    EXPECT_EQ(Connection(placesPath()).number("SELECT COUNT(*) FROM moz_historyvisits"),
              visitCount);
}

TEST_P(FirefoxHistoryModeTest, DeletesTheVisitsAndCompactsTheFile)
{
    useRelativeProfile();
    m_prefix.makeFolder(profile());
    fillPlaces(placesPath(), GetParam());
    m_prefix.writeFile(profile() + "/History.dat", "old history");
    const auto sizeBefore = std::filesystem::file_size(placesPath());

    firefox_history item;
    item.Scan();
    EXPECT_EQ(item.GetItemsFound(), std::uint64_t(visitCount));
    EXPECT_EQ(item.GetBytesFound(), 11u);
    item.Clean();
    // The file and every visit, each really removed.
    EXPECT_EQ(item.GetItemsCleaned(), std::uint64_t(visitCount) + 1);
    EXPECT_EQ(item.GetBytesCleaned(), 11u);
    EXPECT_FALSE(present(profile() + "/History.dat"));

    EXPECT_LT(std::filesystem::file_size(placesPath()), sizeBefore);
    const Connection database(placesPath());
    EXPECT_EQ(database.number("SELECT COUNT(*) FROM moz_historyvisits"), 0);
    EXPECT_EQ(database.number("SELECT COUNT(*) FROM moz_places"), placeCount);
    EXPECT_EQ(database.number("SELECT SUM(visit_count) FROM moz_places"), 60 * placeCount);
    EXPECT_EQ(database.number("SELECT COUNT(*) FROM moz_bookmarks"), bookmarkCount);
    EXPECT_EQ(database.number("PRAGMA freelist_count"), 0);

    // Nothing is left to find, and a second clean removes nothing.
    item.Scan();
    EXPECT_EQ(item.GetItemsFound(), 0u);
    item.Clean();
    EXPECT_EQ(item.GetItemsCleaned(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Firefox, FirefoxHistoryModeTest, ::testing::Values("wal", "delete"));

// A trigger stored in the file does not run: deleting the visits changes that table only.
TEST_F(FirefoxHistoryTest, StoredTriggerDoesNotRun)
{
    useRelativeProfile();
    m_prefix.makeFolder(profile());
    fillPlaces(placesPath(), "wal");
    Connection(placesPath())
            .run("CREATE TRIGGER wipe AFTER DELETE ON moz_historyvisits BEGIN "
                 "DELETE FROM moz_bookmarks; END");
    firefox_history item;
    item.Scan();
    item.Clean();
    EXPECT_EQ(item.GetItemsCleaned(), std::uint64_t(visitCount));
    EXPECT_EQ(Connection(placesPath()).number("SELECT COUNT(*) FROM moz_bookmarks"), bookmarkCount);
}

// ---------------------------------------------------------------------------------------------
// Databases that must be left alone: nothing counted from them, not a byte changed.

struct BadDatabase
{
    const char *name;
    // Makes the bad database (its place is placesPath) and returns whatever must stay alive
    // while the item works, such as a connection holding a lock.
    std::function<std::shared_ptr<void>(const TestPrefix &, const std::string &path)> make;
    // The host file whose bytes must not change; empty for the places file itself.
    std::function<std::string(const TestPrefix &)> watched;
};

// Test names show the row's name.
void PrintTo(const BadDatabase &row, std::ostream *out)
{
    *out << row.name;
}

class FirefoxBadDatabaseTest :
    public FirefoxHistoryTest,
    public ::testing::WithParamInterface<BadDatabase>
{};

TEST_P(FirefoxBadDatabaseTest, IsLeftUntouched)
{
    useRelativeProfile();
    m_prefix.makeFolder(profile());
    const std::shared_ptr<void> holder = GetParam().make(m_prefix, placesPath());
    const std::string watched = GetParam().watched ? GetParam().watched(m_prefix) : placesPath();
    const bool existed = TestPrefix::exists(watched);
    const std::string before = readAll(watched);

    firefox_history item;
    item.Scan();
    EXPECT_EQ(item.GetItemsFound(), 0u);
    EXPECT_EQ(item.GetBytesFound(), 0u);
    item.Clean();
    EXPECT_EQ(item.GetItemsCleaned(), 0u);
    EXPECT_EQ(item.GetBytesCleaned(), 0u);
    EXPECT_EQ(TestPrefix::exists(watched), existed);
    EXPECT_TRUE(readAll(watched) == before);
}

std::shared_ptr<void> nothing()
{
    return nullptr;
}

// A connection that keeps the database locked, as Firefox keeps it while it runs.
std::shared_ptr<void> lockedBy(const std::string &path, const char *journalMode)
{
    auto connection = std::make_shared<Connection>(path);
    connection->run("PRAGMA journal_mode=" + std::string(journalMode));
    connection->run("PRAGMA locking_mode=EXCLUSIVE");
    connection->run("BEGIN EXCLUSIVE");
    connection->run("INSERT INTO moz_bookmarks (type) VALUES (2)");
    return connection;
}

const BadDatabase badDatabases[] = {
        {"Missing", [](const TestPrefix &, const std::string &) { return nothing(); }, {}},
        {"NotADatabase",
         [](const TestPrefix &, const std::string &path) {
             std::ofstream(path) << std::string(8192, 'x');
             return nothing();
         },
         {}},
        {"Empty",
         [](const TestPrefix &, const std::string &path) {
             std::ofstream{path};
             return nothing();
         },
         {}},
        {"NoVisitTable",
         [](const TestPrefix &, const std::string &path) {
             Connection(path).run("CREATE TABLE moz_places (id INTEGER PRIMARY KEY, url TEXT);"
                                  "INSERT INTO moz_places (url) VALUES ('https://example.com')");
             return nothing();
         },
         {}},
        {"VisitsAreAView",
         [](const TestPrefix &, const std::string &path) {
             Connection(path).run("CREATE TABLE moz_places (id INTEGER PRIMARY KEY, url TEXT);"
                                  "CREATE VIEW moz_historyvisits AS SELECT id FROM moz_places;"
                                  "INSERT INTO moz_places (url) VALUES ('https://example.com')");
             return nothing();
         },
         {}},
        // A page of the file overwritten: the visits could still be read and deleted, but the
        // file is damaged and is not touched.
        {"DamagedPage",
         [](const TestPrefix &, const std::string &path) {
             fillPlaces(path, "delete");
             const auto size = std::filesystem::file_size(path);
             std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
             file.seekp(static_cast<std::streamoff>(size - 4096));
             file << std::string(4096, '\xA5');
             return nothing();
         },
         {}},
        {"LockedRollbackJournal",
         [](const TestPrefix &, const std::string &path) {
             fillPlaces(path, "delete");
             return lockedBy(path, "delete");
         },
         {}},
        {"LockedWal",
         [](const TestPrefix &, const std::string &path) {
             fillPlaces(path, "wal");
             return lockedBy(path, "wal");
         },
         {}},
        // A link in place of the file: the database it leads to, outside the profile, stays.
        {"Link",
         [](const TestPrefix &prefix, const std::string &path) {
             const std::string target = prefix.hostPath("elsewhere/places.sqlite");
             std::filesystem::create_directories(std::filesystem::path(target).parent_path());
             fillPlaces(target, "delete");
             std::filesystem::create_symlink(target, path);
             return nothing();
         },
         [](const TestPrefix &prefix) {
             return prefix.hostPath("elsewhere/places.sqlite");
         }},
        {"Folder",
         [](const TestPrefix &, const std::string &path) {
             std::filesystem::create_directories(path);
             return nothing();
         },
         {}},
};

INSTANTIATE_TEST_SUITE_P(Firefox, FirefoxBadDatabaseTest, ::testing::ValuesIn(badDatabases),
                         [](const auto &info) { return std::string(info.param.name); });

// Another program writing to the database: its visits may be counted, but none is deleted.
TEST_F(FirefoxHistoryTest, DatabaseBeingWrittenKeepsItsVisits)
{
    useRelativeProfile();
    m_prefix.makeFolder(profile());
    fillPlaces(placesPath(), "delete");
    const Connection writer(placesPath());
    writer.run("BEGIN IMMEDIATE");
    writer.run("INSERT INTO moz_bookmarks (type) VALUES (2)");
    firefox_history item;
    item.Scan();
    EXPECT_EQ(item.GetItemsFound(), std::uint64_t(visitCount));
    item.Clean();
    EXPECT_EQ(item.GetItemsCleaned(), 0u);
    writer.run("COMMIT");
    EXPECT_EQ(writer.number("SELECT COUNT(*) FROM moz_historyvisits"), visitCount);
}

} // namespace
