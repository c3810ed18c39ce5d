#include "PrefixRegistry.h"
#include "WineRegistryFile.h"
#include "WineRegistryText.h"

#include <platform/Registry.h>
#include <platform/Text.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>

// Our reading and writing of the registry checked against Wine itself, on copies of a prefix that
// wineboot made (NIMBRA_WINE_PREFIX, made once per test run).
using namespace platform;
namespace fs = std::filesystem;

namespace {

std::string readFile(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// A copy of the prefix wineboot made, removed again when the object goes. Windows' files are
// shared with the original through hard links; the registry files are copies of their own.
class PrefixCopy
{
public:
    PrefixCopy()
    {
        const char *original = std::getenv("NIMBRA_WINE_PREFIX");
        if (!original || !fs::exists(fs::path(original) / "system.reg"))
            return;
        std::string pattern = (fs::temp_directory_path() / "nimbra-interop-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            throw std::runtime_error("cannot make a temporary folder");
        m_path = pattern;
        const fs::path from = original;
        for (auto entry = fs::recursive_directory_iterator(from);
             entry != fs::recursive_directory_iterator(); ++entry) {
            const fs::path relative = entry->path().lexically_relative(from);
            const fs::path target = fs::path(m_path) / relative;
            if (entry->is_symlink())
                fs::copy_symlink(entry->path(), target);
            else if (entry->is_directory())
                fs::create_directory(target);
            else if (*relative.begin() == "drive_c")
                fs::create_hard_link(entry->path(), target);
            else
                fs::copy_file(entry->path(), target);
        }
    }

    ~PrefixCopy()
    {
        if (m_path.empty())
            return;
        wine("wineserver -k");
        std::error_code ignored;
        fs::remove_all(m_path, ignored);
    }

    bool exists() const { return !m_path.empty(); }
    const std::string &path() const { return m_path; }
    std::string file(const std::string &name) const { return m_path + "/" + name; }

    // Runs a command of Wine's in the prefix and gives its output.
    std::string wine(const std::string &arguments, int *exitStatus = nullptr) const
    {
        const std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY WINEPREFIX='" + m_path +
                                    "' WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml=' " +
                                    arguments + " 2>&1";
        std::string output;
        FILE *pipe = popen(command.c_str(), "r");
        if (!pipe)
            throw std::runtime_error("cannot run " + command);
        char buffer[4096];
        std::size_t count = 0;
        while ((count = fread(buffer, 1, sizeof buffer, pipe)) > 0)
            output.append(buffer, count);
        const int status = pclose(pipe);
        if (exitStatus)
            *exitStatus = status;
        return output;
    }

    // What "reg export" writes for a key, as lines without the empty ones.
    std::multiset<std::string> exported(const std::string &key) const
    {
        const std::string file = m_path + "/export.reg";
        int status = 0;
        const std::string output = wine("wine reg export '" + key + "' '" + file + "' /y", &status);
        EXPECT_EQ(status, 0) << output;
        wine("wineserver -w");
        const std::string bytes = readFile(file);
        fs::remove(file);
        std::u16string units;
        for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) // after the byte order mark
            units.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                                  (static_cast<unsigned char>(bytes[i + 1]) << 8)));
        std::multiset<std::string> lines;
        std::istringstream text(toUtf8(units));
        std::string line;
        while (std::getline(text, line)) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            if (!line.empty())
                lines.insert(line);
        }
        return lines;
    }

private:
    std::string m_path;
};

std::vector<std::string> difference(const std::multiset<std::string> &a,
                                    const std::multiset<std::string> &b)
{
    std::vector<std::string> result;
    std::set_difference(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(result));
    return result;
}

class RegistryInteropTest : public testing::Test
{
protected:
    void SetUp() override
    {
        if (!m_copy.exists())
            GTEST_SKIP() << "NIMBRA_WINE_PREFIX names no prefix made by wineboot";
    }

    PrefixCopy m_copy;
};

