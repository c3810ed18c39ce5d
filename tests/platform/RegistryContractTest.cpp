#include "PrefixRegistry.h"

#include <TestPrefix.h>
#include <platform/Registry.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

// The Registry capability through its interface only: every backend must pass these tests. Each
// test works below HKEY_CURRENT_USER\Software\NimbraContract, which starts empty.
using namespace platform;

namespace {

constexpr std::u16string_view scratchPath = u"Software\\NimbraContract";

// A registry to test on; reopen() gives a new Registry object over the same storage.
class RegistryUnderTest
{
public:
    virtual ~RegistryUnderTest() = default;
    virtual std::unique_ptr<Registry> reopen() = 0;
};

class PrefixRegistryUnderTest final : public RegistryUnderTest
{
public:
    std::unique_ptr<Registry> reopen() override { return openPrefixRegistry(m_prefix.path()); }

private:
    TestPrefix m_prefix;
};

struct Backend
{
    const char *name;
    std::function<std::unique_ptr<RegistryUnderTest>()> make;
};

// Names the row in test listings.
void PrintTo(const Backend &row, std::ostream *out)
{
    *out << row.name;
}

std::vector<std::u16string> subkeysOf(const RegistryKey &key)
{
    std::vector<std::u16string> names;
    std::u16string name;
    for (std::uint32_t i = 0; key.subkeyName(i, name) == RegistryStatus::Success; ++i)
        names.push_back(name);
    return names;
}

std::vector<std::u16string> valueNamesOf(const RegistryKey &key)
{
    std::vector<std::u16string> names;
    std::u16string name;
    for (std::uint32_t i = 0; key.valueAt(i, name, nullptr) == RegistryStatus::Success; ++i)
        names.push_back(name);
    return names;
}

class RegistryContractTest : public testing::TestWithParam<Backend>
{
protected:
    RegistryContractTest()
        : m_storage(GetParam().make())
        , m_registry(m_storage->reopen())
    {
        EXPECT_EQ(m_registry->create(RegistryHive::CurrentUser, scratchPath, m_scratch),
                  RegistryStatus::Success);
    }

    std::unique_ptr<RegistryKey> create(std::u16string_view path)
    {
        std::unique_ptr<RegistryKey> key;
        EXPECT_EQ(m_scratch->create(path, key), RegistryStatus::Success);
        return key;
    }

    RegistryStatus openStatus(std::u16string_view path)
    {
        std::unique_ptr<RegistryKey> key;
        return m_scratch->open(path, key);
    }

