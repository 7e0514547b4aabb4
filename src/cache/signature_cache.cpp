#include "cache/signature_cache.h"

#include "cache/file_version.h"

SignatureCache::SignatureCache(std::unique_ptr<SignatureStore> store) : m_store(std::move(store)) {}

SignatureCache::~SignatureCache() = default;

PictureRecord SignatureCache::recordFor(const std::string& path, SignatureKind kind,
                                        const std::function<PictureRecord()>& examine)
{
    const std::optional<FileVersion> version = m_store ? readFileVersion(path) : std::nullopt;
    if (version) {
        std::optional<PictureRecord> kept = m_store->find(path, *version);
        if (kept && answers(*kept, kind)) {
            m_hits.fetch_add(1, std::memory_order_relaxed);
            return std::move(*kept);
        }
    }
    m_misses.fetch_add(1, std::memory_order_relaxed);
    PictureRecord record = examine();
    // Kept under the version seen before the decode: if the file changed
    // meanwhile, its new version will not match this record.
    if (version)
        m_store->add(path, *version, record);
    return record;
}

CacheCounts SignatureCache::counts() const
{
    return CacheCounts {m_hits.load(), m_misses.load()};
}

void SignatureCache::flush()
{
    if (m_store)
        m_store->flush();
}