TEST_F(RegistryInteropTest, filesWineWroteAreReadAndWrittenBackByteForByte)
{
    for (const char *name : {"system.reg", "user.reg", "userdef.reg"}) {
        SCOPED_TRACE(name);
        const std::string original = readFile(m_copy.file(name));
        WineRegistryFile file;
        ASSERT_TRUE(file.load(original, 0));
        // Every value, decoded and encoded again, gives the line Wine wrote for it.
        std::size_t values = 0;
        std::vector<WineRegistryFile::Key *> pending{&file.root()};
        while (!pending.empty()) {
            WineRegistryFile::Key *key = pending.back();
            pending.pop_back();
            for (const auto &value : file.values(*key)) {
                std::string line;
                wineregistry::appendValueLine(line, value.name, value.value);
                ASSERT_EQ(std::string_view(value.origin, line.size()), line);
                ++values;
            }
            for (const auto &subkey : key->subkeys)
                pending.push_back(subkey.get());
        }
        EXPECT_GT(values, 10u);
        EXPECT_EQ(file.save(), original);
    }

    // The store sees Wine's links: the 32-bit view's shared keys lead to the 64-bit ones.
    const std::unique_ptr<Registry> registry = openPrefixRegistry(m_copy.path());
    std::unique_ptr<RegistryKey> key;
    ASSERT_EQ(registry->open(RegistryHive::LocalMachine,
                             u"Software\\Wow6432Node\\Microsoft\\Windows NT\\CurrentVersion\\"
                             u"ProfileList",
                             key),
              RegistryStatus::Success);
    RegistryKeyInfo info;
    ASSERT_EQ(key->info(info), RegistryStatus::Success);
    EXPECT_GT(info.subkeyCount, 0u);
    EXPECT_EQ(registry->open(RegistryHive::ClassesRoot, u"txtfile\\shell", key),
              RegistryStatus::Success);
}

TEST_F(RegistryInteropTest, changesMadeHereAreExactlyWhatWineSees)
{
    const PrefixCopy untouched;
    const std::u16string greeting = u"h\u00e9llo w\u00f6rld \u2713 \U0001F600";
    {
        const std::unique_ptr<Registry> registry = openPrefixRegistry(m_copy.path());
        ASSERT_TRUE(registry->writability().writable());
        std::unique_ptr<RegistryKey> key;
        ASSERT_EQ(registry->create(RegistryHive::CurrentUser, u"Software\\NimbraInterop\\Sub", key),
                  RegistryStatus::Success);
        ASSERT_EQ(registry->open(RegistryHive::CurrentUser, u"Software\\NimbraInterop", key),
                  RegistryStatus::Success);
        ASSERT_EQ(key->setString(u"Greeting", greeting), RegistryStatus::Success);
        ASSERT_EQ(key->setValue(u"Count", {RegDword, {42, 0, 0, 0}}), RegistryStatus::Success);
        ASSERT_EQ(key->setValue(u"List", {RegMultiSz,
                                          {'o', 0, 'n', 0, 'e', 0, 0, 0, 't', 0, 'w', 0, 'o', 0, 0,
                                           0, 0, 0}}),
                  RegistryStatus::Success);
        std::vector<std::uint8_t> blob(64);
        for (std::size_t i = 0; i < blob.size(); ++i)
            blob[i] = static_cast<std::uint8_t>(i * 3);
        ASSERT_EQ(key->setValue(u"Blob", {RegBinary, blob}), RegistryStatus::Success);
        ASSERT_EQ(registry->open(RegistryHive::CurrentUser, u"Control Panel\\Colors", key),
                  RegistryStatus::Success);
        ASSERT_EQ(key->deleteValue(u"ActiveBorder"), RegistryStatus::Success);
        ASSERT_EQ(registry->open(RegistryHive::LocalMachine,
                                 u"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths", key),
                  RegistryStatus::Success);
        ASSERT_EQ(key->deleteKey(u"iexplore.exe"), RegistryStatus::Success);
    }

    const std::string appPaths = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\App Paths";
    const auto machineBefore = untouched.exported(appPaths);
    const auto machineAfter = m_copy.exported(appPaths);
    EXPECT_EQ(difference(machineAfter, machineBefore), std::vector<std::string>{});
    EXPECT_EQ(difference(machineBefore, machineAfter),
              (std::vector<std::string>{
                      "\"Path\"=\"C:\\\\Program Files\\\\Internet Explorer;\"",
                      "@=\"C:\\\\Program Files\\\\Internet Explorer\\\\iexplore.exe\"",
                      "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\App "
                      "Paths\\iexplore.exe]"}));

    const auto userBefore = untouched.exported("HKCU");
    const auto userAfter = m_copy.exported("HKCU");
    EXPECT_EQ(difference(userBefore, userAfter),
              std::vector<std::string>{"\"ActiveBorder\"=\"255 255 255\""});
    const std::vector<std::string> added = difference(userAfter, userBefore);
    const std::set<std::string> addedSet(added.begin(), added.end());
    EXPECT_TRUE(addedSet.contains("[HKEY_CURRENT_USER\\Software\\NimbraInterop]"));
    EXPECT_TRUE(addedSet.contains("[HKEY_CURRENT_USER\\Software\\NimbraInterop\\Sub]"));
    EXPECT_TRUE(addedSet.contains("\"Greeting\"=\"" + toUtf8(greeting) + "\""));
    EXPECT_TRUE(addedSet.contains("\"Count\"=dword:0000002a"));
    // Nothing else was added: the rest are the lines of the two binary values.
    for (const std::string &line : added) {
        const bool ours = line.starts_with("[HKEY_CURRENT_USER\\Software\\NimbraInterop") ||
                          line.starts_with("\"Greeting\"=") || line.starts_with("\"Count\"=") ||
                          line.starts_with("\"List\"=hex(7):") ||
                          line.starts_with("\"Blob\"=hex:") || line.starts_with("  ");
        EXPECT_TRUE(ours) << line;
    }
    const std::string values = m_copy.wine("wine reg query 'HKCU\\Software\\NimbraInterop'");
    EXPECT_NE(values.find("List    REG_MULTI_SZ    one\\0two"), std::string::npos) << values;
    EXPECT_NE(values.find("Blob    REG_BINARY    000306090C0F"), std::string::npos) << values;
}

