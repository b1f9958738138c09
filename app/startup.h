#pragma once

#include <QString>

// The two root scenes. Tests swap them to exercise start-up without the product's scenes.
struct StartupScenes
{
    QString main = QStringLiteral("qrc:/qml/mainWindow.qml");
    QString notice = QStringLiteral("qrc:/qml/windows/SingleAppTip.qml");
};

// The assistant's entry function: returns the event loop's exit code, or -1 when the root
// scene cannot be created.
int runAssistant(int argc, char **argv, const StartupScenes &scenes = StartupScenes());
