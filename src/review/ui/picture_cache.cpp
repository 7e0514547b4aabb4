#include "review/ui/picture_cache.h"

#include <algorithm>
#include <exception>
#include <future>
#include <new>
#include <set>

#include "picture/picture_loader.h"
#include "review/error_messages.h"

namespace {

// Best-quality decoding; running out of memory for a huge picture is that
// picture's failure, not the program's end.
LoadedPicture safeLoad(const std::string& path)
{
    try {
        return loadPicture(path, JpegIdct::Accurate);
    } catch (const std::bad_alloc& e) {
        LoadedPicture failed;
        failed.error = path + ": " + e.what();
        failed.failure = LoadFailure::TooLarge;
        return failed;
    } catch (const std::exception& e) {
        LoadedPicture failed;
        failed.error = path + ": " + e.what();
        return failed;
    }
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

std::string PictureCache::loadNow(const std::vector<Want>& wants)
{
    std::vector<std::future<LoadedPicture>> loads;
    std::vector<const Want*> started;
    for (const Want& want : wants) {
        if (find(want.file))
            continue;
        started.push_back(&want);
        loads.push_back(std::async(std::launch::async, [path = want.path] { return safeLoad(path); }));
    }
    std::string error;
    for (std::size_t i = 0; i < loads.size(); ++i) {
        LoadedPicture loaded = loads[i].get();
        if (!loaded.ok()) {
            if (error.empty())
                error = pictureLoadText(loaded, started[i]->path);
            continue;
        }
        store(started[i]->file, started[i]->path, std::make_shared<const Picture>(std::move(loaded.picture)));
    }
    return error;
}

void PictureCache::setWanted(const std::vector<Want>& wants)
{
    ++m_tick;
    m_wantedNow.clear();
    for (const Want& want : wants)
        m_wantedNow.emplace(want.file, want.path);
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
            if (!find(want.file) && m_failed.count(want.file) == 0 && m_inFlight != want.file)
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

void PictureCache::store(int32_t file, const std::string& path, std::shared_ptr<const Picture> picture)
{
    m_held[file] = Entry{path, std::move(picture), m_tick};
}

void PictureCache::workerLoop()
{
    for (;;) {
        Want want;
        {
            std::unique_lock lock(m_mutex);
            m_inFlight = -1;
            m_wake.wait(lock, [this] { return m_stop || !m_queue.empty(); });
            if (m_stop)
                return;
            want = std::move(m_queue.front());
            m_queue.pop_front();
            m_inFlight = want.file;
        }
        LoadedPicture loaded = safeLoad(want.path);
        std::shared_ptr<const Picture> picture;
        if (loaded.ok())
            picture = std::make_shared<const Picture>(std::move(loaded.picture));
        // Back on the GUI thread; the window may have moved on by then, and
        // a picture nobody wants any more is not kept.
        QMetaObject::invokeMethod(
            this,
            [this, want, picture, error = picture ? std::string() : pictureLoadText(loaded, want.path)] {
                if (m_wantedNow.count(want.file) == 0)
                    return;
                if (!picture) {
                    if (m_failed.emplace(want.file, error).second)
                        emit pictureFailed(want.file, QString::fromStdString(error));
                    return;
                }
                if (find(want.file))
                    return;
                store(want.file, want.path, picture);
                emit pictureReady(want.file);
            },
            Qt::QueuedConnection);
    }
}
