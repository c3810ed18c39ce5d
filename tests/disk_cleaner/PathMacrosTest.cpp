#include <disk_cleaner/PathMacros.h>
#include <disk_cleaner/Trace.h>

#include <TestPrefix.h>

#include <platform/Environment.h>
#include <platform/Machine.h>
#include <platform/ShellFolders.h>
#include <platform/Text.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

using diskcleaner::ExpandString;
using diskcleaner::FileList;
using diskcleaner::GetFolderLocation;
using platform::u16;

namespace {

// A user registry whose desktop folder is not where the default layout puts it, so that a path
// below it can only come from the special-folder lookup.
constexpr std::string_view userRegistry =
        "WINE REGISTRY Version 2\n"
        ";; All keys relative to REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000\n"
        "\n"
        "#arch=win64\n"
        "\n"
        "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Explorer\\\\User Shell Folders] "
        "1700000000\n"
        "\"Desktop\"=\"C:\\\\Elsewhere\\\\Desk\"\n";

// Drive E: is a CD drive; Wine keeps drive types in the machine registry.
constexpr std::string_view machineRegistry = "WINE REGISTRY Version 2\n"
                                             ";; All keys relative to REGISTRY\\\\Machine\n"
                                             "\n"
                                             "#arch=win64\n"
                                             "\n"
                                             "[Software\\\\Wine\\\\Drives] 1700000000\n"
                                             "\"e:\"=\"cdrom\"\n";

// A prefix with fixed drives C: and D: and a CD drive E:, made the current machine.
class PathMacrosTest : public ::testing::Test
{
protected:
    PathMacrosTest()
    {
        std::filesystem::remove(std::filesystem::path(m_prefix.path()) / "dosdevices" / "z:");
        m_prefix.linkDrive('d', m_prefix.makeTopFolder("disk-d"));
        m_prefix.linkDrive('e', m_prefix.makeTopFolder("disk-e"));
        m_prefix.writeTopFile("user.reg", userRegistry);
        m_prefix.writeTopFile("system.reg", machineRegistry);
        m_prefix.install();
    }

    static platform::Environment &environment()
    {
        return platform::Machine::current().environment();
    }

    static std::u16string folder(int csidl)
    {
        return platform::Machine::current().shellFolders().folder(csidl).value_or(u"");
    }

    static FileList expand(std::u16string_view entry)
    {
        FileList list;
        ExpandString(entry, list);
        return list;
    }

    std::u16string profile() const { return u"C:\\users\\" + u16(m_prefix.userName()); }

