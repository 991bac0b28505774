#include "app/startup.h"

#include <QApplication>

int runMorvane(int argc, char *argv[])
{
    QApplication app(argc, argv);
    return 0;
}
