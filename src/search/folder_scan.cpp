#include "search/folder_scan.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <iterator>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <thread>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/fd_closer.h"
#include "common/file_name.h"
#include "common/parallel_for.h"
#include "picture/picture_size.h"
#include "search/line_order.h"
#include "search/local_stamp_cache.h"
#include "search/scan_line.h"
#include "search/search_error.h"

namespace {

bool isPictureName(std::string_view name)
{
    const std::string extension = upperExtension(name);
    return extension == ".JPG" || extension == ".BMP";
}

bool abortSeen(const ScanSettings& settings)
{
    return settings.abortFlag && settings.abortFlag->load(std::memory_order_relaxed);
}

// A picture file found by the scan: what its line holds, as numbers, the
// path below the scan folder (which every path shares) and where its line is.
struct ScanRecord {
    int64_t key;
    int64_t size;
    int64_t stamp;     // stampNumberOf the last-write time
    uint64_t pathHead; // the first eight bytes of the path below, folded, big-endian, 0-padded
    const char* path;  // below the scan folder, inside the line
    uint32_t pathLength;
    uint32_t line;     // index in the worker's lines

    std::string_view pathBelow() const { return {path, pathLength}; }
};

uint64_t foldedHead(std::string_view path)
{
    uint64_t head = 0;
    for (std::size_t i = 0; i < 8; ++i)
        head = head << 8 | (i < path.size() ? foldLetter(static_cast<unsigned char>(path[i])) : 0u);
    return head;
}

// The order of lineLess over the lines: the digit columns and the stamp are
// fixed-width digits that letter case does not touch, so they compare as
// numbers; the paths share the scan folder, so only what follows it counts.
// A path that ends sorts before a longer one, as the zero padding does.
bool recordLess(const ScanRecord& a, const ScanRecord& b)
{
    if (a.key != b.key)
        return a.key < b.key;
    if (a.size != b.size)
        return a.size < b.size;
    if (a.stamp != b.stamp)
        return a.stamp < b.stamp;
    if (a.pathHead != b.pathHead)
        return a.pathHead < b.pathHead;
    return lineLess(a.pathBelow(), b.pathBelow());
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

void writeDigits(char* out, int64_t value)
{
    uint64_t rest = static_cast<uint64_t>(value);
    for (int i = 9; i >= 0; --i) {
        out[i] = static_cast<char>('0' + rest % 10);
        rest /= 10;
    }
}

std::string lineOf(int64_t key, int64_t size, int64_t stamp, const std::string& folder, std::string_view below,
                   std::string_view name)
{
    std::string line(kScanPathColumn + folder.size() + below.size() + name.size(), ' ');
    char* out = line.data();
    writeDigits(out + kScanKeyColumn, key);
    writeDigits(out + kScanSizeColumn, size);
    writeStampText(stamp, out + kScanStampColumn);
    out += kScanPathColumn;
    std::memcpy(out, folder.data(), folder.size());
    std::memcpy(out + folder.size(), below.data(), below.size());
    std::memcpy(out + folder.size() + below.size(), name.data(), name.size());
    return line;
}

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
                    m_aborted = true;
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
    bool aborted() const { return m_aborted; }
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
        const int dirFd = ::open(m_path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dirFd < 0)
            return true; // a folder that cannot be enumerated contributes nothing
        FdCloser closer(dirFd);
        const bool descend = pending.depth < settings.subDirDepth;
        if (m_entries.empty())
            m_entries.resize(kEntryBuffer);
        int64_t unreported = 0;
        bool aborted = false;
        for (;;) {
            const ssize_t filled = ::getdents64(dirFd, m_entries.data(), m_entries.size());
            if (filled <= 0)
                break;
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
                    continue;
                }
                const std::string_view nameView(name);
                if (!isPictureName(nameView))
                    continue;
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

    // Adds the record of one picture name; false when it is passed over.
    bool addFile(int dirFd, const std::string& below, std::string_view name)
    {
        // A link to a file stands for its target; a dangling link, a link to a
        // folder, or anything that is not a plain file is passed over.
        struct stat st {};
        if (::fstatat(dirFd, name.data(), &st, 0) != 0 || !S_ISREG(st.st_mode))
            return false;
        const int64_t size = st.st_size;
        if (size > kMaxScanNumber)
            return false;
        int64_t key = size;
        if (m_shared.settings.mode == CheckMode::PictureSize) {
            m_path.assign(m_shared.folder).append(below).append(name);
            const auto pictureSize = ReadPictureSize(m_path);
            if (!pictureSize) {
                // The scan goes on, so that the error shown does not hang on
                // which thread came first.
                m_unopened.push_back(m_path);
                return false;
            }
            key = pictureSizeKey(pictureSize->width, pictureSize->height);
        }
        const int64_t stamp = m_stamps.stampNumber(st.st_mtim.tv_sec);
        // A deque never moves its lines, so the record can point into its own.
        m_lines.push_back(lineOf(key, size, stamp, m_shared.folder, below, name));
        const char* path = m_lines.back().data() + kScanPathColumn + m_shared.folder.size();
        const auto pathLength = static_cast<uint32_t>(below.size() + name.size());
        m_records.push_back(ScanRecord {key, size, stamp, foldedHead({path, pathLength}), path, pathLength,
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
    bool m_aborted = false;
    std::exception_ptr m_failure;
};

struct TreeScan {
    std::vector<std::string> lines; // sorted
    bool aborted = false;
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

// Every picture line of folder (ending in "/") and its sub-folders below
// depth, on settings.jobs threads. Throws SearchError when a picture cannot
// be opened in CheckMode 1 (the first such path in list order).
TreeScan scanTree(const std::string& folder, int32_t depth, const ScanSettings& settings, int64_t foundBefore)
{
    const int32_t jobs = resolveJobs(settings.jobs);
    ScanShared shared {settings, folder, FolderQueue(PendingFolder {"", depth}, jobs), {foundBefore}};
    std::vector<std::unique_ptr<ScanWorker>> workers;
    for (int32_t i = 0; i < jobs; ++i)
        workers.push_back(std::make_unique<ScanWorker>(shared));
    {
        std::vector<std::jthread> threads;
        for (int32_t i = 1; i < jobs; ++i)
            threads.emplace_back([&worker = *workers[static_cast<std::size_t>(i)]] { worker.run(); });
        workers[0]->run();
    }
    TreeScan scan;
    std::vector<std::string> unopened;
    for (auto& worker : workers) {
        if (worker->failure())
            std::rethrow_exception(worker->failure());
        scan.aborted = scan.aborted || worker->aborted();
        unopened.insert(unopened.end(), worker->unopened().begin(), worker->unopened().end());
    }
    if (!unopened.empty()) {
        const auto first = std::min_element(unopened.begin(), unopened.end(),
                                            [](const std::string& a, const std::string& b) { return lineLess(a, b); });
        throw SearchError("ファイル " + *first + " は開けません");
    }
    scan.lines = mergedLines(workers);
    return scan;
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

bool ScanFolder(const std::string& folder, int32_t depth, const ScanSettings& settings,
                std::vector<std::string>& lines)
{
    ScanSettings oneThread = settings;
    oneThread.jobs = 1;
    TreeScan scan = scanTree(folder, depth, oneThread, static_cast<int64_t>(lines.size()));
    std::move(scan.lines.begin(), scan.lines.end(), std::back_inserter(lines));
    return !scan.aborted;
}

std::vector<std::string> buildScanList(const std::string& searchFolder, const ScanSettings& settings)
{
    return scanTree(scanFolderArgument(searchFolder), 0, settings, 0).lines;
}

void sortScanLines(std::vector<std::string>& lines, int32_t jobs)
{
    // The first twenty characters are digits of fixed width, which letter
    // case does not touch: comparing them as two numbers, then the rest with
    // lineLess, is the order of lineLess over the whole line.
    struct Entry {
        int64_t key;
        int64_t size;
        std::string* line;
    };
    const auto number = [](const std::string& line, std::size_t from) {
        int64_t value = 0;
        for (std::size_t i = from; i < from + 10 && i < line.size(); ++i)
            value = value * 10 + (line[i] - '0');
        return value;
    };
    std::vector<Entry> entries;
    entries.reserve(lines.size());
    for (std::string& line : lines)
        entries.push_back(Entry {number(line, kScanKeyColumn), number(line, kScanSizeColumn), &line});
    const auto less = [](const Entry& a, const Entry& b) {
        if (a.key != b.key)
            return a.key < b.key;
        if (a.size != b.size)
            return a.size < b.size;
        return lineLess(std::string_view(*a.line).substr(kScanSizeColumn + 10),
                        std::string_view(*b.line).substr(kScanSizeColumn + 10));
    };
    // Sorting once gives the order of a list kept sorted line by line,
    // without the cost of inserting each line at its place; two halves
    // sorted side by side and merged give the same order.
    constexpr std::size_t kSplitAbove = 20000;
    const auto middle = entries.begin() + static_cast<std::ptrdiff_t>(entries.size() / 2);
    if (resolveJobs(jobs) >= 2 && entries.size() > kSplitAbove) {
        parallelFor(2, 2, [&](int64_t half, int32_t) {
            if (half == 0)
                std::sort(entries.begin(), middle, less);
            else
                std::sort(middle, entries.end(), less);
        });
        std::inplace_merge(entries.begin(), middle, entries.end(), less);
    } else {
        std::sort(entries.begin(), entries.end(), less);
    }
    std::vector<std::string> sorted;
    sorted.reserve(lines.size());
    for (const Entry& entry : entries)
        sorted.push_back(std::move(*entry.line));
    lines = std::move(sorted);
}
