#include "PrefixRegistry.h"
#include "WineRegistryText.h"

#include <TestPrefix.h>
#include <platform/Registry.h>
#include <platform/Text.h>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <sstream>
#include <stdexcept>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace platform;
namespace fs = std::filesystem;

namespace {

const std::string machineHeader = "WINE REGISTRY Version 2\n"
                                  ";; All keys relative to REGISTRY\\\\Machine\n\n#arch=win64\n";
const std::string userHeader =
        "WINE REGISTRY Version 2\n"
        ";; All keys relative to REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000\n\n#arch=win64\n";
const std::string defaultUserHeader =
        "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\User\\\\.Default\n\n"
        "#arch=win64\n";

// A link key's block, as Wine writes it.
std::string linkBlock(const std::string &path, std::u16string_view target)
{
    std::string block = "\n[" + path + "] 1700000000\n#time=1da1b2c3d4e5f60\n#link\n";
    // Link targets are stored without a terminating NUL.
    RegistryValue value = registryString(target, RegLink);
    value.data.resize(value.data.size() - 2);
    wineregistry::appendValueLine(block, u"SymbolicLinkValue", value);
    return block;
}

const std::string machineFile =
        machineHeader +
        "\n[Software\\\\Classes\\\\.txt] 1700000000\n#time=1da1b2c3d4e5f60\n"
        "@=\"txtfile\"\n\"Content Type\"=\"text/plain\"\n"
        "\n[Software\\\\Classes\\\\Shared\\\\MachineOnly] 1700000000\n#time=1da1b2c3d4e5f60\n"
        "\n[Software\\\\Classes\\\\txtfile\\\\shell\\\\open\\\\command] 1700000000\n"
        "#time=1da1b2c3d4e5f60\n@=\"notepad.exe %1\"\n"
        "\n[Software\\\\Classes\\\\Wow6432Node\\\\Thing] 1700000000\n#time=1da1b2c3d4e5f60\n"
        "\"v\"=\"32\"\n" +
        linkBlock("Software\\\\Dangling", u"\\Registry\\Machine\\Software\\Nowhere") +
        linkBlock("Software\\\\Loop\\\\A", u"\\Registry\\Machine\\Software\\Loop\\B") +
        linkBlock("Software\\\\Loop\\\\B", u"\\Registry\\Machine\\Software\\Loop\\A") +
        linkBlock("Software\\\\ToUser",
                  u"\\REGISTRY\\USER\\S-1-5-21-0-0-0-1000\\Software\\Target") +
        "\n[Software\\\\Wine\\\\Drives] 1700000000\n#time=1da1b2c3d4e5f60\n\"d:\"=\"cdrom\"\n" +
        linkBlock("Software\\\\Wow6432Node\\\\Classes",
                  u"\\Registry\\Machine\\Software\\Classes\\Wow6432Node");

const std::string userFile =
        userHeader +
        "\n[Software\\\\Classes\\\\.txt] 1700000000\n#time=1da1b2c3d4e5f60\n"
        "\"Content Type\"=\"text/user\"\n\"UserOnly\"=\"1\"\n"
        "\n[Software\\\\Classes\\\\Shared\\\\UserOnly] 1700000000\n#time=1da1b2c3d4e5f60\n"
        "\n[Software\\\\Classes\\\\userfile] 1700000000\n#time=1da1b2c3d4e5f60\n@=\"u\"\n"
        "\n[Software\\\\Target\\\\Inner] 1700000000\n#time=1da1b2c3d4e5f60\n\"x\"=\"1\"\n";

const std::string defaultUserFile =
        defaultUserHeader +
        "\n[Software\\\\DefaultOnly] 1700000000\n#time=1da1b2c3d4e5f60\n\"d\"=\"1\"\n";

std::string readFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Replaces a file the way Wine does: a new file renamed over the old one.
void replaceFile(const std::string &path, const std::string &text)
{
    const std::string temporary = path + ".writing";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << text;
    }
    fs::rename(temporary, path);
}

