#pragma once

#include "TestPrefix.h"

#include <disk_cleaner/StopRequest.h>
#include <disk_cleaner/firefox_base.h>

#include <platform/Text.h>

#include <gtest/gtest.h>

#include <string>
#include <string_view>

// A test prefix for the Firefox items: the profile list and the profile folders of its user.
namespace firefoxtest {

class FirefoxTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        diskcleaner::ClearStopRequest();
        diskcleaner::firefox_base::ForgetProfileLocation();
        m_prefix.install();
    }
    void TearDown() override { diskcleaner::firefox_base::ForgetProfileLocation(); }

    // The Firefox folders below drive_c, written with '/'.
    std::string roamingFirefox() const
    {
        return "users/" + m_prefix.userName() + "/AppData/Roaming/Mozilla/Firefox";
    }
    std::string localFirefox() const
    {
        return "users/" + m_prefix.userName() + "/AppData/Local/Mozilla/Firefox";
    }

    void writeProfiles(std::string_view text) const
    {
        m_prefix.writeFile(roamingFirefox() + "/profiles.ini", text);
    }

    // A relative profile "Profiles/test.default", written before any item is constructed.
    void useRelativeProfile() const
    {
        writeProfiles("[General]\nStartWithLastProfile=1\n\n[Profile0]\nName=default\n"
                      "IsRelative=1\nPath=Profiles/test.default\nDefault=1\n");
    }
    std::string profile() const { return roamingFirefox() + "/Profiles/test.default"; }
    std::string localProfile() const { return localFirefox() + "/Profiles/test.default"; }

    // The Windows path of a path below drive_c written with '/'.
    static std::u16string windowsPath(std::string_view belowDriveC)
    {
        std::u16string path = u"C:\\";
        for (char unit : belowDriveC)
            path += unit == '/' ? u'\\' : static_cast<char16_t>(unit);
        return path;
    }

    bool present(std::string_view belowDriveC) const
    {
        return TestPrefix::exists(m_prefix.hostPath(belowDriveC));
    }

    TestPrefix m_prefix;
};

} // namespace firefoxtest
