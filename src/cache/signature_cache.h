#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "cache/file_version.h"
#include "cache/signature_store.h"
#include "compare/picture_outcome.h"

// Of the pictures a search committed: those whose outcome came from the
// cache, and those decoded.
struct CacheCounts {
    int64_t hits = 0;
    int64_t misses = 0;
};

// The signature cache as one search's load pipeline uses it: a store, which
// may set itself aside, and a running count of hits for the progress line
// (it may run ahead of the commit; the exact counts are the pipeline's).
class SignatureCache : public OutcomeCache {
public:
    explicit SignatureCache(std::unique_ptr<SignatureStore> store);
    ~SignatureCache() override;

    // A hit when the store keeps an outcome for the file's present version
    // that covers `wanted`. On a miss the version seen here, before the
    // decode, is what store() keeps the fresh outcome under: if the file
    // changes meanwhile, its next version will not match the record.
    bool lookup(const File_rec& file, Reductions wanted, Reductions read, PictureOutcome& outcome) override;
    void store(const File_rec& file, const PictureOutcome& outcome) override;
    void loadingEnded() override;

    const std::atomic<int64_t>& hitCounter() const { return m_hits; }

    // ReadPictureSize of a file whose status the scan took, kept from an
    // earlier search of this version or read now and kept. Not counted as a
    // hit or a miss: those count pictures whose signatures were wanted.
    std::optional<PictureSize> pictureSize(const std::string& path, const struct stat& st);

    // Writes what is not written yet; the destructor does it too.
    void flush();

private:
    std::unique_ptr<SignatureStore> m_store;
    std::atomic<int64_t> m_hits {0};
    std::mutex m_mutex;
    std::unordered_map<const File_rec*, FileVersion> m_seen; // looked up, not stored yet
};