std::vector<std::string> filesIn(const std::string &folder)
{
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::u16string> subkeysOf(const RegistryKey &key)
{
    std::vector<std::u16string> names;
    std::u16string name;
    for (std::uint32_t i = 0; key.subkeyName(i, name) == RegistryStatus::Success; ++i)
        names.push_back(name);
    return names;
}

std::vector<std::u16string> valueNamesOf(const RegistryKey &key)
{
    std::vector<std::u16string> names;
    std::u16string name;
    for (std::uint32_t i = 0; key.valueAt(i, name, nullptr) == RegistryStatus::Success; ++i)
        names.push_back(name);
    return names;
}

class PrefixRegistryTest : public testing::Test
{
protected:
    PrefixRegistryTest()
    {
        std::string pattern = (fs::temp_directory_path() / "nimbra-servers-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            throw std::runtime_error("cannot make a temporary folder");
        m_serverRoot = pattern;
        m_prefix.writeTopFile("system.reg", machineFile);
        m_prefix.writeTopFile("user.reg", userFile);
        m_prefix.writeTopFile("userdef.reg", defaultUserFile);
        m_registry = std::make_unique<PrefixRegistry>(m_prefix.path(), m_serverRoot);
    }

    ~PrefixRegistryTest() override
    {
        std::error_code ignored;
        fs::remove_all(m_serverRoot, ignored);
    }

    std::string topFile(const std::string &name) const { return m_prefix.path() + "/" + name; }

    std::unique_ptr<RegistryKey> open(RegistryHive hive, std::u16string_view path) const
    {
        std::unique_ptr<RegistryKey> key;
        EXPECT_EQ(m_registry->open(hive, path, key), RegistryStatus::Success) << toUtf8(path);
        return key;
    }

    RegistryStatus openStatus(RegistryHive hive, std::u16string_view path) const
    {
        std::unique_ptr<RegistryKey> key;
        return m_registry->open(hive, path, key);
    }

    std::u16string text(RegistryHive hive, std::u16string_view path, std::u16string_view name)
    {
        std::unique_ptr<RegistryKey> key;
        RegistryValue value;
        if (m_registry->open(hive, path, key) != RegistryStatus::Success ||
            key->value(name, value) != RegistryStatus::Success)
            return u"<none>";
        return registryText(value);
    }

    TestPrefix m_prefix;
    std::string m_serverRoot;
    std::unique_ptr<PrefixRegistry> m_registry;
};

TEST_F(PrefixRegistryTest, eachFileIsItsHive)
{
    EXPECT_EQ(text(RegistryHive::LocalMachine, u"Software\\Wine\\Drives", u"d:"), u"cdrom");
    EXPECT_EQ(text(RegistryHive::CurrentUser, u"Software\\Target\\Inner", u"x"), u"1");
    EXPECT_EQ(text(RegistryHive::Users, u"S-1-5-21-0-0-0-1000\\Software\\Target\\Inner", u"x"),
              u"1");
    EXPECT_EQ(text(RegistryHive::Users, u".DEFAULT\\software\\defaultonly", u"D"), u"1");
    EXPECT_EQ(subkeysOf(*open(RegistryHive::Users, u"")),
              (std::vector<std::u16string>{u".Default", u"S-1-5-21-0-0-0-1000"}));
    EXPECT_EQ(openStatus(RegistryHive::Users, u"S-1-5-18"), RegistryStatus::FileNotFound);
}

TEST_F(PrefixRegistryTest, classesRootReadsTheUsersClassesOverTheMachines)
{
    const auto txt = open(RegistryHive::ClassesRoot, u".txt");
    EXPECT_EQ(valueNamesOf(*txt), (std::vector<std::u16string>{u"", u"Content Type", u"UserOnly"}));
    EXPECT_EQ(text(RegistryHive::ClassesRoot, u".txt", u"content type"), u"text/user");
    EXPECT_EQ(text(RegistryHive::ClassesRoot, u".txt", u""), u"txtfile");
    EXPECT_EQ(text(RegistryHive::ClassesRoot, u"TXTFILE\\shell\\open\\command", u""),
              u"notepad.exe %1");
    EXPECT_EQ(text(RegistryHive::ClassesRoot, u"userfile", u""), u"u");
    EXPECT_EQ(subkeysOf(*open(RegistryHive::ClassesRoot, u"Shared")),
              (std::vector<std::u16string>{u"MachineOnly", u"UserOnly"}));
    EXPECT_EQ(subkeysOf(*open(RegistryHive::ClassesRoot, u"")),
              (std::vector<std::u16string>{u".txt", u"Shared", u"txtfile", u"userfile",
                                           u"Wow6432Node"}));
    RegistryKeyInfo info;
    ASSERT_EQ(txt->info(info), RegistryStatus::Success);
    EXPECT_EQ(info.valueCount, 3u);
    EXPECT_EQ(info.longestValueName, 12u);
    EXPECT_EQ(info.longestValueData, 20u); // the user's "text/user" with its terminator
    EXPECT_EQ(openStatus(RegistryHive::ClassesRoot, u".none"), RegistryStatus::FileNotFound);
}

TEST_F(PrefixRegistryTest, deletingThroughClassesRootRemovesBothParts)
{
    auto txt = open(RegistryHive::ClassesRoot, u".txt");
    EXPECT_EQ(txt->deleteValue(u"Content Type"), RegistryStatus::Success);
    EXPECT_EQ(text(RegistryHive::LocalMachine, u"Software\\Classes\\.txt", u"Content Type"),
              u"<none>");
    EXPECT_EQ(text(RegistryHive::CurrentUser, u"Software\\Classes\\.txt", u"Content Type"),
              u"<none>");
    EXPECT_EQ(txt->deleteValue(u"Content Type"), RegistryStatus::FileNotFound);

    auto top = open(RegistryHive::ClassesRoot, u"");
    // A key goes after its contents, in both parts.
    EXPECT_EQ(top->deleteKey(u"Shared"), RegistryStatus::AccessDenied);
    EXPECT_EQ(top->deleteKey(u"Shared\\MachineOnly"), RegistryStatus::Success);
    EXPECT_EQ(top->deleteKey(u"Shared\\UserOnly"), RegistryStatus::Success);
    EXPECT_EQ(top->deleteKey(u"Shared"), RegistryStatus::Success);
    EXPECT_EQ(top->deleteKey(u".txt"), RegistryStatus::Success);
    EXPECT_EQ(openStatus(RegistryHive::LocalMachine, u"Software\\Classes\\.txt"),
              RegistryStatus::FileNotFound);
    EXPECT_EQ(openStatus(RegistryHive::CurrentUser, u"Software\\Classes\\.txt"),
              RegistryStatus::FileNotFound);
    EXPECT_EQ(openStatus(RegistryHive::CurrentUser, u"Software\\Classes\\Shared"),
              RegistryStatus::FileNotFound);
    RegistryValue value;
    EXPECT_EQ(txt->value(u"", value), RegistryStatus::KeyDeleted);
}

TEST_F(PrefixRegistryTest, writesThroughClassesRootGoWhereWindowsPutsThem)
{
    // Values go to the user's part where the key has one, else to the machine's.
    EXPECT_EQ(open(RegistryHive::ClassesRoot, u".txt")->setString(u"New", u"user"),
              RegistryStatus::Success);
    EXPECT_EQ(text(RegistryHive::CurrentUser, u"Software\\Classes\\.txt", u"New"), u"user");
    EXPECT_EQ(open(RegistryHive::ClassesRoot, u"txtfile")->setString(u"New", u"machine"),
              RegistryStatus::Success);
    EXPECT_EQ(text(RegistryHive::LocalMachine, u"Software\\Classes\\txtfile", u"New"), u"machine");
    // New keys go to the machine's part.
    std::unique_ptr<RegistryKey> created;
    ASSERT_EQ(m_registry->create(RegistryHive::ClassesRoot, u".new\\sub", created),
              RegistryStatus::Success);
    EXPECT_EQ(openStatus(RegistryHive::LocalMachine, u"Software\\Classes\\.new\\sub"),
              RegistryStatus::Success);
    EXPECT_EQ(openStatus(RegistryHive::CurrentUser, u"Software\\Classes\\.new"),
              RegistryStatus::FileNotFound);
}

TEST(PrefixRegistryClassesRoot, creatingAKeyMakesTheMachinesClassesKeyWhenNeitherPartHasOne)
{
    TestPrefix prefix;
    PrefixRegistry registry(prefix.path(), prefix.path() + "/no-server");
    std::unique_ptr<RegistryKey> created;
    ASSERT_EQ(registry.create(RegistryHive::ClassesRoot, u".new\\sub", created),
              RegistryStatus::Success);
    std::unique_ptr<RegistryKey> machine;
    EXPECT_EQ(registry.open(RegistryHive::LocalMachine, u"Software\\Classes\\.new\\sub", machine),
              RegistryStatus::Success);
    std::unique_ptr<RegistryKey> user;
    EXPECT_EQ(registry.open(RegistryHive::CurrentUser, u"Software\\Classes", user),
              RegistryStatus::FileNotFound);
}

TEST_F(PrefixRegistryTest, linksAreFollowedWhenAPathLeadsThroughThem)
{
    EXPECT_EQ(text(RegistryHive::LocalMachine, u"Software\\Wow6432Node\\Classes\\Thing", u"v"),
              u"32");
    EXPECT_EQ(subkeysOf(*open(RegistryHive::LocalMachine, u"Software\\Wow6432Node\\Classes")),
              (std::vector<std::u16string>{u"Thing"}));
    // Across files: a machine key that leads into the user's file.
    EXPECT_EQ(text(RegistryHive::LocalMachine, u"Software\\ToUser\\Inner", u"x"), u"1");
    // Links that lead nowhere or in a circle open nothing.
    EXPECT_EQ(openStatus(RegistryHive::LocalMachine, u"Software\\Dangling"),
              RegistryStatus::FileNotFound);
    EXPECT_EQ(openStatus(RegistryHive::LocalMachine, u"Software\\Loop\\A\\x"),
              RegistryStatus::FileNotFound);
    // Writing a value through a link writes the target, as on Windows.
    EXPECT_EQ(open(RegistryHive::LocalMachine, u"Software\\ToUser\\Inner")->setString(u"y", u"2"),
              RegistryStatus::Success);
    EXPECT_EQ(text(RegistryHive::CurrentUser, u"Software\\Target\\Inner", u"y"), u"2");
}

TEST_F(PrefixRegistryTest, nothingIsDeletedThroughALink)
{
    const std::string machineBefore = readFile(topFile("system.reg"));
    const std::string userBefore = readFile(topFile("user.reg"));
    auto software = open(RegistryHive::LocalMachine, u"Software");
    EXPECT_EQ(software->deleteKey(u"ToUser\\Inner"), RegistryStatus::AccessDenied);
    EXPECT_EQ(software->deleteKey(u"Wow6432Node\\Classes"), RegistryStatus::AccessDenied);
    EXPECT_EQ(software->deleteKey(u"Dangling"), RegistryStatus::AccessDenied);
    auto inner = open(RegistryHive::LocalMachine, u"Software\\ToUser\\Inner");
    EXPECT_EQ(inner->deleteValue(u"x"), RegistryStatus::AccessDenied);
    EXPECT_EQ(inner->deleteKey(u""), RegistryStatus::AccessDenied);
    EXPECT_EQ(readFile(topFile("system.reg")), machineBefore);
    EXPECT_EQ(readFile(topFile("user.reg")), userBefore);
    // The same key, reached by its own path, can go.
    EXPECT_EQ(open(RegistryHive::CurrentUser, u"Software\\Target")->deleteKey(u"Inner"),
              RegistryStatus::Success);
}

TEST_F(PrefixRegistryTest, aChangeRewritesOnlyTheChangedKeyWithTheCurrentTime)
{
    const std::time_t before = std::time(nullptr);
    ASSERT_EQ(open(RegistryHive::LocalMachine, u"software\\wine\\drives")->setString(u"e:", u"hd"),
              RegistryStatus::Success);
    const std::time_t after = std::time(nullptr);

    const std::string written = readFile(topFile("system.reg"));
    const std::string keyLine = "[Software\\\\Wine\\\\Drives] ";
    const std::size_t start = machineFile.find(keyLine);
    const std::size_t end = machineFile.find("\n\n", start);
    ASSERT_NE(start, std::string::npos);
    // Everything before and after the key's block is as it was.
    EXPECT_EQ(written.substr(0, start + keyLine.size()),
              machineFile.substr(0, start + keyLine.size()));
    const std::size_t writtenEnd = written.find("\n\n", start);
    EXPECT_EQ(written.substr(writtenEnd), machineFile.substr(end));
    // The key line and its time say when the change happened.
    std::istringstream block(
            written.substr(start + keyLine.size(), writtenEnd - start - keyLine.size()));
    long long seconds = 0;
    std::string timeLine, first, second, third;
    block >> seconds >> timeLine >> first >> second;
    EXPECT_GE(seconds, before);
    EXPECT_LE(seconds, after);
    const unsigned long long ticks = std::stoull(timeLine.substr(6), nullptr, 16);
    EXPECT_EQ(static_cast<long long>((ticks - fileTimeUnixEpoch) / fileTimeTicksPerSecond),
              seconds);
    EXPECT_EQ(first, "\"d:\"=\"cdrom\"");
    EXPECT_EQ(second, "\"e:\"=\"hd\"");
    EXPECT_FALSE(block >> third);
    // Nothing else in the prefix changed, and no temporary file is left.
    EXPECT_EQ(readFile(topFile("user.reg")), userFile);
    EXPECT_EQ(filesIn(m_prefix.path()),
              (std::vector<std::string>{"dosdevices", "drive_c", "system.reg", "user.reg",
                                        "userdef.reg"}));
}

TEST_F(PrefixRegistryTest, aFileChangedOnDiskIsReadAgain)
{
    auto drives = open(RegistryHive::LocalMachine, u"Software\\Wine\\Drives");
    EXPECT_EQ(text(RegistryHive::LocalMachine, u"Software\\Wine\\Drives", u"d:"), u"cdrom");
    std::string changed = machineFile;
    changed.replace(changed.find("\"d:\"=\"cdrom\""), 12, "\"d:\"=\"floppy\"");
    replaceFile(topFile("system.reg"), changed);
    RegistryValue value;
    ASSERT_EQ(drives->value(u"d:", value), RegistryStatus::Success);
    EXPECT_EQ(registryText(value), u"floppy");

    // A key that is gone from the new file is gone for its open keys too.
    changed.replace(changed.find("[Software\\\\Wine\\\\Drives]"), 2, "[X");
    replaceFile(topFile("system.reg"), changed);
    EXPECT_EQ(drives->value(u"d:", value), RegistryStatus::KeyDeleted);
}

TEST_F(PrefixRegistryTest, aWriteKeepsWhatSomeoneElseChanged)
{
    auto drives = open(RegistryHive::LocalMachine, u"Software\\Wine\\Drives");
    std::string changed = machineFile + "\n[Software\\\\Other] 1700000000\n#time=1\n\"o\"=\"1\"\n";
    replaceFile(topFile("system.reg"), changed);
    ASSERT_EQ(drives->setString(u"e:", u"hd"), RegistryStatus::Success);
    EXPECT_EQ(text(RegistryHive::LocalMachine, u"Software\\Other", u"o"), u"1");
    EXPECT_EQ(text(RegistryHive::LocalMachine, u"Software\\Wine\\Drives", u"e:"), u"hd");
    EXPECT_NE(readFile(topFile("system.reg")).find("[Software\\\\Other] 1700000000\n"),
              std::string::npos);
}

// Limits the size of files this process writes, for as long as it lives.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &m_previous);
        m_previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = m_previous;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &m_previous);
        std::signal(SIGXFSZ, m_previousHandler);
    }

