// Runs the built `nimbra` on copies of a prefix that Wine's own wineboot made, and asks Wine
// itself (`wine reg query`, `wine regedit`) what it sees of the changes.
//
// NIMBRA_PROGRAM names the program and NIMBRA_INTEROP_PREFIX the fresh prefix; the test run makes
// that prefix once and each case works on its own copy.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "../support/WineProcess.h"

#include <memory>

namespace {

using Output = ProcessOutput;

class RegistryInterop : public testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_program = qEnvironmentVariable("NIMBRA_PROGRAM");
        s_freshPrefix = qEnvironmentVariable("NIMBRA_INTEROP_PREFIX");
        // The copies lie beside the fresh prefix, on the same file system, so the program files
        // can be linked instead of copied.
        s_copies = std::make_unique<QTemporaryDir>(QFileInfo(s_freshPrefix).absolutePath() +
                                                   "/copies-XXXXXX");
    }

    static void TearDownTestSuite() { s_copies.reset(); }

    void SetUp() override
    {
        ASSERT_FALSE(s_program.isEmpty()) << "NIMBRA_PROGRAM is not set";
        ASSERT_TRUE(QFileInfo(s_freshPrefix + "/system.reg").isFile())
                << "no fresh prefix at NIMBRA_INTEROP_PREFIX=" << s_freshPrefix.toStdString();
        ASSERT_TRUE(s_copies && s_copies->isValid());
    }

    static Output runIn(const QString &prefix, const QString &program, const QStringList &arguments)
    {
        return runInPrefix(prefix, program, arguments);
    }

    // A fresh prefix of its own for a case. The registry files are real copies (Wine rewrites a
    // file with several names in place); Debian's server folder name is left behind, so each
    // copy gets a server of its own.
    static QString copyPrefix(const QString &name)
    {
        const QString copy = s_copies->filePath(name);
        EXPECT_TRUE(QDir().mkpath(copy));
        for (const char *file : {"system.reg", "user.reg", "userdef.reg", ".update-timestamp"})
            EXPECT_TRUE(QFile::copy(s_freshPrefix + "/" + file, copy + "/" + file)) << file;
        EXPECT_EQ(runIn(copy, "cp", {"-a", s_freshPrefix + "/dosdevices", copy}).status, 0);
        EXPECT_EQ(runIn(copy, "cp", {"-al", s_freshPrefix + "/drive_c", copy}).status, 0);
        return copy;
    }

    static Output wine(const QString &prefix, const QStringList &arguments)
    {
        const Output output = runIn(prefix, "wine", arguments);
        // Until the server exits, the registry files are its own.
        runIn(prefix, "wineserver", {"-w"});
        return output;
    }

    static Output nimbra(const QString &prefix, const QStringList &arguments)
    {
        return runIn(prefix, s_program, QStringList{"--prefix", prefix} + arguments);
    }

    // What Wine lists of a key and everything below it.
    static QString wineQuery(const QString &prefix, const QString &key)
    {
        const Output output = wine(prefix, {"reg", "query", key, "/s"});
        EXPECT_EQ(output.status, 0) << key.toStdString() << ": " << output.err.toStdString();
        return QString(output.out).remove('\r');
    }

    static QString windowsPath(const QString &hostPath)
    {
        return "Z:" + QString(hostPath).replace('/', '\\');
    }

    // Wine's own registration file of a key.
    static QByteArray wineExport(const QString &prefix, const QString &key)
    {
        const QString file = s_copies->filePath("wine-export.reg");
        QFile::remove(file);
        const Output output = wine(prefix, {"regedit", "/E", windowsPath(file), key});
        EXPECT_EQ(output.status, 0) << output.err.toStdString();
        return readFile(file);
    }

    static QByteArray readFile(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    static bool writeFile(const QString &path, const QByteArray &bytes)
    {
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
    }

    static QByteArray unicodeFile(const QString &text)
    {
        QByteArray bytes("\xff\xfe", 2);
        const QString lines = QString(text).replace("\n", "\r\n");
        for (const QChar character : lines) {
            bytes.append(static_cast<char>(character.unicode() & 0xff));
            bytes.append(static_cast<char>(character.unicode() >> 8));
        }
        return bytes;
    }

    static QString decoded(const QByteArray &unicode)
    {
        return QString::fromUtf16(reinterpret_cast<const char16_t *>(unicode.constData()),
                                  unicode.size() / 2);
    }

    // Has Wine's registry editor apply a registration file, so the keys are Wine's own work.
    static void wineImport(const QString &prefix, const QString &text)
    {
        const QString file = s_copies->filePath("wine-import.reg");
        ASSERT_TRUE(writeFile(file, unicodeFile(text)));
        const Output output = wine(prefix, {"regedit", "/S", windowsPath(file)});
        ASSERT_EQ(output.status, 0) << output.err.toStdString();
    }

    static inline QString s_program;
    static inline QString s_freshPrefix;
    static inline std::unique_ptr<QTemporaryDir> s_copies;
};

