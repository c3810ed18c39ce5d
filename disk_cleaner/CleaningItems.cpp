#include <disk_cleaner/CleaningItems.h>

#include <disk_cleaner/RecycleBinInfo.h>
#include <disk_cleaner/firefox_cache.h>
#include <disk_cleaner/firefox_cookies.h>
#include <disk_cleaner/firefox_history.h>
#include <disk_cleaner/ie_cache.h>
#include <disk_cleaner/ie_cookies.h>
#include <disk_cleaner/ie_history.h>
#include <disk_cleaner/recent_docs.h>
#include <disk_cleaner/system_temp.h>

#include <platform/Text.h>

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace diskcleaner {

namespace {

bool isDefinitionFileName(const std::string &name)
{
    if (name.empty() || name.front() == '.')
        return false;
    const std::size_t dot = name.rfind('.');
    return dot != std::string::npos &&
           platform::equalsIgnoreCase(platform::fromUtf8(name.substr(dot + 1)), u"dct");
}

} // namespace

std::vector<std::u16string> PlugInDefinitionFiles(const std::string &folder)
{
    std::vector<std::string> names;
    std::error_code error;
    std::filesystem::directory_iterator entries(folder, error);
    for (; !error && entries != std::filesystem::directory_iterator(); entries.increment(error)) {
        const std::string name = entries->path().filename().string();
        std::error_code typeError;
        if (isDefinitionFileName(name) && entries->is_regular_file(typeError))
            names.push_back(name);
    }
    std::sort(names.begin(), names.end(), [](const std::string &a, const std::string &b) {
        const int order = platform::compareIgnoreCase(platform::fromUtf8(a), platform::fromUtf8(b));
        return order != 0 ? order < 0 : a < b;
    });

    const std::string prefix = folder.empty() || folder.back() == '/' ? folder : folder + '/';
    std::vector<std::u16string> files;
    files.reserve(names.size());
    for (const std::string &name : names)
        files.push_back(platform::fromUtf8(prefix + name));
    return files;
}

std::vector<std::unique_ptr<PlugInfo>> CreateCleaningItems(const std::string &plugInFolder,
                                                           const PlugInFactory &createPlugIn)
{
    std::vector<std::unique_ptr<PlugInfo>> items;
    items.push_back(std::make_unique<system_temp>(TempSettings{}));
    items.push_back(std::make_unique<RecycleBinInfo>());
    items.push_back(std::make_unique<recent_docs>());
    items.push_back(std::make_unique<firefox_cache>());
    items.push_back(std::make_unique<firefox_cookies>());
    items.push_back(std::make_unique<firefox_history>());
    items.push_back(std::make_unique<ie_cache>());
    items.push_back(std::make_unique<ie_history>());
    items.push_back(std::make_unique<ie_cookies>());

    if (createPlugIn) {
        for (const std::u16string &file : PlugInDefinitionFiles(plugInFolder)) {
            if (std::unique_ptr<PlugInfo> item = createPlugIn(file))
                items.push_back(std::move(item));
        }
    }
    return items;
}

} // namespace diskcleaner
