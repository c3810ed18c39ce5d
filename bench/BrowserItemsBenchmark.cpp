// bench_browser_items: times the Firefox history item and the Internet Explorer cache item on data
// of a realistic size.
//
//   bench_browser_items [--visits N] [--entries N] [FOLDER]
//
// Builds a small Wine prefix in FOLDER (default: a new folder under /tmp) holding
//   - a Firefox profile whose places.sqlite (WAL mode, as Firefox keeps it) has N visits
//     (default 200000) over N/20 places;
//   - a URL cache whose content index has N entries (default 2000), each with a cached file of
//     1 KiB in one of four cache folders,
// then times, once each (a clean changes what it measures):
//   - firefox_history::Scan(), which checks the database's integrity and its visit table before
//     counting, against a bare "SELECT COUNT(*)" through SQLite on the same file;
//   - firefox_history::Clean(): the deletion of every visit and the compaction;
//   - ie_cache::Scan() and ie_cache::Clean(), which removes entry by entry through the URL cache.

#include <disk_cleaner/firefox_base.h>
#include <disk_cleaner/firefox_history.h>
#include <disk_cleaner/ie_cache.h>

#include <platform/Machine.h>
#include <platform/PrefixMachine.h>

#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

double timed(const std::function<void()> &work)
{
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void check(bool condition, const char *what)
{
    if (!condition) {
        std::fprintf(stderr, "bench_browser_items: %s\n", what);
        std::exit(1);
    }
}

void sql(sqlite3 *database, const std::string &text)
{
    char *message = nullptr;
    if (sqlite3_exec(database, text.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
        std::fprintf(stderr, "bench_browser_items: %s: %s\n", text.c_str(),
                     message ? message : "?");
        std::exit(1);
    }
}

void writePlaces(const std::string &path, long visits)
{
    sqlite3 *database = nullptr;
    check(sqlite3_open(path.c_str(), &database) == SQLITE_OK, "cannot make places.sqlite");
    sql(database, "PRAGMA journal_mode=WAL");
    sql(database, "CREATE TABLE moz_places (id INTEGER PRIMARY KEY, url LONGVARCHAR, title "
                  "LONGVARCHAR, rev_host LONGVARCHAR, visit_count INTEGER DEFAULT 0, "
                  "last_visit_date INTEGER, guid TEXT, foreign_count INTEGER DEFAULT 0);"
                  "CREATE TABLE moz_historyvisits (id INTEGER PRIMARY KEY, from_visit INTEGER, "
                  "place_id INTEGER, visit_date INTEGER, visit_type INTEGER, session INTEGER, "
                  "source INTEGER DEFAULT 0, triggeringPlaceId INTEGER);"
                  "CREATE INDEX moz_historyvisits_placedateindex ON moz_historyvisits "
                  "(place_id, visit_date);"
                  "CREATE INDEX moz_historyvisits_dateindex ON moz_historyvisits (visit_date);");
    const long places = visits / 20 + 1;
    sql(database, "BEGIN");
    sql(database, "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " +
                          std::to_string(places) +
                          ") INSERT INTO moz_places (id, url, title, rev_host, visit_count, "
                          "guid) SELECT i, 'https://www.example.com/some/page/' || i || "
                          "'?query=value', 'A page title ' || i, 'moc.elpmaxe.www.', 20, "
                          "hex(randomblob(6)) FROM n");
    sql(database, "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " +
                          std::to_string(visits) +
                          ") INSERT INTO moz_historyvisits (from_visit, place_id, visit_date, "
                          "visit_type, session) SELECT 0, i % " +
                          std::to_string(places) +
                          " + 1, 1700000000000000 + i * 1000, 1, 0 FROM n");
    sql(database, "COMMIT");
    sqlite3_close(database);
}

long bareCount(const std::string &path)
{
    sqlite3 *database = nullptr;
    long count = -1;
    if (sqlite3_open_v2(path.c_str(), &database, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt *statement = nullptr;
        if (sqlite3_prepare_v2(database, "SELECT COUNT(*) FROM moz_historyvisits", -1, &statement,
                               nullptr) == SQLITE_OK &&
            sqlite3_step(statement) == SQLITE_ROW)
            count = static_cast<long>(sqlite3_column_int64(statement, 0));
        sqlite3_finalize(statement);
    }
    sqlite3_close(database);
    return count;
}

void put32(std::vector<std::uint8_t> &bytes, std::size_t offset, std::uint32_t value)
{
    std::memcpy(bytes.data() + offset, &value, 4);
}

void put64(std::vector<std::uint8_t> &bytes, std::size_t offset, std::uint64_t value)
{
    std::memcpy(bytes.data() + offset, &value, 8);
}

// A content index in Wine's format with `count` entries of 1 KiB files in four cache folders:
// chained hash tables of 448 slots (32 blocks each), then one record of two blocks per entry.
// Cached files get the last-write time the index keeps for them (2024-05-06 07:08:10 UTC).
void writeContentCache(const std::string &folder, long count)
{
    constexpr std::uint32_t storedDosTime = (44u << 9 | 5u << 5 | 6u) | (7u << 11 | 8u << 5 | 5u)
                                                                                << 16;
    constexpr time_t storedUnixTime = 1714979290;
    const char *folders[] = {"AAAA0000", "BBBB1111", "CCCC2222", "DDDD3333"};
    const std::uint32_t tables = static_cast<std::uint32_t>((count + 447) / 448);
    const std::uint32_t used = tables * 32 + 2 * static_cast<std::uint32_t>(count);
    const std::uint32_t capacity = (used + 1023) / 1024 * 1024;
    check(capacity <= (0x4000 - 0x250) * 8, "too many entries for one index");
    std::vector<std::uint8_t> bytes(0x4000 + std::size_t(capacity) * 0x80, 0);
    std::memcpy(bytes.data(), "WINE URLCache Ver 0.2012001", 28);
    put32(bytes, 0x1C, static_cast<std::uint32_t>(bytes.size()));
    put32(bytes, 0x20, 0x4000);
    put32(bytes, 0x24, capacity);
    put32(bytes, 0x28, used);
    put64(bytes, 0x30, 0x07FF5400);
    put64(bytes, 0x38, 1024 * std::uint64_t(count));
    put32(bytes, 0x48, 4);
    for (std::size_t i = 0; i < 4; ++i) {
        put32(bytes, 0x4C + 12 * i, static_cast<std::uint32_t>((count + 3 - long(i)) / 4));
        std::memcpy(bytes.data() + 0x4C + 12 * i + 4, folders[i], 8);
    }
    for (std::uint32_t block = 0; block < used; ++block)
        bytes[0x250 + block / 8] |= std::uint8_t(1u << (block % 8));
    for (std::uint32_t table = 0; table < tables; ++table) {
        const std::size_t offset = 0x4000 + std::size_t(table) * 32 * 0x80;
        std::memcpy(bytes.data() + offset, "HASH", 4);
        put32(bytes, offset + 4, 0x20);
        put32(bytes, offset + 8,
              table + 1 < tables ? static_cast<std::uint32_t>(offset + 32 * 0x80) : 0);
        put32(bytes, offset + 12, table);
        for (std::size_t slot = 0; slot < 448; ++slot) {
            put32(bytes, offset + 0x10 + 8 * slot, 3);
            put32(bytes, offset + 0x14 + 8 * slot, 3);
        }
    }
    const std::size_t recordsStart = 0x4000 + std::size_t(tables) * 32 * 0x80;
    for (long i = 0; i < count; ++i) {
        const std::size_t offset = recordsStart + std::size_t(i) * 0x100;
        const std::size_t slot = 0x4000 + std::size_t(i / 448) * 32 * 0x80 + 0x10 + 8 * (i % 448);
        put32(bytes, slot, static_cast<std::uint32_t>(i + 1) << 6);
        put32(bytes, slot + 4, static_cast<std::uint32_t>(offset));
        const std::string url = "http://bench.example/files/" + std::to_string(i) + ".bin";
        const std::string name = std::to_string(i) + "[1].bin";
        std::memcpy(bytes.data() + offset, "URL ", 4);
        put32(bytes, offset + 4, 2);
        put64(bytes, offset + 0x20, 1024);
        put32(bytes, offset + 0x34, 0x68);
        bytes[offset + 0x38] = static_cast<std::uint8_t>(i % 4);
        put32(bytes, offset + 0x40, 1);
        put32(bytes, offset + 0x5C, storedDosTime);
        std::memcpy(bytes.data() + offset + 0x68, url.data(), url.size());
        const std::size_t nameOffset = (0x68 + url.size() + 1 + 3) / 4 * 4;
        put32(bytes, offset + 0x3C, static_cast<std::uint32_t>(nameOffset));
        std::memcpy(bytes.data() + offset + nameOffset, name.data(), name.size());

        const std::string file = folder + "/" + folders[i % 4] + "/" + name;
        std::ofstream(file, std::ios::binary) << std::string(1024, 'c');
        const timespec times[2] = {{storedUnixTime, 500000000}, {storedUnixTime, 500000000}};
        check(utimensat(AT_FDCWD, file.c_str(), times, 0) == 0, "cannot set a file time");
    }
    std::ofstream(folder + "/index.dat", std::ios::binary)
            .write(reinterpret_cast<const char *>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
}

} // namespace

int main(int argc, char **argv)
{
    long visits = 200000;
    long entries = 2000;
    std::string root;
    bool ownRoot = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--visits" && i + 1 < argc)
            visits = std::atol(argv[++i]);
        else if (argument == "--entries" && i + 1 < argc)
            entries = std::atol(argv[++i]);
        else
            root = argument;
    }
    if (root.empty()) {
        char pattern[] = "/tmp/nimbra-bench-browsers-XXXXXX";
        check(mkdtemp(pattern) != nullptr, "cannot make a folder");
        root = pattern;
        ownRoot = true;
    }
    const passwd *account = getpwuid(getuid());
    const std::string user = account ? account->pw_name : "user";
    const std::string home = root + "/drive_c/users/" + user;
    fs::create_directories(root + "/dosdevices");
    std::error_code ignored;
    fs::create_directory_symlink("../drive_c", root + "/dosdevices/c:", ignored);

    const std::string firefox = home + "/AppData/Roaming/Mozilla/Firefox";
    const std::string profile = firefox + "/Profiles/bench.default";
    fs::create_directories(profile);
    std::ofstream(firefox + "/profiles.ini")
            << "[Profile0]\nName=default\nIsRelative=1\nPath=Profiles/bench.default\n";
    const std::string places = profile + "/places.sqlite";
    fs::remove(places, ignored);
    writePlaces(places, visits);

    const std::string content = home + "/AppData/Local/Microsoft/Windows/INetCache/Content.IE5";
    fs::remove_all(content, ignored);
    for (const char *folder : {"AAAA0000", "BBBB1111", "CCCC2222", "DDDD3333"})
        fs::create_directories(content + "/" + folder);
    writeContentCache(content, entries);

    std::string error;
    auto machine = platform::openPrefixMachine(root, &error);
    check(machine != nullptr, "cannot open the prefix");
    platform::Machine::install(std::move(machine));
    diskcleaner::firefox_base::ForgetProfileLocation();

    std::printf("prefix %s: %ld visits in a places.sqlite of %.1f MB, %ld cache entries\n",
                root.c_str(), visits, double(fs::file_size(places)) / 1e6, entries);

    long counted = 0;
    const double bare = timed([&] { counted = bareCount(places); });
    diskcleaner::firefox_history history;
    const double historyScan = timed([&] { history.Scan(); });
    check(history.GetItemsFound() == std::uint64_t(counted), "the history scan counted wrong");
    const double historyClean = timed([&] { history.Clean(); });
    check(history.GetItemsCleaned() == std::uint64_t(visits), "the history clean missed visits");
    std::printf("places.sqlite   bare COUNT(*) %8.3f s   Scan %8.3f s   Clean %8.3f s"
                " (now %.1f MB)\n",
                bare, historyScan, historyClean, double(fs::file_size(places)) / 1e6);

    diskcleaner::ie_cache cache;
    const double cacheScan = timed([&] { cache.Scan(); });
    check(cache.GetItemsFound() == std::uint64_t(entries), "the cache scan counted wrong");
    const double cacheClean = timed([&] { cache.Clean(); });
    check(cache.GetItemsCleaned() == std::uint64_t(entries), "the cache clean missed entries");
    std::printf("URL cache       Scan %8.3f s   Clean %8.3f s (%.2f ms per entry)\n", cacheScan,
                cacheClean, cacheClean * 1000 / double(entries));
    platform::Machine::install(nullptr);
    if (ownRoot)
        fs::remove_all(root, ignored);
    return 0;
}