private:
    rlimit m_previous{};
    void (*m_previousHandler)(int) = nullptr;
};

TEST_F(PrefixRegistryTest, aWriteCutShortLeavesTheOldFileWhole)
{
    auto drives = open(RegistryHive::LocalMachine, u"Software\\Wine\\Drives");
    {
        const FileSizeLimit limit(machineFile.size() / 2);
        EXPECT_EQ(drives->setString(u"e:", u"hd"), RegistryStatus::RegistryIoFailed);
    }
    EXPECT_EQ(readFile(topFile("system.reg")), machineFile);
    EXPECT_EQ(filesIn(m_prefix.path()),
              (std::vector<std::string>{"dosdevices", "drive_c", "system.reg", "user.reg",
                                        "userdef.reg"}));
    // Nothing of the failed change remains, and the next change succeeds.
    EXPECT_EQ(text(RegistryHive::LocalMachine, u"Software\\Wine\\Drives", u"e:"), u"<none>");
    EXPECT_EQ(drives->setString(u"f:", u"hd"), RegistryStatus::Success);
    EXPECT_EQ(text(RegistryHive::LocalMachine, u"Software\\Wine\\Drives", u"f:"), u"hd");
    EXPECT_EQ(text(RegistryHive::LocalMachine, u"Software\\Wine\\Drives", u"e:"), u"<none>");
}

