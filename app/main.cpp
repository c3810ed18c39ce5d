#include "PreferenceDialog.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    // Serves every window without an icon of its own, message boxes included.
    QApplication::setWindowIcon(QIcon(QCoreApplication::applicationDirPath() + "/app.ico"));

    // Destroyed before the application object; its constructor shows it.
    PreferenceDialog window(nullptr);
    return QApplication::exec();
}
