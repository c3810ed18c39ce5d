#include <disk_cleaner/TextPlugInfo.h>

#include <disk_cleaner/FolderProcessing.h>
#include <disk_cleaner/PathMacros.h>
#include <disk_cleaner/PluginRegistry.h>
#include <disk_cleaner/SafetyNet.h>
#include <disk_cleaner/StopRequest.h>
#include <disk_cleaner/Trace.h>

#include <platform/IniFile.h>
#include <platform/Text.h>

#include <filesystem>
#include <optional>

namespace diskcleaner {

using platform::IniFile;

namespace {

constexpr const char *scanOperation = "diskcleaner::TextPlugInfo::DoScan";
constexpr const char *cleanOperation = "diskcleaner::TextPlugInfo::Clean";
constexpr const char *optionsOperation = "diskcleaner::TextPlugInfo::GetScanOptions";

// [Info] values are read into buffers of this many characters, the terminator included.
constexpr std::size_t infoCapacity = 261;

// A [files] entry is worked on in a buffer of this many characters, the terminator included.
constexpr std::size_t entryCapacity = 260;

// The plug-in file read for a scan or a clean, with the size of the buffer its sections are read
// into: as many characters as the file has bytes.
struct PluginText
{
    IniFile ini;
    std::size_t sectionCapacity = 0;
};

// Reads the file after checking its size; nothing when it must be skipped.
std::optional<PluginText> readPluginFile(const std::u16string &pluginFile)
{
    const std::string hostPath = platform::toUtf8(pluginFile);
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(hostPath, error);
    if (error) {
        Trace(u"Unable to determine file size. Skipping plugin %s", pluginFile);
        return std::nullopt;
    }
    if (size >= IniFile::sizeLimit) {
        Trace(u"Extremely large plug-in file detected: %s. Skipping.", pluginFile);
        return std::nullopt;
    }
    Trace(u"%s: plugin file size is %d", pluginFile, size);
    PluginText text{IniFile::load(hostPath), static_cast<std::size_t>(size)};
    // The file may have changed since its size was taken; what cannot be read now is skipped.
    if (text.ini.status() != IniFile::LoadStatus::Loaded) {
        Trace(u"%s: the plug-in file cannot be read. Skipping.", pluginFile);
        return std::nullopt;
    }
    return text;
}

// One [files] entry taken apart: the folder (up to and including its last "\"), one pattern and
// the options.
struct FolderEntry
{
    std::u16string folder;
    std::u16string pattern;
    ScanOptions options;
};

std::optional<FolderEntry> splitEntry(const std::u16string &pluginFile, std::u16string_view entry)
{
    if (entry.size() >= entryCapacity) {
        Trace(u"%s: entry longer than a path may be, skipping %s", pluginFile, entry);
        return std::nullopt;
    }
    std::u16string text(entry);
    FolderEntry result;
    result.options = GetScanOptions(text);
    const std::size_t last = text.rfind(u'\\');
    if (last == std::u16string::npos) {
        Trace(u"%s: entry without a folder, skipping %s", pluginFile, entry);
        return std::nullopt;
    }
    result.folder = text.substr(0, last + 1);
    result.pattern = text.substr(last + 1);
    // Options may follow the pattern after a blank ("*.log /S"). Windows ignores blanks at the end
    // of a name, so they are no part of the pattern.
    const std::size_t end = result.pattern.find_last_not_of(u" \t");
    result.pattern.resize(end == std::u16string::npos ? 0 : end + 1);
    if (result.pattern.empty()) {
        Trace(u"%s: entry without a pattern, skipping %s", pluginFile, entry);
        return std::nullopt;
    }
    return result;
}

// Checks a recursive walk against the safety net, which is gathered on first use.
bool walkAllowed(const std::u16string &pluginFile, const FolderEntry &entry,
                 std::optional<SafetyNet> &net)
{
    if (!entry.options.Recursive)
        return true;
    if (!net)
        net = SafetyNet::forCurrentMachine();
    const std::optional<std::u16string> refusal = net->refusal(entry.folder, entry.options);
    if (!refusal)
        return true;
    Trace(u"%s: not walking %s with its subfolders: %s", pluginFile, entry.folder, *refusal);
    return false;
}

} // namespace

TextPlugInfo::TextPlugInfo(std::u16string pluginFile)
    : m_pluginFile(std::move(pluginFile))
{
    const IniFile ini = IniFile::load(platform::toUtf8(m_pluginFile));
    if (ini.status() == IniFile::LoadStatus::OutOfMemory) {
        Title = m_pluginFile + u": Error opening file";
        return;
    }
    Title = ini.string(u"Info", u"Title", u"Error: No title given", infoCapacity);
    Description = ini.string(u"Info", u"Description", u"Error: No description given", infoCapacity);
    Process = ini.string(u"Info", u"Process", u"", infoCapacity);
    if (!Process.empty())
        Application = ini.string(u"Info", u"Application", u"Unknown", infoCapacity);
}

void TextPlugInfo::Scan()
{
    DoScan(false);
}

void TextPlugInfo::Rescan()
{
    DoScan(true);
}

void TextPlugInfo::DoScan(bool)
{
    ItemsFound = 0;
    BytesFound = 0;
    const std::optional<PluginText> text = readPluginFile(m_pluginFile);
    if (!text)
        return;
    m_foundList.clear();

    Trace(u"%s: Processing registry section", m_pluginFile);
    for (const std::u16string &line : text->ini.section(u"registry", text->sectionCapacity)) {
        if (StopRequested())
            return;
        Trace(u"%hs: cracking %s", scanOperation, line);
        RegistryLine entry;
        if (!CrackRegistryLine(line, entry))
            continue;
        Trace(u"%hs: EnumRegKey(%s, %s, %s)", scanOperation, entry.hiveName, entry.keyPath,
              entry.valueName ? *entry.valueName : std::u16string(u"(none)"));
        EnumRegKey(entry.hive, entry.keyPath, entry.valueName, ItemsFound, BytesFound, m_foundList,
                   entry.hiveName);
    }

    Trace(u"%s: Processing files section", m_pluginFile);
    m_folderList.clear();
    for (const std::u16string &line : text->ini.section(u"files", text->sectionCapacity)) {
        if (StopRequested())
            return;
        Trace(u"%hs: found in [files]: %s", scanOperation, line);
        ExpandString(line, m_folderList);
    }

    std::optional<SafetyNet> net;
    for (const std::u16string &folderEntry : m_folderList) {
        if (StopRequested())
            return;
        const std::optional<FolderEntry> entry = splitEntry(m_pluginFile, folderEntry);
        if (!entry || !walkAllowed(m_pluginFile, *entry, net))
            continue;
        const FolderTotals totals =
                ScanFilesInFolder(entry->folder, {entry->pattern}, entry->options, m_foundList);
        ItemsFound += totals.Count;
        BytesFound += totals.Bytes;
    }
}

void TextPlugInfo::Clean()
{
    ItemsCleaned = 0;
    BytesCleaned = 0;
    const std::optional<PluginText> text = readPluginFile(m_pluginFile);
    if (!text)
        return;
    m_foundList.clear();

    for (const std::u16string &line : text->ini.section(u"registry", text->sectionCapacity)) {
        if (StopRequested())
            return;
        RegistryLine entry;
        if (!CrackRegistryLine(line, entry))
            continue;
        Trace(u"%s %hs: DelRegKey(%s,%s)", m_pluginFile, cleanOperation, entry.hiveName,
              entry.keyPath);
        DelRegKey(entry.hive, entry.keyPath, entry.valueName, ItemsCleaned, BytesCleaned,
                  m_foundList, entry.hiveName);
    }

    std::optional<SafetyNet> net;
    for (const std::u16string &folderEntry : m_folderList) {
        if (StopRequested())
            return;
        Trace(u"%s TextPlugInfo->Clean(): Cleaning %s", m_pluginFile, folderEntry);
        const std::optional<FolderEntry> entry = splitEntry(m_pluginFile, folderEntry);
        if (!entry)
            continue;
        Trace(u"%s TextPlugInfo->Clean(): CleanFilesInFolder(%s,%s)", m_pluginFile, entry->folder,
              entry->pattern);
        if (!walkAllowed(m_pluginFile, *entry, net))
            continue;
        const FolderTotals totals =
                CleanFilesInFolder(entry->folder, {entry->pattern}, entry->options, m_foundList);
        ItemsCleaned += totals.Count;
        BytesCleaned += totals.Bytes;
    }
}

void TextPlugInfo::GetFileList(FileList &list) const
{
    list.insert(list.end(), m_foundList.begin(), m_foundList.end());
}

std::unique_ptr<PlugInfo> CreateTextPlugInfo(const std::u16string &pluginFile)
{
    return std::make_unique<TextPlugInfo>(pluginFile);
}

ScanOptions GetScanOptions(std::u16string &entry)
{
    Trace(u"%hs( %s )", optionsOperation, entry);
    ScanOptions options;
    const std::size_t firstSlash = entry.find(u'/');
    for (std::size_t slash = firstSlash; slash != std::u16string::npos;
         slash = entry.find(u'/', slash + 1)) {
        const std::u16string_view rest = std::u16string_view(entry).substr(slash + 1);
        if (rest.empty() || (rest[0] != u'S' && rest[0] != u's'))
            continue;
        Trace(u"so.Recursive = true");
        options.Recursive = true;
        const char16_t letter = rest.size() > 1 ? rest[1] : u'\0';
        if (letter == u'F' || letter == u'f') {
            Trace(u"so.FilesOnly = true");
            options.FilesOnly = true;
        } else if (letter == u'I' || letter == u'i') {
            Trace(u"so.DelBaseFolder = true");
            options.DelBaseFolder = true;
        } else if (letter == u'O' || letter == u'o') {
            Trace(u"so.SubFolderOnly = true");
            options.SubFolderOnly = true;
        }
    }
    if (firstSlash != std::u16string::npos)
        entry.resize(firstSlash);
    return options;
}

} // namespace diskcleaner