// A process that holds the lock a running Wine server holds, until the object goes.
class FakeServer
{
public:
    explicit FakeServer(const std::string &serverFolder)
    {
        fs::create_directories(serverFolder);
        const std::string lockPath = serverFolder + "/lock";
        int ready[2];
        int release[2];
        if (pipe(ready) != 0 || pipe(release) != 0)
            throw std::runtime_error("pipe");
        m_pid = fork();
        if (m_pid == 0) {
            // Only the parent may hold the release pipe open, so that its close lets go.
            close(release[1]);
            close(ready[0]);
            const int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT, 0600);
            struct flock lock = {};
            lock.l_type = F_WRLCK;
            lock.l_whence = SEEK_SET;
            lock.l_len = 1;
            const char byte = fd >= 0 && fcntl(fd, F_SETLK, &lock) == 0 ? 'y' : 'n';
            (void)!write(ready[1], &byte, 1);
            char ignored;
            (void)!read(release[0], &ignored, 1);
            _exit(0);
        }
        close(ready[1]);
        close(release[0]);
        m_release = release[1];
        char byte = 'n';
        (void)!read(ready[0], &byte, 1);
        close(ready[0]);
        if (byte != 'y')
            throw std::runtime_error("the fake server could not take its lock");
    }
    ~FakeServer()
    {
        close(m_release);
        waitpid(m_pid, nullptr, 0);
    }
    pid_t pid() const { return m_pid; }

