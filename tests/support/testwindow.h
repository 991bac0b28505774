#pragma once

// A main window for a window test, on the test's own folders.

#include "app/main.h"
#include "scripteddialogs.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStringList>

#include <memory>

// The window answers through the scripted dialogs, reads the test executable's
// own version record, and keeps its data, settings and downloads in folder,
// whose list.txt is written first with the feeds, one a line.
inline std::unique_ptr<TAppForm> makeTestWindow(ScriptedDialogs &dialogs, const QString &folder,
                                                const QStringList &feeds = {})
{
    QFile list(QDir(folder).filePath(QStringLiteral("list.txt")));
    if (list.open(QIODevice::WriteOnly))
        list.write(feeds.join(QLatin1Char('\n')).toUtf8());
    list.close();
    AppEnvironment env;
    env.dialogs = &dialogs;
    env.versionFile = QCoreApplication::applicationFilePath();
    env.programFolder = folder;
    env.configFolder = folder;
    env.desktopFolder = folder;
    return std::make_unique<TAppForm>(env);
}
