#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cleanup/file_identity.h"

struct sqlite3;

// One file of a batch as the journal holds it.
struct JournalEntry {
    int64_t id = 0;
    std::string original;    // where the file was
    std::string destination; // where it went (the file in the trash's files/ or the move's target)
    std::string infoPath;    // its .trashinfo; empty for a move
    bool copied = false;     // it went by copy (another file system)
    FileIdentity identity;   // before it moved
    std::string state;       // "pending", "done", "failed", "restored", "left"
};

struct BatchSummary {
    int64_t id = 0;
    int64_t started = 0; // seconds since the epoch
    std::string action;  // "trash" or "move"
    std::string destination;
    int64_t files = 0;   // entries written
    int64_t bytes = 0;
    std::string state;   // "running", "done", "aborted", "undone", "partly undone"
};

// The journal of batches: every file's move is written here before the
// move is made, so a batch cut short at any point can still be undone.
// SQLite in WAL mode: a row committed before a crash or SIGKILL is there
// afterwards.
class BatchJournal {
public:
    ~BatchJournal();
    BatchJournal(const BatchJournal&) = delete;
    BatchJournal& operator=(const BatchJournal&) = delete;

    // $XDG_STATE_HOME/zelvic/batches.sqlite (~/.local/state/zelvic when unset).
    static std::string defaultPath();

    // Opens (creating the folder and the tables); nothing, with `problem` set, when it cannot.
    static std::unique_ptr<BatchJournal> open(const std::string& path, std::string& problem);

    // Each returns false (with `problem`) when the journal cannot be written.
    std::optional<int64_t> beginBatch(const std::string& action, const std::string& destination, std::string& problem);
    std::optional<int64_t> writeAhead(int64_t batch, const std::string& original, const FileIdentity& identity,
                                      const std::string& destination, std::string& problem);
    bool recordDone(int64_t entry, const std::string& destination, const std::string& infoPath, bool copied,
                    std::string& problem);
    bool setEntryState(int64_t entry, const std::string& state, std::string& problem);
    bool setBatchState(int64_t batch, const std::string& state, std::string& problem);

    // Makes every row written so far survive a power cut (a checkpoint, which syncs).
    void sync();

    std::vector<BatchSummary> batches();
    std::vector<JournalEntry> entries(int64_t batch);

private:
    explicit BatchJournal(sqlite3* db) : m_db(db) {}
    bool run(const char* sql, std::string& problem);

    sqlite3* m_db = nullptr;
};