private:
    pid_t m_pid = -1;
    int m_release = -1;
};

// Where Wine keeps the server folder of a prefix: below ".wine-<uid>", or with Debian's Wine
// below the folder the prefix's "wineserver" file names.
struct ServerLayout
{
    const char *label;
    std::string wineserverFile; // empty: none
    std::string base;           // below the server root; "<uid>" stands for the user id
};

// Names the row in test listings.
void PrintTo(const ServerLayout &row, std::ostream *out)
{
    *out << row.label;
}

class ServerGuardTest : public PrefixRegistryTest, public testing::WithParamInterface<ServerLayout>
{
protected:
    std::string serverFolder() const
    {
        std::string base = GetParam().base;
        if (const auto uid = base.find("<uid>"); uid != std::string::npos)
            base.replace(uid, 5, std::to_string(getuid()));
        struct stat prefix = {};
        stat(m_prefix.path().c_str(), &prefix);
        char name[64];
        std::snprintf(name, sizeof name, "/server-%llx-%llx",
                      static_cast<unsigned long long>(prefix.st_dev),
                      static_cast<unsigned long long>(prefix.st_ino));
        return m_serverRoot + "/" + base + name;
    }
};

TEST_P(ServerGuardTest, theRegistryIsReadOnlyWhileAServerRuns)
{
    if (!GetParam().wineserverFile.empty())
        m_prefix.writeTopFile("wineserver", GetParam().wineserverFile);
    auto drives = open(RegistryHive::LocalMachine, u"Software\\Wine\\Drives");
    {
        const FakeServer server(serverFolder());
        const RegistryWritability writability = m_registry->writability();
        EXPECT_EQ(writability.reason, RegistryReadOnlyReason::ServerRunning);
        EXPECT_EQ(writability.detail, std::to_string(server.pid()));
        EXPECT_EQ(drives->setString(u"e:", u"hd"), RegistryStatus::AccessDenied);
        EXPECT_EQ(drives->deleteValue(u"d:"), RegistryStatus::AccessDenied);
        EXPECT_EQ(open(RegistryHive::LocalMachine, u"Software")->deleteKey(u"Wine\\Drives"),
                  RegistryStatus::AccessDenied);
        std::unique_ptr<RegistryKey> created;
        EXPECT_EQ(m_registry->create(RegistryHive::CurrentUser, u"New", created),
                  RegistryStatus::AccessDenied);
        // Reading goes on.
        EXPECT_EQ(text(RegistryHive::LocalMachine, u"Software\\Wine\\Drives", u"d:"), u"cdrom");
        EXPECT_EQ(readFile(topFile("system.reg")), machineFile);
        EXPECT_EQ(readFile(topFile("user.reg")), userFile);
    }
    // The lock file stays when the server exits; only its lock goes.
    EXPECT_TRUE(fs::exists(serverFolder() + "/lock"));
    EXPECT_TRUE(m_registry->writability().writable());
    EXPECT_EQ(drives->setString(u"e:", u"hd"), RegistryStatus::Success);
}

