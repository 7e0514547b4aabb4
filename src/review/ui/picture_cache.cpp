#include "review/ui/picture_cache.h"

#include <algorithm>
#include <exception>
#include <set>

#include "picture/picture_loader.h"
#include "picture/scaled_jpeg.h"

namespace {

struct Decoded {
    LoadedPicture loaded;
    PictureCache::FullSize full;
    bool anyScale = false;
};

// Best quality; a JPEG at the asked scale, anything else whole. Running out
// of memory for a huge picture is that picture's failure, not the program's
// end.
Decoded decodeShown(const std::string& path, int32_t scale)
{
    Decoded out;
    try {
        if (upperExtension(path) == ".JPG") {
            ScaledJpeg jpeg = decodeJpegScaled(path, scale);
            out.loaded = std::move(jpeg.loaded);
            out.full = {jpeg.fullWidth, jpeg.fullHeight};
        } else {
            out.loaded = loadPicture(path, JpegIdct::Accurate);
            out.full = {out.loaded.picture.width(), out.loaded.picture.height()};
            out.anyScale = true;
        }
    } catch (const std::exception& e) {
        out.loaded = LoadedPicture {};
        out.loaded.error = path + ": " + e.what();
        out.loaded.failure = LoadFailure::TooLarge;
    }
    return out;
}

} // namespace

PictureCache::PictureCache(QObject* parent) : QObject(parent), m_worker([this] { workerLoop(); }) {}

PictureCache::~PictureCache()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
        m_queue.clear();
    }
    m_wake.notify_all();
    m_worker.join();
}

std::shared_ptr<const Picture> PictureCache::find(int32_t file) const
{
    const auto it = m_held.find(file);
    if (it == m_held.end())
        return nullptr;
    return it->second.picture;
}

std::optional<PictureCache::FullSize> PictureCache::fullSizeOf(int32_t file) const
{
    const auto it = m_held.find(file);
    if (it == m_held.end())
        return std::nullopt;
    return it->second.full;
}

int32_t PictureCache::heldScale(int32_t file) const
{
    const auto it = m_held.find(file);
    return it == m_held.end() ? 0 : it->second.scale;
}

const std::string* PictureCache::failureOf(int32_t file) const
{
    const auto it = m_failed.find(file);
    return it == m_failed.end() ? nullptr : &it->second;
}

std::size_t PictureCache::heldBytes() const
{
    std::size_t total = 0;
    for (const auto& [file, entry] : m_held)
        total += entry.picture->byteCount();
    return total;
}

bool PictureCache::satisfies(int32_t file, int32_t scale) const
{
    const auto it = m_held.find(file);
    return it != m_held.end() && (it->second.anyScale || it->second.scale == scale);
}

void PictureCache::setWanted(const std::vector<Want>& wants)
{
    ++m_tick;
    m_wantedNow.clear();
    for (const Want& want : wants)
        m_wantedNow.emplace(want.file, want);
    for (const Want& want : wants) {
        auto it = m_held.find(want.file);
        if (it != m_held.end())
            it->second.lastWanted = m_tick;
    }
    trim(wants);
    {
        std::lock_guard lock(m_mutex);
        m_queue.clear();
        for (const Want& want : wants) {
            const bool inFlight = m_inFlight.file == want.file && m_inFlight.scale == want.scale;
            if (!satisfies(want.file, want.scale) && m_failed.count(want.file) == 0 && !inFlight)
                m_queue.push_back(want);
        }
    }
    m_wake.notify_one();
}

void PictureCache::clear()
{
    {
        std::lock_guard lock(m_mutex);
        m_queue.clear();
    }
    m_wantedNow.clear();
    m_held.clear();
    m_failed.clear();
}

void PictureCache::trim(const std::vector<Want>& wants)
{
    std::set<int32_t> wanted;
    for (const Want& want : wants)
        wanted.insert(want.file);
    std::vector<std::pair<uint64_t, int32_t>> spare;
    for (const auto& [file, entry] : m_held) {
        if (wanted.count(file) == 0)
            spare.emplace_back(entry.lastWanted, file);
    }
    std::sort(spare.begin(), spare.end(), std::greater<>());
    std::size_t kept = 0;
    for (const auto& [tick, file] : spare) {
        if (kept < kSpare && heldBytes() <= kBudget) {
            ++kept;
            continue;
        }
        m_held.erase(file);
    }
}

void PictureCache::workerLoop()
{
    for (;;) {
        Want want;
        {
            std::unique_lock lock(m_mutex);
            m_inFlight = Want {-1, {}, 0};
            m_wake.wait(lock, [this] { return m_stop || !m_queue.empty(); });
            if (m_stop)
                return;
            want = std::move(m_queue.front());
            m_queue.pop_front();
            m_inFlight = want;
        }
        auto decoded = std::make_shared<Decoded>(decodeShown(want.path, want.scale));
        // Back on the GUI thread; the window may have moved on by then.
        QMetaObject::invokeMethod(
            this,
            [this, want, decoded] {
                const auto wanted = m_wantedNow.find(want.file);
                if (wanted == m_wantedNow.end())
                    return; // nobody wants it any more
                if (!decoded->loaded.ok()) {
                    if (m_failed.emplace(want.file, decoded->loaded.error).second)
                        emit pictureFailed(want.file, QString::fromStdString(decoded->loaded.error));
                    return;
                }
                // Another scale than the one now wanted still beats an empty
                // pane, but never replaces a picture already there.
                const bool exact = decoded->anyScale || want.scale == wanted->second.scale;
                if (!exact && m_held.count(want.file) != 0)
                    return;
                if (satisfies(want.file, wanted->second.scale))
                    return;
                m_held[want.file] = Entry {std::make_shared<const Picture>(std::move(decoded->loaded.picture)),
                                           want.scale, decoded->anyScale, decoded->full, m_tick};
                emit pictureReady(want.file);
            },
            Qt::QueuedConnection);
    }
}
