#include <reference_checks/RegFile.h>

#include <platform/Machine.h>

#include <TestPrefix.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Kind = RegFileOperation::Kind;
using platform::RegistryStatus;
using platform::RegistryValue;

// A file as registry editors write it: UTF-16 little-endian with a byte-order mark, CR LF.
QByteArray unicodeFile(const QString &text)
{
    QString crlf = text;
    crlf.replace("\n", "\r\n");
    QByteArray bytes("\xff\xfe", 2);
    for (const QChar character : std::as_const(crlf)) {
        bytes.append(static_cast<char>(character.unicode() & 0xff));
        bytes.append(static_cast<char>(character.unicode() >> 8));
    }
    return bytes;
}

QString header()
{
    return "Windows Registry Editor Version 5.00\n\n";
}

RegistryValue value(std::uint32_t type, std::vector<std::uint8_t> data)
{
    return {type, std::move(data)};
}

// A string's UTF-16 little-endian units and, when asked, the terminating NUL.
std::vector<std::uint8_t> units(const QString &text, bool terminated = true)
{
    std::vector<std::uint8_t> data;
    for (const QChar character : text) {
        data.push_back(static_cast<std::uint8_t>(character.unicode() & 0xff));
        data.push_back(static_cast<std::uint8_t>(character.unicode() >> 8));
    }
    if (terminated)
        data.insert(data.end(), {0, 0});
    return data;
}

RegistryPath path(const QString &text)
{
    return parseRegistryPath(text);
}

RegFileOperation createKey(const QString &key)
{
    return {Kind::CreateKey, path(key), {}, {}, 0};
}

RegFileOperation setValue(const QString &key, const QString &name, RegistryValue data)
{
    return {Kind::SetValue, path(key), name, std::move(data), 0};
}

std::vector<RegFileOperation> withoutLines(QList<RegFileOperation> operations)
{
    for (RegFileOperation &operation : operations)
        operation.line = 0;
    return {operations.begin(), operations.end()};
}

struct ValueCase
{
    QString lines; // after the key line
    RegFileOperation::Kind kind;
    QString name;
    RegistryValue value;
};

TEST(RegFileRead, ValueLinesInEveryForm)
{
    const ValueCase cases[] = {
            {"\"Name\"=\"text\"", Kind::SetValue, "Name", value(1, units("text"))},
            {"@=\"default\"", Kind::SetValue, "", value(1, units("default"))},
            {"\"q\\\"uote\\\\d\"=\"a\\\\b\\\"c\"", Kind::SetValue, "q\"uote\\d",
             value(1, units("a\\b\"c"))},
            {"\"nl\"=\"one\\ntwo\\r\"", Kind::SetValue, "nl", value(1, units("one\ntwo\r"))},
            {"  \"ws\"  =  \"x\"  ; comment", Kind::SetValue, "ws", value(1, units("x"))},
            {"\"u\"=\"\xc3\xa4\xe2\x82\xac\xf0\x9f\x98\x80\"", Kind::SetValue, "u",
             value(1, units("\xc3\xa4\xe2\x82\xac\xf0\x9f\x98\x80"))},
            {"\"e\"=\"\"", Kind::SetValue, "e", value(1, {0, 0})},
            {"\"d\"=dword:0000002a", Kind::SetValue, "d", value(4, {0x2a, 0, 0, 0})},
            {"\"d\"=dword:1A", Kind::SetValue, "d", value(4, {0x1a, 0, 0, 0})},
            {"\"d\"=DWORD:FFFFFFFF", Kind::SetValue, "d", value(4, {0xff, 0xff, 0xff, 0xff})},
            {"\"b\"=hex:01,02,ff", Kind::SetValue, "b", value(3, {1, 2, 0xff})},
            {"\"b\"=hex:", Kind::SetValue, "b", value(3, {})},
            {"\"b\"=hex: 01 , 2 ,FF,", Kind::SetValue, "b", value(3, {1, 2, 0xff})},
            {"\"e\"=hex(2):41,00,00,00", Kind::SetValue, "e", value(2, {0x41, 0, 0, 0})},
            {"\"t\"=hex(ffff0007):03,00,00,00", Kind::SetValue, "t",
             value(0xffff0007, {3, 0, 0, 0})},
            {"\"n\"=hex(0):", Kind::SetValue, "n", value(0, {})},
            {"\"q\"=hex(b):01,00,00,00,00,00,00,80", Kind::SetValue, "q",
             value(11, {1, 0, 0, 0, 0, 0, 0, 0x80})},
            {"\"c\"=hex:01,02,\\\n      03,\\\n  04", Kind::SetValue, "c", value(3, {1, 2, 3, 4})},
            {"\"c\"=hex:01,02,\\  \n\n", Kind::SetValue, "c", value(3, {1, 2})},
            {"\"x\"=-", Kind::DeleteValue, "x", {}},
            {"@= - ;gone", Kind::DeleteValue, "", {}},
    };
    for (const ValueCase &test : cases) {
        RegFile file;
        RegFileError error;
        const QString text = header() + "[HKEY_CURRENT_USER\\Software\\A]\n" + test.lines + "\n";
        ASSERT_TRUE(file.read(unicodeFile(text), &error))
                << test.lines.toStdString() << ": line " << error.line << ": "
                << error.message.toStdString();
        ASSERT_EQ(file.operations().size(), 2) << test.lines.toStdString();
        const RegFileOperation &operation = file.operations().at(1);
        EXPECT_EQ(operation.kind, test.kind) << test.lines.toStdString();
        EXPECT_EQ(operation.key, path("HKEY_CURRENT_USER\\Software\\A"));
        EXPECT_EQ(operation.name, test.name) << test.lines.toStdString();
        EXPECT_EQ(operation.value, test.value) << test.lines.toStdString();
        EXPECT_EQ(operation.line, 4);
    }
}