INSTANTIATE_TEST_SUITE_P(PrefixRegistry, ServerGuardTest,
                         testing::Values(ServerLayout{"upstream", "", ".wine-<uid>"},
                                         ServerLayout{"debian", "wine-AbC123", "wine-AbC123"}),
                         [](const testing::TestParamInfo<ServerLayout> &info) {
                             return info.param.label;
                         });

struct DamagedFile
{
    const char *label;
    std::string content;
};

// Names the row in test listings.
void PrintTo(const DamagedFile &row, std::ostream *out)
{
    *out << row.label;
}

class DamagedFileTest : public PrefixRegistryTest, public testing::WithParamInterface<DamagedFile>
{};

TEST_P(DamagedFileTest, makesItsHiveEmptyAndReadOnlyAndIsNeverRewritten)
{
    m_prefix.writeTopFile("system.reg", GetParam().content);
    EXPECT_EQ(openStatus(RegistryHive::LocalMachine, u"Software"), RegistryStatus::FileNotFound);
    const RegistryWritability writability = m_registry->writability();
    EXPECT_EQ(writability.reason, RegistryReadOnlyReason::DamagedFile);
    EXPECT_EQ(writability.detail, topFile("system.reg"));
    std::unique_ptr<RegistryKey> created;
    EXPECT_EQ(m_registry->create(RegistryHive::LocalMachine, u"Software\\New", created),
              RegistryStatus::AccessDenied);
    EXPECT_EQ(readFile(topFile("system.reg")), GetParam().content);
    // The other files stay usable.
    EXPECT_EQ(open(RegistryHive::CurrentUser, u"Software\\Target\\Inner")->setString(u"y", u"2"),
              RegistryStatus::Success);
}

