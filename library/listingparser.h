#pragma once

#include "library/mediaentry.h"

#include <vector>

class QJsonArray;

// Replaces entries by those of a folder listing, parsed and in the order the sort codes give.
// Large listings are parsed and sorted in pieces on the thread pool and then merged, so that
// opening a big folder holds the window up as briefly as the machine allows. pieces 0 chooses by
// the listing's size and the processor count; a positive number forces that many pieces (at most
// one per element).
void parseSortedListing(const QJsonArray &listing, int orderType, int sortType,
                        std::vector<MediaEntry> &entries, int pieces = 0);
