#include <CommandLine.h>

#include <TestPrefix.h>

#include <reference_checks/SizeText.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

namespace {

struct Result
{
    int status = 0;
    QString out;
    QString err;
};

// Sets a host environment variable for the life of the object.
class ScopedHostVariable
{
public:
    ScopedHostVariable(const char *name, const std::string &value)
        : m_name(name)
    {
        if (const char *old = std::getenv(name))
            m_old = old;
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedHostVariable()
    {
        if (m_old)
            ::setenv(m_name, m_old->c_str(), 1);
        else
            ::unsetenv(m_name);
    }
    ScopedHostVariable(const ScopedHostVariable &) = delete;
    ScopedHostVariable &operator=(const ScopedHostVariable &) = delete;

private:
    const char *m_name;
    std::optional<std::string> m_old;
};

// What the browser items report on a prefix without browser data: one line each, the format
// given the title as %1 and the size text of nothing as %2.
QString browserLines(const QString &format)
{
    QString text;
    for (const char *title :
         {"Firefox Cache", "Firefox Cookies", "Firefox History", "Internet Explorer Cache",
          "Internet Explorer History", "Internet Explorer Cookies"})
        text += format.arg(title, formatSizeText(0));
    return text;
}

// A test prefix with something for every item: two files of 1.5 KB in the temporary folder (and
// one in a subfolder, which the item leaves alone), one 10-byte item in the recycle bin, one
// 3-byte document in the Recent folder. The home trash is a temporary folder, and the host's root
// is no drive, so no test touches a trash of the user running it.
class DiskCommand : public testing::Test
{
protected:
    DiskCommand()
    {
        std::filesystem::remove(std::filesystem::path(m_prefix.path()) / "dosdevices" / "z:");
        m_prefix.writeFile(temp() + "/a.tmp", std::string(512, 'a'));
        m_prefix.writeFile(temp() + "/b.tmp", std::string(1024, 'b'));
        m_prefix.writeFile(temp() + "/keep/c.tmp", "c");
        writeHostFile(trash() + "/info/old.txt.trashinfo",
                      "[Trash Info]\nPath=/home/ann/old.txt\nDeletionDate=2026-12-11T07:55:58\n");
        writeHostFile(trash() + "/files/old.txt", "0123456789");
        m_prefix.writeFile(recent() + "/doc.lnk", "lnk");
    }

    std::string temp() const { return "users/" + m_prefix.userName() + "/Temp"; }
    std::string recent() const
    {
        return "users/" + m_prefix.userName() + "/AppData/Roaming/Microsoft/Windows/Recent";
    }
    std::string trash() const { return m_data.path().toStdString() + "/Trash"; }

    QString windowsTemp() const
    {
        return QStringLiteral("C:\\USERS\\%1\\TEMP\\")
                .arg(QString::fromStdString(m_prefix.userName()).toUpper());
    }

    static void writeHostFile(const std::string &path, const std::string &content)
    {
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        std::ofstream(path, std::ios::binary) << content;
    }

    // Everything the items would remove is still there.
    void expectUnchanged() const
    {
        EXPECT_TRUE(TestPrefix::exists(m_prefix.hostPath(temp() + "/a.tmp")));
        EXPECT_TRUE(TestPrefix::exists(m_prefix.hostPath(temp() + "/b.tmp")));
        EXPECT_TRUE(TestPrefix::exists(trash() + "/files/old.txt"));
        EXPECT_TRUE(TestPrefix::exists(m_prefix.hostPath(recent() + "/doc.lnk")));
    }

    Result run(QStringList arguments) const
    {
        arguments.prepend(QString::fromStdString(m_prefix.path()));
        arguments.prepend(QStringLiteral("--prefix"));
        arguments.prepend(QStringLiteral("nimbra"));
        Result result;
        QTextStream out(&result.out);
        QTextStream err(&result.err);
        result.status = runCommandLine(arguments, out, err);
        out.flush();
        err.flush();
        return result;
    }

