// Runs the built `nimbra disk` on a copy of a prefix that Wine's own wineboot made: a Firefox
// profile put where Wine keeps the application data, and an Internet Explorer cache that Wine's
// WinINet filled, are found by an analysis and removed by a clean, and Wine no longer sees them.
//
// NIMBRA_PROGRAM names the program, NIMBRA_WINE_PREFIX the fresh prefix (this test works on its
// own copy) and NIMBRA_WININET_PROGRAMS the folder of the Windows programs that fill and list the
// URL cache through WinINet.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSet>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <gtest/gtest.h>

#include "../support/WineProcess.h"

#include <memory>
#include <stdexcept>
#include <string>

namespace {

using Output = ProcessOutput;

void runSql(const QString &database, const std::string &sql)
{
    sqlite3 *handle = nullptr;
    if (sqlite3_open(database.toStdString().c_str(), &handle) != SQLITE_OK) {
        sqlite3_close(handle);
        throw std::runtime_error("cannot open " + database.toStdString());
    }
    char *message = nullptr;
    const int result = sqlite3_exec(handle, sql.c_str(), nullptr, nullptr, &message);
    const std::string text = message ? message : "";
    sqlite3_free(message);
    sqlite3_close(handle);
    if (result != SQLITE_OK)
        throw std::runtime_error(sql + ": " + text);
}

qint64 countRows(const QString &database, const std::string &table)
{
    sqlite3 *handle = nullptr;
    qint64 count = -1;
    if (sqlite3_open_v2(database.toStdString().c_str(), &handle, SQLITE_OPEN_READONLY, nullptr) ==
        SQLITE_OK) {
        sqlite3_stmt *statement = nullptr;
        if (sqlite3_prepare_v2(handle, ("SELECT COUNT(*) FROM " + table).c_str(), -1, &statement,
                               nullptr) == SQLITE_OK &&
            sqlite3_step(statement) == SQLITE_ROW)
            count = sqlite3_column_int64(statement, 0);
        sqlite3_finalize(statement);
    }
    sqlite3_close(handle);
    return count;
}

bool writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

class BrowserInterop : public testing::Test
{
protected:
    void SetUp() override
    {
        m_program = qEnvironmentVariable("NIMBRA_PROGRAM");
        const QString fresh = qEnvironmentVariable("NIMBRA_WINE_PREFIX");
        ASSERT_FALSE(m_program.isEmpty()) << "NIMBRA_PROGRAM is not set";
        ASSERT_TRUE(QFileInfo(fresh + "/system.reg").isFile())
                << "no fresh prefix at NIMBRA_WINE_PREFIX=" << fresh.toStdString();
        // Beside the fresh prefix, on the same file system, so the program files can be linked.
        m_work = std::make_unique<QTemporaryDir>(QFileInfo(fresh).absolutePath() +
                                                 "/browsers-XXXXXX");
        ASSERT_TRUE(m_work->isValid());
        m_prefix = m_work->filePath("prefix");
        ASSERT_TRUE(QDir().mkpath(m_prefix));
        // Real copies of the registry files (Wine rewrites a file with several names in place);
        // Debian's server folder name stays behind, so the copy gets a server of its own.
        for (const char *file : {"system.reg", "user.reg", "userdef.reg", ".update-timestamp"})
            ASSERT_TRUE(QFile::copy(fresh + "/" + file, m_prefix + "/" + file)) << file;
        ASSERT_EQ(run("cp", {"-a", fresh + "/dosdevices", m_prefix}).status, 0);
        ASSERT_EQ(run("cp", {"-al", fresh + "/drive_c", m_prefix}).status, 0);
        // Only new files are written: nothing hard-linked with the fresh prefix changes.
        ASSERT_TRUE(QDir().mkpath(m_work->filePath("data")));
    }

    Output run(const QString &program, const QStringList &arguments) const
    {
        QProcessEnvironment trash;
        trash.insert("XDG_DATA_HOME", m_work->filePath("data"));
        return runInPrefix(m_prefix, program, arguments, trash);
    }