    TestPrefix m_prefix;
};

// Sets the known-folder query for the life of the object.
class ScopedKnownFolderQuery
{
public:
    explicit ScopedKnownFolderQuery(diskcleaner::KnownFolderPathQuery query)
        : m_saved(diskcleaner::gGetKnownFolderPath)
    {
        diskcleaner::gGetKnownFolderPath = query;
    }
    ~ScopedKnownFolderQuery() { diskcleaner::gGetKnownFolderPath = m_saved; }
    ScopedKnownFolderQuery(const ScopedKnownFolderQuery &) = delete;
    ScopedKnownFolderQuery &operator=(const ScopedKnownFolderQuery &) = delete;

private:
    diskcleaner::KnownFolderPathQuery m_saved;
};

TEST_F(PathMacrosTest, EntriesExpandToTheirPaths)
{
    struct Row
    {
        std::u16string entry;
        FileList paths;
    };
    const std::u16string roaming = profile() + u"\\AppData\\Roaming";
    // The rows run in order on one environment, in which the macro rows leave their variables.
    const Row rows[] = {
            // Without a leading macro the entry stays as it is, even with a macro inside.
            {u"C:\\%desktop%\\", {u"C:\\%desktop%\\"}},
            // A variable of the environment, in any case, resolves first.
            {u"%APPDATA%\\Foo\\", {roaming + u"\\Foo\\"}},
            {u"%AppData%\\Foo\\*.log|RECURSE", {roaming + u"\\Foo\\*.log|RECURSE"}},
            // No variable "Desktop": the special folder, from the registry.
            {u"%Desktop%\\Foo\\", {u"C:\\Elsewhere\\Desk\\Foo\\"}},
            {u"%CommonDocs%\\x", {u"C:\\users\\Public\\Documents\\x"}},
            {u"%sysdir%\\drivers", {u"C:\\windows\\system32\\drivers"}},
            // The drive macro: lower case only, fixed drives only, the rest as written.
            {u"%drive%Temp\\", {u"C:\\Temp\\", u"D:\\Temp\\"}},
            {u"%drive%%APPDATA%\\", {u"C:\\%APPDATA%\\", u"D:\\%APPDATA%\\"}},
            {u"%DRIVE%Temp\\", {}},
            {u"%Drive%Temp\\", {}},
            // Without a leading macro the entry stays as it is.
            {u"C:\\Logs\\", {u"C:\\Logs\\"}},
            {u"C:\\%NoSuchVariable%\\x", {u"C:\\%NoSuchVariable%\\x"}},
            // Neither a variable nor a macro.
            {u"%nosuchmacro%\\x", {}},
            {u"%%\\x", {}},
            {u"%", {}},
            {u"%appdata", {}},
            {u"%localappdata%x%nosuch%", {profile() + u"\\AppData\\Localx%nosuch%"}},
    };
    for (const Row &row : rows)
        EXPECT_EQ(expand(row.entry), row.paths) << platform::toUtf8(row.entry);
}

TEST_F(PathMacrosTest, AResolvedMacroStaysInTheEnvironment)
{
    EXPECT_FALSE(environment().get(u"Desktop"));

    EXPECT_EQ(expand(u"%Desktop%\\a"), FileList{u"C:\\Elsewhere\\Desk\\a"});

    // Named as the entry spells it.
    const auto variables = environment().variables();
    const auto desktop = std::find_if(variables.begin(), variables.end(), [](const auto &variable) {
        return platform::equalsIgnoreCase(variable.name, u"desktop");
    });
    ASSERT_NE(desktop, variables.end());
    EXPECT_EQ(desktop->name, u"Desktop");
    EXPECT_EQ(desktop->value, u"C:\\Elsewhere\\Desk");
}

TEST_F(PathMacrosTest, AnEnvironmentVariableBeatsTheMacroTable)
{
    ASSERT_TRUE(environment().set(u"desktop", u"C:\\FromEnvironment"));
    ASSERT_TRUE(environment().set(u"sysdir", u"D:\\Sys"));

    EXPECT_EQ(expand(u"%Desktop%\\Foo\\"), FileList{u"C:\\FromEnvironment\\Foo\\"});
    EXPECT_EQ(expand(u"%SYSDIR%"), FileList{u"D:\\Sys"});
    // The drive macro is no variable's business: the macro wins only when no variable resolves.
    ASSERT_TRUE(environment().set(u"drive", u"X:\\"));
    EXPECT_EQ(expand(u"%drive%Temp"), FileList{u"X:\\Temp"});
}

TEST_F(PathMacrosTest, ResultsThatDoNotFitIntoTheBufferGiveNoPath)
{
    // 259 characters fit with the terminating zero, 260 do not.
    const std::u16string longest = u"C:\\" + std::u16string(256, u'a');
    EXPECT_EQ(expand(longest), FileList{longest});
    EXPECT_EQ(expand(longest + u"b"), FileList{});

    const std::u16string roaming = profile() + u"\\AppData\\Roaming\\";
    const std::u16string fitting(259 - roaming.size(), u'r');
    EXPECT_EQ(expand(u"%appdata%\\" + fitting), FileList{roaming + fitting});
    EXPECT_EQ(expand(u"%appdata%\\" + fitting + u"r"), FileList{});

    // The same through the macro table: the folder is found, the result does not fit.
    const std::u16string documents = u"C:\\users\\Public\\Documents\\";
    EXPECT_EQ(expand(u"%commondocs%\\" + std::u16string(259 - documents.size() + 1, u'd')),
              FileList{});
}

TEST_F(PathMacrosTest, EveryMacroNamesItsFolder)
{
    struct Row
    {
        std::u16string token;
        int csidl;
    };
    const Row rows[] = {
            {u"%appdata%", platform::csidl::AppData},
            {u"%ProgramFiles%", platform::csidl::ProgramFiles},
            {u"%DESKTOP%", platform::csidl::DesktopDirectory},
            {u"%commonappdata%", platform::csidl::CommonAppData},
            {u"%commondesktop%", platform::csidl::CommonDesktopDirectory},
            {u"%commondocs%", platform::csidl::CommonDocuments},
            {u"%commonprogramfiles%", platform::csidl::ProgramFilesCommon},
            {u"%LocalAppData%", platform::csidl::LocalAppData},
            {u"%windir%", platform::csidl::Windows},
            {u"%SysDir%", platform::csidl::System},
    };
    for (const Row &row : rows) {
        const std::u16string expected = folder(row.csidl);
        ASSERT_FALSE(expected.empty());
        EXPECT_EQ(GetFolderLocation(row.token), expected) << platform::toUtf8(row.token);
    }
    for (const std::u16string_view token : {u"%drive%", u"%nosuch%", u"appdata", u"%", u""})
        EXPECT_EQ(GetFolderLocation(token), u"") << platform::toUtf8(token);
}

TEST_F(PathMacrosTest, LocalAppDataLowNeedsTheKnownFolderQuery)
{
    const std::u16string low = profile() + u"\\AppData\\LocalLow";
    {
        const ScopedKnownFolderQuery none(nullptr);
        EXPECT_EQ(GetFolderLocation(u"%LocalAppDataLow%"), u"");
        EXPECT_EQ(expand(u"%localappdatalow%\\Vendor\\"), FileList{});
        EXPECT_FALSE(environment().get(u"localappdatalow"));
    }
    // Bound to the machine's known folders, as the program starts out.
    EXPECT_EQ(GetFolderLocation(u"%LocalAppDataLow%"), low);
    EXPECT_EQ(expand(u"%localappdatalow%\\Vendor\\"), FileList{low + u"\\Vendor\\"});
}

TEST_F(PathMacrosTest, TheKnownFolderQueryOfTheMachine)
{
    std::u16string path;
    EXPECT_EQ(diskcleaner::GetKnownFolderPathOfMachine(platform::folderIdLocalAppDataLow, 0,
                                                       nullptr, path),
              0);
    EXPECT_EQ(path, profile() + u"\\AppData\\LocalLow");

    std::u16string untouched = u"as it was";
    const int token = 1;
    EXPECT_NE(diskcleaner::GetKnownFolderPathOfMachine(u"{00000000-0000-0000-0000-000000000000}", 0,
                                                       nullptr, untouched),
              0);
    EXPECT_NE(diskcleaner::GetKnownFolderPathOfMachine(platform::folderIdLocalAppDataLow, 0, &token,
                                                       untouched),
              0);
    EXPECT_EQ(untouched, u"as it was");
}

TEST_F(PathMacrosTest, TracesEachStep)
{
    std::vector<std::u16string> lines;
    const diskcleaner::TraceSink saved =
            diskcleaner::SetTraceSink([&](std::u16string_view line) { lines.emplace_back(line); });

    expand(u"%drive%x");
    expand(u"%CommonDocs%\\y");

    diskcleaner::SetTraceSink(saved);
    const std::vector<std::u16string> expected = {
            u"ExpandString(%drive%x)",
            u"ExpandString: Expand %drive%",
            u"Expanding %drive% construct",
            u"Reported as fixed drive: C:\\",
            u"Reported as fixed drive: D:\\",
            u"ExpandString(%CommonDocs%\\y)",
            u"ExpandString: Expand %CommonDocs%",
            u"GetFolderLocation: find %CommonDocs%",
            u"found %commondocs%",
            u"SHGetFolderPath returns: C:\\users\\Public\\Documents",
            u"ExpandString: GetFolderLocation returned %CommonDocs% = C:\\users\\Public\\Documents",
            u"Adding environment variable: CommonDocs",
    };
    EXPECT_EQ(lines, expected);
}

} // namespace
