#pragma once

#include <QStringList>
#include <QTextStream>

// Runs `nimbra` with the given arguments (the program name first), writing to the given streams.
// Chooses the Wine prefix (--prefix, else WINEPREFIX, else ~/.wine), opens it as the current
// machine and runs the named command. Returns the process exit status.
int runCommandLine(const QStringList &arguments, QTextStream &out, QTextStream &err);
