#pragma once

#include <disk_cleaner/FileList.h>

#include <cstdint>
#include <string>
#include <string_view>

// Folder macros of plug-in definitions ("%appdata%\Foo\", "%drive%Temp\"), turned into concrete
// paths on the current machine. Environment references work too: every entry goes through the
// machine's environment expansion first. Only one scan may expand at a time: resolving a macro
// adds a variable to the program's environment.
namespace diskcleaner {

// The shape of the known-folder query: folder id ("{A520A1A4-...}"), flags, user token (null for
// the current user), the folder's path. Returns 0 on success and then has set `path`.
using KnownFolderPathQuery = std::int32_t (*)(std::u16string_view folderId, std::uint32_t flags,
                                              const void *token, std::u16string &path);

// The known-folder query that "%localappdatalow%" uses; null leaves that macro without a folder.
// It starts out bound to the current machine's special folders. Change it only while no scan runs.
extern KnownFolderPathQuery gGetKnownFolderPath;

// The known-folder query of the current machine: ShellFolders::knownFolder. Fails with a nonzero
// result for an id the machine does not know and for a path that does not fit into 260 units.
std::int32_t GetKnownFolderPathOfMachine(std::u16string_view folderId, std::uint32_t flags,
                                         const void *token, std::u16string &path);

// Appends the paths that one entry of a plug-in's folder list stands for: none, one, or one per
// fixed drive. The options part of the entry travels along unchanged.
//  - An entry that expands through the environment to a text that fits into 260 units and does
//    not begin with "%" gives that text. References to unknown variables stay as written.
//  - Otherwise, an entry beginning "%drive%" (exactly so, in lower case) gives, per fixed drive in
//    letter order, the drive's root ("C:\") followed by the rest of the entry, unexpanded.
//  - Otherwise, an entry beginning with a macro of GetFolderLocation sets the variable of that
//    name (without the "%" signs, spelled as in the entry) to the folder and gives the entry
//    expanded again, if that fits and does not begin with "%". The variable stays, so later
//    entries resolve in the first step.
//  - Anything else gives nothing.
void ExpandString(std::u16string_view entry, FileList &list);

// The folder a macro token ("%AppData%", compared after lower-casing A to Z) names, without a
// trailing "\"; empty for a token that is not a macro and for a folder the machine cannot supply.
// The macros: %windir%, %sysdir%, %appdata%, %programfiles%, %desktop%, %commonappdata%,
// %commondesktop%, %commondocs%, %commonprogramfiles%, %localappdata% and %localappdatalow%.
std::u16string GetFolderLocation(std::u16string_view token);

} // namespace diskcleaner