    static QJsonArray jsonItems(const Result &result)
    {
        return QJsonDocument::fromJson(result.out.toUtf8())
                .object()
                .value(QStringLiteral("items"))
                .toArray();
    }

    TestPrefix m_prefix;
    QTemporaryDir m_data;
    ScopedHostVariable m_dataHome{"XDG_DATA_HOME", m_data.path().toStdString()};
};

TEST_F(DiskCommand, ItemsAreListedInOrderWithTheirDescriptions)
{
    const QString user = QString::fromStdString(m_prefix.userName());

    const Result text = run({"disk", "items"});

    ASSERT_EQ(text.status, 0) << text.err.toStdString();
    EXPECT_EQ(text.out, "Temporary files\n"
                        "    Removes temporary files from the current user's temporary folder, "
                        "C:\\users\\" +
                                user +
                                "\\Temp\n"
                                "Recycle Bin\n"
                                "    Empties the Recycle Bin on the desktop\n"
                                "Recent Documents\n"
                                "    Clears the Recent Documents in the Start menu\n"
                                "Firefox Cache\n"
                                "    Clears the Firefox cache\n"
                                "Firefox Cookies\n"
                                "    Removes Firefox cookies\n"
                                "Firefox History\n"
                                "    Removes Firefox history records\n"
                                "Internet Explorer Cache\n"
                                "    Clears the Internet Explorer browser cache\n"
                                "Internet Explorer History\n"
                                "    Removes Internet Explorer history records\n"
                                "Internet Explorer Cookies\n"
                                "    Removes Internet Explorer cookie files\n");

    const Result json = run({"--json", "disk", "items"});
    ASSERT_EQ(json.status, 0);
    const QJsonArray items = jsonItems(json);
    ASSERT_EQ(items.size(), 9);
    EXPECT_EQ(items.at(1).toObject().value("title").toString(), "Recycle Bin");
    EXPECT_EQ(items.at(2).toObject().value("description").toString(),
              "Clears the Recent Documents in the Start menu");
}

TEST_F(DiskCommand, AnalyzeReportsWhatEachItemFound)
{
    const Result all = run({"disk", "analyze"});

    ASSERT_EQ(all.status, 0) << all.err.toStdString();
    // The items of the entries checked at start, under the entries' names.
    EXPECT_EQ(all.out, "Temporary Files: 2 found, 1.5 KB\n"
                       "Empty Recycle Bin: 1 found, " +
                               formatSizeText(10) +
                               "\n"
                               "Recent Documents: 1 found, " +
                               formatSizeText(3) + "\n" + browserLines("%1: 0 found, %2\n"));
    expectUnchanged();
}

TEST_F(DiskCommand, AnalyzeListsTheFilesOfTheNamedItems)
{
    const Result text = run({"disk", "analyze", "--item", "temporary FILES", "--files"});

    ASSERT_EQ(text.status, 0) << text.err.toStdString();
    QStringList lines = text.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3) << text.out.toStdString();
    EXPECT_EQ(lines.takeFirst(), "Temporary Files: 2 found, 1.5 KB");
    EXPECT_EQ(QSet<QString>(lines.begin(), lines.end()),
              (QSet<QString>{"    " + windowsTemp() + "a.tmp", "    " + windowsTemp() + "b.tmp"}));

