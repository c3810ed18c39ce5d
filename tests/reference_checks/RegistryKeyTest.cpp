#include <reference_checks/RegistryKey.h>

#include <platform/Machine.h>
#include <platform/PrefixMachine.h>

#include <TestPrefix.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

using platform::RegistryHive;

std::string machineFile(std::string_view body)
{
    return "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n#arch=win64\n" +
           std::string(body);
}

std::string userFile(std::string_view body)
{
    return "WINE REGISTRY Version 2\n"
           ";; All keys relative to REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000\n\n#arch=win64\n" +
           std::string(body);
}

// The hex(6) data of a link to a path in Wine's object tree, as Wine writes it.
std::string linkData(std::string_view target)
{
    std::string data;
    for (const char character : target) {
        static const char digits[] = "0123456789abcdef";
        const auto byte = static_cast<unsigned char>(character);
        data += std::string(data.empty() ? "" : ",") + digits[byte >> 4] + digits[byte & 15] +
                ",00";
    }
    return data;
}

class RegistryKeyTest : public testing::Test
{
protected:
    void SetUp() override { m_prefix.install(); }

    void writeMachine(std::string_view body) const
    {
        m_prefix.writeTopFile("system.reg", machineFile(body));
    }
    void writeUser(std::string_view body) const
    {
        m_prefix.writeTopFile("user.reg", userFile(body));
    }
    std::string topFile(const std::string &name) const
    {
        std::ifstream in(m_prefix.path() + "/" + name, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    TestPrefix m_prefix;
};

struct PathCase
{
    QString text;
    HiveNames hiveNames;
    RegistryHive hive;
    QStringList names;
};

TEST(RegistryPath, TakesKeyPathsApart)
{
    const PathCase cases[] = {
            {"HKEY_LOCAL_MACHINE\\SOFTWARE\\Wine",
             HiveNames::LongOnly,
             RegistryHive::LocalMachine,
             {"SOFTWARE", "Wine"}},
            {"hkey_current_user\\Software",
             HiveNames::LongOnly,
             RegistryHive::CurrentUser,
             {"Software"}},
            {"HKEY_CLASSES_ROOT\\.txt", HiveNames::LongOnly, RegistryHive::ClassesRoot, {".txt"}},
            {"HKEY_USERS\\.Default", HiveNames::LongOnly, RegistryHive::Users, {".Default"}},
            {"SOFTWARE\\Microsoft",
             HiveNames::LongOnly,
             RegistryHive::LocalMachine,
             {"SOFTWARE", "Microsoft"}},
            {"HKCU\\Software",
             HiveNames::LongOnly,
             RegistryHive::LocalMachine,
             {"HKCU", "Software"}},
            {"HKCU\\Software", HiveNames::LongAndShort, RegistryHive::CurrentUser, {"Software"}},
            {"hku", HiveNames::LongAndShort, RegistryHive::Users, {}},
            {"hkcr\\x", HiveNames::LongAndShort, RegistryHive::ClassesRoot, {"x"}},
            {"HKLM", HiveNames::LongAndShort, RegistryHive::LocalMachine, {}},
            {"\\Software\\\\Wine\\",
             HiveNames::LongOnly,
             RegistryHive::LocalMachine,
             {"Software", "Wine"}},
            {"HKEY_CLASSES_ROOT\\MIME\\Database\\Content Type\\text/plain",
             HiveNames::LongOnly,
             RegistryHive::ClassesRoot,
             {"MIME", "Database", "Content Type", "text/plain"}},
            {"HKEY_LOCAL_MACHINEX\\a",
             HiveNames::LongOnly,
             RegistryHive::LocalMachine,
             {"HKEY_LOCAL_MACHINEX", "a"}},
            {"", HiveNames::LongOnly, RegistryHive::LocalMachine, {}},
    };
    for (const PathCase &test : cases) {
        const RegistryPath path = parseRegistryPath(test.text, test.hiveNames);
        EXPECT_EQ(path.hive, test.hive) << test.text.toStdString();
        EXPECT_EQ(path.names, test.names) << test.text.toStdString();
    }
    EXPECT_EQ(parseRegistryPath("hkey_current_user\\Software\\\\X").text(),
              "HKEY_CURRENT_USER\\Software\\X");
    EXPECT_EQ(parseRegistryPath("Software").text(), "HKEY_LOCAL_MACHINE\\Software");
}

TEST_F(RegistryKeyTest, OpensExistingKeysWithoutRegardToCaseAndNeverCreatesOne)
{
    writeUser("\n[Software\\\\Vendor\\\\App]\n\"v\"=\"1\"\n");
    writeMachine("\n[Software\\\\Vendor\\\\Machine]\n\"m\"=\"1\"\n");
    const std::string userBefore = topFile("user.reg");
    const std::string machineBefore = topFile("system.reg");

    const std::pair<QString, RegistryKey::Status> cases[] = {
            {"HKEY_CURRENT_USER\\Software\\Vendor\\App", RegistryKey::NoError},
            {"hkey_current_user\\SOFTWARE\\vendor\\APP", RegistryKey::NoError},
            {"HKEY_CURRENT_USER\\Software\\Vendor", RegistryKey::NoError},
            {"HKEY_CURRENT_USER\\Software\\Vendor\\Missing", RegistryKey::AccessError},
            {"HKEY_CURRENT_USER\\Software\\Vendor\\App\\Missing\\Deeper", RegistryKey::AccessError},
            {"HKEY_LOCAL_MACHINE\\Software\\Vendor\\App", RegistryKey::AccessError},
            {"Software\\Vendor\\Machine", RegistryKey::NoError},
            {"Software\\Vendor\\App", RegistryKey::AccessError},
    };
    for (const auto &[path, status] : cases) {
        const RegistryKey key(path);
        EXPECT_EQ(key.status(), status) << path.toStdString();
        EXPECT_EQ(key.value("v").toString(),
                  status == RegistryKey::NoError && path.contains("App", Qt::CaseInsensitive) ? "1"
                                                                                              : "")
                << path.toStdString();
    }
    EXPECT_EQ(topFile("user.reg"), userBefore);
    EXPECT_EQ(topFile("system.reg"), machineBefore);
}

TEST_F(RegistryKeyTest, ListsSubkeysValuesAndAllValuesLeavingOutTheWow64View)
{
    writeMachine("\n[Software\\\\Lister]\n@=\"top\"\n\"b\"=\"2\"\n\"A\"=\"1\"\n"
                 "\n[Software\\\\Lister\\\\beta\\\\Deep]\n\"x\"=\"3\"\n"
                 "\n[Software\\\\Lister\\\\Alpha]\n@=\"alpha\"\n"
                 "\n[Software\\\\Lister\\\\Wow6432Node\\\\Hidden]\n\"h\"=\"4\"\n"
                 "\n[Software\\\\Lister\\\\Empty]\n");
    const RegistryKey key("HKEY_LOCAL_MACHINE\\Software\\Lister");
    ASSERT_EQ(key.status(), RegistryKey::NoError);
    EXPECT_EQ(key.childGroups(), QStringList({"Alpha", "beta", "Empty"}));
    EXPECT_EQ(key.childKeys(), QStringList({"", "A", "b"}));
    EXPECT_EQ(key.allKeys(), QStringList({"", "A", "b", "Alpha\\", "beta\\Deep\\x"}));

    // The view's key is still opened when named.
    EXPECT_EQ(RegistryKey("Software\\Lister\\Wow6432Node\\Hidden").value("h").toString(), "4");

    const RegistryKey missing("HKEY_LOCAL_MACHINE\\Software\\Missing");
    EXPECT_TRUE(missing.childGroups().isEmpty());
    EXPECT_TRUE(missing.childKeys().isEmpty());
    EXPECT_TRUE(missing.allKeys().isEmpty());
}

TEST_F(RegistryKeyTest, ReadsEachTypeAsTheProgramUsesIt)
{
    writeUser("\n[Software\\\\Types]\n"
              "@=\"default text\"\n"
              "\"Sz\"=\"text\"\n"
              "\"Expand\"=str(2):\"%SystemRoot%\\\\x\"\n"
              "\"Multi\"=str(7):\"one\\0two\\0\"\n"
              "\"Dword\"=dword:0000002a\n"
              "\"AllOnes\"=dword:ffffffff\n"
              "\"Qword\"=hex(b):88,77,66,55,44,33,22,11\n"
              "\"Binary\"=hex:01,02\n"
              "\"C:\\\\Windows\\\\x.dll\"=dword:00000001\n");
    const RegistryKey key("HKEY_CURRENT_USER\\Software\\Types");
    const std::pair<QString, QVariant> cases[] = {
            {"", QString("default text")},
            {"Sz", QString("text")},
            {"sz", QString("text")},
            {"Expand", QString("%SystemRoot%\\x")},
            {"Multi", QStringList({"one", "two"})},
            {"Dword", 42},
            {"AllOnes", -1},
            {"Qword", qlonglong(0x1122334455667788)},
            {"Binary", QByteArray("\x01\x02")},
            {"C:\\Windows\\x.dll", 1},
            {"Missing", QVariant()},
    };
    for (const auto &[name, expected] : cases) {
        const QVariant value = key.value(name);
        EXPECT_EQ(value, expected) << name.toStdString();
        EXPECT_EQ(value.typeId(), expected.typeId()) << name.toStdString();
    }
    EXPECT_EQ(key.value("Missing").toString(), "");
    EXPECT_EQ(key.value("Missing", 0).toInt(), 0);
    EXPECT_EQ(key.value("Missing", 7).toInt(), 7);
    EXPECT_EQ(key.value("Dword", 0).toInt(), 42);
    EXPECT_EQ(RegistryKey("HKEY_CURRENT_USER\\Software\\Missing").value("Sz", "x").toString(), "x");
}

TEST_F(RegistryKeyTest, StoresStringValuesAtOnce)
{
    writeUser("\n[Software\\\\Store]\n\"Old\"=dword:00000001\n");
    const QString text = "new \"text\" with \\ and \xc3\xa4";
    RegistryKey key("HKEY_CURRENT_USER\\Software\\Store");
    EXPECT_TRUE(key.setValue("Name", text));
    EXPECT_TRUE(key.setValue("Old", "replaced"));
    EXPECT_TRUE(key.sync());

    // Another store on the same files sees it, as a string value.
    std::string error;
    const auto other = platform::openPrefixMachine(m_prefix.path(), &error);
    ASSERT_TRUE(other) << error;
    const RegistryKey reread("HKEY_CURRENT_USER\\Software\\Store", other->registry());
    EXPECT_EQ(reread.value("Name"), QVariant(text));
    EXPECT_EQ(reread.value("Old"), QVariant(QString("replaced")));
    EXPECT_NE(topFile("user.reg").find("\"Old\"=\"replaced\""), std::string::npos);

    RegistryKey missing("HKEY_CURRENT_USER\\Software\\Missing");
    EXPECT_FALSE(missing.setValue("Name", "x"));
    EXPECT_FALSE(missing.sync());
    EXPECT_EQ(missing.lastError(), platform::RegistryStatus::FileNotFound);
    EXPECT_TRUE(missing.sync()); // the failure was reported once
    EXPECT_EQ(RegistryKey("HKEY_CURRENT_USER\\Software\\Missing").status(),
              RegistryKey::AccessError);
}

TEST_F(RegistryKeyTest, RemovesTheValueAndTheSubkeyOfTheName)
{
    writeUser("\n[Software\\\\Fix]\n\"Both\"=\"v\"\n\"Other\"=\"o\"\n\"C:\\\\x.dll\"=\"d\"\n"
              "\n[Software\\\\Fix\\\\Both\\\\Inner\\\\Deeper]\n\"x\"=\"y\"\n"
              "\n[Software\\\\Fix\\\\Both\\\\Second]\n\"x\"=\"y\"\n"
              "\n[Software\\\\Fix\\\\Keep]\n\"k\"=\"1\"\n");
    RegistryKey key("HKEY_CURRENT_USER\\Software\\Fix");
    EXPECT_TRUE(key.remove("both"));
    EXPECT_EQ(key.childKeys(), QStringList({"C:\\x.dll", "Other"}));
    EXPECT_EQ(key.childGroups(), QStringList({"Keep"}));

    EXPECT_TRUE(key.remove("C:\\x.dll"));
    EXPECT_TRUE(key.remove("Nothing by this name"));
    EXPECT_EQ(key.childKeys(), QStringList({"Other"}));
    EXPECT_EQ(key.allKeys(), QStringList({"Other", "Keep\\k"}));
    EXPECT_TRUE(key.sync());
}

TEST_F(RegistryKeyTest, RemovingEverythingDeletesTheKeyAndLeavesItsSiblings)
{
    writeUser("\n[Software\\\\Gone]\n@=\"d\"\n\"v\"=\"1\"\n"
              "\n[Software\\\\Gone\\\\A\\\\B]\n\"x\"=\"y\"\n"
              "\n[Software\\\\Gone\\\\Empty]\n"
              "\n[Software\\\\Cleared\\\\Sub]\n\"x\"=\"y\"\n"
              "\n[Software\\\\Stays]\n\"s\"=\"1\"\n");
    RegistryKey gone("HKEY_CURRENT_USER\\Software\\Gone");
    EXPECT_TRUE(gone.remove(""));
    EXPECT_EQ(gone.status(), RegistryKey::AccessError);
    RegistryKey cleared("hkey_current_user\\software\\cleared");
    EXPECT_TRUE(cleared.clear());
    EXPECT_EQ(RegistryKey("HKEY_CURRENT_USER\\Software").childGroups(), QStringList({"Stays"}));
    EXPECT_EQ(RegistryKey("HKEY_CURRENT_USER\\Software\\Stays").value("s").toString(), "1");
    EXPECT_EQ(topFile("user.reg").find("Gone"), std::string::npos);
}

TEST_F(RegistryKeyTest, NeverRemovesAHiveTop)
{
    writeUser("\n[Software\\\\Classes\\\\.txt]\n@=\"txtfile\"\n\n[Software\\\\A]\n\"v\"=\"1\"\n");
    const std::string before = topFile("user.reg");
    for (const QString path : {"HKEY_CURRENT_USER", "HKEY_CLASSES_ROOT", "HKEY_USERS"}) {
        RegistryKey top(path);
        EXPECT_FALSE(top.clear()) << path.toStdString();
        EXPECT_EQ(top.lastError(), platform::RegistryStatus::AccessDenied);
    }
    EXPECT_EQ(topFile("user.reg"), before);
}

TEST_F(RegistryKeyTest, DeletesNeitherThroughLinksNorIntoTheWow64View)
{
    writeMachine("\n[Software\\\\Target]\n\"t\"=\"target value\"\n"
                 "\n[Software\\\\Target\\\\Below]\n\"b\"=\"1\"\n"
                 "\n[Software\\\\Vendor]\n\"v\"=\"1\"\n"
                 "\n[Software\\\\Vendor\\\\Link]\n#link\n\"SymbolicLinkValue\"=hex(6):" +
                 linkData("\\Registry\\Machine\\Software\\Target") +
                 "\n\n[Software\\\\Vendor\\\\Plain]\n\"p\"=\"1\"\n"
                 "\n[Software\\\\Vendor\\\\Wow6432Node\\\\X]\n\"w\"=\"1\"\n");
    RegistryKey vendor("Software\\Vendor");
    // The link is followed for reading.
    EXPECT_EQ(RegistryKey("Software\\Vendor\\Link").value("t").toString(), "target value");

    EXPECT_FALSE(vendor.remove("Wow6432Node"));
    EXPECT_EQ(RegistryKey("Software\\Vendor\\Wow6432Node\\X").status(), RegistryKey::NoError);

    EXPECT_FALSE(RegistryKey("Software\\Vendor\\Link").clear());
    EXPECT_FALSE(vendor.clear());
    EXPECT_EQ(vendor.lastError(), platform::RegistryStatus::AccessDenied);
    // What could go went: the plain subkey and the key's own values.
    EXPECT_EQ(vendor.status(), RegistryKey::NoError);
    EXPECT_EQ(RegistryKey("Software\\Vendor\\Plain").status(), RegistryKey::AccessError);
    EXPECT_TRUE(vendor.childKeys().isEmpty());
    EXPECT_EQ(RegistryKey("Software\\Vendor\\Wow6432Node\\X").value("w").toString(), "1");
    EXPECT_EQ(RegistryKey("Software\\Target").value("t").toString(), "target value");
    EXPECT_EQ(RegistryKey("Software\\Target\\Below").value("b").toString(), "1");
    EXPECT_NE(topFile("system.reg").find("[Software\\\\Vendor\\\\Link]"), std::string::npos);
}

TEST_F(RegistryKeyTest, WritesFailWhenTheRegistryFileCannotBeReplacedSafely)
{
    // A registry file that is a symbolic link is read but never replaced.
    m_prefix.writeTopFile("user-real.reg", userFile("\n[Software\\\\Locked]\n\"v\"=\"1\"\n"));
    std::filesystem::create_symlink("user-real.reg", m_prefix.path() + "/user.reg");
    const std::string before = topFile("user-real.reg");

    RegistryKey key("HKEY_CURRENT_USER\\Software\\Locked");
    ASSERT_EQ(key.status(), RegistryKey::NoError);
    EXPECT_FALSE(key.setValue("v", "2"));
    EXPECT_FALSE(key.sync());
    EXPECT_EQ(key.lastError(), platform::RegistryStatus::AccessDenied);
    EXPECT_FALSE(key.remove("v"));
    EXPECT_FALSE(key.clear());
    EXPECT_EQ(key.value("v").toString(), "1");
    EXPECT_EQ(topFile("user-real.reg"), before);
}

} // namespace
