#include <disk_cleaner/SafetyNet.h>

#include <platform/Environment.h>
#include <platform/FileSystem.h>
#include <platform/Machine.h>
#include <platform/Registry.h>
#include <platform/ShellFolders.h>
#include <platform/Text.h>

#include <algorithm>
#include <filesystem>
#include <memory>

namespace diskcleaner {

using namespace platform;

namespace {

constexpr std::u16string_view windowsFolder = u"the Windows folder";
constexpr std::u16string_view systemFolder = u"the system folder";
constexpr std::u16string_view programFilesFolder = u"a program files folder";
constexpr std::u16string_view usersFolder = u"the users folder";
constexpr std::u16string_view profileFolder = u"a user's profile folder";

constexpr std::u16string_view profileList =
        u"Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";

bool isSeparator(char16_t unit)
{
    return unit == u'\\' || unit == u'/';
}

bool isDriveLetter(char16_t unit)
{
    return (unit >= u'A' && unit <= u'Z') || (unit >= u'a' && unit <= u'z');
}

// The normal form of a complete Windows folder path: "C:\" or "C:\a\b" with an upper-case drive
// letter, "\" between names, "." and ".." taken out by name, and the dots and blanks that Windows
// drops at the end of a name removed from every name. Nothing for a path that does not start with
// a drive letter (a relative path, a share, a device).
std::optional<std::u16string> normalFolder(std::u16string_view path)
{
    if (path.size() >= 4 && isSeparator(path[0]) && isSeparator(path[1]) &&
        (path[2] == u'?' || path[2] == u'.') && isSeparator(path[3]))
        path.remove_prefix(4);
    if (path.size() < 2 || path[1] != u':' || !isDriveLetter(path[0]))
        return std::nullopt;
    std::vector<std::u16string_view> names;
    std::size_t position = 2;
    while (position < path.size()) {
        std::size_t end = position;
        while (end < path.size() && !isSeparator(path[end]))
            ++end;
        std::u16string_view name = path.substr(position, end - position);
        position = end + 1;
        if (name == u"..") {
            if (!names.empty())
                names.pop_back();
            continue;
        }
        const std::size_t keep = name.find_last_not_of(u". ");
        if (keep == std::u16string_view::npos)
            continue;
        names.push_back(name.substr(0, keep + 1));
    }
    std::u16string normal{char16_t(path[0] & ~0x20), u':'};
    if (names.empty())
        return normal + u'\\';
    for (std::u16string_view name : names) {
        normal += u'\\';
        normal += name;
    }
    return normal;
}

bool isDriveRoot(std::u16string_view normal)
{
    return normal.size() == 3;
}

// The folder that holds a normal folder; nothing for a drive root.
std::optional<std::u16string> parentOf(std::u16string_view normal)
{
    if (isDriveRoot(normal))
        return std::nullopt;
    const std::size_t last = normal.rfind(u'\\');
    if (last == 2)
        return std::u16string(normal.substr(0, 3));
    return std::u16string(normal.substr(0, last));
}

// True when `inner` is `outer` or lies below it; both written with the same separator, `outer`
// without one at its end unless it is a root.
template<typename Text>
bool isSameOrBelow(const Text &inner, const Text &outer, typename Text::value_type separator)
{
    if (inner.size() < outer.size() || inner.compare(0, outer.size(), outer) != 0)
        return false;
    return inner.size() == outer.size() || outer.back() == separator ||
           inner[outer.size()] == separator;
}

// The host folder of a Windows path with every link on the way resolved; empty when no drive
// holds the path or the host cannot resolve it.
std::string resolvedHostFolder(const FileSystem &fileSystem, std::u16string_view normal)
{
    const std::string host = fileSystem.hostPath(normal);
    if (host.empty())
        return std::string();
    std::error_code error;
    const std::filesystem::path resolved = std::filesystem::weakly_canonical(host, error);
    if (error)
        return std::string();
    std::string text = resolved.string();
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    return text;
}

std::string resolvedHostFolder(const std::string &host)
{
    std::error_code error;
    if (host.empty() || !std::filesystem::is_directory(host, error))
        return std::string();
    const std::filesystem::path resolved = std::filesystem::canonical(host, error);
    return error ? std::string() : resolved.string();
}

std::string parentOf(const std::string &host)
{
    const std::size_t last = host.rfind('/');
    if (last == std::string::npos || host == "/")
        return std::string();
    return last == 0 ? std::string("/") : host.substr(0, last);
}

// A string value of the registry, expanded through the machine's environment.
std::optional<std::u16string> registryText(const RegistryKey &key, std::u16string_view name)
{
    RegistryValue value;
    if (key.value(name, value) != RegistryStatus::Success ||
        (value.type != RegSz && value.type != RegExpandSz))
        return std::nullopt;
    std::u16string text;
    for (std::size_t index = 0; index + 1 < value.data.size(); index += 2) {
        const char16_t unit = char16_t(value.data[index] | (value.data[index + 1] << 8));
        if (unit == u'\0')
            break;
        text += unit;
    }
    return Machine::current().environment().expand(text);
}

std::u16string describe(std::u16string_view start, const SafetyNet::GuardedFolder &folder)
{
    std::u16string text(start);
    text += folder.what;
    text += u" (";
    text += folder.path;
    text += u')';
    return text;
}

} // namespace

SafetyNet SafetyNet::forCurrentMachine()
{
    SafetyNet net;
    if (!Machine::hasCurrent())
        return net;
    net.m_hasMachine = true;
    const Machine &machine = Machine::current();
    const ShellFolders &shell = machine.shellFolders();
    const Environment &environment = machine.environment();

    for (const Drive &drive : machine.fileSystem().drives()) {
        if (drive.hostFolder.empty())
            continue;
        const std::u16string root{drive.letter, u':', u'\\'};
        net.guard(root, u"the root of drive " + root.substr(0, 2));
    }

    net.guard(shell.windowsDirectory(), windowsFolder);
    net.guard(shell.systemDirectory(), systemFolder);
    if (const auto folder = shell.folder(csidl::SystemX86))
        net.guard(*folder, systemFolder);
    for (const std::u16string_view name : {u"windir", u"SystemRoot"}) {
        if (const auto folder = environment.get(name))
            net.guard(*folder, windowsFolder);
    }

    for (const int number : {csidl::ProgramFiles, csidl::ProgramFilesX86}) {
        if (const auto folder = shell.folder(number))
            net.guard(*folder, programFilesFolder);
    }
    for (const std::u16string_view name :
         {u"ProgramFiles", u"ProgramFiles(x86)", u"ProgramW6432"}) {
        if (const auto folder = environment.get(name))
            net.guard(*folder, programFilesFolder);
    }

    // Profile folders, each also naming the folder that holds the profiles.
    std::vector<std::u16string> profiles;
    if (const auto folder = shell.folder(csidl::Profile))
        profiles.push_back(*folder);
    for (const std::u16string_view name : {u"USERPROFILE", u"PUBLIC"}) {
        if (const auto folder = environment.get(name))
            profiles.push_back(*folder);
    }
    std::unique_ptr<RegistryKey> list;
    if (machine.registry().open(RegistryHive::LocalMachine, profileList, list) ==
        RegistryStatus::Success) {
        if (const auto folder = registryText(*list, u"ProfilesDirectory"))
            net.guardUsersFolder(*folder);
        for (const std::u16string_view name : {u"Public", u"Default"}) {
            if (const auto folder = registryText(*list, name))
                profiles.push_back(*folder);
        }
        std::u16string sid;
        for (std::uint32_t index = 0; list->subkeyName(index, sid) == RegistryStatus::Success;
             ++index) {
            std::unique_ptr<RegistryKey> user;
            if (list->open(sid, user) != RegistryStatus::Success)
                continue;
            if (const auto folder = registryText(*user, u"ProfileImagePath"))
                profiles.push_back(*folder);
        }
    }
    for (const std::u16string &profile : profiles) {
        net.guard(profile, profileFolder);
        const std::optional<std::u16string> normal = normalFolder(profile);
        if (!normal)
            continue;
        // A profile directly in a drive root would make every folder there a profile.
        if (const std::optional<std::u16string> parent = parentOf(*normal);
            parent && !isDriveRoot(*parent))
            net.guardUsersFolder(*parent);
    }

    net.m_machineFolder = resolvedHostFolder(machine.location());
    return net;
}

void SafetyNet::guard(std::u16string_view path, std::u16string_view what)
{
    const std::optional<std::u16string> normal = normalFolder(path);
    if (!normal)
        return;
    const std::u16string folded = foldCase(*normal);
    const bool known = std::any_of(m_guards.begin(), m_guards.end(), [&](const Guard &guard) {
        return guard.folded == folded && guard.folder.what == what;
    });
    if (known)
        return;
    Guard guard{{*normal, std::u16string(what)},
                folded,
                resolvedHostFolder(Machine::current().fileSystem(), *normal)};
    m_guarded.push_back(guard.folder);
    m_guards.push_back(std::move(guard));
}

void SafetyNet::guardUsersFolder(std::u16string_view path)
{
    guard(path, usersFolder);
    const std::optional<std::u16string> normal = normalFolder(path);
    if (!normal)
        return;
    const std::u16string folded = foldCase(*normal);
    if (std::any_of(m_usersFolders.begin(), m_usersFolders.end(),
                    [&](const Guard &guard) { return guard.folded == folded; }))
        return;
    m_usersFolders.push_back({{*normal, std::u16string(usersFolder)},
                              folded,
                              resolvedHostFolder(Machine::current().fileSystem(), *normal)});
}

std::optional<std::u16string> SafetyNet::refusal(std::u16string_view folder,
                                                 const ScanOptions &options) const
{
    if (!options.Recursive)
        return std::nullopt;
    return refusalOfRecursiveWalk(folder);
}

std::optional<std::u16string> SafetyNet::refusalOfRecursiveWalk(std::u16string_view folder) const
{
    if (!m_hasMachine)
        return u"there is no machine to look at";
    const std::optional<std::u16string> normal = normalFolder(folder);
    if (!normal)
        return u"it is not a complete path that starts with a drive letter";
    if (isDriveRoot(*normal))
        return u"it is the root of drive " + normal->substr(0, 2);

    const std::u16string folded = foldCase(*normal);
    for (const Guard &guard : m_guards) {
        if (isSameOrBelow(guard.folded, folded, u'\\'))
            return describe(guard.folded == folded ? u"it is " : u"it contains ", guard.folder);
    }
    const std::optional<std::u16string> parent = parentOf(folded);
    for (const Guard &users : m_usersFolders) {
        if (parent == users.folded)
            return u"it is " + std::u16string(profileFolder) + u" in " + users.folder.path;
    }

    // The same questions for the folder the walk would really open.
    const std::string host = resolvedHostFolder(Machine::current().fileSystem(), *normal);
    if (host.empty())
        return u"its host folder cannot be resolved";
    const std::u16string hostText = fromUtf8(host);
    for (const Guard &guard : m_guards) {
        if (!guard.host.empty() && isSameOrBelow(guard.host, host, '/'))
            return describe(u"its host folder " + hostText +
                                    (guard.host == host ? u" is " : u" contains "),
                            guard.folder);
    }
    const std::string hostParent = parentOf(host);
    for (const Guard &users : m_usersFolders) {
        if (!users.host.empty() && hostParent == users.host)
            return u"its host folder " + hostText + u" is " + std::u16string(profileFolder) +
                   u" in " + users.folder.path;
    }
    if (!m_machineFolder.empty() &&
        (host == m_machineFolder || !isSameOrBelow(host, m_machineFolder, '/')))
        return u"its host folder " + hostText + u" lies outside the machine's folder " +
               fromUtf8(m_machineFolder);
    return std::nullopt;
}

} // namespace diskcleaner
