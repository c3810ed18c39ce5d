#include "PreferenceDialog.h"

#include <QApplication>
#include <QIcon>

#include <platform/Machine.h>
#include <platform/PrefixMachine.h>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    // Serves every window without an icon of its own, message boxes included.
    QApplication::setWindowIcon(QIcon(QCoreApplication::applicationDirPath() + "/app.ico"));

    // The machine the pages look at: the Wine prefix. Without a usable one the pages find
    // nothing to work on.
    if (auto machine = platform::openPrefixMachine(platform::defaultPrefixPath(), nullptr))
        platform::Machine::install(std::move(machine));

    // Destroyed before the application object; its constructor shows it.
    PreferenceDialog window(nullptr);
    return QApplication::exec();
}