TEST(RegFileRead, KeyLinesCommentsAndLineNumbers)
{
    const QString text = header() + "; a comment\n"
                                    "[hkey_current_user\\Software\\Sub[1]\\]\n"
                                    "\"v\"=\"1\"\n"
                                    "\n"
                                    "   ;indented comment\n"
                                    "[-HKEY_LOCAL_MACHINE\\Software\\Gone]  \n"
                                    "[HKEY_CLASSES_ROOT\\.txt]\n"
                                    "[HKEY_USERS\\.Default\\X]\n";
    RegFile file;
    ASSERT_TRUE(file.read(unicodeFile(text)));
    EXPECT_EQ(file.format(), RegFile::Format::Version5);
    const QList<RegFileOperation> expected = {
            {Kind::CreateKey, path("HKEY_CURRENT_USER\\Software\\Sub[1]"), {}, {}, 4},
            {Kind::SetValue, path("HKEY_CURRENT_USER\\Software\\Sub[1]"), "v", value(1, units("1")),
             5},
            {Kind::DeleteKey, path("HKEY_LOCAL_MACHINE\\Software\\Gone"), {}, {}, 8},
            {Kind::CreateKey, path("HKEY_CLASSES_ROOT\\.txt"), {}, {}, 9},
            {Kind::CreateKey, path("HKEY_USERS\\.Default\\X"), {}, {}, 10},
    };
    EXPECT_EQ(file.operations(), expected);
}

