#include "search/folder_scan.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <iterator>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <unordered_set>

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/fd_closer.h"
#include "common/log_categories.h"
#include "common/parallel_for.h"
#include "common/worker_pool.h"
#include "picture/picture_size.h"
#include "search/line_order.h"
#include "search/local_stamp_cache.h"
#include "search/scan_line.h"
#include "search/search_error.h"

namespace {

bool isPictureName(std::string_view name, const ScanSettings& settings)
{
    return settings.formats.takes(name);
}

bool abortSeen(const ScanSettings& settings)
{
    return settings.abortFlag && settings.abortFlag->load(std::memory_order_relaxed);
}

// A picture file found by the scan: the order of its line among the lines
// of the scan (whose paths all share the scan folder; it points into the
// line) and where its line is. Deriving lets `line` sit in the tail padding
// of the Order: 48 bytes a record, which the sorts move about.
struct ScanRecord : ScanLine::Order {
    uint32_t line; // index in the worker's lines
};

bool recordLess(const ScanRecord& a, const ScanRecord& b)
{
    return static_cast<const ScanLine::Order&>(a) < b;
}

struct PendingFolder {
    std::string below; // path below the scan folder, ending in "/" (empty: the folder itself)
    int32_t depth;
};

// Folders still to be scanned, shared by the workers: each takes the next
// folder as soon as it is free, so every thread stays busy from the start.
class FolderQueue {
public:
    FolderQueue(PendingFolder first, int32_t workers) : m_workers(workers) { m_folders.push_back(std::move(first)); }

    // The next folder; nothing once every folder is done (or the scan stops).
    std::optional<PendingFolder> take(bool finishedOne)
    {
        std::unique_lock lock(m_mutex);
        if (finishedOne)
            --m_busy;
        for (;;) {
            if (m_stopped)
                break;
            if (!m_folders.empty()) {
                PendingFolder next = std::move(m_folders.front());
                m_folders.pop_front();
                ++m_busy;
                return next;
            }
            if (m_busy == 0)
                break;
            m_wake.wait(lock);
        }
        m_stopped = true;
        lock.unlock();
        m_wake.notify_all();
        return std::nullopt;
    }

    void add(std::vector<PendingFolder>& folders)
    {
        if (folders.empty())
            return;
        {
            std::lock_guard lock(m_mutex);
            for (PendingFolder& folder : folders)
                m_folders.push_back(std::move(folder));
        }
        folders.clear();
        if (m_workers > 1)
            m_wake.notify_all();
    }

    void stop()
    {
        {
            std::lock_guard lock(m_mutex);
            m_stopped = true;
        }
        m_wake.notify_all();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<PendingFolder> m_folders;
    int32_t m_busy = 0;
    int32_t m_workers;
    bool m_stopped = false;
};

// What the scan shares between its workers.
struct ScanShared {
    const ScanSettings& settings;
    const std::string& folder; // the scan folder, ending in "/"
    FolderQueue queue;
    std::atomic<int64_t> found;
};

// The records of one worker, and the names it could not open.
class ScanWorker {
public:
    explicit ScanWorker(ScanShared& shared) : m_shared(shared) {}

    // Takes folders until none is left, or the abort flag or a failure stops
    // the scan, then sorts its records. Never throws: a failure is kept in
    // failure().
    void run()
    {
        try {
            bool finishedOne = false;
            while (std::optional<PendingFolder> folder = m_shared.queue.take(finishedOne)) {
                finishedOne = true;
                if (abortSeen(m_shared.settings) || !scanFolder(*folder)) {
                    m_shared.queue.stop();
                    break;
                }
            }
            // Sorting here keeps every thread busy to the end; the sorted
            // runs of the workers are merged afterwards.
            std::sort(m_records.begin(), m_records.end(), recordLess);
        } catch (...) {
            m_failure = std::current_exception();
            m_shared.queue.stop();
        }
    }

    // Sorted once run() is done; each names its line in lines().
    const std::vector<ScanRecord>& records() const { return m_records; }
    std::deque<std::string>& lines() { return m_lines; }
    const std::vector<std::string>& unopened() const { return m_unopened; }
    std::exception_ptr failure() const { return m_failure; }

private:
    static constexpr std::size_t kEntryBuffer = 64 * 1024;
    static constexpr int64_t kReportEvery = 32;

