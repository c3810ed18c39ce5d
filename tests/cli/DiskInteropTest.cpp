// Runs the built `nimbra disk` on a copy of a prefix that Wine's own wineboot made, with files put
// into the temporary folder that Wine itself names, and asks Wine what is left after a clean.
//
// NIMBRA_PROGRAM names the program and NIMBRA_INTEROP_PREFIX the fresh prefix; the test run makes
// that prefix once and this test works on its own copy.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSet>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "../support/WineProcess.h"

#include <memory>

namespace {

using Output = ProcessOutput;

class DiskInterop : public testing::Test
{
protected:
    void SetUp() override
    {
        m_program = qEnvironmentVariable("NIMBRA_PROGRAM");
        const QString fresh = qEnvironmentVariable("NIMBRA_INTEROP_PREFIX");
        ASSERT_FALSE(m_program.isEmpty()) << "NIMBRA_PROGRAM is not set";
        ASSERT_TRUE(QFileInfo(fresh + "/system.reg").isFile())
                << "no fresh prefix at NIMBRA_INTEROP_PREFIX=" << fresh.toStdString();
        // Beside the fresh prefix, on the same file system, so the program files can be linked.
        m_work = std::make_unique<QTemporaryDir>(QFileInfo(fresh).absolutePath() + "/disk-XXXXXX");
        ASSERT_TRUE(m_work->isValid());
        m_prefix = m_work->filePath("prefix");
        ASSERT_TRUE(QDir().mkpath(m_prefix));
        // The registry files are real copies (Wine rewrites a file with several names in place);
        // Debian's server folder name stays behind, so the copy gets a server of its own.
        for (const char *file : {"system.reg", "user.reg", "userdef.reg", ".update-timestamp"})
            ASSERT_TRUE(QFile::copy(fresh + "/" + file, m_prefix + "/" + file)) << file;
        ASSERT_EQ(run("cp", {"-a", fresh + "/dosdevices", m_prefix}).status, 0);
        ASSERT_EQ(run("cp", {"-al", fresh + "/drive_c", m_prefix}).status, 0);
        // The recycle bin of the test is a trash of its own, never the user's.
        ASSERT_TRUE(QDir().mkpath(m_work->filePath("data")));
    }

    Output run(const QString &program, const QStringList &arguments) const
    {
        QProcessEnvironment trash;
        trash.insert("XDG_DATA_HOME", m_work->filePath("data"));
        return runInPrefix(m_prefix, program, arguments, trash);
    }

    // Runs a Windows program through Wine and waits until the prefix is at rest again.
    Output wine(const QStringList &arguments) const
    {
        Output output = run("wine", arguments);
        run("wineserver", {"-w"});
        output.out.remove('\r');
        return output;
    }

    Output nimbra(const QStringList &arguments) const
    {
        return run(m_program, QStringList{"--prefix", m_prefix} + arguments);
    }

    QString m_program;
    std::unique_ptr<QTemporaryDir> m_work;
    QString m_prefix;
};

TEST_F(DiskInterop, AnalyzeReportsTheFilesInWinesTemporaryFolder)
{
    // Where Wine keeps the temporary files of a program, and where that is on the host.
    const Output tmp = wine({"cmd", "/c", "echo", "%TMP%"});
    ASSERT_EQ(tmp.status, 0) << tmp.err.toStdString();
    const QString windowsTemp = tmp.out.trimmed();
    ASSERT_TRUE(windowsTemp.startsWith("C:\\", Qt::CaseInsensitive)) << windowsTemp.toStdString();
    const Output host = run("winepath", {"-u", windowsTemp});
    run("wineserver", {"-w"});
    ASSERT_EQ(host.status, 0) << host.err.toStdString();
    const QString hostTemp = host.out.trimmed();
    ASSERT_TRUE(QDir().mkpath(hostTemp + "/keep"));

    const QStringList before = QDir(hostTemp).entryList(QDir::Files | QDir::Hidden);
    QFile a(hostTemp + "/nimbra-a.tmp");
    QFile b(hostTemp + "/nimbra-b.tmp");
    QFile kept(hostTemp + "/keep/nimbra-c.tmp");
    ASSERT_TRUE(a.open(QIODevice::WriteOnly) && a.write(QByteArray(512, 'a')) == 512);
    ASSERT_TRUE(b.open(QIODevice::WriteOnly) && b.write(QByteArray(1024, 'b')) == 1024);
    ASSERT_TRUE(kept.open(QIODevice::WriteOnly) && kept.write("c") == 1);
    a.close();
    b.close();
    kept.close();
    qint64 bytesBefore = 0;
    for (const QString &name : before)
        bytesBefore += QFileInfo(hostTemp + "/" + name).size();

    const Output analysis =
            nimbra({"--json", "disk", "analyze", "--item", "Temporary files", "--files"});

    ASSERT_EQ(analysis.status, 0) << analysis.err.toStdString();
    const QJsonArray items =
            QJsonDocument::fromJson(analysis.out.toUtf8()).object().value("items").toArray();
    ASSERT_EQ(items.size(), 1) << analysis.out.toStdString();
    const QJsonObject item = items.at(0).toObject();
    EXPECT_EQ(item.value("found").toInteger(), before.size() + 2);
    EXPECT_EQ(item.value("bytes").toInteger(), bytesBefore + 1536);
    QSet<QString> found;
    for (const QJsonValue file : item.value("files").toArray())
        found.insert(file.toString().toLower());
    const QString folder = windowsTemp.toLower() + "\\";
    EXPECT_TRUE(found.contains(folder + "nimbra-a.tmp")) << analysis.out.toStdString();
    EXPECT_TRUE(found.contains(folder + "nimbra-b.tmp")) << analysis.out.toStdString();
    EXPECT_FALSE(found.contains(folder + "keep\\nimbra-c.tmp"));

    const Output text = nimbra({"disk", "analyze", "--item", "temporary files"});
    ASSERT_EQ(text.status, 0) << text.err.toStdString();
    EXPECT_TRUE(text.out.startsWith(QString("Temporary Files: %1 found, ").arg(before.size() + 2)))
            << text.out.toStdString();

    // After a clean, Wine sees neither file, and the subfolder keeps its file.
    const Output clean = nimbra({"disk", "clean", "--yes", "--item", "Temporary files"});
    ASSERT_EQ(clean.status, 0) << clean.err.toStdString();
    const Output listing = wine({"cmd", "/c", "dir", "/b", "/s", "%TMP%"});
    ASSERT_EQ(listing.status, 0) << listing.err.toStdString();
    EXPECT_FALSE(listing.out.contains("nimbra-a.tmp", Qt::CaseInsensitive))
            << listing.out.toStdString();
    EXPECT_FALSE(listing.out.contains("nimbra-b.tmp", Qt::CaseInsensitive));
    EXPECT_TRUE(listing.out.contains("nimbra-c.tmp", Qt::CaseInsensitive))
            << listing.out.toStdString();
}

} // namespace
