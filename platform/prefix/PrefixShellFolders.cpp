#include "PrefixShellFolders.h"

#include <platform/Text.h>

#include <utility>

namespace platform {

namespace {

constexpr std::u16string_view userShellFoldersKey =
        u"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
constexpr std::u16string_view shellFoldersKey =
        u"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

// Whose registry holds a folder's path.
enum class Scope {
    User,    // the user's Shell Folders keys
    Common,  // the machine's: folders shared by all users
    Profile, // no registry value: the path follows from the profile alone
};

struct FolderDefinition
{
    int id; // a CSIDL number, or 0 for a known folder
    Scope scope;
    std::u16string_view valueName;
    std::u16string_view defaultPath; // Wine's default layout, with the profile's variables
};

// Wine's default layout: the values a fresh prefix has in its Shell Folders keys.
constexpr FolderDefinition specialFolders[] = {
        {csidl::Desktop, Scope::User, u"Desktop", u"%USERPROFILE%\\Desktop"},
        {csidl::Programs, Scope::User, u"Programs",
         u"%USERPROFILE%\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs"},
        {csidl::Personal, Scope::User, u"Personal", u"%USERPROFILE%\\Documents"},
        {csidl::Favorites, Scope::User, u"Favorites", u"%USERPROFILE%\\Favorites"},
        {csidl::Startup, Scope::User, u"StartUp",
         u"%USERPROFILE%\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\StartUp"},
        {csidl::Recent, Scope::User, u"Recent",
         u"%USERPROFILE%\\AppData\\Roaming\\Microsoft\\Windows\\Recent"},
        {csidl::SendTo, Scope::User, u"SendTo",
         u"%USERPROFILE%\\AppData\\Roaming\\Microsoft\\Windows\\SendTo"},
        {csidl::StartMenu, Scope::User, u"Start Menu",
         u"%USERPROFILE%\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu"},
        {csidl::MyMusic, Scope::User, u"My Music", u"%USERPROFILE%\\Music"},
        {csidl::MyVideo, Scope::User, u"My Videos", u"%USERPROFILE%\\Videos"},
        {csidl::DesktopDirectory, Scope::User, u"Desktop", u"%USERPROFILE%\\Desktop"},
        {csidl::NetHood, Scope::User, u"NetHood",
         u"%USERPROFILE%\\AppData\\Roaming\\Microsoft\\Windows\\Network Shortcuts"},
        {csidl::Fonts, Scope::User, u"Fonts", u"%SystemRoot%\\Fonts"},
        {csidl::Templates, Scope::User, u"Templates",
         u"%USERPROFILE%\\AppData\\Roaming\\Microsoft\\Windows\\Templates"},
        {csidl::CommonStartMenu, Scope::Common, u"Common Start Menu",
         u"%ProgramData%\\Microsoft\\Windows\\Start Menu"},
        {csidl::CommonPrograms, Scope::Common, u"Common Programs",
         u"%ProgramData%\\Microsoft\\Windows\\Start Menu\\Programs"},
        {csidl::CommonStartup, Scope::Common, u"Common StartUp",
         u"%ProgramData%\\Microsoft\\Windows\\Start Menu\\Programs\\StartUp"},
        {csidl::CommonDesktopDirectory, Scope::Common, u"Common Desktop", u"%PUBLIC%\\Desktop"},
        {csidl::AppData, Scope::User, u"AppData", u"%USERPROFILE%\\AppData\\Roaming"},
        {csidl::PrintHood, Scope::User, u"PrintHood",
         u"%USERPROFILE%\\AppData\\Roaming\\Microsoft\\Windows\\Printer Shortcuts"},
        {csidl::LocalAppData, Scope::User, u"Local AppData", u"%USERPROFILE%\\AppData\\Local"},
        // Wine keeps the favourites of all users in the user's own folder.
        {csidl::CommonFavorites, Scope::Common, u"Common Favorites", u"%USERPROFILE%\\Favorites"},
        {csidl::InternetCache, Scope::User, u"Cache",
         u"%USERPROFILE%\\AppData\\Local\\Microsoft\\Windows\\INetCache"},
        {csidl::Cookies, Scope::User, u"Cookies",
         u"%USERPROFILE%\\AppData\\Local\\Microsoft\\Windows\\INetCookies"},
        {csidl::History, Scope::User, u"History",
         u"%USERPROFILE%\\AppData\\Local\\Microsoft\\Windows\\History"},
        {csidl::CommonAppData, Scope::Common, u"Common AppData", u"%ProgramData%"},
        {csidl::Windows, Scope::Profile, {}, u"%SystemRoot%"},
        {csidl::System, Scope::Profile, {}, u"%SystemRoot%\\system32"},
        {csidl::ProgramFiles, Scope::Profile, {}, u"%ProgramFiles%"},
        {csidl::MyPictures, Scope::User, u"My Pictures", u"%USERPROFILE%\\Pictures"},
        {csidl::Profile, Scope::Profile, {}, u"%USERPROFILE%"},
        {csidl::ProgramFilesCommon, Scope::Profile, {}, u"%CommonProgramFiles%"},
        {csidl::CommonTemplates, Scope::Common, u"Common Templates",
         u"%ProgramData%\\Microsoft\\Windows\\Templates"},
        {csidl::CommonDocuments, Scope::Common, u"Common Documents", u"%PUBLIC%\\Documents"},
        {csidl::CommonAdminTools, Scope::Common, u"Common Administrative Tools",
         u"%ProgramData%\\Microsoft\\Windows\\Start Menu\\Programs\\Administrative Tools"},
        {csidl::AdminTools, Scope::User, u"Administrative Tools",
         u"%USERPROFILE%\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\"
         u"Administrative Tools"},
        {csidl::CommonMusic, Scope::Common, u"CommonMusic", u"%PUBLIC%\\Music"},
        {csidl::CommonPictures, Scope::Common, u"CommonPictures", u"%PUBLIC%\\Pictures"},
        {csidl::CommonVideo, Scope::Common, u"CommonVideo", u"%PUBLIC%\\Videos"},
        {csidl::Resources, Scope::Profile, {}, u"%SystemRoot%\\resources"},
        // The folders of 32-bit programs; folder() answers for a 32-bit prefix itself.
        {csidl::SystemX86, Scope::Profile, {}, u"%SystemRoot%\\syswow64"},
        {csidl::ProgramFilesX86, Scope::Profile, {}, u"%ProgramFiles(x86)%"},
        {csidl::ProgramFilesCommonX86, Scope::Profile, {}, u"%CommonProgramFiles(x86)%"},
};

// Known folders that have no CSIDL number; their values are named by their ids.
constexpr FolderDefinition knownFolders[] = {
        {0, Scope::User, folderIdLocalAppDataLow, u"%USERPROFILE%\\AppData\\LocalLow"},
        {0, Scope::User, folderIdDownloads, u"%USERPROFILE%\\Downloads"},
        {0, Scope::User, u"{4C5C32FF-BB9D-43B0-B5B4-2D72E54EAAA4}", u"%USERPROFILE%\\Saved Games"},
        {0, Scope::User, u"{56784854-C6CB-462B-8169-88E350ACB882}", u"%USERPROFILE%\\Contacts"},
        {0, Scope::User, u"{7D1D3A04-DEBB-4115-95CF-2F29DA2920DA}", u"%USERPROFILE%\\Searches"},
        {0, Scope::User, u"{BFB9D5E0-C6A9-404C-B2B2-AE6DB6AF4968}", u"%USERPROFILE%\\Links"},
};

std::u16string resolve(const FolderDefinition &definition, const Registry &registry,
                       const VariableLookup &variables)
{
    if (definition.scope != Scope::Profile) {
        const RegistryHive hive = definition.scope == Scope::User ? RegistryHive::CurrentUser
                                                                  : RegistryHive::LocalMachine;
        for (const std::u16string_view key : {userShellFoldersKey, shellFoldersKey}) {
            if (std::optional<std::u16string> path =
                        readRegistryText(registry, hive, key, definition.valueName, variables))
                return withoutTrailingSeparator(std::move(*path));
        }
    }
    return withoutTrailingSeparator(expandVariables(definition.defaultPath, variables));
}

} // namespace

PrefixShellFolders::PrefixShellFolders(const Registry &registry, const Environment &environment,
                                       std::u16string userName)
    : m_registry(registry)
    , m_environment(environment)
    , m_userName(std::move(userName))
{}

std::u16string PrefixShellFolders::windowsDirectory() const
{
    return std::u16string(prefixWindowsFolder);
}

std::u16string PrefixShellFolders::systemDirectory() const
{
    return std::u16string(prefixSystemFolder);
}

std::optional<std::u16string> PrefixShellFolders::folder(int csidl) const
{
    const PrefixProfile profile = PrefixProfile::read(m_registry, m_userName);
    return folder(csidl, m_registry, profile, lookupFor(profile));
}

std::optional<std::u16string> PrefixShellFolders::knownFolder(std::u16string_view folderId) const
{
    for (const FolderDefinition &definition : knownFolders) {
        if (equalsIgnoreCase(folderId, definition.valueName)) {
            const PrefixProfile profile = PrefixProfile::read(m_registry, m_userName);
            return resolve(definition, m_registry, lookupFor(profile));
        }
    }
    return std::nullopt;
}

std::optional<std::u16string> PrefixShellFolders::folder(int csidl, const Registry &registry,
                                                         const PrefixProfile &profile,
                                                         const VariableLookup &variables)
{
    const int id = csidl & ~csidl::FlagMask;
    // Without a 64-bit side, the folders of 32-bit programs are the ordinary ones.
    if (!profile.hasWow64) {
        if (id == csidl::SystemX86)
            return std::u16string(prefixSystemFolder);
        if (id == csidl::ProgramFilesX86)
            return profile.programFiles;
        if (id == csidl::ProgramFilesCommonX86)
            return profile.commonFiles;
    }
    for (const FolderDefinition &definition : specialFolders) {
        if (definition.id == id)
            return resolve(definition, registry, variables);
    }
    return std::nullopt;
}

VariableLookup PrefixShellFolders::lookupFor(const PrefixProfile &profile) const
{
    return [&profile, this](std::u16string_view name) -> std::optional<std::u16string> {
        if (std::optional<std::u16string> value = profile.variable(name))
            return value;
        return m_environment.get(name);
    };
}

std::unique_ptr<ShellFolders> openPrefixShellFolders(const Registry &registry,
                                                     const Environment &environment,
                                                     std::u16string userName)
{
    return std::make_unique<PrefixShellFolders>(registry, environment, std::move(userName));
}

} // namespace platform