TEST_F(RegistryInteropTest, whatWineWritesIsReadHere)
{
    for (const std::string &add : {std::string("/v Multi /t REG_MULTI_SZ /d 'one\\0two'"),
                                   std::string("/v Binary /t REG_BINARY /d 000102ff"),
                                   std::string("/v Expand /t REG_EXPAND_SZ /d '%SystemRoot%\\x'"),
                                   std::string("/v Number /t REG_DWORD /d 4294967295"),
                                   std::string("/v Quote /d 'say \"hi\" \\\\ [x]'")}) {
        int status = 0;
        const std::string output = m_copy.wine(
                "wine reg add 'HKCU\\Software\\FromWine\\Sub[1]' " + add + " /f", &status);
        ASSERT_EQ(status, 0) << output;
    }
    m_copy.wine("wineserver -w");

    const std::unique_ptr<Registry> registry = openPrefixRegistry(m_copy.path());
    std::unique_ptr<RegistryKey> key;
    ASSERT_EQ(registry->open(RegistryHive::CurrentUser, u"software\\fromwine\\SUB[1]", key),
              RegistryStatus::Success);
    const auto valueOf = [&](std::u16string_view name) {
        RegistryValue value;
        EXPECT_EQ(key->value(name, value), RegistryStatus::Success) << toUtf8(name);
        return value;
    };
    EXPECT_EQ(valueOf(u"Multi"),
              (RegistryValue{RegMultiSz,
                             {'o', 0, 'n', 0, 'e', 0, 0, 0, 't', 0, 'w', 0, 'o', 0, 0, 0, 0, 0}}));
    EXPECT_EQ(valueOf(u"Binary"), (RegistryValue{RegBinary, {0, 1, 2, 0xff}}));
    EXPECT_EQ(valueOf(u"Expand"), registryString(u"%SystemRoot%\\x", RegExpandSz));
    EXPECT_EQ(valueOf(u"Number"), (RegistryValue{RegDword, {0xff, 0xff, 0xff, 0xff}}));
    EXPECT_EQ(valueOf(u"Quote"), registryString(u"say \"hi\" \\\\ [x]"));
    // The file Wine wrote is written back unchanged.
    const std::string written = readFile(m_copy.file("user.reg"));
    WineRegistryFile file;
    ASSERT_TRUE(file.load(written, 0));
    EXPECT_EQ(file.save(), written);
}

TEST_F(RegistryInteropTest, theRegistryIsReadOnlyWhileWinesServerRuns)
{
    const std::unique_ptr<Registry> registry = openPrefixRegistry(m_copy.path());
    const auto waitFor = [&](bool writable) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (registry->writability().writable() != writable &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        return registry->writability().writable() == writable;
    };
    const std::string before = readFile(m_copy.file("user.reg"));
    // The server keeps what it inherits open, so it gets no pipe of ours.
    m_copy.wine("wineserver -p30 >/dev/null");
    ASSERT_TRUE(waitFor(false));
    EXPECT_EQ(registry->writability().reason, RegistryReadOnlyReason::ServerRunning);
    std::unique_ptr<RegistryKey> key;
    EXPECT_EQ(registry->create(RegistryHive::CurrentUser, u"Software\\WhileRunning", key),
              RegistryStatus::AccessDenied);
    EXPECT_EQ(readFile(m_copy.file("user.reg")), before);

    m_copy.wine("wineserver -k");
    m_copy.wine("wineserver -w");
    ASSERT_TRUE(waitFor(true));
    ASSERT_EQ(registry->create(RegistryHive::CurrentUser, u"Software\\AfterIt", key),
              RegistryStatus::Success);
    EXPECT_EQ(key->setString(u"When", u"after"), RegistryStatus::Success);
    int status = 0;
    const std::string output = m_copy.wine("wine reg query 'HKCU\\Software\\AfterIt'", &status);
    EXPECT_EQ(status, 0) << output;
    EXPECT_NE(output.find("When    REG_SZ    after"), std::string::npos) << output;
}

} // namespace
