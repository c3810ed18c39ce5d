#include <CommandLine.h>

#include <TestPrefix.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

namespace {

struct Result
{
    int status = 0;
    QString out;
    QString err;
};

const std::string userHeader = "WINE REGISTRY Version 2\n"
                               ";; All keys relative to REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000\n"
                               "\n#arch=win64\n";

const std::string sampleKeys = "\n[Software\\\\Q]\n"
                               "@=\"def\"\n"
                               "\"dw\"=dword:0000002a\n"
                               "\"str\"=\"hello world\"\n"
                               "\"multi\"=str(7):\"a\\0b\\0\"\n"
                               "\"bin\"=hex:01,02,ff\n"
                               "\"q\"=hex(b):89,67,45,23,01,00,00,00\n"
                               "\"drv\"=hex(ffff0007):03,00,00,00\n"
                               "\n[Software\\\\Q\\\\Empty]\n"
                               "\n[Software\\\\Q\\\\Sub\\\\Deep]\n"
                               "\"x\"=\"y\"\n";

const QString sampleValueLines = "    (Default)    REG_SZ    def\n"
                                 "    bin    REG_BINARY    0102FF\n"
                                 "    drv    0xffff0007    03000000\n"
                                 "    dw    REG_DWORD    0x2a\n"
                                 "    multi    REG_MULTI_SZ    a\\0b\n"
                                 "    q    REG_QWORD    0x123456789\n"
                                 "    str    REG_SZ    hello world\n";

class RegistryCommand : public testing::Test
{
protected:
    Result run(const TestPrefix &prefix, QStringList arguments) const
    {
        arguments.prepend(QString::fromStdString(prefix.path()));
        arguments.prepend("--prefix");
        arguments.prepend("nimbra");
        Result result;
        QTextStream out(&result.out);
        QTextStream err(&result.err);
        result.status = runCommandLine(arguments, out, err);
        out.flush();
        err.flush();
        return result;
    }

