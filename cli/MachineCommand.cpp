#include "MachineCommand.h"

#include <platform/FileSystem.h>
#include <platform/Machine.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

QString driveTypeName(platform::DriveType type)
{
    switch (type) {
    case platform::DriveType::NoRootDirectory:
        return QStringLiteral("no root");
    case platform::DriveType::Removable:
        return QStringLiteral("removable");
    case platform::DriveType::Fixed:
        return QStringLiteral("fixed");
    case platform::DriveType::Remote:
        return QStringLiteral("remote");
    case platform::DriveType::CdRom:
        return QStringLiteral("cdrom");
    case platform::DriveType::RamDisk:
        return QStringLiteral("ramdisk");
    case platform::DriveType::Unknown:
        break;
    }
    return QStringLiteral("unknown");
}

} // namespace

int MachineCommand::run(CommandContext &context) const
{
    const platform::Machine &machine = platform::Machine::current();
    const QString location = QString::fromStdString(machine.location());
    const QString user = QString::fromStdU16String(machine.userName());
    const std::vector<platform::Drive> drives = machine.fileSystem().drives();

    if (context.json) {
        QJsonArray driveList;
        for (const platform::Drive &drive : drives) {
            driveList.append(QJsonObject{
                    {QStringLiteral("letter"), QString(QChar(drive.letter))},
                    {QStringLiteral("type"), driveTypeName(drive.type)},
                    {QStringLiteral("hostFolder"), QString::fromStdString(drive.hostFolder)},
            });
        }
        const QJsonObject result{{QStringLiteral("prefix"), location},
                                 {QStringLiteral("user"), user},
                                 {QStringLiteral("drives"), driveList}};
        context.out << QJsonDocument(result).toJson(QJsonDocument::Indented);
        return ExitSuccess;
    }

    context.out << "Prefix:       " << location << '\n';
    context.out << "Windows user: " << user << '\n';
    context.out << "Drives:\n";
    for (const platform::Drive &drive : drives) {
        context.out << "  " << QChar(drive.letter) << ":  "
                    << driveTypeName(drive.type).leftJustified(10)
                    << QString::fromStdString(drive.hostFolder) << '\n';
    }
    return ExitSuccess;
}
