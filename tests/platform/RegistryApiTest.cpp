#include <TestPrefix.h>
#include <platform/RegistryApi.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace platform;

namespace {

const std::string userFile = "WINE REGISTRY Version 2\n"
                             ";; All keys relative to REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000\n"
                             "\n#arch=win64\n"
                             "\n[Software\\\\Vendor\\\\App] 1700000000\n#time=1da1b2c3d4e5f60\n"
                             "@=\"default\"\n\"InstallDir\"=\"C:\\\\Program Files\\\\App\"\n"
                             "\"Version\"=dword:00000003\n"
                             "\n[Software\\\\Vendor\\\\App\\\\Recent] 1700000000\n"
                             "#time=1da1b2c3d4e5f60\n\"File1\"=\"a.txt\"\n\"File2\"=\"b.txt\"\n"
                             "\n[Software\\\\Vendor\\\\App\\\\Settings\\\\Window] 1700000000\n"
                             "#time=1da1b2c3d4e5f60\n\"Left\"=dword:00000010\n";

class RegistryApiTest : public testing::Test
{
protected:
    RegistryApiTest()
    {
        m_prefix.writeTopFile("user.reg", userFile);
        m_prefix.install();
    }

    HKEY open(const char16_t *path, REGSAM access = KEY_READ)
    {
        HKEY key = nullptr;
        EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, access, &key), ERROR_SUCCESS);
        return key;
    }

    TestPrefix m_prefix;
};

TEST_F(RegistryApiTest, opensExistingKeysOnly)
{
    HKEY key = reinterpret_cast<HKEY>(std::uintptr_t{1});
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"software\\VENDOR\\app", 0, KEY_READ, &key),
              ERROR_SUCCESS);
    ASSERT_NE(key, nullptr);
    HKEY again = nullptr;
    EXPECT_EQ(RegOpenKeyExW(key, nullptr, 0, KEY_READ, &again), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(again), ERROR_SUCCESS);

    HKEY missing = key;
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Missing", 0, KEY_READ, &missing),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(missing, nullptr);
    EXPECT_EQ(RegOpenKeyExW(key, u"Recent", 0, KEY_READ, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    // A closed handle, or one that was never given, is refused rather than used.
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegOpenKeyExW(key, u"Recent", 0, KEY_READ, &missing), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
}

// The way plug-in items list a key: sizes from RegQueryInfoKeyW, buffers of that length plus one.
TEST_F(RegistryApiTest, buffersSizedFromTheKeyInfoHoldEveryName)
{
    HKEY key = open(u"Software\\Vendor\\App");
    DWORD subkeys = 0, longestSubkey = 0, values = 0, longestValueName = 0, longestData = 0;
    FileTime written = 0;
    ASSERT_EQ(RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, &longestSubkey, nullptr,
                               &values, &longestValueName, &longestData, nullptr, &written),
              ERROR_SUCCESS);
    EXPECT_EQ(subkeys, 2u);
    EXPECT_EQ(longestSubkey, 8u); // "Settings"
    EXPECT_EQ(values, 3u);
    EXPECT_EQ(longestValueName, 10u); // "InstallDir"
    EXPECT_EQ(longestData, 42u);      // "C:\Program Files\App" with its terminator
    EXPECT_EQ(written, 0x1da1b2c3d4e5f60ULL);

    std::vector<std::u16string> names;
    std::u16string buffer(longestSubkey + 1, u'?');
    DWORD index = 0;
    for (;; ++index) {
        DWORD length = longestSubkey + 1;
        const LSTATUS status = RegEnumKeyExW(key, index, buffer.data(), &length, nullptr, nullptr,
                                             nullptr, nullptr);
        if (status != ERROR_SUCCESS) {
            EXPECT_EQ(status, ERROR_NO_MORE_ITEMS);
            break;
        }
        EXPECT_EQ(buffer[length], u'\0');
        names.emplace_back(buffer.data(), length);
    }
    EXPECT_EQ(names, (std::vector<std::u16string>{u"Recent", u"Settings"}));

    names.clear();
    buffer.assign(longestValueName + 1, u'?');
    for (index = 0;; ++index) {
        DWORD length = longestValueName + 1;
        DWORD type = 0;
        const LSTATUS status =
                RegEnumValueW(key, index, buffer.data(), &length, nullptr, &type, nullptr, nullptr);
        if (status != ERROR_SUCCESS) {
            EXPECT_EQ(status, ERROR_NO_MORE_ITEMS);
            break;
        }
        names.emplace_back(buffer.data(), length);
    }
    EXPECT_EQ(names, (std::vector<std::u16string>{u"", u"InstallDir", u"Version"}));
    RegCloseKey(key);
}