    // Runs a Windows program through Wine and waits until the prefix is at rest again: the
    // program changes nothing while a Wine server runs.
    Output wine(const QStringList &arguments) const
    {
        Output output = run("wine", arguments);
        run("wineserver", {"-w"});
        output.out.remove('\r');
        return output;
    }

    // The host folder of a folder that Wine names by an environment variable.
    QString hostFolder(const QString &variable) const
    {
        const Output windows = wine({"cmd", "/c", "echo", "%" + variable + "%"});
        const Output host = run("winepath", {"-u", windows.out.trimmed()});
        run("wineserver", {"-w"});
        return host.out.trimmed();
    }

    // `nimbra --json disk ACTION --item ...`: the reported items by title.
    QMap<QString, QJsonObject> nimbraJson(const QStringList &action, const QStringList &titles)
    {
        QStringList arguments = QStringList{"--prefix", m_prefix, "--json", "disk"} + action;
        for (const QString &title : titles)
            arguments << "--item" << title;
        const Output output = run(m_program, arguments);
        EXPECT_EQ(output.status, 0) << output.err.toStdString();
        QMap<QString, QJsonObject> items;
        for (const QJsonValue item :
             QJsonDocument::fromJson(output.out.toUtf8()).object().value("items").toArray())
            items.insert(item.toObject().value("title").toString(), item.toObject());
        EXPECT_EQ(items.size(), titles.size()) << output.out.toStdString();
        return items;
    }

