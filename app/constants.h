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
extern const QString AppVersion;