TEST_F(RegistryInterop, WineSeesExactlyTheValueSetAndTheKeyDeleted)
{
    const QString prefix = copyPrefix("changes");
    const QString area = "HKEY_CURRENT_USER\\Software\\NimbraInterop";
    wineImport(prefix,
               "Windows Registry Editor Version 5.00\n\n[" + area + "\\Keep]\n" +
                       "\"a\"=\"1\"\n\n[" + area + "\\Gone]\n\"c\"=dword:00000003\n\n[" + area +
                       "\\Gone\\Deep]\n\"b\"=\"2\"\n\n" +
                       "[HKEY_LOCAL_MACHINE\\Software\\NimbraInterop]\n\"m\"=\"machine\"\n");
    const QString userBefore = wineQuery(prefix, "HKCU");
    // The whole machine branch through Wine's registry editor, which lists it faster.
    const QString machineBefore = decoded(wineExport(prefix, "HKEY_LOCAL_MACHINE\\Software"));

    const QString text = "text with \\ and \" quotes";
    Output output = nimbra(prefix, {"registry", "set", area + "\\Keep", "new value", text});
    ASSERT_EQ(output.status, 0) << output.err.toStdString();
    output = nimbra(prefix, {"registry", "set", "HKLM\\Software\\NimbraInterop\\Made", "name",
                             "made by nimbra"});
    ASSERT_EQ(output.status, 0) << output.err.toStdString();
    output = nimbra(prefix, {"registry", "delete", area + "\\Gone"});
    ASSERT_EQ(output.status, 0) << output.err.toStdString();

    const QString goneBlocks = area + "\\Gone\n    c    REG_DWORD    0x3\n\n" + area +
                               "\\Gone\\Deep\n    b    REG_SZ    2\n\n";
    const QString keepBlock = area + "\\Keep\n    a    REG_SZ    1\n\n";
    const QString keepAfter =
            area + "\\Keep\n    a    REG_SZ    1\n    new value    REG_SZ    " + text + "\n\n";
    ASSERT_EQ(userBefore.count(goneBlocks), 1) << userBefore.toStdString();
    ASSERT_EQ(userBefore.count(keepBlock), 1);
    QString userExpected = userBefore;
    userExpected.remove(goneBlocks);
    userExpected.replace(keepBlock, keepAfter);
    EXPECT_EQ(wineQuery(prefix, "HKCU"), userExpected);

    const QString machineBlock = "[HKEY_LOCAL_MACHINE\\Software\\NimbraInterop]\r\n"
                                 "\"m\"=\"machine\"\r\n\r\n";
    ASSERT_EQ(machineBefore.count(machineBlock), 1);
    QString machineExpected = machineBefore;
    machineExpected.replace(machineBlock,
                            machineBlock + "[HKEY_LOCAL_MACHINE\\Software\\NimbraInterop\\Made]\r\n"
                                           "\"name\"=\"made by nimbra\"\r\n\r\n");
    EXPECT_EQ(decoded(wineExport(prefix, "HKEY_LOCAL_MACHINE\\Software")), machineExpected);

    // And nimbra lists the area as Wine does.
    EXPECT_EQ(nimbra(prefix, {"registry", "query", area, "--recursive"}).out, "\n" + keepAfter);
}