    static std::string topFile(const TestPrefix &prefix, const std::string &name)
    {
        std::ifstream in(prefix.path() + "/" + name, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    QString file(const QString &name) const { return m_files.filePath(name); }

    static void writeFile(const QString &path, const QByteArray &bytes)
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

    QTemporaryDir m_files;
};

TEST_F(RegistryCommand, QueryShowsValuesAndSubkeysAsRegQueryDoes)
{
    TestPrefix prefix;
    prefix.writeTopFile("user.reg", userHeader + sampleKeys);

    const Result plain = run(prefix, {"registry", "query", "HKCU\\Software\\Q"});
    ASSERT_EQ(plain.status, 0) << plain.err.toStdString();
    EXPECT_EQ(plain.out, "\nHKEY_CURRENT_USER\\Software\\Q\n" + sampleValueLines +
                                 "\nHKEY_CURRENT_USER\\Software\\Q\\Empty\n"
                                 "HKEY_CURRENT_USER\\Software\\Q\\Sub\n");

    const Result recursive =
            run(prefix, {"registry", "query", "hkey_current_user\\Software\\Q", "--recursive"});
    ASSERT_EQ(recursive.status, 0) << recursive.err.toStdString();
    EXPECT_EQ(recursive.out, "\nHKEY_CURRENT_USER\\Software\\Q\n" + sampleValueLines +
                                     "\nHKEY_CURRENT_USER\\Software\\Q\\Empty\n"
                                     "\nHKEY_CURRENT_USER\\Software\\Q\\Sub\n"
                                     "\nHKEY_CURRENT_USER\\Software\\Q\\Sub\\Deep\n"
                                     "    x    REG_SZ    y\n\n");

    // The key asked for shows no block of its own when it has no values.
    EXPECT_EQ(run(prefix, {"registry", "query", "HKCU\\Software\\Q\\Sub"}).out,
              "\nHKEY_CURRENT_USER\\Software\\Q\\Sub\\Deep\n");
    EXPECT_EQ(run(prefix, {"registry", "query", "HKCU\\Software\\Q\\Sub", "--recursive"}).out,
              "\nHKEY_CURRENT_USER\\Software\\Q\\Sub\\Deep\n    x    REG_SZ    y\n\n");

    const Result missing = run(prefix, {"registry", "query", "HKCU\\Software\\Missing"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_TRUE(missing.out.isEmpty());
    EXPECT_TRUE(missing.err.contains("HKEY_CURRENT_USER\\Software\\Missing"));
}

TEST_F(RegistryCommand, QueryGivesTypedDataAsJson)
{
    TestPrefix prefix;
    prefix.writeTopFile("user.reg", userHeader + sampleKeys);
    const Result result =
            run(prefix, {"--json", "registry", "query", "HKCU\\Software\\Q", "--recursive"});
    ASSERT_EQ(result.status, 0) << result.err.toStdString();
    const QJsonObject top = QJsonDocument::fromJson(result.out.toUtf8()).object();
    EXPECT_EQ(top.value("key").toString(), "HKEY_CURRENT_USER\\Software\\Q");
    QJsonObject values;
    for (const QJsonValue &value : top.value("values").toArray())
        values.insert(value.toObject().value("name").toString(), value.toObject());
    EXPECT_EQ(values.value("").toObject().value("data"), QJsonValue("def"));
    EXPECT_EQ(values.value("dw").toObject().value("type"), QJsonValue("REG_DWORD"));
    EXPECT_EQ(values.value("dw").toObject().value("data"), QJsonValue(42));
    EXPECT_EQ(values.value("q").toObject().value("data"), QJsonValue(qint64(0x123456789)));
    EXPECT_EQ(values.value("multi").toObject().value("data"), QJsonArray({"a", "b"}));
    EXPECT_EQ(values.value("bin").toObject().value("data"), QJsonValue("0102FF"));
    const QJsonArray subkeys = top.value("subkeys").toArray();
    ASSERT_EQ(subkeys.size(), 2);
    const QJsonObject sub = subkeys.at(1).toObject();
    EXPECT_EQ(sub.value("key").toString(), "HKEY_CURRENT_USER\\Software\\Q\\Sub");
    EXPECT_EQ(sub.value("subkeys").toArray().at(0).toObject().value("key").toString(),
              "HKEY_CURRENT_USER\\Software\\Q\\Sub\\Deep");

    const Result plain = run(prefix, {"--json", "registry", "query", "HKCU\\Software\\Q"});
    EXPECT_EQ(QJsonDocument::fromJson(plain.out.toUtf8()).object().value("subkeys"),
              QJsonArray({"Empty", "Sub"}));
}

TEST_F(RegistryCommand, AnExportImportedIntoAnotherPrefixGivesTheSameKeys)
{
    TestPrefix source;
    source.writeTopFile("user.reg", userHeader + sampleKeys);
    const Result exported = run(source, {"registry", "export", "HKCU\\Software\\Q", file("q.reg")});
    ASSERT_EQ(exported.status, 0) << exported.err.toStdString();
    EXPECT_EQ(exported.out, "Exported HKEY_CURRENT_USER\\Software\\Q to " + file("q.reg") +
                                    " (4 keys, 8 values)\n");
    QFile written(file("q.reg"));
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    const QByteArray bytes = written.readAll();
    EXPECT_TRUE(bytes.startsWith(QByteArray("\xff\xfeW\0i\0n\0", 8)));

    TestPrefix target;
    const Result imported = run(target, {"registry", "import", file("q.reg")});
    ASSERT_EQ(imported.status, 0) << imported.err.toStdString();
    EXPECT_EQ(imported.out, "Imported " + file("q.reg") + " (12 changes)\n");

    const QStringList query = {"registry", "query", "HKCU\\Software\\Q", "--recursive"};
    EXPECT_EQ(run(target, query).out, run(source, query).out);
    ASSERT_EQ(run(target, {"registry", "export", "HKCU\\Software\\Q", file("again.reg")}).status,
              0);
    QFile again(file("again.reg"));
    ASSERT_TRUE(again.open(QIODevice::ReadOnly));
    EXPECT_EQ(again.readAll(), bytes);
}

TEST_F(RegistryCommand, ImportRefusesABadFileWholeWithItsLine)
{
    TestPrefix prefix;
    prefix.writeTopFile("user.reg", userHeader + sampleKeys);
    const std::string before = topFile(prefix, "user.reg");
    const std::pair<QByteArray, QString> files[] = {
            {"Windows Registry Editor Version 5.00\r\n\r\n"
             "[HKEY_CURRENT_USER\\Software\\Q]\r\n"
             "\"dw\"=-\r\n"
             "[-HKEY_CURRENT_USER\\Software\\Q\\Sub]\r\n"
             "[HKEY_CURRENT_USER\\Software\\Q\\Other]\r\n"
             "\"path\"=\"C:\\Temp\"\r\n",
             ":7: unknown escape"},
            {"Windows Registry Editor Version 5.00\r\n\r\n"
             "[-HKEY_CURRENT_USER\\Software\\Q]\r\n"
             "[HKEY_USERS\\Nobody\\Software]\r\n",
             ":4: there is no user"},
            {"REGEDIT5\r\n", ":1: not a registration file"},
    };
    for (const auto &[bytes, words] : files) {
        writeFile(file("bad.reg"), bytes);
        const Result result = run(prefix, {"registry", "import", file("bad.reg")});
        EXPECT_EQ(result.status, 1);
        EXPECT_TRUE(result.err.startsWith("nimbra: " + file("bad.reg") + words))
                << result.err.toStdString();
        EXPECT_TRUE(result.err.contains("nothing was changed"));
        EXPECT_EQ(topFile(prefix, "user.reg"), before);
    }
    const Result missing = run(prefix, {"registry", "import", file("missing.reg")});
    EXPECT_EQ(missing.status, 1);
    EXPECT_TRUE(missing.err.contains("cannot read")) << missing.err.toStdString();
}

TEST_F(RegistryCommand, SetsAndDeletesValuesAndKeys)
{
    TestPrefix prefix;
    prefix.writeTopFile("user.reg", userHeader + sampleKeys);
    const QString q = "HKEY_CURRENT_USER\\Software\\Q";

    const Result set = run(prefix, {"registry", "set", "HKCU\\Software\\Q\\New\\Deep", "name",
                                    "a \"quoted\" \\ text"});
    ASSERT_EQ(set.status, 0) << set.err.toStdString();
    EXPECT_EQ(set.out, "Stored name in " + q + "\\New\\Deep\n");
    EXPECT_EQ(run(prefix, {"registry", "query", q + "\\New\\Deep"}).out,
              "\n" + q + "\\New\\Deep\n    name    REG_SZ    a \"quoted\" \\ text\n\n");
    // Without a hive name a key lies under HKEY_LOCAL_MACHINE.
    ASSERT_EQ(run(prefix, {"registry", "set", "Software\\Vendor", "", "default"}).status, 0);
    EXPECT_EQ(run(prefix, {"registry", "query", "HKLM\\Software\\Vendor"}).out,
              "\nHKEY_LOCAL_MACHINE\\Software\\Vendor\n    (Default)    REG_SZ    default\n\n");

    EXPECT_EQ(run(prefix, {"registry", "delete", q, "dw"}).status, 0);
    EXPECT_EQ(run(prefix, {"registry", "delete", q, ""}).status, 0);
    const Result sub = run(prefix, {"registry", "delete", q + "\\Sub"});
    EXPECT_EQ(sub.status, 0);
    EXPECT_EQ(sub.out, "Deleted " + q + "\\Sub\n");
    EXPECT_EQ(run(prefix, {"registry", "query", q}).out,
              "\n" + q +
                      "\n"
                      "    bin    REG_BINARY    0102FF\n"
                      "    drv    0xffff0007    03000000\n"
                      "    multi    REG_MULTI_SZ    a\\0b\n"
                      "    q    REG_QWORD    0x123456789\n"
                      "    str    REG_SZ    hello world\n\n" +
                      q + "\\Empty\n" + q + "\\New\n");

    const std::pair<QStringList, QString> failures[] = {
            {{"registry", "delete", q, "dw"}, "there is no value dw"},
            {{"registry", "delete", q + "\\Sub"}, "there is no key"},
            {{"registry", "delete", "HKCU"}, "root key"},
    };
    for (const auto &[arguments, words] : failures) {
        const Result result = run(prefix, arguments);
        EXPECT_EQ(result.status, 1) << arguments.join(' ').toStdString();
        EXPECT_TRUE(result.err.contains(words)) << result.err.toStdString();
    }
    ASSERT_EQ(run(prefix, {"registry", "delete", q}).status, 0);
    EXPECT_EQ(run(prefix, {"registry", "query", q}).status, 1);
    EXPECT_EQ(topFile(prefix, "user.reg").find("Software\\\\Q"), std::string::npos);
}

TEST_F(RegistryCommand, WritesFailWithTheReasonWhenTheRegistryCannotBeChanged)
{
    TestPrefix prefix;
    prefix.writeTopFile("system.reg", "not a registry file\n");
    prefix.writeTopFile("user.reg", userHeader + sampleKeys);
    const std::string before = topFile(prefix, "user.reg");
    writeFile(file("ok.reg"), "Windows Registry Editor Version 5.00\r\n\r\n"
                              "[HKEY_CURRENT_USER\\Software\\Q]\r\n\"dw\"=-\r\n");
    const QStringList writes[] = {
            {"registry", "set", "HKCU\\Software\\Q", "v", "x"},
            {"registry", "delete", "HKCU\\Software\\Q", "dw"},
            {"registry", "delete", "HKCU\\Software\\Q"},
            {"registry", "import", file("ok.reg")},
    };
    for (const QStringList &arguments : writes) {
        const Result result = run(prefix, arguments);
        EXPECT_EQ(result.status, 1) << arguments.join(' ').toStdString();
        EXPECT_TRUE(result.err.contains("cannot change the registry")) << result.err.toStdString();
        EXPECT_TRUE(result.err.contains("system.reg")) << result.err.toStdString();
    }
    EXPECT_EQ(topFile(prefix, "user.reg"), before);
    // Reading goes on.
    EXPECT_EQ(run(prefix, {"registry", "query", "HKCU\\Software\\Q\\Sub\\Deep"}).status, 0);
}

TEST_F(RegistryCommand, UsageErrorsExitWithTwo)
{
    TestPrefix prefix;
    const QStringList cases[] = {
            {"registry"},
            {"registry", "bogus"},
            {"registry", "query"},
            {"registry", "query", "HKCU\\a", "b"},
            {"registry", "query", ""},
            {"registry", "query", "HKEY_CURRENT_CONFIG\\Software"},
            {"registry", "export", "HKCU\\a"},
            {"registry", "import"},
            {"registry", "import", "a.reg", "--recursive"},
            {"registry", "set", "HKCU\\a", "name"},
            {"registry", "delete", "HKCU\\a", "name", "extra"},
    };
    for (const QStringList &arguments : cases) {
        const Result result = run(prefix, arguments);
        EXPECT_EQ(result.status, 2) << arguments.join(' ').toStdString();
        EXPECT_TRUE(result.out.isEmpty());
        EXPECT_TRUE(result.err.startsWith("nimbra: ")) << result.err.toStdString();
    }
}

} // namespace
