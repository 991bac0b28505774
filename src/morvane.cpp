#include "app/startup.h"

int main(int argc, char *argv[])
{
    return runMorvane(argc, argv);
}
