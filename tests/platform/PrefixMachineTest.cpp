// What only the Wine-prefix backend has: drives from dosdevices links, drive types from the
// prefix's settings, and choosing and opening a prefix.

#include <TestPrefix.h>

#include "PrefixFileSystem.h"

#include <platform/Machine.h>
#include <platform/PrefixMachine.h>
#include <platform/Text.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <string>

using namespace platform;

namespace {

std::optional<Drive> findDrive(const FileSystem &fileSystem, char16_t letter)
{
    for (const Drive &drive : fileSystem.drives()) {
        if (drive.letter == letter)
            return drive;
    }
    return std::nullopt;
}

TEST(PrefixDrives, ComeFromTheDosdevicesLinks)
{
    TestPrefix prefix;
    const std::string elsewhere = prefix.makeTopFolder("elsewhere");
    prefix.makeFolder("floppy");
    prefix.linkDrive('a', "../drive_c/floppy");
    prefix.linkDrive('e', elsewhere);              // absolute target
    prefix.linkDrive('h', "../no-such-folder");    // dangling
    prefix.linkDrive('d', "../drive_c/floppy/.."); // relative target with ".."
    prefix.writeTopFile("dosdevices/not-a-drive", "");
    std::filesystem::create_symlink("/dev/sr0", prefix.path() + "/dosdevices/g::"); // device
    std::filesystem::create_symlink("/dev/ttyS0", prefix.path() + "/dosdevices/com1");
    const PrefixFileSystem fileSystem(prefix.path());

    std::u16string letters;
    for (const Drive &drive : fileSystem.drives())
        letters.push_back(drive.letter);
    EXPECT_EQ(letters, u"ACDEHZ");

    const std::optional<Drive> a = findDrive(fileSystem, u'A');
    EXPECT_EQ(a->type, DriveType::Removable);
    EXPECT_EQ(a->hostFolder, prefix.path() + "/drive_c/floppy");
    EXPECT_EQ(findDrive(fileSystem, u'D')->hostFolder, prefix.path() + "/drive_c");
    const std::optional<Drive> e = findDrive(fileSystem, u'E');
    EXPECT_EQ(e->type, DriveType::Fixed);
    EXPECT_EQ(e->hostFolder, elsewhere);
    const std::optional<Drive> h = findDrive(fileSystem, u'H');
    EXPECT_EQ(h->type, DriveType::NoRootDirectory);
    EXPECT_EQ(h->hostFolder, "");

    EXPECT_EQ(fileSystem.driveType(u'G'), DriveType::NoRootDirectory);
    EXPECT_EQ(fileSystem.driveType(u'h'), DriveType::NoRootDirectory);
    EXPECT_EQ(fileSystem.hostPath(u"E:\\Sub\\x"), elsewhere + "/Sub/x");
    EXPECT_EQ(fileSystem.hostPath(u"H:\\x"), "");
    EXPECT_EQ(fileSystem.openFolder(u"H:\\"), nullptr);
    // D: lies inside C:; a path below it maps back through the deeper root.
    EXPECT_EQ(fileSystem.windowsPath(prefix.hostPath("floppy/f.txt")), u"A:\\f.txt");
    EXPECT_EQ(fileSystem.windowsPath(prefix.hostPath("windows")), u"C:\\windows");
}

TEST(PrefixDrives, APrefixWithoutDosdevicesHasWineDefaultDrives)
{
    TestPrefix prefix;
    std::filesystem::remove_all(prefix.path() + "/dosdevices");
    const PrefixFileSystem fileSystem(prefix.path());
    std::u16string letters;
    for (const Drive &drive : fileSystem.drives())
        letters.push_back(drive.letter);
    EXPECT_EQ(letters, u"CZ");
    EXPECT_EQ(fileSystem.hostPath(u"C:\\Windows"), prefix.hostPath("windows"));
    EXPECT_FALSE(TestPrefix::exists(prefix.path() + "/dosdevices"));
}

TEST(PrefixDrives, SettingsOverrideTheTypes)
{
    TestPrefix prefix;
    for (const char letter : {'a', 'd', 'e', 'f', 'g', 'h'})
        prefix.linkDrive(letter, "../drive_c");
    PrefixFileSystem fileSystem(prefix.path());
    fileSystem.setDriveTypeOverrides({{u'd', u"cdrom"},
                                      {u'E', u"NETWORK"},
                                      {u'f', u"floppy"},
                                      {u'g', u"RamDisk"},
                                      {u'a', u"hd"},
                                      {u'h', u"tape"}, // unknown: ignored
                                      {u'q', u"hd"},   // no such drive: stays absent
                                      {u'3', u"hd"}});
    struct Row
    {
        char16_t letter;
        DriveType type;
    };
    for (const Row &row : {Row{u'A', DriveType::Fixed}, Row{u'C', DriveType::Fixed},
                           Row{u'D', DriveType::CdRom}, Row{u'E', DriveType::Remote},
                           Row{u'F', DriveType::Removable}, Row{u'G', DriveType::RamDisk},
                           Row{u'H', DriveType::Fixed}, Row{u'Q', DriveType::NoRootDirectory}}) {
        EXPECT_EQ(fileSystem.driveType(row.letter), row.type) << char(row.letter);
        const std::optional<Drive> drive = findDrive(fileSystem, row.letter);
        if (row.type != DriveType::NoRootDirectory)
            EXPECT_EQ(drive->type, row.type) << char(row.letter);
        else
            EXPECT_FALSE(drive.has_value());
    }

    // A later set replaces the earlier one.
    fileSystem.setDriveTypeOverrides({{u'e', u"cdrom"}});
    EXPECT_EQ(fileSystem.driveType(u'D'), DriveType::Fixed);
    EXPECT_EQ(fileSystem.driveType(u'E'), DriveType::CdRom);
    EXPECT_EQ(fileSystem.driveType(u'A'), DriveType::Removable);
}

TEST(PrefixMachine, OpensAUsablePrefix)
{
    TestPrefix prefix;
    std::string error;
    const std::unique_ptr<Machine> machine = openPrefixMachine(prefix.path() + "/./", &error);
    ASSERT_NE(machine, nullptr) << error;
    EXPECT_EQ(machine->location(), prefix.path());
    EXPECT_EQ(machine->userName(), fromUtf8(prefix.userName()));
    EXPECT_EQ(machine->fileSystem().hostPath(u"C:\\Windows"), prefix.hostPath("windows"));
}

TEST(PrefixMachine, RefusesWhatIsNoPrefixAndSaysWhy)
{
    TestPrefix prefix;
    const std::string empty = prefix.makeTopFolder("empty");
    prefix.writeTopFile("file", "x");
    struct Row
    {
        std::string path;
        std::string errorMentions;
    };
    for (const Row &row :
         {Row{"", "No Wine prefix"}, Row{prefix.path() + "/missing", "cannot be opened"},
          Row{prefix.path() + "/file", "not a folder"},
          Row{empty, "neither a dosdevices nor a drive_c"}}) {
        std::string error;
        EXPECT_EQ(openPrefixMachine(row.path, &error), nullptr) << row.path;
        EXPECT_NE(error.find(row.errorMentions), std::string::npos) << error;
        EXPECT_EQ(openPrefixMachine(row.path, nullptr), nullptr);
    }
}

TEST(PrefixMachine, DefaultPrefixFollowsWineprefixThenHome)
{
    const char *savedPrefix = std::getenv("WINEPREFIX");
    const char *savedHome = std::getenv("HOME");
    const std::string oldPrefix = savedPrefix ? savedPrefix : "";
    const std::string oldHome = savedHome ? savedHome : "";

    ::setenv("HOME", "/home/someone", 1);
    ::setenv("WINEPREFIX", "/opt/prefixes/games", 1);
    EXPECT_EQ(defaultPrefixPath(), "/opt/prefixes/games");
    ::setenv("WINEPREFIX", "", 1);
    EXPECT_EQ(defaultPrefixPath(), "/home/someone/.wine");
    ::unsetenv("WINEPREFIX");
    EXPECT_EQ(defaultPrefixPath(), "/home/someone/.wine");

    if (savedPrefix)
        ::setenv("WINEPREFIX", oldPrefix.c_str(), 1);
    if (savedHome)
        ::setenv("HOME", oldHome.c_str(), 1);
    else
        ::unsetenv("HOME");
}

TEST(PrefixMachine, InstalledMachineIsCurrent)
{
    TestPrefix first;
    TestPrefix second;
    first.install();
    EXPECT_TRUE(Machine::hasCurrent());
    EXPECT_EQ(Machine::current().location(), first.path());
    second.install();
    EXPECT_EQ(Machine::current().location(), second.path());
}

} // namespace
