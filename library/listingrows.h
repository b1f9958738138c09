#pragma once

#include "library/mediaentry.h"

#include <vector>

class QJsonArray;
class QThreadPool;

// The threads that parse and sort pieces of listings beside the caller. They never retire, so a
// piece usually lands on the thread that parsed the same piece last time, and with it on that
// thread's allocator.
QThreadPool *listingThreadPool();

// The entries of the folder on show, in the user's order. Entries stay where they were parsed and
// a separate index gives the rows, so that sorting moves indices rather than whole entries, and
// each thread that parses a piece of the next listing overwrites the entries it made itself:
// what it frees, its own allocator takes back at once. Large listings are parsed and sorted in
// pieces on the thread pool and merged, so that opening a big folder holds the window up as
// briefly as the machine allows.
class ListingRows
{
public:
    // Replaces every entry by the parsed elements of a listing, ordered by the codes. pieces 0
    // chooses by the listing's size and the processor count; a positive number forces that many
    // pieces (at most one per element).
    void load(const QJsonArray &listing, int orderType, int sortType, int pieces = 0);
    // Puts the rows into the order the codes give.
    void sort(int orderType, int sortType, int pieces = 0);

    int size() const { return int(m_order.size()); }
    const MediaEntry &at(int row) const { return m_entries[size_t(m_order[size_t(row)])]; }

private:
    std::vector<MediaEntry> m_entries;
    // m_order[row] is the index in m_entries of the entry shown in that row.
    std::vector<int> m_order;
};
