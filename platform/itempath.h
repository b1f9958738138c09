#pragma once

#include <QString>

// The plain-path rule for a dropped or chosen item: every "file:///" removed, then, when a "%"
// is left, the UTF-8 percent-decoding of the rest. Right for Windows drive paths
// ("file:///C:/a.mp4" gives "C:/a.mp4") but not for absolute POSIX paths, whose leading "/"
// it would drop; platform::localPathOfItem picks the rule that fits.
QString stripFileUrlText(const QString &text);
