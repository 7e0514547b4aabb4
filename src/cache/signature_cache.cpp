#include "cache/signature_cache.h"

#include "common/log_categories.h"

SignatureCache::SignatureCache(std::unique_ptr<SignatureStore> store) : m_store(std::move(store)) {}

SignatureCache::~SignatureCache() = default;

bool SignatureCache::lookup(const File_rec& file, Reductions wanted, Reductions read, PictureOutcome& outcome)
{
    const std::optional<FileVersion> version = readFileVersion(file.path);
    if (!version) {
        qCDebug(zelvicCache, "%s not looked up in the cache: gone, or no longer a plain file", file.path.c_str());
        return false;
    }
    // A search for turned copies compares the turned signatures of the
    // engine it reads.
    Reductions decode = read;
    decode.turned = wanted.turned;
    std::optional<PictureOutcome> kept = m_store->find(file.path, *version, decode);
    if (kept && kept->covers(wanted)) {
        outcome = std::move(*kept);
        m_hits.fetch_add(1, std::memory_order_relaxed);
        return true;
    }
    std::lock_guard lock(m_mutex);
    m_seen[&file] = *version;
    return false;
}

std::optional<PictureSize> SignatureCache::pictureSize(const std::string& path, const struct stat& st)
{
    const FileVersion version = fileVersionOf(st);
    if (const std::optional<PictureSize> kept = m_store->findHeaderSize(path, version))
        return kept;
    const std::optional<PictureSize> read = ReadPictureSize(path);
    if (read)
        m_store->addHeaderSize(path, version, *read);
    return read;
}

void SignatureCache::store(const File_rec& file, const PictureOutcome& outcome)
{
    std::optional<FileVersion> version;
    {
        std::lock_guard lock(m_mutex);
        if (const auto seen = m_seen.find(&file); seen != m_seen.end()) {
            version = seen->second;
            m_seen.erase(seen);
        }
    }
    if (version)
        m_store->add(file.path, *version, outcome);
}

void SignatureCache::loadingEnded()
{
    m_store->endReads();
}

void SignatureCache::flush()
{
    m_store->flush();
}
