#include "app/startup.h"

#include <cstring>

// startup_probe closing|broken: runs start-up with a scene that closes itself or cannot be built.
int main(int argc, char *argv[])
{
    StartupScenes scenes;
    const bool broken = argc > 1 && std::strcmp(argv[1], "broken") == 0;
    scenes.main = broken ? QStringLiteral("qrc:/probe/broken.qml")
                         : QStringLiteral("qrc:/probe/closing.qml");
    return runAssistant(argc, argv, scenes);
}