TEST_F(RegistryInterop, AnExportImportedByWinesRegistryEditorGivesTheSameKeys)
{
    const QString source = copyPrefix("export-source");
    const QString key = "HKEY_CURRENT_USER\\Software\\NimbraExport";
    QString longData;
    for (int i = 0; i < 100; ++i)
        longData += QString("%1,").arg(i * 7 % 256, 2, 16, QChar('0'));
    longData.chop(1);
    const QString values =
            "Windows Registry Editor Version 5.00\n\n[" + key +
            "]\n"
            "@=\"default\"\n"
            "\"quotes\"=\"say \\\"hi\\\" to C:\\\\Temp\\\\\"\n"
            "\"unicode \xc3\xa4\"=\"\xc3\xa4\xe2\x82\xac\xe4\xb8\xad\xf0\x9f\x98\x80\"\n"
            "\"empty\"=\"\"\n"
            "\"dword\"=dword:fffffffe\n"
            "\"qword\"=hex(b):01,02,03,04,05,06,07,08\n"
            "\"expand\"=hex(2):25,00,50,00,41,00,54,00,48,00,25,00,00,00\n"
            "\"multi\"=hex(7):61,00,00,00,62,00,63,00,00,00,00,00\n"
            "\"none\"=hex(0):\n"
            "\"driver\"=hex(ffff0007):03,00,00,00\n"
            "\"long\"=hex:" +
            longData + "\n\n[" + key + "\\Empty]\n\n[" + key + "\\Sub\\Deeper]\n\"x\"=\"y\"\n";
    const QString input = s_copies->filePath("values.reg");
    ASSERT_TRUE(writeFile(input, unicodeFile(values)));
    Output output = nimbra(source, {"registry", "import", input});
    ASSERT_EQ(output.status, 0) << output.err.toStdString();

    const QString exported = s_copies->filePath("exported.reg");
    output = nimbra(source, {"registry", "export", key, exported});
    ASSERT_EQ(output.status, 0) << output.err.toStdString();

    const QString target = copyPrefix("export-target");
    output = wine(target, {"regedit", "/S", windowsPath(exported)});
    ASSERT_EQ(output.status, 0) << output.err.toStdString();

    const QString listed = wineQuery(source, key);
    EXPECT_TRUE(listed.contains("Sub\\Deeper\n    x    REG_SZ    y")) << listed.toStdString();
    EXPECT_EQ(wineQuery(target, key), listed);
    // Wine's own export of either prefix is the file nimbra wrote, byte for byte.
    EXPECT_EQ(wineExport(source, key), readFile(exported));
    EXPECT_EQ(wineExport(target, key), readFile(exported));
}

TEST_F(RegistryInterop, AWineExportImportedByNimbraGivesTheSameKeys)
{
    const QString source = copyPrefix("import-source");
    const QString key = "HKEY_CURRENT_USER\\Software\\NimbraImport";
    wineImport(source,
               "Windows Registry Editor Version 5.00\n\n[" + key +
                       "]\n"
                       "@=\"default\"\n"
                       "\"text\"=\"a \\\"b\\\" c:\\\\d \xc3\xa9\"\n"
                       "\"number\"=dword:12345678\n"
                       "\"multi\"=hex(7):6f,00,6e,00,65,00,00,00,74,00,77,00,6f,00,00,00,00,00\n"
                       "\"expand\"=hex(2):25,00,54,00,45,00,4d,00,50,00,25,00,00,00\n"
                       "\"binary\"=hex:00,ff,10\n"
                       "\"qword\"=hex(b):ff,ee,dd,cc,bb,aa,99,88\n\n[" +
                       key + "\\Child\\Grandchild]\n\"deep\"=\"value\"\n\n[" + key + "\\Empty]\n");
    const QByteArray wineFile = wineExport(source, key);
    ASSERT_TRUE(decoded(wineFile).contains("\"deep\"=\"value\""))
            << decoded(wineFile).toStdString();
    const QString file = s_copies->filePath("from-wine.reg");
    ASSERT_TRUE(writeFile(file, wineFile));

    const QString target = copyPrefix("import-target");
    const Output output = nimbra(target, {"registry", "import", file});
    ASSERT_EQ(output.status, 0) << output.err.toStdString();
    EXPECT_EQ(wineQuery(target, key), wineQuery(source, key));
    EXPECT_EQ(wineExport(target, key), wineFile);
}

TEST_F(RegistryInterop, WritesAreRefusedWhileWinesServerRuns)
{
    const QString prefix = copyPrefix("server");
    const QString key = "HKEY_CURRENT_USER\\Software\\NimbraServer";
    // A persistent server, as while a Windows program runs.
    ASSERT_EQ(runIn(prefix, "wineserver", {"-p"}).status, 0);
    ASSERT_EQ(runIn(prefix, "wine", {"reg", "query", "HKCU\\Software"}).status, 0);
    const Output refused = nimbra(prefix, {"registry", "set", key, "v", "x"});
    runIn(prefix, "wineserver", {"-k"});
    runIn(prefix, "wineserver", {"-w"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_TRUE(refused.err.contains("Wine server")) << refused.err.toStdString();
    EXPECT_NE(wine(prefix, {"reg", "query", key}).status, 0);

    // Once it has gone, the same change is made and kept.
    const Output stored = nimbra(prefix, {"registry", "set", key, "v", "x"});
    EXPECT_EQ(stored.status, 0) << stored.err.toStdString();
    EXPECT_EQ(wineQuery(prefix, key), "\n" + key + "\n    v    REG_SZ    x\n\n");
}

} // namespace
