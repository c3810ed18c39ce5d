#include "CommandLine.h"

#include "Command.h"
#include "DiskCommand.h"
#include "MachineCommand.h"
#include "RegistryCommand.h"

#include <platform/Machine.h>
#include <platform/PrefixMachine.h>

#include <QCommandLineParser>

#include <memory>
#include <vector>

namespace {

const QString programName = QStringLiteral("nimbra");
const QString versionLine = QStringLiteral("Nimbra Cleaner 6.6");

std::vector<std::unique_ptr<Command>> allCommands()
{
    std::vector<std::unique_ptr<Command>> commands;
    commands.push_back(std::make_unique<DiskCommand>());
    commands.push_back(std::make_unique<MachineCommand>());
    commands.push_back(std::make_unique<RegistryCommand>());
    return commands;
}

struct GlobalOptions
{
    QCommandLineOption prefix{
            QStringLiteral("prefix"),
            QStringLiteral("The Wine prefix (default: WINEPREFIX, else ~/.wine)."),
            QStringLiteral("DIR")};
    QCommandLineOption json{QStringLiteral("json"), QStringLiteral("Machine-readable output.")};
    QCommandLineOption help{QStringLiteral("help"), QStringLiteral("Show this help.")};
    QCommandLineOption version{QStringLiteral("version"), QStringLiteral("Show the version.")};

    QList<QCommandLineOption> all() const { return {prefix, json, help, version}; }
};

// The first argument that is not an option, skipping the value of --prefix; -1 when none.
qsizetype commandIndex(const QStringList &arguments)
{
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        if (argument == QLatin1String("--prefix")) {
            ++i;
            continue;
        }
        if (!argument.startsWith(QLatin1Char('-')))
            return i;
    }
    return -1;
}

QString generalHelp(const std::vector<std::unique_ptr<Command>> &commands)
{
    QString text =
            QStringLiteral("Usage: %1 [--prefix DIR] [--json] COMMAND [ARGUMENTS]\n\n"
                           "%2 on the command line: the engines of the window, for scripts.\n\n"
                           "Commands:\n")
                    .arg(programName, versionLine);
    for (const auto &command : commands)
        text += QStringLiteral("  %1%2\n")
                        .arg(command->name().leftJustified(12), command->summary());
    text += QStringLiteral("\nGlobal options:\n"
                           "  --prefix DIR  The Wine prefix (default: WINEPREFIX, else ~/.wine).\n"
                           "  --json        Machine-readable output.\n"
                           "  --help        Show help; after a command, that command's help.\n"
                           "  --version     Show the version.\n");
    return text;
}

int usageError(QTextStream &err, const QString &message)
{
    err << programName << ": " << message << '\n' << "Try '" << programName << " --help'.\n";
    err.flush();
    return ExitUsage;
}

} // namespace

int runCommandLine(const QStringList &arguments, QTextStream &out, QTextStream &err)
{
    const std::vector<std::unique_ptr<Command>> commands = allCommands();
    const GlobalOptions global;

    const qsizetype index = commandIndex(arguments);
    const Command *command = nullptr;
    if (index >= 0) {
        for (const auto &candidate : commands) {
            if (candidate->name() == arguments.at(index))
                command = candidate.get();
        }
        if (!command)
            return usageError(err, QStringLiteral("unknown command '%1'").arg(arguments.at(index)));
    }

    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addOptions(global.all());
    if (command)
        parser.addOptions(command->options());
    if (!parser.parse(arguments))
        return usageError(err, parser.errorText());

    if (parser.isSet(global.version)) {
        out << versionLine << '\n';
        return ExitSuccess;
    }
    if (!command) {
        if (parser.isSet(global.help)) {
            out << generalHelp(commands);
            return ExitSuccess;
        }
        return usageError(err, QStringLiteral("no command given"));
    }

    QStringList positional = parser.positionalArguments();
    positional.removeFirst(); // the command's own name
    if (parser.isSet(global.help)) {
        out << "Usage: " << programName << " [--prefix DIR] [--json] " << command->name();
        if (!command->synopsis().isEmpty())
            out << ' ' << command->synopsis();
        out << "\n\n" << command->summary() << ".\n";
        for (const QCommandLineOption &option : command->options()) {
            QString names = QStringLiteral("--") + option.names().join(QStringLiteral(", --"));
            if (!option.valueName().isEmpty())
                names += QLatin1Char(' ') + option.valueName();
            out << "  " << names.leftJustified(20) << ' ' << option.description() << '\n';
        }
        return ExitSuccess;
    }

    const std::string prefix = parser.isSet(global.prefix)
                                       ? parser.value(global.prefix).toStdString()
                                       : platform::defaultPrefixPath();
    std::string error;
    std::unique_ptr<platform::Machine> machine = platform::openPrefixMachine(prefix, &error);
    if (!machine) {
        err << programName << ": cannot use the Wine prefix " << QString::fromStdString(prefix)
            << ": " << QString::fromStdString(error) << '\n';
        err.flush();
        return ExitFailure;
    }
    platform::Machine::install(std::move(machine));

    CommandContext context{parser, positional, parser.isSet(global.json), out, err};
    const int status = command->run(context);
    out.flush();
    err.flush();
    return status;
}