TEST(RegFileRead, EveryEncodingRegistryEditorsWrite)
{
    const QString text = "Windows Registry Editor Version 5.00\r\n\r\n"
                         "[HKEY_CURRENT_USER\\Software\\A]\r\n\"v\"=\"\xc3\xa9\xe2\x82\xac\"\r\n";
    QByteArray bigEndian("\xfe\xff", 2);
    for (const QChar character : text)
        bigEndian.append(static_cast<char>(character.unicode() >> 8))
                .append(static_cast<char>(character.unicode() & 0xff));
    QByteArray windows1252 = text.toLatin1();
    windows1252.replace('?', '\x80'); // the euro sign, which Latin-1 lacks
    const std::pair<const char *, QByteArray> files[] = {
            {"UTF-16LE", unicodeFile(text)},
            {"UTF-16BE", bigEndian},
            {"UTF-8 with mark", "\xef\xbb\xbf" + text.toUtf8()},
            {"UTF-8", text.toUtf8()},
            {"Windows-1252", windows1252},
            {"LF only", unicodeFile(QString(text).remove('\r'))},
            {"CR only", unicodeFile(QString(text).replace("\r\n", "\r"))},
    };
    for (const auto &[name, bytes] : files) {
        RegFile file;
        RegFileError error;
        ASSERT_TRUE(file.read(bytes, &error)) << name << ": " << error.message.toStdString();
        ASSERT_EQ(file.operations().size(), 2) << name;
        EXPECT_EQ(file.operations().at(1).value, value(1, units("\xc3\xa9\xe2\x82\xac"))) << name;
    }
}

TEST(RegFileRead, OldFormatStringDataIsAnsiText)
{
    const QByteArray bytes = "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Old]\r\n"
                             "\"plain\"=\"caf\xe9\"\r\n"
                             "\"expand\"=hex(2):25,41,80,00\r\n"
                             "\"multi\"=hex(7):61,00,e9,00,00\r\n"
                             "\"binary\"=hex:80,00\r\n";
    RegFile file;
    RegFileError error;
    ASSERT_TRUE(file.read(bytes, &error)) << error.message.toStdString();
    EXPECT_EQ(file.format(), RegFile::Format::Regedit4);
    ASSERT_EQ(file.operations().size(), 5);
    EXPECT_EQ(file.operations().at(1).value, value(1, units("caf\xc3\xa9")));
    EXPECT_EQ(file.operations().at(2).value, value(2, {0x25, 0, 0x41, 0, 0xac, 0x20, 0, 0}));
    EXPECT_EQ(file.operations().at(3).value, value(7, {0x61, 0, 0, 0, 0xe9, 0, 0, 0, 0, 0}));
    EXPECT_EQ(file.operations().at(4).value, value(3, {0x80, 0}));
}

struct ErrorCase
{
    QString text; // the whole file
    int line;
    QString words; // a part of the message
};

TEST(RegFileRead, RefusesAFileAtItsFirstErrorWithTheLine)
{
    const QString key = "[HKEY_CURRENT_USER\\Software\\A]\n";
    const ErrorCase cases[] = {
            {"", 1, "first line"},
            {"Windows Registry Editor Version 4.00\n", 1, "first line"},
            {"\n" + header(), 1, "first line"},
            {header() + "\"v\"=\"x\"\n", 3, "must follow a key"},
            {header() + "[HKEY_CURRENT_USER\\Software\\A\n", 3, "must end with"},
            {header() + "[HKEY_CURRENT_CONFIG\\Software]\n", 3, "not a root key"},
            {header() + "[Software\\A]\n", 3, "not a root key"},
            {header() + "[HKLM\\Software\\A]\n", 3, "not a root key"},
            {header() + "[]\n", 3, "names no key"},
            {header() + "[-HKEY_CURRENT_USER]\n", 3, "root key cannot be deleted"},
            {header() + "[HKEY_CURRENT_USER\\" + QString(256, 'k') + "]\n", 3, "longer than 255"},
            {header() + key + "\"v\"=\"C:\\Temp\"\n", 4, "unknown escape"},
            {header() + key + "\"v\"=\"unterminated\n", 4, "no closing quote"},
            {header() + key + "\"v\"=\"x\" trailing\n", 4, "after the value's data"},
            {header() + key + "\"v\" \"x\"\n", 4, "expected \"=\""},
            {header() + key + "\"" + QString(16384, 'n') + "\"=\"x\"\n", 4, "longer than 16383"},
            {header() + key + "\"v\"=dword:123456789\n", 4, "one to eight"},
            {header() + key + "\"v\"=dword:\n", 4, "one to eight"},
            {header() + key + "\"v\"=dword:12 34\n", 4, "after the value's data"},
            {header() + key + "\"v\"=hex:01,g0\n", 4, "hexadecimal"},
            {header() + key + "\"v\"=hex:01,0g\n", 4, "between bytes"},
            {header() + key + "\"v\"=hex:012\n", 4, "hexadecimal"},
            {header() + key + "\"v\"=hex:01 02\n", 4, "between bytes"},
            {header() + key + "\"v\"=hex(2:01\n", 4, "hex(N)"},
            {header() + key + "\"v\"=hex(123456789):01\n", 4, "hex(N)"},
            {header() + key + "\"v\"=hexx\n", 4, "expected \":\""},
            {header() + key + "\"v\"=bogus\n", 4, "unknown value data"},
            {header() + key + "\"v\"=hex:01,\\ x\n", 4, "must end with"},
            {header() + key + "\"v\"=hex:01,\\\n", 4, "past the end"},
            {header() + key + "\"v\"=hex:01,\\\n  02,\\\n  zz\n", 6, "hexadecimal"},
            {header() + key + "garbage\n", 4, "neither"},
            {header() + "[-HKEY_CURRENT_USER\\Software\\A]\n\"v\"=\"x\"\n", 4, "deleted key"},
    };
    for (const ErrorCase &test : cases) {
        RegFile file;
        RegFileError error;
        EXPECT_FALSE(file.read(unicodeFile(test.text), &error)) << test.text.toStdString();
        EXPECT_EQ(error.line, test.line) << test.text.left(200).toStdString();
        EXPECT_TRUE(error.message.contains(test.words))
                << test.text.left(200).toStdString() << " -> " << error.message.toStdString();
        EXPECT_TRUE(file.operations().isEmpty());
    }
}

