#pragma once

#include <QCoreApplication>
#include <QString>

// Organisation name of the settings store and first word of both window titles.
inline const QString productWord = QStringLiteral("Nimbra");
// Application name of the settings store and second word of the window title.
inline const QString appName = QStringLiteral("Cleaner");
// Last word of the title label.
inline const QString versionText = QStringLiteral("6.6");

// The product's home page, opened by the title bar's Homepage button.
inline const QString homepageAddress = QStringLiteral("https://www.nimbra-cleaner.example/");

// The folder of the skin images and style sheet, beside the executable, without a trailing
// separator. Needs the application object.
inline QString skinDir()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/skin");
}
