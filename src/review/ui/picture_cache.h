#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <QObject>
#include <QString>

#include "picture/picture.h"

// The decoded pictures of the group under review, bounded: the window says
// which files it wants (the shown members and their neighbours), the cache
// decodes the missing ones on a worker thread at best quality and drops the
// rest, so a group of 300 large photographs never holds more than a handful.
class PictureCache : public QObject {
    Q_OBJECT
public:
    struct Want {
        int32_t file = 0; // FileTable index
        std::string path;
    };

    explicit PictureCache(QObject* parent = nullptr);
    ~PictureCache() override;

    // The decoded picture of a file, if held. Files are FileTable indices,
    // so the cache is cleared whenever a group opens.
    std::shared_ptr<const Picture> find(int32_t file) const;

    // Why a file failed to load, if it did in this group.
    const std::string* failureOf(int32_t file) const;

    // Decodes on the calling thread, all given files at once in parallel, and
    // keeps them; returns the first error message, empty if all loaded.
    std::string loadNow(const std::vector<Want>& wants);

    // The files to hold, most wanted first: missing ones are queued for the
    // worker; held files not wanted are dropped beyond kSpare.
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
        std::string path;
        std::shared_ptr<const Picture> picture;
        uint64_t lastWanted = 0;
    };

    void workerLoop();
    void store(int32_t file, const std::string& path, std::shared_ptr<const Picture> picture);
    void trim(const std::vector<Want>& wants);

    std::map<int32_t, Entry> m_held; // GUI thread only
    std::map<int32_t, std::string> m_failed; // GUI thread only: reported once per group
    std::map<int32_t, std::string> m_wantedNow; // GUI thread only: file -> path
    uint64_t m_tick = 0;

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Want> m_queue; // guarded by m_mutex
    int32_t m_inFlight = -1;   // guarded by m_mutex: the file the worker decodes
    bool m_stop = false;       // guarded by m_mutex
    std::thread m_worker;
};