// What Wine's own registry editor exported for these values, byte for byte.
TEST(RegFileWrite, WritesWhatWinesRegistryEditorWrites)
{
    std::vector<std::uint8_t> counting;
    for (int i = 0; i < 0x30; ++i)
        counting.push_back(static_cast<std::uint8_t>(i));
    const QString t1 = "HKEY_CURRENT_USER\\Software\\T1";
    RegFile file;
    file.setOperations({
            createKey(t1),
            setValue(t1, "", value(1, units("def"))),
            setValue(t1, "dw", value(4, {0x2a, 0, 0, 0})),
            setValue(t1, "str", value(1, units("hello world"))),
            createKey(t1 + "\\Empty"),
            setValue(t1 + "\\Empty", "", value(1, {0, 0})),
            createKey(t1 + "\\NoVals"),
            createKey(t1 + "\\Sub"),
            setValue(t1 + "\\Sub", "bin", value(3, {1, 2, 0xff})),
            setValue(t1 + "\\Sub", "exp", value(2, units("%TEMP%\\x"))),
            setValue(t1 + "\\Sub", "long", value(3, counting)),
            setValue(t1 + "\\Sub", "multi", value(7, {0x61, 0, 0, 0, 0x62, 0, 0, 0, 0, 0})),
            setValue(t1 + "\\Sub", "q", value(11, {0x89, 0x67, 0x45, 0x23, 1, 0, 0, 0})),
    });
    const QString expected =
            header() + "[HKEY_CURRENT_USER\\Software\\T1]\n"
                       "@=\"def\"\n"
                       "\"dw\"=dword:0000002a\n"
                       "\"str\"=\"hello world\"\n"
                       "\n"
                       "[HKEY_CURRENT_USER\\Software\\T1\\Empty]\n"
                       "@=\"\"\n"
                       "\n"
                       "[HKEY_CURRENT_USER\\Software\\T1\\NoVals]\n"
                       "\n"
                       "[HKEY_CURRENT_USER\\Software\\T1\\Sub]\n"
                       "\"bin\"=hex:01,02,ff\n"
                       "\"exp\"=hex(2):25,00,54,00,45,00,4d,00,50,00,25,00,5c,00,78,00,00,00\n"
                       "\"long\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,"
                       "14,15,\\\n"
                       "  16,17,18,19,1a,1b,1c,1d,1e,1f,20,21,22,23,24,25,26,27,28,29,2a,2b,2c,"
                       "2d,2e,\\\n"
                       "  2f\n"
                       "\"multi\"=hex(7):61,00,00,00,62,00,00,00,00,00\n"
                       "\"q\"=hex(b):89,67,45,23,01,00,00,00\n"
                       "\n";
    EXPECT_EQ(file.toBytes(), unicodeFile(expected));
}

