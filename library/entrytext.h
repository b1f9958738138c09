#pragma once

#include <QString>

// Display texts of an entry's fields, as the grid and list delegates show them.

// "360P" … "8K" for the classes 1 to 6, "未知" (translated) for anything else.
QString definitionLabel(int definition);

// Bytes as "<value> <unit>" with two decimals; the unit is chosen before rounding, so
// 1048575 bytes reads "1024.00 KB".
QString sizeText(qint64 bytes);

// Milliseconds as "h:m:s" without zero padding; hours are not wrapped at 24.
QString durationText(qint32 milliseconds);
