#include <platform/PrefixMachine.h>

#include "PrefixEnvironment.h"
#include "PrefixFileSystem.h"
#include "PrefixRecentDocuments.h"
#include "PrefixRecycleBin.h"
#include "PrefixRegistry.h"
#include "PrefixShellFolders.h"
#include "PrefixUrlCache.h"
#include "RegistryServerGuard.h"

#include <platform/Environment.h>
#include <platform/Machine.h>
#include <platform/RecentDocuments.h>
#include <platform/RecycleBin.h>
#include <platform/Registry.h>
#include <platform/ShellFolders.h>
#include <platform/Text.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <vector>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

std::string environmentValue(const char *name)
{
    const char *value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

// The Unix account's login name; Wine names the Windows user after it.
std::string unixUserName()
{
    std::vector<char> buffer(16384);
    passwd record{};
    passwd *found = nullptr;
    if (::getpwuid_r(::getuid(), &record, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_name && *found->pw_name)
        return found->pw_name;
    const std::string fromEnvironment = environmentValue("USER");
    return fromEnvironment.empty() ? std::string("user") : fromEnvironment;
}

std::string homeFolder()
{
    const std::string fromEnvironment = environmentValue("HOME");
    if (!fromEnvironment.empty())
        return fromEnvironment;
    std::vector<char> buffer(16384);
    passwd record{};
    passwd *found = nullptr;
    if (::getpwuid_r(::getuid(), &record, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_dir)
        return found->pw_dir;
    return std::string();
}

bool isFolder(const std::string &path)
{
    struct stat status
    {};
    return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

// Wine's drive type settings: HKLM\Software\Wine\Drives, a string value per drive ("d:" = "cdrom").
std::map<char16_t, std::u16string> driveTypeSettings(const Registry &registry)
{
    std::map<char16_t, std::u16string> settings;
    std::unique_ptr<RegistryKey> key;
    if (registry.open(RegistryHive::LocalMachine, u"Software\\Wine\\Drives", key) !=
        RegistryStatus::Success)
        return settings;
    std::u16string name;
    RegistryValue value;
    for (std::uint32_t index = 0; key->valueAt(index, name, &value) == RegistryStatus::Success;
         ++index) {
        const bool isDriveName =
                name.size() == 2 && name[1] == u':' &&
                ((name[0] >= u'a' && name[0] <= u'z') || (name[0] >= u'A' && name[0] <= u'Z'));
        if (isDriveName && value.type == RegSz)
            settings[name[0]] = registryText(value);
    }
    return settings;
}

// Where WinINet keeps the URL cache: the user's special folders, Wine's defaults where unset.
UrlCacheFolders urlCacheFolders(const ShellFolders &shellFolders)
{
    UrlCacheFolders folders =
            UrlCacheFolders::inProfile(shellFolders.folder(csidl::Profile).value_or(u""));
    folders.internetCache =
            shellFolders.folder(csidl::InternetCache).value_or(folders.internetCache);
    folders.cookies = shellFolders.folder(csidl::Cookies).value_or(folders.cookies);
    folders.history = shellFolders.folder(csidl::History).value_or(folders.history);
    return folders;
}

class PrefixMachine final : public Machine
{
public:
    explicit PrefixMachine(const std::string &prefixPath)
        : m_fileSystem(prefixPath)
        , m_registry(openPrefixRegistry(prefixPath))
        , m_userName(fromUtf8(unixUserName()))
    {
        m_fileSystem.setDriveTypeOverrides(driveTypeSettings(*m_registry));
        // The bins depend on the drives and their types, so they come after the settings.
        m_recycleBin = openPrefixRecycleBin(m_fileSystem);
        m_environment = openPrefixEnvironment(*m_registry, m_userName);
        m_shellFolders = openPrefixShellFolders(*m_registry, *m_environment, m_userName);
        m_recentDocuments = openPrefixRecentDocuments(*m_shellFolders, *m_registry, m_fileSystem);
        // Changes wait for no Wine server to run for the prefix: its programs may map the index.
        m_urlCache = openPrefixUrlCache(m_fileSystem, urlCacheFolders(*m_shellFolders),
                                        [guard = RegistryServerGuard(m_fileSystem.prefixPath())] {
                                            return guard.runningServer() != 0;
                                        });
    }

    const FileSystem &fileSystem() const override { return m_fileSystem; }
    Registry &registry() const override { return *m_registry; }
    const RecycleBin &recycleBin() const override { return *m_recycleBin; }
    Environment &environment() const override { return *m_environment; }
    const ShellFolders &shellFolders() const override { return *m_shellFolders; }
    const RecentDocuments &recentDocuments() const override { return *m_recentDocuments; }
    const UrlCache &urlCache() const override { return *m_urlCache; }
    std::u16string userName() const override { return m_userName; }
    std::string location() const override { return m_fileSystem.prefixPath(); }

private:
    PrefixFileSystem m_fileSystem;
    std::unique_ptr<Registry> m_registry;
    std::u16string m_userName;
    std::unique_ptr<RecycleBin> m_recycleBin;
    std::unique_ptr<Environment> m_environment;
    std::unique_ptr<ShellFolders> m_shellFolders;
    std::unique_ptr<RecentDocuments> m_recentDocuments;
    std::unique_ptr<UrlCache> m_urlCache;
};

void setError(std::string *error, std::string text)
{
    if (error)
        *error = std::move(text);
}

} // namespace

std::string defaultPrefixPath()
{
    const std::string fromEnvironment = environmentValue("WINEPREFIX");
    if (!fromEnvironment.empty())
        return fromEnvironment;
    return homeFolder() + "/.wine";
}

std::unique_ptr<Machine> openPrefixMachine(const std::string &prefixPath, std::string *error)
{
    if (prefixPath.empty()) {
        setError(error, "No Wine prefix folder was given.");
        return nullptr;
    }
    const std::string path = PrefixFileSystem::absoluteHostPath(prefixPath);
    struct stat status
    {};
    if (::stat(path.c_str(), &status) != 0) {
        setError(error,
                 "The Wine prefix " + path + " cannot be opened: " + std::strerror(errno) + ".");
        return nullptr;
    }
    if (!S_ISDIR(status.st_mode)) {
        setError(error, "The Wine prefix " + path + " is not a folder.");
        return nullptr;
    }
    if (!isFolder(path + "/dosdevices") && !isFolder(path + "/drive_c")) {
        setError(error, "The folder " + path +
                                " is not a Wine prefix: it has neither a dosdevices nor a "
                                "drive_c folder.");
        return nullptr;
    }
    return std::make_unique<PrefixMachine>(path);
}

} // namespace platform