TEST(RegFileWrite, UsesTheQuotedFormOnlyForPlainStrings)
{
    const std::pair<RegistryValue, QString> cases[] = {
            {value(1, units("a\\b\"c")), "\"n\"=\"a\\\\b\\\"c\""},
            {value(1, units("tab\there")),
             "\"n\"=hex(1):74,00,61,00,62,00,09,00,68,00,65,00,72,00,65,00,00,00"},
            {value(1, units("AB", false)), "\"n\"=hex(1):41,00,42,00"},
            {value(1, {0x41, 0, 0, 0, 0x42, 0, 0, 0}), "\"n\"=hex(1):41,00,00,00,42,00,00,00"},
            {value(1, {}), "\"n\"=hex(1):"},
            {value(1, {0x41, 0, 0}), "\"n\"=hex(1):41,00,00"},
            {value(2, units("x")), "\"n\"=hex(2):78,00,00,00"},
            {value(4, {1, 2, 3}), "\"n\"=hex(4):01,02,03"},
            {value(5, {0, 0, 0, 1}), "\"n\"=hex(5):00,00,00,01"},
            {value(3, {}), "\"n\"=hex:"},
            {value(0xffff0007, {3, 0, 0, 0}), "\"n\"=hex(ffff0007):03,00,00,00"},
    };
    for (const auto &[data, line] : cases) {
        RegFile file;
        file.setOperations(
                {createKey("HKEY_CURRENT_USER\\A"), setValue("HKEY_CURRENT_USER\\A", "n", data)});
        EXPECT_EQ(file.toBytes(),
                  unicodeFile(header() + "[HKEY_CURRENT_USER\\A]\n" + line + "\n\n"))
                << line.toStdString();
    }
}

TEST(RegFileWrite, EveryOperationReadsBackTheSame)
{
    std::vector<std::uint8_t> many(300);
    for (std::size_t i = 0; i < many.size(); ++i)
        many[i] = static_cast<std::uint8_t>(i * 7);
    const QString key = "HKEY_LOCAL_MACHINE\\Software\\Round\\Sub[1]";
    const QString longName(200, QChar(u'\x4e2d'));
    const QList<RegFileOperation> operations = {
            createKey(key),
            setValue(key, "", value(1, units("default"))),
            setValue(key, "quote\"back\\slash", value(1, units("\"\\\\\""))),
            setValue(key, "new\nline\rname", value(1, units("x"))),
            setValue(key, "controls", value(1, units("a\tb\nc\x1b"))),
            setValue(key, "unterminated", value(1, units("ab", false))),
            setValue(key, "odd", value(1, {0x41})),
            setValue(key, "nul inside", value(1, {0x41, 0, 0, 0, 0x42, 0, 0, 0})),
            setValue(key, "astral \xf0\x9f\x98\x80", value(1, units("\xf0\x9f\x98\x80 \xc3\xa4"))),
            setValue(key, "expand", value(2, units("%PATH%"))),
            setValue(key, "multi", value(7, units(QString("a") + QChar(0) + "b" + QChar(0)))),
            setValue(key, "dword", value(4, {0xff, 0xfe, 0xfd, 0xfc})),
            setValue(key, "short dword", value(4, {1})),
            setValue(key, "big", value(5, {1, 2, 3, 4})),
            setValue(key, "qword", value(11, {1, 2, 3, 4, 5, 6, 7, 8})),
            setValue(key, "none", value(0, {})),
            setValue(key, "driver", value(0xffff1003, {9, 8})),
            setValue(key, longName, value(3, many)),
            {Kind::DeleteValue, path(key), "gone", {}, 0},
            {Kind::DeleteValue, path(key), "", {}, 0},
            {Kind::DeleteKey, path("HKEY_CURRENT_USER\\Software\\Gone"), {}, {}, 0},
            createKey("HKEY_USERS\\.Default\\Empty"),
            createKey("HKEY_CLASSES_ROOT\\.txt"),
            setValue("HKEY_CLASSES_ROOT\\.txt", "", value(1, units("txtfile"))),
    };
    RegFile written;
    written.setOperations(operations);
    RegFile read;
    RegFileError error;
    ASSERT_TRUE(read.read(written.toBytes(), &error))
            << error.line << ": " << error.message.toStdString();
    EXPECT_EQ(withoutLines(read.operations()),
              std::vector<RegFileOperation>(operations.begin(), operations.end()));
}

