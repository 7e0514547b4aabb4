#include "review/ui/picture_cache.h"

#include <algorithm>
#include <exception>
#include <set>

#include "picture/picture_format.h"
#include "picture/picture_loader.h"
#include "picture/scaled_jpeg.h"
#include "review/error_messages.h"

namespace {

struct Decoded {
    LoadedPicture loaded;
    bool cancelled = false;
    PictureCache::FullSize full;
    QRect area; // a part: where it lies
    bool anyScale = false;
};

// Best quality; a JPEG at the asked scale or the asked part, anything else
// whole. Running out of memory for a huge picture is that picture's failure,
// not the program's end.
Decoded decodeShown(const std::string& path, int32_t scale, const QRect& area, const std::atomic<bool>& cancel)
{
    Decoded out;
    try {
        if (decoderFormatOf(path) != PictureFormat::Jpeg) {
            out.loaded = loadPicture(path, JpegIdct::Accurate);
            out.full = {out.loaded.picture.width(), out.loaded.picture.height()};
            out.anyScale = true;
        } else if (area.isEmpty()) {
            ScaledJpeg jpeg = decodeJpegScaled(path, scale, &cancel);
            out.loaded = std::move(jpeg.loaded);
            out.cancelled = jpeg.cancelled;
            out.full = {jpeg.fullWidth, jpeg.fullHeight};
        } else {
            JpegRegion part = decodeJpegRegion(path, area.x(), area.y(), area.width(), area.height(), &cancel);
            out.loaded = std::move(part.loaded);
            out.cancelled = part.cancelled;
            out.full = {part.fullWidth, part.fullHeight};
            out.area = QRect(part.left, part.top, out.loaded.picture.width(), out.loaded.picture.height());
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
    m_cancel = true; // a huge picture need not be finished first
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

const PictureCache::Part* PictureCache::findPart(int32_t file) const
{
    const auto it = m_parts.find(file);
    return it == m_parts.end() ? nullptr : &it->second;
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
    for (const auto& [file, part] : m_parts)
        total += part.picture->byteCount();
    return total;
}

bool PictureCache::holdsWhole(const Want& want) const
{
    const auto it = m_held.find(want.file);
    return it != m_held.end() && (it->second.anyScale || !want.part.isEmpty() || it->second.scale == want.scale);
}

bool PictureCache::holdsPart(const Want& want) const
{
    if (want.part.isEmpty())
        return true;
    const auto it = m_parts.find(want.file);
    return it != m_parts.end() && it->second.area.contains(want.part);
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
        const Want& busy = m_inFlight.want;
        bool busyStillWanted = false;
        for (const Want& want : wants) {
            if (m_failed.count(want.file) != 0)
                continue;
            const bool busyWhole = busy.file == want.file && m_inFlight.area.isEmpty()
                                   && (busy.scale == want.scale || !want.part.isEmpty());
            if (!holdsWhole(want) && !busyWhole)
                m_queue.push_back({want, {}});
            const bool busyPart = busy.file == want.file && !m_inFlight.area.isEmpty() && !want.part.isEmpty()
                                  && m_inFlight.area.contains(want.part);
            busyStillWanted = busyStillWanted || busyWhole || busyPart;
            if (!holdsPart(want) && !busyPart) {
                // A margin of the shown area on every side, so that panning
                // a little does not decode again.
                const QRect area = want.part.adjusted(-want.part.width(), -want.part.height(), want.part.width(),
                                                      want.part.height());
                m_queue.push_back({want, area});
            }
        }
        // Stepping on through large pictures must not wait for one that has
        // left the view.
        if (busy.file >= 0 && !busyStillWanted)
            m_cancel = true;
    }
    m_wake.notify_one();
}

void PictureCache::clear()
{
    {
        std::lock_guard lock(m_mutex);
        m_queue.clear();
        if (m_inFlight.want.file >= 0)
            m_cancel = true;
    }
    m_wantedNow.clear();
    m_held.clear();
    m_parts.clear();
    m_failed.clear();
}

void PictureCache::trim(const std::vector<Want>& wants)
{
    std::set<int32_t> wanted;
    for (const Want& want : wants) {
        wanted.insert(want.file);
        if (want.part.isEmpty())
            m_parts.erase(want.file);
    }
    for (auto it = m_parts.begin(); it != m_parts.end();)
        it = wanted.count(it->first) == 0 ? m_parts.erase(it) : std::next(it);
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
        Job job;
        {
            std::unique_lock lock(m_mutex);
            m_inFlight = Job {{-1, {}, 0, {}}, {}};
            m_wake.wait(lock, [this] { return m_stop || !m_queue.empty(); });
            if (m_stop)
                return;
            job = std::move(m_queue.front());
            m_queue.pop_front();
            m_inFlight = job;
            m_cancel = false;
        }
        auto decoded = std::make_shared<Decoded>(decodeShown(job.want.path, job.want.scale, job.area, m_cancel));
        if (decoded->cancelled)
            continue;
        // Back on the GUI thread; the window may have moved on by then.
        QMetaObject::invokeMethod(
            this,
            [this, want = job.want, isPart = !job.area.isEmpty(), decoded] {
                const auto wanted = m_wantedNow.find(want.file);
                if (wanted == m_wantedNow.end())
                    return; // nobody wants it any more
                if (!decoded->loaded.ok()) {
                    const std::string error = pictureLoadText(decoded->loaded, want.path);
                    if (m_failed.emplace(want.file, error).second)
                        emit pictureFailed(want.file, QString::fromStdString(error));
                    return;
                }
                auto picture = std::make_shared<const Picture>(std::move(decoded->loaded.picture));
                if (isPart) {
                    if (wanted->second.part.isEmpty())
                        return;
                    m_parts[want.file] = Part {std::move(picture), decoded->area};
                    emit pictureReady(want.file);
                    return;
                }
                // Another scale than the one now wanted still beats an empty
                // pane, but never replaces a picture already there.
                const bool exact = decoded->anyScale || want.scale == wanted->second.scale;
                if (!exact && m_held.count(want.file) != 0)
                    return;
                if (holdsWhole(wanted->second) && m_held.count(want.file) != 0)
                    return;
                m_held[want.file] = Entry {std::move(picture), want.scale, decoded->anyScale, decoded->full, m_tick};
                emit pictureReady(want.file);
            },
            Qt::QueuedConnection);
    }
}