TEST_F(RegistryApiTest, buffersTooSmallAskForMore)
{
    HKEY key = open(u"Software\\Vendor\\App");
    char16_t name[7];
    DWORD length = 6; // "Recent" needs seven with its terminator
    EXPECT_EQ(RegEnumKeyExW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr),
              ERROR_MORE_DATA);
    length = 7;
    EXPECT_EQ(RegEnumKeyExW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(length, 6u);
    char16_t valueName[11];
    DWORD valueNameLength = 10;
    EXPECT_EQ(
            RegEnumValueW(key, 1, valueName, &valueNameLength, nullptr, nullptr, nullptr, nullptr),
            ERROR_MORE_DATA);

    // Without a buffer the size comes back; with a small one, ERROR_MORE_DATA and the size.
    DWORD type = 0;
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(key, u"InstallDir", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(RegSz));
    EXPECT_EQ(size, 42u);
    std::vector<std::uint8_t> data(10);
    size = 10;
    EXPECT_EQ(RegQueryValueExW(key, u"InstallDir", nullptr, nullptr, data.data(), &size),
              ERROR_MORE_DATA);
    EXPECT_EQ(size, 42u);
    data.resize(size);
    EXPECT_EQ(RegQueryValueExW(key, u"installdir", nullptr, nullptr, data.data(), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(data[0], 'C');
    EXPECT_EQ(data[40], 0);
    EXPECT_EQ(RegQueryValueExW(key, u"Version", nullptr, &type, data.data(), &size), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(RegDword));
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(data[0], 3);
    EXPECT_EQ(RegQueryValueExW(key, u"Missing", nullptr, nullptr, nullptr, &size),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegQueryValueExW(key, nullptr, nullptr, nullptr, data.data(), nullptr),
              ERROR_INVALID_PARAMETER);
    RegCloseKey(key);
}

TEST_F(RegistryApiTest, deletingValuesNeedsAKeyOpenedForWriting)
{
    HKEY reading = open(u"Software\\Vendor\\App\\Recent", KEY_READ);
    EXPECT_EQ(RegDeleteValueW(reading, u"File1"), ERROR_ACCESS_DENIED);
    HKEY writing = open(u"Software\\Vendor\\App\\Recent", KEY_ALL_ACCESS);
    EXPECT_EQ(RegDeleteValueW(writing, u"File1"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueW(writing, u"File1"), ERROR_FILE_NOT_FOUND);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(reading, u"File1", nullptr, nullptr, nullptr, &size),
              ERROR_FILE_NOT_FOUND);
    RegCloseKey(reading);
    RegCloseKey(writing);
}

// The way plug-in items clean a key: its values, then its subkeys from the bottom up, then the
// key itself.
TEST_F(RegistryApiTest, aKeyGoesAfterItsContents)
{
    HKEY app = open(u"Software\\Vendor\\App", KEY_ALL_ACCESS);
    EXPECT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, u"Software\\Vendor\\App"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyW(app, u"Settings"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyW(app, u"Settings\\Window"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyW(app, u"Settings"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyW(app, u"Recent"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyW(app, u"Recent"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteKeyW(app, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, u"Software\\Vendor\\App"), ERROR_SUCCESS);
    // The handle of the deleted key says so.
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(app, u"Version", nullptr, nullptr, nullptr, &size),
              ERROR_KEY_DELETED);
    RegCloseKey(app);
    HKEY vendor = open(u"Software\\Vendor");
    DWORD subkeys = 1;
    ASSERT_EQ(RegQueryInfoKeyW(vendor, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                               nullptr, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(subkeys, 0u);
    RegCloseKey(vendor);
}

} // namespace