class RegFileRegistry : public testing::Test
{
protected:
    void SetUp() override { m_prefix.install(); }

    platform::Registry &registry() const { return platform::Machine::current().registry(); }

    void writeUser(std::string_view body) const
    {
        m_prefix.writeTopFile("user.reg",
                              "WINE REGISTRY Version 2\n"
                              ";; All keys relative to REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000\n"
                              "\n#arch=win64\n" +
                                      std::string(body));
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

TEST_F(RegFileRegistry, AppliesEveryKindOfChange)
{
    m_prefix.writeTopFile("system.reg", "WINE REGISTRY Version 2\n"
                                        ";; All keys relative to REGISTRY\\\\Machine\n"
                                        "\n#arch=win64\n"
                                        "\n[Software\\\\Classes\\\\.txt]\n@=\"txtfile\"\n");
    writeUser("\n[Software\\\\Imp]\n\"old\"=\"1\"\n\"kept\"=\"2\"\n"
              "\n[Software\\\\ToGo\\\\Deep\\\\Deeper]\n\"x\"=\"y\"\n"
              "\n[Software\\\\Stays]\n\"s\"=\"1\"\n");
    const QString text = header() + "[HKEY_CURRENT_USER\\Software\\Imp]\n"
                                    "\"old\"=-\n"
                                    "\"new\"=\"value\"\n"
                                    "\"gone already\"=-\n"
                                    "\"n\"=dword:00000007\n"
                                    "\n"
                                    "[HKEY_CURRENT_USER\\Software\\Imp\\Made\\Deep]\n"
                                    "@=\"deep default\"\n"
                                    "\n"
                                    "[-HKEY_CURRENT_USER\\Software\\ToGo]\n"
                                    "[-HKEY_CURRENT_USER\\Software\\NotThere]\n"
                                    "[HKEY_CLASSES_ROOT\\.imp]\n"
                                    "@=\"impfile\"\n";
    RegFile file;
    ASSERT_TRUE(file.read(unicodeFile(text)));
    ASSERT_TRUE(file.check(registry()));
    const RegFileOutcome outcome = file.apply(registry());
    EXPECT_EQ(outcome.status, RegistryStatus::Success);
    EXPECT_EQ(outcome.applied, file.operations().size());

    const RegistryKey imported("HKEY_CURRENT_USER\\Software\\Imp");
    EXPECT_EQ(imported.childKeys(), QStringList({"kept", "n", "new"}));
    EXPECT_EQ(imported.value("n").toInt(), 7);
    EXPECT_EQ(imported.allKeys(), QStringList({"kept", "n", "new", "Made\\Deep\\"}));
    EXPECT_EQ(RegistryKey("HKEY_CURRENT_USER\\Software").childGroups(),
              QStringList({"Imp", "Stays"}));
    // New class keys go to the machine's part of HKEY_CLASSES_ROOT.
    EXPECT_EQ(RegistryKey("HKEY_LOCAL_MACHINE\\Software\\Classes\\.imp").value("").toString(),
              "impfile");
}

TEST_F(RegFileRegistry, ChecksUsersBeforeAnythingIsChanged)
{
    const std::pair<QString, int> cases[] = {
            {"[HKEY_USERS\\S-1-5-21-0-0-0-1000\\Software\\X]\n", 0},
            {"[HKEY_USERS\\.Default\\Software\\X]\n", 0},
            {"[HKEY_USERS]\n", 0},
            {"[HKEY_CURRENT_USER\\A]\n[HKEY_USERS\\Nobody\\X]\n", 4},
            {"[HKEY_USERS]\n\"v\"=\"x\"\n", 4},
            {"[-HKEY_USERS\\.Default]\n", 3},
    };
    for (const auto &[lines, line] : cases) {
        RegFile file;
        ASSERT_TRUE(file.read(unicodeFile(header() + lines))) << lines.toStdString();
        RegFileError error;
        EXPECT_EQ(file.check(registry(), &error), line == 0) << lines.toStdString();
        EXPECT_EQ(error.line, line) << lines.toStdString();
    }
}

TEST_F(RegFileRegistry, ChangesNothingWhileTheRegistryCannotBeChanged)
{
    m_prefix.writeTopFile("system.reg", "not a registry file\n");
    writeUser("\n[Software\\\\A]\n\"v\"=\"1\"\n");
    const std::string before = topFile("user.reg");
    RegFile file;
    ASSERT_TRUE(file.read(unicodeFile(header() + "[HKEY_CURRENT_USER\\Software\\A]\n\"v\"=-\n")));
    const RegFileOutcome outcome = file.apply(registry());
    EXPECT_EQ(outcome.status, RegistryStatus::AccessDenied);
    EXPECT_EQ(outcome.applied, 0);
    EXPECT_EQ(topFile("user.reg"), before);
}

TEST_F(RegFileRegistry, StopsAtTheFirstChangeThatFails)
{
    writeUser("\n[Software\\\\A]\n\"v\"=\"1\"\n"
              "\n[Software\\\\A\\\\Wow6432Node\\\\Kept]\n\"k\"=\"1\"\n");
    RegFile file;
    ASSERT_TRUE(file.read(unicodeFile(header() + "[HKEY_CURRENT_USER\\Software\\B]\n"
                                                 "[-HKEY_CURRENT_USER\\Software\\A]\n"
                                                 "[HKEY_CURRENT_USER\\Software\\C]\n")));
    const RegFileOutcome outcome = file.apply(registry());
    EXPECT_EQ(outcome.status, RegistryStatus::AccessDenied);
    EXPECT_EQ(outcome.line, 4);
    EXPECT_EQ(outcome.applied, 1);
    EXPECT_EQ(RegistryKey("HKEY_CURRENT_USER\\Software").childGroups(), QStringList({"A", "B"}));
}

TEST_F(RegFileRegistry, ReadsAKeyWithEverythingBelowIt)
{
    writeUser("\n[Software\\\\Exp]\n\"b\"=\"2\"\n@=\"d\"\n"
              "\n[Software\\\\Exp\\\\z\\\\Leaf]\n\"x\"=dword:00000001\n"
              "\n[Software\\\\Exp\\\\A]\n");
    RegFile file;
    ASSERT_EQ(file.readKey(registry(), parseRegistryPath("hkey_current_user\\software\\EXP")),
              RegistryStatus::Success);
    const QString top = "HKEY_CURRENT_USER\\software\\EXP";
    const std::vector<RegFileOperation> expected = {
            createKey(top),
            setValue(top, "", value(1, units("d"))),
            setValue(top, "b", value(1, units("2"))),
            createKey(top + "\\A"),
            createKey(top + "\\z"),
            createKey(top + "\\z\\Leaf"),
            setValue(top + "\\z\\Leaf", "x", value(4, {1, 0, 0, 0})),
    };
    EXPECT_EQ(withoutLines(file.operations()), expected);
    EXPECT_EQ(file.readKey(registry(), parseRegistryPath("HKEY_CURRENT_USER\\Software\\Missing")),
              RegistryStatus::FileNotFound);
    EXPECT_TRUE(file.operations().isEmpty());
}

} // namespace
