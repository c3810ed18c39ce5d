#include "PrefixEnvironment.h"
#include "PrefixRegistry.h"

#include "TestPrefix.h"

#include <platform/Text.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <string>

using namespace platform;

namespace {

constexpr std::string_view machineHeader = "WINE REGISTRY Version 2\n"
                                           ";; All keys relative to REGISTRY\\\\Machine\n"
                                           "\n"
                                           "#arch=win64\n"
                                           "\n";
constexpr std::string_view userHeader =
        "WINE REGISTRY Version 2\n"
        ";; All keys relative to REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000\n"
        "\n"
        "#arch=win64\n"
        "\n";

// A host with a Unix PATH, TEMP and home that must not reach the Windows side.
PrefixEnvironmentSources typicalHost()
{
    PrefixEnvironmentSources sources;
    sources.hostVariables = {{"PATH", "/usr/bin:/bin"}, {"TEMP", "/host/temp"},
                             {"TMP", "/host/tmp"},      {"HOME", "/home/someone"},
                             {"PWD", "/work"},          {"LANG", "C.UTF-8"},
                             {"FOO_UNIX", "bar"},       {"WINEPREFIX", "/p"}};
    sources.hostName = "buildhost.example.org";
    sources.processorCount = 4;
    return sources;
}

std::map<std::u16string, std::u16string> asMap(const Environment &environment)
{
    std::map<std::u16string, std::u16string> all;
    for (const EnvironmentVariable &variable : environment.variables())
        all.emplace(variable.name, variable.value);
    return all;
}

class PrefixEnvironmentTest : public testing::Test
{
protected:
    std::unique_ptr<PrefixEnvironment>
    build(const PrefixEnvironmentSources &sources = typicalHost())
    {
        const std::unique_ptr<Registry> registry = openPrefixRegistry(m_prefix.path());
        return buildPrefixEnvironment(*registry, user(), sources);
    }

    void writeMachine(std::string_view blocks) const
    {
        m_prefix.writeTopFile("system.reg", std::string(machineHeader) + std::string(blocks));
    }

    void writeUser(std::string_view blocks) const
    {
        m_prefix.writeTopFile("user.reg", std::string(userHeader) + std::string(blocks));
    }

    std::u16string user() const { return u16(m_prefix.userName()); }

