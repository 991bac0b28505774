#include "app/startup.h"

#include "app/main.h"
#include "app/programicon.h"
#include "base/userdialogs.h"
#include "platform/namedmutex.h"
#include "transcribe/transcriptionjob.h"

#include <QApplication>

#include <memory>

int runMorvane(int argc, char *argv[])
{
    // Held for the life of the process; a second copy of the program starts
    // and runs normally beside the first.
    NamedMutex mutex(QStringLiteral("ZANTERO_Morvane"));

    QApplication app(argc, argv);
    QApplication::setApplicationName(applicationTitle());
    QApplication::setWindowIcon(programIcon());
    // Ties the window to its desktop entry: the dock shows the entry's icon
    // and the download progress on it.
    QGuiApplication::setDesktopFileName(QStringLiteral(MORVANE_APP_ID));
    // The prepared audio of a transcription that a killed run left behind.
    removeStaleWorkFolders(defaultWorkRoot());

    QtUserDialogs dialogs;
    std::unique_ptr<TAppForm> window;
    runCommand(dialogs, nullptr, [&] { window = std::make_unique<TAppForm>(AppEnvironment::forThisProcess(dialogs)); });
    if (!window)
        return 1;
    window->show();
    return app.exec();
}