    QString m_program;
    std::unique_ptr<QTemporaryDir> m_work;
    QString m_prefix;
};

TEST_F(BrowserInterop, FirefoxProfileIsFoundAndCleaned)
{
    const QString roaming = hostFolder("APPDATA");
    const QString local = hostFolder("LOCALAPPDATA");
    ASSERT_TRUE(roaming.startsWith(m_prefix)) << roaming.toStdString();
    ASSERT_TRUE(local.startsWith(m_prefix)) << local.toStdString();
    ASSERT_TRUE(writeFile(roaming + "/Mozilla/Firefox/profiles.ini",
                          "[Install308046B0AF4A39CB]\r\nDefault=Profiles/nimbra.default-release\r\n"
                          "Locked=1\r\n\r\n[Profile0]\r\nName=default-release\r\nIsRelative=1\r\n"
                          "Path=Profiles/nimbra.default-release\r\n\r\n[General]\r\n"
                          "StartWithLastProfile=1\r\nVersion=2\r\n"));
    const QString profile = roaming + "/Mozilla/Firefox/Profiles/nimbra.default-release";
    const QString localProfile = local + "/Mozilla/Firefox/Profiles/nimbra.default-release";

    ASSERT_TRUE(writeFile(localProfile + "/cache2/entries/1A2B3C", QByteArray(100, 'a')));
    ASSERT_TRUE(writeFile(localProfile + "/cache2/entries/4D5E6F", QByteArray(200, 'b')));
    ASSERT_TRUE(writeFile(localProfile + "/cache2/index", QByteArray(40, 'i')));
    ASSERT_TRUE(QDir().mkpath(localProfile + "/cache2/doomed"));
    ASSERT_TRUE(writeFile(profile + "/prefs.js", "user_pref(\"browser.startup.page\", 3);\n"));
    runSql(profile + "/cookies.sqlite",
           "CREATE TABLE moz_cookies (id INTEGER PRIMARY KEY, originAttributes TEXT NOT NULL "
           "DEFAULT '', name TEXT, value TEXT, host TEXT, path TEXT, expiry INTEGER);"
           "INSERT INTO moz_cookies (name, value, host, path, expiry) VALUES "
           "('sess', 'abc', '.example.com', '/', 2000000000), "
           "('id', '42', 'example.org', '/', 2000000000);");
    const qint64 cookieBytes = QFileInfo(profile + "/cookies.sqlite").size();
    std::string places = "PRAGMA journal_mode=WAL;"
                         "CREATE TABLE moz_places (id INTEGER PRIMARY KEY, url LONGVARCHAR, "
                         "title LONGVARCHAR, visit_count INTEGER DEFAULT 0);"
                         "CREATE TABLE moz_historyvisits (id INTEGER PRIMARY KEY, from_visit "
                         "INTEGER, place_id INTEGER, visit_date INTEGER, visit_type INTEGER, "
                         "session INTEGER);"
                         "CREATE TABLE moz_bookmarks (id INTEGER PRIMARY KEY, type INTEGER, "
                         "fk INTEGER, parent INTEGER, position INTEGER, title LONGVARCHAR);"
                         "INSERT INTO moz_places (url, title, visit_count) VALUES "
                         "('https://example.com/', 'Example', 25);"
                         "INSERT INTO moz_bookmarks (type, fk, parent, position, title) VALUES "
                         "(1, 1, 3, 0, 'Example');";
    for (int visit = 0; visit < 25; ++visit)
        places += "INSERT INTO moz_historyvisits (from_visit, place_id, visit_date, visit_type, "
                  "session) VALUES (0, 1, " +
                  std::to_string(1700000000000000LL + visit) + ", 1, 0);";
    runSql(profile + "/places.sqlite", places);

    const QStringList titles = {"Firefox Cache", "Firefox Cookies", "Firefox History"};
    const QMap<QString, QJsonObject> found = nimbraJson({"analyze", "--files"}, titles);
    EXPECT_EQ(found["Firefox Cache"].value("found").toInteger(), 3);
    EXPECT_EQ(found["Firefox Cache"].value("bytes").toInteger(), 340);
    EXPECT_EQ(found["Firefox Cookies"].value("found").toInteger(), 1);
    EXPECT_EQ(found["Firefox Cookies"].value("bytes").toInteger(), cookieBytes);
    EXPECT_TRUE(found["Firefox Cookies"].value("files").toArray().at(0).toString().endsWith(
            "\\Profiles\\nimbra.default-release\\cookies.sqlite"));
    EXPECT_EQ(found["Firefox History"].value("found").toInteger(), 25);
    EXPECT_EQ(found["Firefox History"].value("bytes").toInteger(), 0);

    const QMap<QString, QJsonObject> cleaned = nimbraJson({"clean", "--yes"}, titles);
    EXPECT_EQ(cleaned["Firefox Cache"].value("removed").toInteger(), 3);
    EXPECT_EQ(cleaned["Firefox Cache"].value("removedBytes").toInteger(), 340);
    EXPECT_EQ(cleaned["Firefox Cookies"].value("removed").toInteger(), 1);
    EXPECT_EQ(cleaned["Firefox History"].value("removed").toInteger(), 25);

    // What Wine sees of the profile now: no cache entries and no cookie store, the rest kept.
    const Output listing =
            wine({"cmd", "/c", "dir", "/b", "/s", "%APPDATA%\\Mozilla\\Firefox\\Profiles",
                  "%LOCALAPPDATA%\\Mozilla\\Firefox\\Profiles"});
    EXPECT_FALSE(listing.out.contains("1A2B3C")) << listing.out.toStdString();
    EXPECT_FALSE(listing.out.contains("cache2\\index")) << listing.out.toStdString();
    EXPECT_FALSE(listing.out.contains("cookies.sqlite")) << listing.out.toStdString();
    EXPECT_TRUE(listing.out.contains("prefs.js")) << listing.out.toStdString();
    EXPECT_TRUE(listing.out.contains("places.sqlite")) << listing.out.toStdString();
    EXPECT_EQ(countRows(profile + "/places.sqlite", "moz_historyvisits"), 0);
    EXPECT_EQ(countRows(profile + "/places.sqlite", "moz_places"), 1);
    EXPECT_EQ(countRows(profile + "/places.sqlite", "moz_bookmarks"), 1);
}

// The URL cache entries that UrlCacheFill.exe printed ("type<TAB>url" lines), by item title.
QMap<QString, QSet<QString>> filledByItem(const QString &output)
{
    QMap<QString, QSet<QString>> byItem;
    for (const QString &line : output.split('\n', Qt::SkipEmptyParts)) {
        const QStringList fields = line.split('\t');
        if (fields.size() != 2)
            continue;
        const uint type = fields[0].toUInt(nullptr, 16);
        const QString title = type & 0x100000   ? "Internet Explorer Cookies"
                              : type & 0x200000 ? "Internet Explorer History"
                                                : "Internet Explorer Cache";
        byItem[title].insert(fields[1]);
    }
    return byItem;
}

QSet<QString> filesOf(const QJsonObject &item)
{
    QSet<QString> files;
    for (const QJsonValue file : item.value("files").toArray())
        files.insert(file.toString());
    return files;
}

TEST_F(BrowserInterop, InternetExplorerCacheIsFoundAndCleaned)
{
    const QString programs = qEnvironmentVariable("NIMBRA_WININET_PROGRAMS");
    ASSERT_TRUE(QFileInfo(programs + "/UrlCacheFill.exe").isFile())
            << "no UrlCacheFill.exe in NIMBRA_WININET_PROGRAMS=" << programs.toStdString();
    const Output filled = wine({programs + "/UrlCacheFill.exe"});
    ASSERT_EQ(filled.status, 0) << filled.err.toStdString();
    const QMap<QString, QSet<QString>> expected = filledByItem(filled.out);
    ASSERT_EQ(expected.size(), 3) << filled.out.toStdString();

    const QStringList titles = expected.keys();
    const QMap<QString, QJsonObject> found = nimbraJson({"analyze", "--files"}, titles);
    for (const QString &title : titles) {
        EXPECT_EQ(found[title].value("found").toInteger(), expected[title].size())
                << title.toStdString();
        EXPECT_EQ(filesOf(found[title]), expected[title]) << title.toStdString();
    }
    // Wine's cached files: 18 + 7 + 70000 + 6 + 4 bytes.
    EXPECT_EQ(found["Internet Explorer Cache"].value("bytes").toInteger(), 70035);

    // The cookies first: Wine then lists the rest and none of them.
    const QMap<QString, QJsonObject> cookies =
            nimbraJson({"clean", "--yes"}, {"Internet Explorer Cookies"});
    EXPECT_EQ(cookies["Internet Explorer Cookies"].value("removed").toInteger(),
              expected["Internet Explorer Cookies"].size());
    Output listing = wine({programs + "/UrlCacheList.exe"});
    ASSERT_EQ(listing.status, 0) << listing.err.toStdString();
    for (const QString &url : expected["Internet Explorer Cookies"])
        EXPECT_FALSE(listing.out.contains(url)) << listing.out.toStdString();
    for (const QString &url :
         expected["Internet Explorer Cache"] + expected["Internet Explorer History"])
        EXPECT_TRUE(listing.out.contains(url)) << url.toStdString() << listing.out.toStdString();

    const QMap<QString, QJsonObject> rest = nimbraJson(
            {"clean", "--yes"}, {"Internet Explorer Cache", "Internet Explorer History"});
    EXPECT_EQ(rest["Internet Explorer Cache"].value("removed").toInteger(),
              expected["Internet Explorer Cache"].size());
    EXPECT_EQ(rest["Internet Explorer Cache"].value("removedBytes").toInteger(), 70035);
    EXPECT_EQ(rest["Internet Explorer History"].value("removed").toInteger(),
              expected["Internet Explorer History"].size());
    listing = wine({programs + "/UrlCacheList.exe"});
    ASSERT_EQ(listing.status, 0) << listing.err.toStdString();
    EXPECT_TRUE(listing.out.trimmed().isEmpty()) << listing.out.toStdString();
}

} // namespace
