#include "cleanup/batch_actions.h"

#include <cerrno>
#include <cstring>
#include <set>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/file_name.h"
#include "common/folder_path.h"
#include "review/file_steps.h"
#include "review/trash.h"

namespace {

// Names tried in a move's folder before the file is given up on.
constexpr int kMaxMoveNames = 1000;

// Files moved between two syncs of the folders concerned: one sync per file
// costs milliseconds each on a disk, a batch of 10,000 minutes.
constexpr int32_t kFilesPerSync = 500;

// Folders synced one by one at a sync; with more, their file systems are
// synced whole (syncfs), which on a busy disk also writes out everyone
// else's data.
constexpr std::size_t kMaxFoldersSynced = 64;

// The folders a batch has changed, synced every kFilesPerSync files and at
// its end, with the journal.
class BatchSync {
public:
    explicit BatchSync(BatchJournal* journal) : m_journal(journal) {}
    ~BatchSync() { flush(); }
    BatchSync(const BatchSync&) = delete;
    BatchSync& operator=(const BatchSync&) = delete;

    void note(const std::string& folder) { m_folders.insert(folder); }

    void fileDone()
    {
        if (++m_pending >= kFilesPerSync)
            flush();
    }

    void flush()
    {
        if (m_pending == 0)
            return;
        if (m_journal != nullptr)
            m_journal->sync();
        std::set<dev_t> devices;
        for (const std::string& folder : m_folders) {
            const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (fd < 0)
                continue;
            struct stat st {};
            if (m_folders.size() <= kMaxFoldersSynced)
                ::fsync(fd);
            else if (::fstat(fd, &st) == 0 && devices.insert(st.st_dev).second)
                ::syncfs(fd);
            ::close(fd);
        }
        m_folders.clear();
        m_pending = 0;
    }

private:
    BatchJournal* m_journal;
    std::set<std::string> m_folders;
    int32_t m_pending = 0;
};

// Moves without ever replacing: a rename, or across file systems a copy
// (with its times) and the removal of the source. Returns 0 or errno.
int moveNoReplace(const std::string& from, const std::string& to, bool& copied)
{
    copied = false;
    int error = renameNoReplace(from, to);
    if (error != EXDEV)
        return error;
    copied = true;
    error = copyFileExclusive(from, to);
    if (error == 0 && ::unlink(from.c_str()) != 0) {
        error = errno;
        ::unlink(to.c_str());
    }
    if (error == 0)
        syncFolder(parentFolder(from));
    return error;
}

bool exists(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// A free name for `file` in `folder`: its own, else "name (2).ext" and on.
std::optional<std::string> freeNameIn(const std::string& folder, const std::string& file)
{
    const std::string name(fileNameOf(file));
    const auto dot = name.rfind('.');
    const std::string stem = dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
    const std::string extension = stem.size() == name.size() ? std::string() : name.substr(dot);
    for (int attempt = 1; attempt <= kMaxMoveNames; ++attempt) {
        const std::string candidate =
            childPath(folder, attempt == 1 ? name : stem + " (" + std::to_string(attempt) + ")" + extension);
        if (!exists(candidate))
            return candidate;
    }
    return std::nullopt;
}

std::string systemText(int error, const std::string& path)
{
    return path + ": " + std::strerror(error);
}

// Why a group cannot be acted on now, or nothing when every member is
// still the file the plan saw.
std::optional<std::string> changedMember(const PlanGroup& group)
{
    for (const PlanMember& member : group.members) {
        const std::optional<FileIdentity> now = readIdentity(member.path);
        if (!now)
            return member.path + ": gone since the plan";
        if (!sameFile(member.identity, *now))
            return member.path + ": changed since the plan";
    }
    return std::nullopt;
}

// Where an entry whose move was cut short before being recorded went: the
// trash file with the same inode, or with its size and time when it was
// copied, and the record beside it.
std::optional<JournalEntry> findInTrash(const JournalEntry& entry)
{
    const std::string name(fileNameOf(entry.original));
    for (const std::string& folder : trashFoldersFor(entry.original)) {
        const std::string files = folder + "/files";
        DIR* dir = ::opendir(files.c_str());
        if (dir == nullptr)
            continue;
        std::optional<JournalEntry> found;
        while (const dirent* item = ::readdir(dir)) {
            const std::string candidate = files + "/" + item->d_name;
            const std::optional<FileIdentity> identity = readIdentity(candidate);
            if (!identity)
                continue;
            const bool moved = identity->device == entry.identity.device && identity->inode == entry.identity.inode;
            const bool copied = identity->size == entry.identity.size && identity->mtimeNs == entry.identity.mtimeNs &&
                                std::string_view(item->d_name).substr(0, std::min<std::size_t>(name.size(), 16)) ==
                                    std::string_view(name).substr(0, 16);
            if (!moved && !copied)
                continue;
            const std::string info = folder + "/info/" + item->d_name + ".trashinfo";
            if (!exists(info))
                continue;
            found = entry;
            found->destination = candidate;
            found->infoPath = info;
            found->copied = !moved;
            break;
        }
        ::closedir(dir);
        if (found)
            return found;
    }
    return std::nullopt;
}

// Puts one journal entry back; an empty string on success, else why not.
std::string restoreEntry(const JournalEntry& done, BatchSync& sync)
{
    sync.note(parentFolder(done.original));
    sync.note(parentFolder(done.destination));
    if (!done.infoPath.empty())
        sync.note(parentFolder(done.infoPath));
    if (exists(done.original))
        return done.original + ": the path is taken again; the file stays at " + done.destination;
    const std::optional<FileIdentity> there = readIdentity(done.destination);
    if (!there)
        return done.original + ": no longer at " + done.destination;
    // Another file put there since (a trash emptied and refilled) is not ours to move.
    if (there->size != done.identity.size || there->mtimeNs != done.identity.mtimeNs)
        return done.original + ": " + done.destination + " is another file now; left alone";
    if (!done.infoPath.empty()) {
        const FileActionResult result =
            restoreFromTrashUnsynced(TrashedFile {done.destination, done.infoPath, done.copied}, done.original);
        return result.ok() ? std::string() : done.original + ": " + result.error;
    }
    bool copied = false;
    const int error = moveNoReplace(done.destination, done.original, copied);
    return error == 0 ? std::string() : systemText(error, done.original);
}

} // namespace

ApplyReport applyPlan(const CleanupPlan& plan, BatchJournal* journal, const ApplyOptions& options)
{
    ApplyReport report;
    for (const PlanGroup& group : plan.groups) {
        for (const PlanMember& member : group.members) {
            if (member.mark == Mark::Trash) {
                ++report.markedFiles;
                report.markedBytes += member.identity.size;
            }
        }
    }
    const bool move = !options.moveTo.empty();
    int64_t done = 0;
    const auto advance = [&](int64_t files) {
        done += files;
        if (options.progress)
            options.progress(done, report.markedFiles);
    };
    BatchSync sync(journal);
    for (std::size_t g = 0; g < plan.groups.size(); ++g) {
        const PlanGroup& group = plan.groups[g];
        const auto marked = std::count_if(group.members.begin(), group.members.end(),
                                          [](const PlanMember& m) { return m.mark == Mark::Trash; });
        if (marked == 0)
            continue;
        if (marked == static_cast<std::ptrdiff_t>(group.members.size())) {
            report.refused.push_back({g, "every member is marked; the group is left as it is"});
            advance(marked);
            continue;
        }
        if (std::optional<std::string> changed = changedMember(group)) {
            report.skipped.push_back({g, *changed});
            advance(marked);
            continue;
        }
        for (const PlanMember& member : group.members) {
            if (member.mark != Mark::Trash)
                continue;
            if (options.abort != nullptr && options.abort->load()) {
                report.aborted = true;
                break;
            }
            if (options.dryRun) {
                report.acted.push_back(member.path);
                report.actedBytes += member.identity.size;
            } else {
                std::string destination;
                if (move) {
                    const std::optional<std::string> free = freeNameIn(options.moveTo, member.path);
                    if (!free) {
                        report.failed.push_back(member.path + ": no free name in " + options.moveTo);
                        advance(1);
                        continue;
                    }
                    destination = *free;
                }
                std::string problem;
                if (!report.batch)
                    report.batch = journal->beginBatch(move ? "move" : "trash", options.moveTo, problem);
                const std::optional<int64_t> entry =
                    report.batch ? journal->writeAhead(*report.batch, member.path, member.identity, destination, problem)
                                 : std::nullopt;
                if (!entry) {
                    // Nothing moves that the journal does not know of.
                    report.stopped = problem;
                    break;
                }
                std::string failure;
                std::string infoPath;
                bool copied = false;
                if (move) {
                    if (const int error = moveNoReplace(member.path, destination, copied))
                        failure = systemText(error, member.path);
                } else {
                    const FileActionResult result = moveFileToTrashUnsynced(member.path);
                    if (!result.ok())
                        failure = member.path + ": " + result.error;
                    destination = result.trashed.filePath;
                    infoPath = result.trashed.infoPath;
                    copied = result.trashed.copied;
                }
                if (!failure.empty()) {
                    journal->setEntryState(*entry, "failed", problem);
                    report.failed.push_back(failure);
                } else {
                    sync.note(parentFolder(member.path));
                    sync.note(parentFolder(destination));
                    if (!infoPath.empty())
                        sync.note(parentFolder(infoPath));
                    sync.fileDone();
                    report.acted.push_back(member.path);
                    report.actedBytes += member.identity.size;
                    if (!journal->recordDone(*entry, destination, infoPath, copied, problem)) {
                        report.stopped = problem;
                        break;
                    }
                }
            }
            advance(1);
        }
        if (report.aborted || !report.stopped.empty())
            break;
    }
    sync.flush();
    if (report.batch) {
        std::string problem;
        journal->setBatchState(*report.batch, report.aborted || !report.stopped.empty() ? "aborted" : "done", problem);
    }
    return report;
}

UndoReport undoBatch(BatchJournal& journal, int64_t batch, const BatchProgress& progress)
{
    UndoReport report;
    std::vector<JournalEntry> entries = journal.entries(batch);
    BatchSync sync(&journal);
    int64_t count = 0;
    std::string problem;
    // Last moved first: a name freed later in the batch is taken back in order.
    for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
        JournalEntry entry = *it;
        ++count;
        if (progress)
            progress(count, static_cast<int64_t>(entries.size()));
        if (entry.state == "failed" || entry.state == "restored")
            continue;
        if (entry.state == "pending") {
            // Cut short: the file is still where it was, or where the move took it.
            const std::optional<FileIdentity> now = readIdentity(entry.original);
            if (now && now->device == entry.identity.device && now->inode == entry.identity.inode) {
                journal.setEntryState(entry.id, "failed", problem);
                continue;
            }
            if (entry.destination.empty()) {
                const std::optional<JournalEntry> found = findInTrash(entry);
                if (!found) {
                    report.problems.push_back(entry.original + ": not found in the trash");
                    journal.setEntryState(entry.id, "left", problem);
                    continue;
                }
                entry = *found;
            } else {
                const std::optional<FileIdentity> moved = readIdentity(entry.destination);
                if (!moved || moved->size != entry.identity.size || moved->mtimeNs != entry.identity.mtimeNs) {
                    // A copy across file systems cut short, or nothing made at all.
                    report.problems.push_back(entry.original + ": not found at " + entry.destination);
                    journal.setEntryState(entry.id, "left", problem);
                    continue;
                }
            }
        }
        const std::string failure = restoreEntry(entry, sync);
        if (failure.empty()) {
            sync.fileDone();
            ++report.restored;
            journal.setEntryState(entry.id, "restored", problem);
        } else {
            report.problems.push_back(failure);
            journal.setEntryState(entry.id, "left", problem);
        }
    }
    journal.setBatchState(batch, report.ok() ? "undone" : "partly undone", problem);
    return report;
}
