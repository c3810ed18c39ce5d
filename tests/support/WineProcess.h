#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// What a program run by an interop test printed, and how it ended (-1 when it did not end
// normally).
struct ProcessOutput
{
    int status = -1;
    QString out;
    QString err;
};

// Runs a program on a Wine prefix: WINEPREFIX names it, Wine stays quiet, installs neither Mono nor
// Gecko and finds no display. `extra` adds or replaces variables. A program that has not ended
// after five minutes is killed.
inline ProcessOutput runInPrefix(const QString &prefix, const QString &program,
                                 const QStringList &arguments,
                                 const QProcessEnvironment &extra = QProcessEnvironment())
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("WINEPREFIX", prefix);
    environment.insert("WINEDEBUG", "-all");
    environment.insert("WINEDLLOVERRIDES", "mscoree,mshtml=");
    environment.remove("DISPLAY");
    environment.remove("WAYLAND_DISPLAY");
    environment.insert(extra);
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    ProcessOutput output;
    if (!process.waitForFinished(300000)) {
        process.kill();
        process.waitForFinished();
        output.err = program + " did not finish";
        return output;
    }
    output.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    output.out = QString::fromUtf8(process.readAllStandardOutput());
    output.err = QString::fromUtf8(process.readAllStandardError());
    return output;
}