    std::unique_ptr<RegistryUnderTest> m_storage;
    std::unique_ptr<Registry> m_registry;
    std::unique_ptr<RegistryKey> m_scratch;
};

RegistryValue valueOf(std::uint32_t type, std::vector<std::uint8_t> data)
{
    return RegistryValue{type, std::move(data)};
}

TEST_P(RegistryContractTest, valuesOfEveryKindAreStoredAsGiven)
{
    const std::vector<std::pair<std::u16string, RegistryValue>> values = {
            {u"", registryString(u"default")},
            {u"string", registryString(u"C:\\Program Files\\\"x\" \u00e4 \U0001F600")},
            {u"expand", registryString(u"%SystemRoot%\\x", RegExpandSz)},
            {u"multi", valueOf(RegMultiSz, {'a', 0, 0, 0, 'b', 0, 0, 0, 0, 0})},
            {u"dword", valueOf(RegDword, {0x78, 0x56, 0x34, 0x12})},
            {u"qword", valueOf(RegQword, {1, 2, 3, 4, 5, 6, 7, 8})},
            {u"binary", valueOf(RegBinary, std::vector<std::uint8_t>(300, 0xab))},
            {u"emptyBinary", valueOf(RegBinary, {})},
            {u"none", valueOf(RegNone, {})},
            {u"unterminated", valueOf(RegSz, {'a', 0, 'b'})},
            {u"shortDword", valueOf(RegDword, {1, 2})},
            {u"deviceType", valueOf(0xffff0007u, {3, 0, 0, 0})},
            {u"controls\t\n\"\\", registryString(u"\x01\x1b\x7f\n")},
    };
    auto key = create(u"Values");
    for (const auto &[name, value] : values)
        ASSERT_EQ(key->setValue(name, value), RegistryStatus::Success);

    // Read back through a new registry object, so what was stored is what is read.
    std::unique_ptr<RegistryKey> reread;
    ASSERT_EQ(m_storage->reopen()->open(RegistryHive::CurrentUser,
                                        std::u16string(scratchPath) + u"\\Values", reread),
              RegistryStatus::Success);
    for (const auto &[name, expected] : values) {
        RegistryValue value;
        ASSERT_EQ(reread->value(name, value), RegistryStatus::Success);
        EXPECT_EQ(value, expected);
    }
    RegistryKeyInfo info;
    ASSERT_EQ(reread->info(info), RegistryStatus::Success);
    EXPECT_EQ(info.valueCount, values.size());
    EXPECT_EQ(info.longestValueName, 12u); // "unterminated"
    EXPECT_EQ(info.longestValueData, 300u);
}

TEST_P(RegistryContractTest, subkeysAndValuesAreListedAlphabeticallyWithoutRegardToCase)
{
    auto key = create(u"Order");
    for (const std::u16string_view name : {u"Zkey", u"b_key", u"akey", u"BKey", u"{GUID}"})
        create(std::u16string(u"Order\\") + std::u16string(name));
    for (const std::u16string_view name : {u"Zed", u"apple", u"_under", u"Banana", u""})
        ASSERT_EQ(key->setString(name, u"x"), RegistryStatus::Success);

    EXPECT_EQ(subkeysOf(*key),
              (std::vector<std::u16string>{u"akey", u"b_key", u"BKey", u"Zkey", u"{GUID}"}));
    EXPECT_EQ(valueNamesOf(*key),
              (std::vector<std::u16string>{u"", u"_under", u"apple", u"Banana", u"Zed"}));
    std::u16string name;
    EXPECT_EQ(key->subkeyName(5, name), RegistryStatus::NoMoreItems);
    EXPECT_EQ(key->valueAt(5, name, nullptr), RegistryStatus::NoMoreItems);
    RegistryKeyInfo info;
    ASSERT_EQ(key->info(info), RegistryStatus::Success);
    EXPECT_EQ(info.subkeyCount, 5u);
    EXPECT_EQ(info.longestSubkeyName, 6u);
    EXPECT_EQ(info.valueCount, 5u);
    EXPECT_EQ(info.longestValueName, 6u);
}

TEST_P(RegistryContractTest, namesCompareWithoutRegardToCaseAndKeepTheirSpelling)
{
    auto key = create(u"Mixed\\Case");
    ASSERT_EQ(key->setString(u"Value", u"1"), RegistryStatus::Success);
    ASSERT_EQ(key->setString(u"VALUE", u"2"), RegistryStatus::Success);
    EXPECT_EQ(valueNamesOf(*key), std::vector<std::u16string>{u"Value"});

    std::unique_ptr<RegistryKey> other;
    ASSERT_EQ(m_scratch->open(u"MIXED\\case", other), RegistryStatus::Success);
    RegistryValue value;
    ASSERT_EQ(other->value(u"value", value), RegistryStatus::Success);
    EXPECT_EQ(registryText(value), u"2");
    create(u"mixed\\CASE");
    EXPECT_EQ(subkeysOf(*m_scratch), std::vector<std::u16string>{u"Mixed"});
}

TEST_P(RegistryContractTest, openingNeverCreates)
{
    EXPECT_EQ(openStatus(u"Missing"), RegistryStatus::FileNotFound);
    EXPECT_EQ(openStatus(u"Missing\\Deeper"), RegistryStatus::FileNotFound);
    EXPECT_EQ(subkeysOf(*m_scratch), std::vector<std::u16string>{});
    RegistryValue value;
    EXPECT_EQ(m_scratch->value(u"missing", value), RegistryStatus::FileNotFound);
}

TEST_P(RegistryContractTest, aKeyGoesAfterItsSubkeysAndTakesItsValues)
{
    auto parent = create(u"Parent");
    auto child = create(u"Parent\\Child");
    ASSERT_EQ(parent->setString(u"v", u"1"), RegistryStatus::Success);
    ASSERT_EQ(child->setString(u"w", u"2"), RegistryStatus::Success);

    EXPECT_EQ(m_scratch->deleteKey(u"Parent"), RegistryStatus::AccessDenied);
    EXPECT_EQ(openStatus(u"Parent\\Child"), RegistryStatus::Success);
    EXPECT_EQ(m_scratch->deleteKey(u"Parent\\Child"), RegistryStatus::Success);
    EXPECT_EQ(m_scratch->deleteKey(u"Parent\\Child"), RegistryStatus::FileNotFound);
    EXPECT_EQ(parent->deleteKey(u""), RegistryStatus::Success);
    EXPECT_EQ(openStatus(u"Parent"), RegistryStatus::FileNotFound);

    // Open keys of deleted keys say so.
    RegistryValue value;
    EXPECT_EQ(child->value(u"w", value), RegistryStatus::KeyDeleted);
    EXPECT_EQ(parent->setString(u"v", u"again"), RegistryStatus::KeyDeleted);
}

TEST_P(RegistryContractTest, deletingAValueLeavesTheOthers)
{
    auto key = create(u"Delete");
    ASSERT_EQ(key->setString(u"", u"default"), RegistryStatus::Success);
    ASSERT_EQ(key->setString(u"keep", u"1"), RegistryStatus::Success);
    EXPECT_EQ(key->deleteValue(u""), RegistryStatus::Success);
    EXPECT_EQ(key->deleteValue(u""), RegistryStatus::FileNotFound);
    EXPECT_EQ(key->deleteValue(u"missing"), RegistryStatus::FileNotFound);
    EXPECT_EQ(valueNamesOf(*key), std::vector<std::u16string>{u"keep"});
}

TEST_P(RegistryContractTest, namesLongerThanWindowsAllowsAreRefused)
{
    std::unique_ptr<RegistryKey> key;
    EXPECT_EQ(m_scratch->create(std::u16string(256, u'k'), key), RegistryStatus::InvalidParameter);
    EXPECT_EQ(m_scratch->setString(std::u16string(16384, u'v'), u"x"),
              RegistryStatus::InvalidParameter);
    EXPECT_EQ(m_scratch->create(std::u16string(255, u'k'), key), RegistryStatus::Success);
}

INSTANTIATE_TEST_SUITE_P(
        Registry, RegistryContractTest,
        testing::Values(Backend{"WinePrefix",
                                [] {
                                    return std::make_unique<PrefixRegistryUnderTest>();
                                }}),
        [](const testing::TestParamInfo<Backend> &info) { return info.param.name; });

} // namespace
