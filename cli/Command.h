#pragma once

#include <QCommandLineOption>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTextStream>

class QCommandLineParser;

// Exit statuses of the command line.
enum ExitStatus : int {
    ExitSuccess = 0,
    ExitFailure = 1, // the machine cannot be used, or an operation failed
    ExitUsage = 2,   // the command line was wrong
};

// What a command works with: its parsed command line and the two output streams.
struct CommandContext
{
    const QCommandLineParser &parser;
    QStringList arguments; // the positional arguments after the command name
    bool json = false;
    QTextStream &out;
    QTextStream &err;
};

// One command of `nimbra`, such as `machine`.
class Command
{
public:
    virtual ~Command() = default;

    // The word that names the command on the command line.
    virtual QString name() const = 0;

    // One line for the list of commands.
    virtual QString summary() const = 0;

    // The positional arguments' synopsis, for the command's help ("KEY [NAME]").
    virtual QString synopsis() const { return {}; }

    // The command's own options, added to the global ones.
    virtual QList<QCommandLineOption> options() const { return {}; }

    // Runs the command on the current machine; returns an ExitStatus.
    virtual int run(CommandContext &context) const = 0;
};