    const Result json = run({"--json", "disk", "analyze", "--item", "Recent Documents", "--item",
                             "Temporary files", "--files"});
    ASSERT_EQ(json.status, 0) << json.err.toStdString();
    const QJsonArray items = jsonItems(json);
    ASSERT_EQ(items.size(), 2);
    const QJsonObject temporary = items.at(0).toObject();
    EXPECT_EQ(temporary.value("title").toString(), "Temporary files");
    EXPECT_EQ(temporary.value("found").toInteger(), 2);
    EXPECT_EQ(temporary.value("bytes").toInteger(), 1536);
    EXPECT_EQ(temporary.value("size").toString(), "1.5 KB");
    const QJsonArray files = temporary.value("files").toArray();
    EXPECT_EQ(QSet<QString>({files.at(0).toString(), files.at(1).toString()}),
              (QSet<QString>{windowsTemp() + "a.tmp", windowsTemp() + "b.tmp"}));
    const QJsonObject documents = items.at(1).toObject();
    EXPECT_EQ(documents.value("title").toString(), "Recent Documents");
    EXPECT_EQ(documents.value("found").toInteger(), 1);
    EXPECT_EQ(documents.value("files").toArray().size(), 1);
    expectUnchanged();
}

TEST_F(DiskCommand, CleanWithoutYesIsRefusedAndChangesNothing)
{
    for (const QStringList &arguments :
         {QStringList{"disk", "clean"},
          QStringList{"--json", "disk", "clean", "--item", "Recycle Bin"}}) {
        const Result result = run(arguments);

        EXPECT_EQ(result.status, 2);
        EXPECT_TRUE(result.out.isEmpty()) << result.out.toStdString();
        EXPECT_TRUE(result.err.contains("--yes")) << result.err.toStdString();
        expectUnchanged();
    }
}

TEST_F(DiskCommand, CleanRemovesAndSaysWhatWent)
{
    const Result result = run({"disk", "clean", "--yes"});

    ASSERT_EQ(result.status, 0) << result.err.toStdString();
    EXPECT_EQ(result.out, "Temporary files: 2 removed, 1.5 KB (2 found, 1.5 KB)\n"
                          "Recycle Bin: 1 removed, " +
                                  formatSizeText(10) + " (1 found, " + formatSizeText(10) +
                                  ")\n"
                                  "Recent Documents: 1 removed, " +
                                  formatSizeText(3) + " (1 found, " + formatSizeText(3) + ")\n" +
                                  browserLines("%1: 0 removed, %2 (0 found, %2)\n"));
    EXPECT_FALSE(TestPrefix::exists(m_prefix.hostPath(temp() + "/a.tmp")));
    EXPECT_FALSE(TestPrefix::exists(m_prefix.hostPath(temp() + "/b.tmp")));
    EXPECT_TRUE(TestPrefix::exists(m_prefix.hostPath(temp() + "/keep/c.tmp")));
    EXPECT_FALSE(TestPrefix::exists(trash() + "/files/old.txt"));
    EXPECT_FALSE(TestPrefix::exists(m_prefix.hostPath(recent() + "/doc.lnk")));
}

TEST_F(DiskCommand, CleanOnlyTheNamedItemsAsJson)
{
    m_prefix.makeReadOnly(temp() + "/b.tmp");

    const Result result = run({"--json", "disk", "clean", "--yes", "--item", "Temporary files"});

    ASSERT_EQ(result.status, 0) << result.err.toStdString();
    const QJsonArray items = jsonItems(result);
    ASSERT_EQ(items.size(), 1);
    const QJsonObject temporary = items.at(0).toObject();
    EXPECT_EQ(temporary.value("title").toString(), "Temporary files");
    EXPECT_EQ(temporary.value("found").toInteger(), 2);
    EXPECT_EQ(temporary.value("foundBytes").toInteger(), 1536);
    // The read-only file stays, and is not counted as removed.
    EXPECT_EQ(temporary.value("removed").toInteger(), 1);
    EXPECT_EQ(temporary.value("removedBytes").toInteger(), 512);
    EXPECT_EQ(temporary.value("removedSize").toString(), formatSizeText(512));
    EXPECT_TRUE(TestPrefix::exists(m_prefix.hostPath(temp() + "/b.tmp")));
    EXPECT_TRUE(TestPrefix::exists(trash() + "/files/old.txt"));
    EXPECT_TRUE(TestPrefix::exists(m_prefix.hostPath(recent() + "/doc.lnk")));
}

TEST_F(DiskCommand, AnUnknownTitleIsAUsageErrorThatNamesTheItems)
{
    for (const QStringList &arguments :
         {QStringList{"disk", "analyze", "--item", "Temporary files", "--item", "Nope"},
          QStringList{"disk", "clean", "--yes", "--item", "Nope", "--item", "Recycle Bin"}}) {
        const Result result = run(arguments);

        EXPECT_EQ(result.status, 2);
        EXPECT_TRUE(result.out.isEmpty());
        EXPECT_TRUE(result.err.contains("'Nope'")) << result.err.toStdString();
        EXPECT_TRUE(result.err.contains("Temporary files, Recycle Bin, Recent Documents"))
                << result.err.toStdString();
        expectUnchanged();
    }
}

TEST_F(DiskCommand, UsageErrors)
{
    const QStringList cases[] = {
            {"disk"},
            {"disk", "frobnicate"},
            {"disk", "items", "extra"},
            {"disk", "items", "--item", "Recycle Bin"},
            {"disk", "items", "--files"},
            {"disk", "clean", "--files", "--yes"},
            {"disk", "analyze", "--yes"},
            {"disk", "analyze", "--item"},
    };
    for (const QStringList &arguments : cases) {
        const Result result = run(arguments);
        EXPECT_EQ(result.status, 2) << arguments.join(' ').toStdString();
        EXPECT_TRUE(result.out.isEmpty()) << arguments.join(' ').toStdString();
        EXPECT_TRUE(result.err.startsWith("nimbra: ")) << result.err.toStdString();
    }
    expectUnchanged();

    const Result help = run({"disk", "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(help.out.contains(
            "disk items | analyze [--item TITLE | --entry TEXT]... [--files] | clean"))
            << help.out.toStdString();
}

TEST_F(DiskCommand, AnalyzeTakesTheItemsOfTheNamedEntries)
{
    const Result text =
            run({"disk", "analyze", "--entry", "empty recycle bin", "--entry", "Temporary Files"});

    ASSERT_EQ(text.status, 0) << text.err.toStdString();
    EXPECT_EQ(text.out, "Temporary Files: 2 found, 1.5 KB\nEmpty Recycle Bin: 1 found, " +
                                formatSizeText(10) + "\n");

    const Result json = run({"--json", "disk", "analyze", "--entry", "Recent Documents"});
    ASSERT_EQ(json.status, 0) << json.err.toStdString();
    const QJsonArray items = jsonItems(json);
    ASSERT_EQ(items.size(), 1);
    EXPECT_EQ(items.at(0).toObject().value("title").toString(), "Recent Documents");
    EXPECT_EQ(items.at(0).toObject().value("entry").toString(), "Recent Documents");

    // An entry that no item serves analyses nothing.
    const Result clipboard = run({"disk", "analyze", "--entry", "Clipboard"});
    EXPECT_EQ(clipboard.status, 0);
    EXPECT_TRUE(clipboard.out.isEmpty()) << clipboard.out.toStdString();
    expectUnchanged();
}

TEST_F(DiskCommand, EntriesAreForAnalysesOfKnownEntriesOnly)
{
    const struct
    {
        QStringList arguments;
        QString message;
    } cases[] = {
            {{"disk", "analyze", "--entry", "Temporary Files", "--entry", "Nope"}, "'Nope'"},
            {{"disk", "analyze", "--entry", "Temporary Files", "--item", "Recycle Bin"},
             "--item and --entry"},
            {{"disk", "clean", "--yes", "--entry", "Temporary Files"}, "--entry"},
            {{"disk", "items", "--entry", "Temporary Files"}, "--entry"},
    };
    for (const auto &row : cases) {
        const Result result = run(row.arguments);
        EXPECT_EQ(result.status, 2) << row.arguments.join(' ').toStdString();
        EXPECT_TRUE(result.out.isEmpty());
        EXPECT_TRUE(result.err.contains(row.message)) << result.err.toStdString();
    }
    expectUnchanged();
}

} // namespace