    // The files of one folder; its sub-folders go to the queue. Returns false
    // when the abort flag was seen.
    bool scanFolder(const PendingFolder& pending)
    {
        const ScanSettings& settings = m_shared.settings;
        m_path.assign(m_shared.folder).append(pending.below);
        if (excludedFolder(m_path)) {
            qCDebug(zelvicScan, "excluded folder %s not entered", m_path.c_str());
            return true;
        }
        const int dirFd = ::open(m_path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dirFd < 0) {
            const int error = errno;
            qCWarning(zelvicScan, "folder %s passed over: %s", m_path.c_str(), std::strerror(error));
            return true; // a folder that cannot be enumerated contributes nothing
        }
        FdCloser closer(dirFd);
        const bool descend = pending.depth < settings.subDirDepth;
        if (m_entries.empty())
            m_entries.resize(kEntryBuffer);
        int64_t unreported = 0;
        bool aborted = false;
        for (;;) {
            const ssize_t filled = ::getdents64(dirFd, m_entries.data(), m_entries.size());
            if (filled <= 0) {
                const int error = errno;
                if (filled < 0)
                    qCWarning(zelvicScan, "folder %s%s listed only in part: %s", m_shared.folder.c_str(),
                              pending.below.c_str(), std::strerror(error));
                break;
            }
            for (ssize_t at = 0; at < filled && !aborted;) {
                const auto* entry = reinterpret_cast<const dirent64*>(m_entries.data() + at);
                at += entry->d_reclen;
                const char* name = entry->d_name;
                if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
                    continue;
                unsigned char type = entry->d_type;
                if (type == DT_UNKNOWN) {
                    struct stat st {};
                    if (::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
                        continue;
                    type = S_ISDIR(st.st_mode) ? DT_DIR : DT_REG;
                }
                if (type == DT_DIR) {
                    // Hidden folders are not entered; links to folders are never
                    // followed (they are not DT_DIR), so no loop can hold the scan.
                    if (descend && name[0] != '.')
                        m_subFolders.push_back(PendingFolder {pending.below + name + "/", pending.depth + 1});
                    else if (descend)
                        qCDebug(zelvicScan, "hidden folder %s%s%s not entered", m_shared.folder.c_str(),
                                pending.below.c_str(), name);
                    continue;
                }
                const std::string_view nameView(name);
                if (!isPictureName(nameView, settings))
                    continue;
                if (!settings.excludes.empty()) {
                    m_path.assign(m_shared.folder).append(pending.below).append(nameView);
                    if (excludedPath(settings.excludes, m_path))
                        continue;
                }
                if (abortSeen(settings)) {
                    aborted = true;
                    break;
                }
                if (addFile(dirFd, pending.below, nameView))
                    ++unreported;
                if (unreported == kReportEvery) {
                    report(unreported);
                    unreported = 0;
                }
            }
            if (aborted)
                break;
        }
        report(unreported);
        m_shared.queue.add(m_subFolders);
        return !aborted;
    }

    // `folder` ends in "/"; a pattern may name it with or without that "/"
    // ("*/Lightroom/*" and "*/Lightroom" both keep out /x/Lightroom).
    bool excludedFolder(const std::string& folder) const
    {
        const std::vector<std::string>& patterns = m_shared.settings.excludes;
        if (patterns.empty())
            return false;
        if (excludedPath(patterns, folder))
            return true;
        return folder.size() > 1 && excludedPath(patterns, folder.substr(0, folder.size() - 1));
    }

    // Adds the record of one picture name; false when it is passed over.
    bool addFile(int dirFd, const std::string& below, std::string_view name)
    {
        // A link to a file stands for its target; a dangling link, a link to a
        // folder, or anything that is not a plain file is passed over.
        struct stat st {};
        if (::fstatat(dirFd, name.data(), &st, 0) != 0) {
            const int error = errno;
            qCDebug(zelvicScan, "%s%s%s passed over: %s", m_shared.folder.c_str(), below.c_str(), name.data(),
                    std::strerror(error));
            return false;
        }
        if (!S_ISREG(st.st_mode))
            return false;
        const int64_t size = st.st_size;
        if (size > ScanLine::kMaxNumber)
            return false;
        m_path.assign(m_shared.folder).append(below).append(name);
        int64_t key = size;
        if (m_shared.settings.mode == CheckMode::PictureSize) {
            const auto pictureSize = m_shared.settings.pictureSize ? m_shared.settings.pictureSize(m_path, st)
                                                                   : ReadPictureSize(m_path);
            if (!pictureSize) {
                // The scan goes on, so that the error shown does not hang on
                // which thread came first.
                m_unopened.push_back(m_path);
                return false;
            }
            key = pictureSizeKey(pictureSize->width, pictureSize->height);
        }
        const ScanLine::Columns columns {key, size, m_stamps.stampNumber(st.st_mtim.tv_sec)};
        // A deque never moves its lines, so the record can point into its own.
        m_lines.push_back(ScanLine::format(columns, m_path));
        m_records.push_back(ScanRecord {{ScanLine(m_lines.back()).order(m_shared.folder.size())},
                                        static_cast<uint32_t>(m_lines.size() - 1)});
        return true;
    }

    void report(int64_t count)
    {
        if (count == 0)
            return;
        const int64_t total = m_shared.found.fetch_add(count, std::memory_order_relaxed) + count;
        if (m_shared.settings.progress)
            m_shared.settings.progress->report(SearchProgress::Phase::Scan, total, 0);
    }

    ScanShared& m_shared;
    std::vector<ScanRecord> m_records;
    std::deque<std::string> m_lines;
    std::vector<std::string> m_unopened;
    std::vector<PendingFolder> m_subFolders;
    std::vector<char> m_entries;
    std::string m_path;
    LocalStampCache m_stamps;
    std::exception_ptr m_failure;
};

// The lines of all workers in the order of their records, merged from the
// sorted runs of the workers. Every path differs, so no two records are equal.
std::vector<std::string> mergedLines(std::vector<std::unique_ptr<ScanWorker>>& workers)
{
    struct Head {
        const ScanRecord* at;
        const ScanRecord* end;
        std::deque<std::string>* lines;
    };
    std::vector<Head> heads;
    std::size_t total = 0;
    for (auto& worker : workers) {
        const std::vector<ScanRecord>& records = worker->records();
        total += records.size();
        if (!records.empty())
            heads.push_back(Head {records.data(), records.data() + records.size(), &worker->lines()});
    }
    // A heap of the run heads, least record on top.
    const auto later = [](const Head& a, const Head& b) { return recordLess(*b.at, *a.at); };
    std::make_heap(heads.begin(), heads.end(), later);
    std::vector<std::string> lines;
    lines.reserve(total);
    while (!heads.empty()) {
        std::pop_heap(heads.begin(), heads.end(), later);
        Head& least = heads.back();
        lines.push_back(std::move((*least.lines)[least.at->line]));
        if (++least.at == least.end)
            heads.pop_back();
        else
            std::push_heap(heads.begin(), heads.end(), later);
    }
    return lines;
}

struct TreeScan {
    std::vector<std::string> lines; // sorted
    std::vector<std::string> unopened; // pictures CheckMode 1 could not open, in no order
};

// Every picture line of folder (ending in "/") and its sub-folders, sorted,
// on settings.jobs threads. `foundBefore`: the pictures earlier folders of
// the search found, which the progress counts on from.
TreeScan scanTree(const std::string& folder, const ScanSettings& settings, int64_t foundBefore = 0)
{
    const int32_t jobs = settings.pool != nullptr ? settings.pool->size() : resolveJobs(settings.jobs);
    ScanShared shared {settings, folder, FolderQueue(PendingFolder {"", 0}, jobs), {foundBefore}};
    std::vector<std::unique_ptr<ScanWorker>> workers;
    for (int32_t i = 0; i < jobs; ++i)
        workers.push_back(std::make_unique<ScanWorker>(shared));
    if (jobs == 1) {
        workers[0]->run();
    } else {
        // One worker on each of the pool's threads.
        std::optional<WorkerPool> own;
        (settings.pool != nullptr ? *settings.pool : own.emplace(jobs)).run([&workers](int32_t worker) {
            workers[static_cast<std::size_t>(worker)]->run();
        });
    }
    TreeScan scan;
    for (auto& worker : workers) {
        if (worker->failure())
            std::rethrow_exception(worker->failure());
        scan.unopened.insert(scan.unopened.end(), worker->unopened().begin(), worker->unopened().end());
    }
    if (scan.unopened.empty())
        scan.lines = mergedLines(workers);
    return scan;
}

// Throws SearchError when a picture could not be opened in CheckMode 1,
// naming the first such path in list order.
void throwUnopened(const std::vector<std::string>& unopened)
{
    if (unopened.empty())
        return;
    const auto first = std::min_element(unopened.begin(), unopened.end(),
                                        [](const std::string& a, const std::string& b) { return lineLess(a, b); });
    throw SearchError("ファイル " + *first + " は開けません");
}

// The lines of several folders in one sorted list, a path that two of them
// reached (one folder inside another) once.
std::vector<std::string> mergedFolderLines(std::vector<std::vector<std::string>>& perFolder)
{
    std::vector<std::string> all;
    for (std::vector<std::string>& lines : perFolder)
        std::move(lines.begin(), lines.end(), std::back_inserter(all));
    perFolder.clear();
    sortLines(all);
    // The same path's lines are the same unless the file changed between
    // the scans of its two folders; the first in order stays either way.
    std::unordered_set<std::string_view> seen;
    seen.reserve(all.size());
    std::vector<bool> keep(all.size());
    std::size_t kept = 0;
    for (std::size_t i = 0; i < all.size(); ++i) {
        keep[i] = seen.insert(ScanLine(all[i]).path()).second;
        kept += keep[i] ? 1 : 0;
    }
    seen.clear();
    std::vector<std::string> lines;
    lines.reserve(kept);
    for (std::size_t i = 0; i < all.size(); ++i)
        if (keep[i])
            lines.push_back(std::move(all[i]));
    return lines;
}

} // namespace

std::string scanFolderArgument(const std::string& searchFolder)
{
    std::string folder = searchFolder;
    while (!folder.empty() && folder.back() == '/')
        folder.pop_back();
    folder += '/';
    return folder;
}

bool canReadSearchFolder(const std::string& searchFolder)
{
    const int dirFd = ::open(searchFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0)
        return false;
    FdCloser closer(dirFd);
    // Listing needs read permission, which open checked; reaching the entries
    // needs search permission, which a lookup of "." through the descriptor
    // checks (a folder of mode 0600 lists its names but opens none of them).
    struct stat st {};
    if (::fstatat(dirFd, ".", &st, 0) != 0)
        return false;
    char entries[1024];
    return ::getdents64(dirFd, entries, sizeof entries) >= 0;
}

std::vector<std::string> buildScanList(const std::string& searchFolder, const ScanSettings& settings)
{
    TreeScan scan = scanTree(scanFolderArgument(searchFolder), settings);
    throwUnopened(scan.unopened);
    return std::move(scan.lines);
}

std::vector<std::string> buildScanList(const std::vector<std::string>& searchFolders, const ScanSettings& settings)
{
    if (searchFolders.size() == 1)
        return buildScanList(searchFolders.front(), settings);
    // One folder after the other, each on all of the threads.
    std::vector<std::vector<std::string>> perFolder;
    std::vector<std::string> unopened;
    int64_t found = 0;
    for (const std::string& folder : searchFolders) {
        if (abortSeen(settings))
            break;
        TreeScan scan = scanTree(scanFolderArgument(folder), settings, found);
        found += static_cast<int64_t>(scan.lines.size());
        unopened.insert(unopened.end(), scan.unopened.begin(), scan.unopened.end());
        perFolder.push_back(std::move(scan.lines));
    }
    throwUnopened(unopened);
    return mergedFolderLines(perFolder);
}

std::vector<std::string> searchFoldersOf(const SearchOptions& options)
{
    std::vector<std::string> folders {options.folder};
    for (const std::string& folder : options.moreFolders)
        if (std::find(folders.begin(), folders.end(), folder) == folders.end())
            folders.push_back(folder);
    return folders;
}

bool excludedPath(const std::vector<std::string>& patterns, const std::string& path)
{
    // No FNM_PATHNAME: "*" crosses "/", so "*/.thumbnails/*" reaches any depth.
    for (const std::string& pattern : patterns)
        if (::fnmatch(pattern.c_str(), path.c_str(), 0) == 0)
            return true;
    return false;
}