INSTANTIATE_TEST_SUITE_P(
        PrefixRegistry, DamagedFileTest,
        testing::Values(DamagedFile{"empty", ""},
                        DamagedFile{"binary", std::string("\0\x01\x02", 3)},
                        DamagedFile{"otherFormat", "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software]\n"},
                        DamagedFile{"unknownArchitecture",
                                    "WINE REGISTRY Version 2\n#arch=arm\n\n[Software] 1\n"}),
        [](const testing::TestParamInfo<DamagedFile> &info) { return info.param.label; });

TEST_F(PrefixRegistryTest, aRegistryFileThatIsALinkIsReadButNeverReplaced)
{
    const std::string elsewhere = m_serverRoot + "/user.reg";
    {
        std::ofstream out(elsewhere, std::ios::binary);
        out << userFile;
    }
    fs::remove(topFile("user.reg"));
    fs::create_symlink(elsewhere, topFile("user.reg"));
    EXPECT_EQ(text(RegistryHive::CurrentUser, u"Software\\Target\\Inner", u"x"), u"1");
    EXPECT_EQ(m_registry->writability().reason, RegistryReadOnlyReason::UnsafeFile);
    EXPECT_EQ(open(RegistryHive::CurrentUser, u"Software\\Target\\Inner")->setString(u"y", u"2"),
              RegistryStatus::AccessDenied);
    EXPECT_TRUE(fs::is_symlink(topFile("user.reg")));
    EXPECT_EQ(readFile(elsewhere), userFile);
}

