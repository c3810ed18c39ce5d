#include <CommandLine.h>

#include <TestPrefix.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

namespace {

struct Result
{
    int status = 0;
    QString out;
    QString err;
};

Result run(QStringList arguments)
{
    arguments.prepend(QStringLiteral("nimbra"));
    Result result;
    QTextStream out(&result.out);
    QTextStream err(&result.err);
    result.status = runCommandLine(arguments, out, err);
    out.flush();
    err.flush();
    return result;
}

} // namespace

TEST(CommandLine, UsageErrorsExitWithTwoAndExplainOnStandardError)
{
    const QStringList cases[] = {
            {},
            {QStringLiteral("no-such-command")},
            {QStringLiteral("machine"), QStringLiteral("--no-such-option")},
            {QStringLiteral("--prefix")},
    };
    for (const QStringList &arguments : cases) {
        const Result result = run(arguments);
        EXPECT_EQ(result.status, 2) << arguments.join(' ').toStdString();
        EXPECT_TRUE(result.out.isEmpty());
        EXPECT_TRUE(result.err.startsWith(QStringLiteral("nimbra: "))) << result.err.toStdString();
    }
}

TEST(CommandLine, VersionAndHelp)
{
    const Result version = run({QStringLiteral("--version")});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, QStringLiteral("Nimbra Cleaner 6.6\n"));

    const Result help = run({QStringLiteral("--help")});
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(help.out.contains(QStringLiteral("machine")));
}

TEST(CommandLine, AnUnusablePrefixExitsWithOne)
{
    const Result result = run({QStringLiteral("--prefix"), QStringLiteral("/nonexistent/prefix"),
                               QStringLiteral("machine")});
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(result.err.contains(QStringLiteral("/nonexistent/prefix")));
}

TEST(CommandLine, MachineShowsPrefixUserAndDrivesInBothForms)
{
    TestPrefix prefix;
    const QString path = QString::fromStdString(prefix.path());
    const QString user = QString::fromStdString(prefix.userName());

    const Result text = run({QStringLiteral("machine"), QStringLiteral("--prefix"), path});
    ASSERT_EQ(text.status, 0) << text.err.toStdString();
    EXPECT_TRUE(text.out.contains(QStringLiteral("Prefix:       ") + path));
    EXPECT_TRUE(text.out.contains(QStringLiteral("Windows user: ") + user));
    EXPECT_TRUE(text.out.contains(QStringLiteral("  C:  fixed")));
    EXPECT_TRUE(text.out.contains(QStringLiteral("  Z:  fixed")));

    const Result json = run({QStringLiteral("--json"), QStringLiteral("--prefix"), path,
                             QStringLiteral("machine")});
    ASSERT_EQ(json.status, 0);
    const QJsonObject object = QJsonDocument::fromJson(json.out.toUtf8()).object();
    EXPECT_EQ(object.value(QStringLiteral("prefix")).toString(), path);
    EXPECT_EQ(object.value(QStringLiteral("user")).toString(), user);
    const QJsonArray drives = object.value(QStringLiteral("drives")).toArray();
    ASSERT_EQ(drives.size(), 2);
    EXPECT_EQ(drives.at(0).toObject().value(QStringLiteral("letter")).toString(),
              QStringLiteral("C"));
    EXPECT_EQ(drives.at(0).toObject().value(QStringLiteral("type")).toString(),
              QStringLiteral("fixed"));
    EXPECT_TRUE(drives.at(0)
                        .toObject()
                        .value(QStringLiteral("hostFolder"))
                        .toString()
                        .endsWith(QStringLiteral("drive_c")));
    EXPECT_EQ(drives.at(1).toObject().value(QStringLiteral("hostFolder")).toString(),
              QStringLiteral("/"));
}

TEST(CommandLine, MachineShowsDriveTypesFromWineDriveSettings)
{
    TestPrefix prefix;
    prefix.makeTopFolder("cdrom");
    prefix.linkDrive('d', prefix.path() + "/cdrom");
    prefix.writeTopFile("system.reg", "WINE REGISTRY Version 2\n"
                                      ";; All keys relative to REGISTRY\\\\Machine\n"
                                      "\n"
                                      "#arch=win64\n"
                                      "\n"
                                      "[Software\\\\Wine\\\\Drives] 1700000000\n"
                                      "#time=1da1b2c3d4e5f60\n"
                                      "\"d:\"=\"cdrom\"\n");
    const Result text = run({QStringLiteral("--prefix"), QString::fromStdString(prefix.path()),
                             QStringLiteral("machine")});
    ASSERT_EQ(text.status, 0) << text.err.toStdString();
    EXPECT_TRUE(text.out.contains(QStringLiteral("  D:  cdrom"))) << text.out.toStdString();
    EXPECT_TRUE(text.out.contains(QStringLiteral("  C:  fixed")));
}
