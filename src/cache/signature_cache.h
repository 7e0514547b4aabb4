#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "cache/picture_record.h"
#include "cache/signature_store.h"

// Files whose signatures came from the cache, and files decoded.
struct CacheCounts {
    int64_t hits = 0;
    int64_t misses = 0;
};

// The cache as one search uses it: a store (or none, once set aside) and the
// search's counts. Thread-safe.
class SignatureCache {
public:
    explicit SignatureCache(std::unique_ptr<SignatureStore> store);
    ~SignatureCache();

    // One file for one engine: the kept record when it answers for `kind`
    // (a hit), otherwise what `examine` makes of the file, kept for the next
    // search (a miss). A file that cannot be looked at is examined and
    // nothing is kept.
    PictureRecord recordFor(const std::string& path, SignatureKind kind,
                            const std::function<PictureRecord()>& examine);

    CacheCounts counts() const;
    const std::atomic<int64_t>& hitCounter() const { return m_hits; }

    // Writes what is not written yet; the destructor does it too.
    void flush();

private:
    std::unique_ptr<SignatureStore> m_store;
    std::atomic<int64_t> m_hits {0};
    std::atomic<int64_t> m_misses {0};
};
