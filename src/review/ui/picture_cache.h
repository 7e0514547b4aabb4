#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <QObject>
#include <QRect>
#include <QString>

#include "picture/picture.h"

// The decoded pictures of the group under review, bounded: the window says
// which files it wants (the shown members and their neighbours) and at which
// scale, the cache decodes the missing ones on a worker thread at best quality
// and drops the rest, so a group of 300 large photographs never holds more
// than a handful. Nothing is decoded on the calling (user-interface) thread.
class PictureCache : public QObject {
    Q_OBJECT
public:
    struct Want {
        int32_t file = 0; // FileTable index
        std::string path;
        // JPEG pictures are decoded at 1/scale of their size (1, 2, 4, 8);
        // other pictures always whole.
        int32_t scale = 1;
        // A JPEG too large to hold whole at full size: the area (in the
        // picture's own pixels) to hold at full size, decoded with a margin
        // around it. The whole picture then serves as a backdrop only, and
        // any scale held will do.
        QRect part;
    };

    // A part of a picture at full size and where it lies in the picture.
    struct Part {
        std::shared_ptr<const Picture> picture;
        QRect area;
    };

    // A picture's own size as its decoder read it.
    struct FullSize {
        int32_t width = 0;
        int32_t height = 0;
    };

    explicit PictureCache(QObject* parent = nullptr);
    ~PictureCache() override;

    // The decoded picture of a file, if held. Files are FileTable indices,
    // so the cache is cleared whenever a group opens.
    std::shared_ptr<const Picture> find(int32_t file) const;

    // Why a file failed to load, if it did in this group.
    const std::string* failureOf(int32_t file) const;

    // The held part of a file's picture, if any.
    const Part* findPart(int32_t file) const;

    // The held picture's own size (its pixels may be a scaled copy).
    std::optional<FullSize> fullSizeOf(int32_t file) const;
    // The scale the held picture was decoded at; 0 when none is held.
    int32_t heldScale(int32_t file) const;

    // The files to hold, most wanted first: missing ones, and ones held at
    // another scale, are queued for the worker (a picture held at another
    // scale stays until its replacement arrives); held files not wanted are
    // dropped beyond kSpare.
    void setWanted(const std::vector<Want>& wants);

    // Drops everything and cancels queued work (between groups).
    void clear();

    std::size_t heldCount() const { return m_held.size(); }
    std::size_t heldBytes() const;

    // Held besides the wanted ones, most recent first, while within kBudget.
    static constexpr std::size_t kSpare = 2;
    static constexpr std::size_t kBudget = std::size_t{768} << 20;

signals:
    void pictureReady(int32_t file);
    void pictureFailed(int32_t file, const QString& message);

private:
    struct Entry {
        std::shared_ptr<const Picture> picture;
        int32_t scale = 1;    // what it was decoded at
        bool anyScale = false; // a bitmap: the same at every scale
        FullSize full;
        uint64_t lastWanted = 0;
    };

    // One decode for the worker: a whole picture at a scale, or a part.
    struct Job {
        Want want;
        QRect area; // empty: the whole picture
    };

    void workerLoop();
    bool holdsWhole(const Want& want) const;
    bool holdsPart(const Want& want) const;
    void trim(const std::vector<Want>& wants);

    std::map<int32_t, Entry> m_held; // GUI thread only
    std::map<int32_t, Part> m_parts; // GUI thread only
    std::map<int32_t, std::string> m_failed; // GUI thread only: reported once per group
    std::map<int32_t, Want> m_wantedNow; // GUI thread only
    uint64_t m_tick = 0;

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Job> m_queue; // guarded by m_mutex
    Job m_inFlight {{-1, {}, 0, {}}, {}}; // guarded by m_mutex: what the worker decodes
    bool m_stop = false;       // guarded by m_mutex
    // Set when the job in flight is no longer wanted; reset for each job.
    std::atomic<bool> m_cancel {false};
    // Not a WorkerPool: one long-lived thread that waits on its own queue and
    // is cancelled job by job, where a pool runs one task on all its threads.
    std::thread m_worker;
};
