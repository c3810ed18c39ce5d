#include <disk_cleaner/firefox_cookies.h>

namespace diskcleaner {

namespace {

const std::vector<std::u16string> &cookieFiles()
{
    static const std::vector<std::u16string> names = {u"cookies.txt", u"cookies.sqlite"};
    return names;
}

} // namespace

firefox_cookies::firefox_cookies()
{
    Title = u"Firefox Cookies";
    Description = u"Removes Firefox cookies";
}

void firefox_cookies::DoScan(bool)
{
    ScanProfileFiles(cookieFiles());
}

void firefox_cookies::Clean()
{
    ItemsCleaned = 0;
    BytesCleaned = 0;
    CleanFile(cookieFiles(), u"Unable to delete firefox cookies");
}

} // namespace diskcleaner