TEST_F(PrefixRegistryTest, aMissingFileIsAnEmptyHiveWrittenWithWinesHeader)
{
    fs::remove(topFile("userdef.reg"));
    EXPECT_EQ(subkeysOf(*open(RegistryHive::Users, u".Default")), std::vector<std::u16string>{});
    std::unique_ptr<RegistryKey> created;
    ASSERT_EQ(m_registry->create(RegistryHive::Users, u".Default\\Software", created),
              RegistryStatus::Success);
    const std::string written = readFile(topFile("userdef.reg"));
    EXPECT_EQ(written.substr(0, defaultUserHeader.size() + 12),
              defaultUserHeader + "\n[Software] ");
    struct stat info = {};
    stat(topFile("userdef.reg").c_str(), &info);
    EXPECT_EQ(info.st_mode & 0777, 0644u);
}

TEST_F(PrefixRegistryTest, theTopsOfHivesAreNeverDeletedOrWrittenOver)
{
    EXPECT_EQ(open(RegistryHive::CurrentUser, u"")->deleteKey(u""), RegistryStatus::AccessDenied);
    auto users = open(RegistryHive::Users, u"");
    EXPECT_EQ(users->deleteKey(u".Default"), RegistryStatus::AccessDenied);
    EXPECT_EQ(users->setString(u"v", u"1"), RegistryStatus::AccessDenied);
    std::unique_ptr<RegistryKey> created;
    EXPECT_EQ(users->create(u"S-1-5-18", created), RegistryStatus::AccessDenied);
}

TEST_F(PrefixRegistryTest, keysOutliveTheirRegistry)
{
    auto drives = open(RegistryHive::LocalMachine, u"Software\\Wine\\Drives");
    m_registry.reset();
    RegistryValue value;
    ASSERT_EQ(drives->value(u"d:", value), RegistryStatus::Success);
    EXPECT_EQ(registryText(value), u"cdrom");
}

} // namespace
