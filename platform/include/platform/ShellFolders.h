#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform {

// Numbers of the special folders (CSIDL values), for ShellFolders::folder().
namespace csidl {
inline constexpr int Desktop = 0x00;
inline constexpr int Programs = 0x02;
inline constexpr int Personal = 0x05;
inline constexpr int Favorites = 0x06;
inline constexpr int Startup = 0x07;
inline constexpr int Recent = 0x08;
inline constexpr int SendTo = 0x09;
inline constexpr int StartMenu = 0x0b;
inline constexpr int MyMusic = 0x0d;
inline constexpr int MyVideo = 0x0e;
inline constexpr int DesktopDirectory = 0x10;
inline constexpr int NetHood = 0x13;
inline constexpr int Fonts = 0x14;
inline constexpr int Templates = 0x15;
inline constexpr int CommonStartMenu = 0x16;
inline constexpr int CommonPrograms = 0x17;
inline constexpr int CommonStartup = 0x18;
inline constexpr int CommonDesktopDirectory = 0x19;
inline constexpr int AppData = 0x1a;
inline constexpr int PrintHood = 0x1b;
inline constexpr int LocalAppData = 0x1c;
inline constexpr int CommonFavorites = 0x1f;
inline constexpr int InternetCache = 0x20;
inline constexpr int Cookies = 0x21;
inline constexpr int History = 0x22;
inline constexpr int CommonAppData = 0x23;
inline constexpr int Windows = 0x24;
inline constexpr int System = 0x25;
inline constexpr int ProgramFiles = 0x26;
inline constexpr int MyPictures = 0x27;
inline constexpr int Profile = 0x28;
inline constexpr int SystemX86 = 0x29;
inline constexpr int ProgramFilesX86 = 0x2a;
inline constexpr int ProgramFilesCommon = 0x2b;
inline constexpr int ProgramFilesCommonX86 = 0x2c;
inline constexpr int CommonTemplates = 0x2d;
inline constexpr int CommonDocuments = 0x2e;
inline constexpr int CommonAdminTools = 0x2f;
inline constexpr int AdminTools = 0x30;
inline constexpr int CommonMusic = 0x35;
inline constexpr int CommonPictures = 0x36;
inline constexpr int CommonVideo = 0x37;
inline constexpr int Resources = 0x38;

// Flag bits a caller may add to a number; folder() ignores them.
inline constexpr int FlagMask = 0xff00;
} // namespace csidl

// Known-folder ids in their registry form, for ShellFolders::knownFolder().
inline constexpr std::u16string_view folderIdLocalAppDataLow =
        u"{A520A1A4-1780-4FF6-BD18-167343C5AF16}";
inline constexpr std::u16string_view folderIdDownloads = u"{374DE290-123F-4565-9164-39C4925E467B}";

// The Windows folder, the system folder and the shell's special folders of the machine's user.
// Paths come back without a trailing "\" (a drive root keeps its "\"). Nothing is ever created:
// a path is returned whether its folder exists or not. Calls may come from any thread.
class ShellFolders
{
public:
    virtual ~ShellFolders() = default;

    // The Windows folder (GetWindowsDirectoryW).
    virtual std::u16string windowsDirectory() const = 0;

    // The system folder (GetSystemDirectoryW).
    virtual std::u16string systemDirectory() const = 0;

    // The current path of a special folder by its CSIDL number (SHGetFolderPathW with
    // SHGFP_TYPE_CURRENT); bits of csidl::FlagMask are ignored. Empty for a number the machine
    // has no folder for.
    virtual std::optional<std::u16string> folder(int csidl) const = 0;

    // The path of a known folder by its id written "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in
    // either case (SHGetKnownFolderPath with no flags). Empty for an id the machine does not know.
    virtual std::optional<std::u16string> knownFolder(std::u16string_view folderId) const = 0;
};

} // namespace platform