    TestPrefix m_prefix;
};

TEST_F(PrefixEnvironmentTest, EmptyRegistryGivesTheEnvironmentOfAFreshPrefix)
{
    std::map<std::u16string, std::u16string> actual = asMap(*build());
    // The only value that depends on the machine the test runs on.
    EXPECT_EQ(actual.erase(u"PROCESSOR_ARCHITECTURE"), 1u);

    const std::u16string profile = u"C:\\users\\" + user();
    const std::map<std::u16string, std::u16string> expected{
            {u"ALLUSERSPROFILE", u"C:\\ProgramData"},
            {u"APPDATA", profile + u"\\AppData\\Roaming"},
            {u"CLIENTNAME", u"Console"},
            {u"CommonProgramFiles", u"C:\\Program Files\\Common Files"},
            {u"CommonProgramFiles(x86)", u"C:\\Program Files (x86)\\Common Files"},
            {u"CommonProgramW6432", u"C:\\Program Files\\Common Files"},
            {u"COMPUTERNAME", u"BUILDHOST"},
            {u"ComSpec", u"C:\\windows\\system32\\cmd.exe"},
            {u"FOO_UNIX", u"bar"},
            {u"HOMEDRIVE", u"C:"},
            {u"HOMEPATH", u"\\users\\" + user()},
            {u"LANG", u"C.UTF-8"},
            {u"LOCALAPPDATA", profile + u"\\AppData\\Local"},
            {u"LOGONSERVER", u"\\\\BUILDHOST"},
            {u"NUMBER_OF_PROCESSORS", u"4"},
            {u"OS", u"Windows_NT"},
            {u"PATH", u"C:\\windows\\system32;C:\\windows;C:\\windows\\system32\\wbem;"
                      u"C:\\windows\\system32\\WindowsPowershell\\v1.0"},
            {u"PATHEXT", u".com;.exe;.bat;.cmd;.vbs;.vbe;.js;.jse;.wsf;.wsh"},
            {u"ProgramData", u"C:\\ProgramData"},
            {u"ProgramFiles", u"C:\\Program Files"},
            {u"ProgramFiles(x86)", u"C:\\Program Files (x86)"},
            {u"ProgramW6432", u"C:\\Program Files"},
            {u"PUBLIC", u"C:\\users\\Public"},
            {u"SESSIONNAME", u"Console"},
            {u"SystemDrive", u"C:"},
            {u"SystemRoot", u"C:\\windows"},
            {u"TEMP", profile + u"\\Temp"},
            {u"TMP", profile + u"\\Temp"},
            {u"USERDOMAIN", u"BUILDHOST"},
            {u"USERNAME", user()},
            {u"USERPROFILE", profile},
            {u"WINEPREFIX", u"/p"},
            {u"windir", u"C:\\windows"},
            {u"winsysdir", u"C:\\windows\\system32"},
    };
    EXPECT_EQ(actual, expected);
}

TEST_F(PrefixEnvironmentTest, LayersOverrideInWindowsOrder)
{
    writeMachine(R"reg([System\\CurrentControlSet\\Control\\Session Manager\\Environment] 1700000000
"DERIVED"=str(2):"%PLAIN%\\sub"
"MYVAR"="machine"
"NUMBER_OF_PROCESSORS"="7"
"ONLYMACHINE"="m"
"OS"="Other"
"PATH"=str(2):"%SystemRoot%\\system32"
"PLAIN"="C:\\plain"
"TEMP"=str(2):"%SystemRoot%\\temp"
"TMP"=str(2):"%SystemRoot%\\temp"
"WEIRD"=dword:00000001
)reg");
    writeUser(R"reg([Environment] 1700000000
"EMPTYV"=""
"FROMMACHINE"=str(2):"%ONLYMACHINE%-user"
"MYVAR"="user"
"PATH"=str(2):"%USERPROFILE%\\bin"
"TMP"="C:\\users\\me\\Temp"

[Volatile Environment] 1700000000
"APPDATA"="C:\\stale"
"HOMESHARE"="\\\\server\\share"
"MYVAR"="volatile"
"USERNAME"="stale"
)reg");
    PrefixEnvironmentSources host = typicalHost();
    host.hostVariables.emplace_back("MYVAR", "host");
    host.hostVariables.emplace_back("WINEPATH", "Z:\\wp");
    const std::unique_ptr<PrefixEnvironment> environment = build(host);

    const std::u16string profile = u"C:\\users\\" + user();
    const std::pair<std::u16string_view, std::optional<std::u16string>> expected[] = {
            // The volatile key wins over the user's, the user's over the machine's and the host's.
            {u"MYVAR", u"volatile"},
            {u"ONLYMACHINE", u"m"},
            // The user's PATH goes after the machine's, the host's WINEPATH in front of both.
            {u"PATH", u"Z:\\wp;C:\\windows\\system32;" + profile + u"\\bin"},
            // The user's key has no TEMP of its own, so the machine's stays and the host's is gone.
            {u"TEMP", u"C:\\windows\\temp"},
            {u"TMP", u"C:\\users\\me\\Temp"},
            // Plain strings are set before the expandable ones of the same key are expanded.
            {u"DERIVED", u"C:\\plain\\sub"},
            {u"FROMMACHINE", u"m-user"},
            {u"EMPTYV", std::nullopt},
            {u"WEIRD", std::nullopt},
            // A key that exists keeps its values; no value of a fresh prefix is added to it.
            {u"OS", u"Other"},
            {u"ComSpec", std::nullopt},
            // Written afresh whenever Wine starts, over what the registry says.
            {u"NUMBER_OF_PROCESSORS", u"4"},
            {u"USERNAME", user()},
            {u"APPDATA", profile + u"\\AppData\\Roaming"},
            {u"HOMESHARE", std::nullopt},
            {u"HOME", std::nullopt},
            {u"PWD", std::nullopt},
            {u"WINEPATH", std::nullopt},
    };
    for (const auto &[name, value] : expected)
        EXPECT_EQ(environment->get(name), value) << toUtf8(name);
}

TEST_F(PrefixEnvironmentTest, ProfileAndProgramFoldersFollowTheRegistry)
{
    writeMachine(R"reg([Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList] 1700000000
"ProfilesDirectory"=str(2):"%SystemDrive%\\profiles\\"
"ProgramData"=str(2):"C:\\PD2"
"Public"=str(2):"C:\\profiles\\Shared"

[Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\S-1-5-21-0-0-0-1000] 1700000000
"ProfileImagePath"="C:\\elsewhere"

[Software\\Microsoft\\Windows\\CurrentVersion] 1700000000
"CommonFilesDir"="C:\\PF2\\Shared Files"
"ProgramFilesDir"="C:\\PF2"
"ProgramFilesDir (x86)"="C:\\PF3"
)reg");
    writeUser(
            R"reg([Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders] 1700000000
"AppData"=str(2):"%USERPROFILE%\\RoamX"
)reg");
    const std::unique_ptr<PrefixEnvironment> environment = build();

    // Wine puts the profile in the profiles folder under the user's name, whatever the path
    // recorded for the SID says.
    const std::u16string profile = u"C:\\profiles\\" + user();
    const std::pair<std::u16string_view, std::u16string> expected[] = {
            {u"USERPROFILE", profile},
            {u"HOMEPATH", u"\\profiles\\" + user()},
            {u"APPDATA", profile + u"\\RoamX"},
            {u"LOCALAPPDATA", profile + u"\\AppData\\Local"},
            {u"TEMP", profile + u"\\Temp"},
            {u"ProgramData", u"C:\\PD2"},
            {u"ALLUSERSPROFILE", u"C:\\PD2"},
            {u"PUBLIC", u"C:\\profiles\\Shared"},
            {u"ProgramFiles", u"C:\\PF2"},
            {u"ProgramW6432", u"C:\\PF2"},
            {u"ProgramFiles(x86)", u"C:\\PF3"},
            {u"CommonProgramFiles", u"C:\\PF2\\Shared Files"},
            {u"CommonProgramFiles(x86)", u"C:\\Program Files (x86)\\Common Files"},
    };
    for (const auto &[name, value] : expected)
        EXPECT_EQ(environment->get(name), value) << toUtf8(name);
}

TEST_F(PrefixEnvironmentTest, ThirtyTwoBitPrefixHasNoSecondProgramFolders)
{
    writeMachine(R"reg([Software\\Microsoft\\Windows\\CurrentVersion] 1700000000
"CommonFilesDir"="C:\\Program Files\\Common Files"
"ProgramFilesDir"="C:\\Program Files"
)reg");
    const std::unique_ptr<PrefixEnvironment> environment = build();

    EXPECT_EQ(environment->get(u"ProgramFiles"), u"C:\\Program Files");
    for (const std::u16string_view name :
         {u"ProgramFiles(x86)", u"ProgramW6432", u"CommonProgramFiles(x86)", u"CommonProgramW6432"})
        EXPECT_EQ(environment->get(name), std::nullopt) << toUtf8(name);
}

TEST_F(PrefixEnvironmentTest, ComputerNameComesFromTheHostName)
{
    const struct
    {
        std::string hostName;
        std::optional<std::u16string> computerName;
    } cases[] = {
            {"vm", u"VM"},
            {"my-very-long-host-name.example.org", u"MY-VERY-LONG-HO"},
            {"a.b.c", u"A"},
            {"", std::nullopt},
    };
    for (const auto &row : cases) {
        PrefixEnvironmentSources host = typicalHost();
        host.hostName = row.hostName;
        const std::unique_ptr<PrefixEnvironment> environment = build(host);
        EXPECT_EQ(environment->get(u"COMPUTERNAME"), row.computerName) << row.hostName;
        EXPECT_EQ(environment->get(u"USERDOMAIN"), row.computerName) << row.hostName;
        EXPECT_EQ(environment->get(u"LOGONSERVER"),
                  row.computerName ? std::optional(u"\\\\" + *row.computerName) : std::nullopt)
                << row.hostName;
    }
}

TEST(PrefixEnvironmentVariables, NamesCompareWithoutRegardToCase)
{
    PrefixEnvironment environment;
    EXPECT_TRUE(environment.set(u"Path", u"one"));
    EXPECT_EQ(environment.get(u"PATH"), u"one");
    EXPECT_EQ(environment.get(u"path"), u"one");

    // Setting under another spelling replaces the variable and keeps the new spelling.
    EXPECT_TRUE(environment.set(u"PATH", u"two"));
    EXPECT_EQ(environment.variables(), (std::vector<EnvironmentVariable>{{u"PATH", u"two"}}));

    EXPECT_TRUE(environment.set(u"pAtH", std::nullopt));
    EXPECT_EQ(environment.get(u"Path"), std::nullopt);
    EXPECT_TRUE(environment.variables().empty());
}

TEST(PrefixEnvironmentVariables, SetFollowsSetEnvironmentVariable)
{
    PrefixEnvironment environment;
    // An empty value is a value.
    EXPECT_TRUE(environment.set(u"EMPTY", u""));
    EXPECT_EQ(environment.get(u"EMPTY"), u"");
    // Removing what is not there succeeds.
    EXPECT_TRUE(environment.set(u"ABSENT", std::nullopt));
    // Only the first character of a name may be "=".
    EXPECT_TRUE(environment.set(u"=C:", u"C:\\work"));
    EXPECT_EQ(environment.get(u"=c:"), u"C:\\work");
    EXPECT_FALSE(environment.set(u"", u"x"));
    EXPECT_FALSE(environment.set(u"A=B", u"x"));
    EXPECT_FALSE(environment.set(u"A=", std::nullopt));
    EXPECT_EQ(environment.get(u"A=B"), std::nullopt);
    EXPECT_EQ(environment.get(u""), std::nullopt);
}

TEST(PrefixEnvironmentVariables, ListedInCaseInsensitiveOrder)
{
    PrefixEnvironment environment;
    for (const std::u16string_view name : {u"windir", u"ALLUSERSPROFILE", u"Path", u"APPDATA"})
        environment.set(name, u"x");
    std::vector<std::u16string> names;
    for (const EnvironmentVariable &variable : environment.variables())
        names.push_back(variable.name);
    EXPECT_EQ(names,
              (std::vector<std::u16string>{u"ALLUSERSPROFILE", u"APPDATA", u"Path", u"windir"}));
}

TEST(PrefixEnvironmentVariables, ExpandFollowsExpandEnvironmentStrings)
{
    PrefixEnvironment environment;
    environment.set(u"A", u"1");
    environment.set(u"Long Name", u"spaced");
    environment.set(u"EMPTY", u"");
    environment.set(u"PERCENT", u"%A%");
    const std::pair<std::u16string_view, std::u16string_view> cases[] = {
            {u"", u""},
            {u"plain text", u"plain text"},
            {u"%A%", u"1"},
            {u"%a%\\x", u"1\\x"},
            {u"%A%%A%", u"11"},
            {u"%Long Name%", u"spaced"},
            {u"[%EMPTY%]", u"[]"},
            // A value is not expanded again.
            {u"%PERCENT%", u"%A%"},
            {u"%UNKNOWN%", u"%UNKNOWN%"},
            {u"%UNKNOWN%\\x", u"%UNKNOWN%\\x"},
            // The closing "%" of an unknown reference does not open the next one.
            {u"%UNKNOWN%A%", u"%UNKNOWN%A%"},
            {u"%A%B%", u"1B%"},
            {u"%%", u"%%"},
            {u"100%", u"100%"},
            {u"%A", u"%A"},
            {u"x%%A%", u"x%%A%"},
            {u"%A%%", u"1%"},
    };
    for (const auto &[text, expanded] : cases)
        EXPECT_EQ(environment.expand(text), expanded) << toUtf8(text);
}

TEST(PrefixEnvironmentSources, ComeFromTheRunningProcess)
{
    ASSERT_EQ(::setenv("NIMBRA_ENVIRONMENT_TEST", "a=b", 1), 0);
    const PrefixEnvironmentSources sources = PrefixEnvironmentSources::fromProcess();
    ::unsetenv("NIMBRA_ENVIRONMENT_TEST");

    bool found = false;
    for (const auto &[name, value] : sources.hostVariables)
        found = found || (name == "NIMBRA_ENVIRONMENT_TEST" && value == "a=b");
    EXPECT_TRUE(found);
    EXPECT_FALSE(sources.hostName.empty());
    EXPECT_GT(sources.processorCount, 0u);
}

} // namespace
