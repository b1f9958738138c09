#pragma once

#include <QString>
#include <QStringList>

// Loopback base URL of the media service, without a trailing slash.
extern const QString ServiceBaseUrl;
// The vendor cloud's base URL (scheme and host). VELNOR_CLOUD_URL replaces the built-in
// value at run time, for staging and for tests.
extern const QString CloudBaseUrl;
// Video suffixes accepted for import, lower case and without a dot.
extern const QStringList supportedSuffixes;
// The file dialog's filter for them: "Video files (*.mkv *.mp4 ...)".
QString videoNameFilter();
extern const QString AppVersion;
