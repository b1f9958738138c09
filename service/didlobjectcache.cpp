#include "service/didlobjectcache.h"

#include "service/didlwriter.h"

#include <unordered_map>

namespace svc {
namespace {

constexpr size_t MaxBytes = size_t(64) << 20;
constexpr size_t MaxSets = 8;

} // namespace

// What an object was written from: equal ones are written the same, byte for byte.
struct DidlObjectCache::Shown
{
    Entry entry;
    int64_t childCount = 0;

    Shown(const Entry &from, int64_t count)
        : entry(from)
        , childCount(count)
    {
    }
    bool operator==(const Shown &other) const
    {
        return childCount == other.childCount && entry == other.entry;
    }
};

struct DidlObjectCache::Objects
{
    struct Object
    {
        Shown shown;
        std::string text;
    };
    std::unordered_map<int64_t, Object> byId;
    // Objects written over are counted too, until the next clean start.
    size_t bytes = 0;
};

DidlObjectCache::DidlObjectCache() = default;
DidlObjectCache::~DidlObjectCache() = default;

std::string DidlObjectCache::document(const std::vector<Entry> &page,
                                      const std::function<int64_t(const Entry &)> &childCount,
                                      const std::string &baseUrl, const std::string &filter)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const std::string key = baseUrl + '\n' + filter;
    if (!m_sets.count(key) && m_sets.size() >= MaxSets)
        m_sets.clear();
    auto &slot = m_sets[key];
    if (!slot)
        slot = std::make_unique<Objects>();
    Objects &kept = *slot;

    std::vector<const std::string *> texts(page.size(), nullptr);
    std::vector<size_t> missing;
    for (size_t i = 0; i < page.size(); ++i) {
        const auto found = kept.byId.find(page[i].id);
        if (found != kept.byId.end() && found->second.shown == Shown(page[i], childCount(page[i])))
            texts[i] = &found->second.text;
        else
            missing.push_back(i);
    }
    std::vector<const Entry *> toWrite;
    for (const size_t i : missing)
        toWrite.push_back(&page[i]);
    std::vector<std::string> written = writeObjects(toWrite, childCount, baseUrl, filter, true);
    for (size_t k = 0; k < missing.size(); ++k) {
        const Entry &entry = page[missing[k]];
        auto &object = kept.byId
                           .insert_or_assign(entry.id,
                                             Objects::Object { Shown(entry, childCount(entry)),
                                                               std::move(written[k]) })
                           .first->second;
        kept.bytes += object.text.size();
        texts[missing[k]] = &object.text;
    }
    std::string didl = didlDocument(texts, true);

    size_t bytes = 0;
    for (const auto &set : m_sets)
        bytes += set.second->bytes;
    if (bytes > MaxBytes)
        m_sets.clear();
    return didl;
}

} // namespace svc
