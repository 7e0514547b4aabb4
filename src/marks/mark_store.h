#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "marks/content_hash.h"

struct sqlite3;

// One pair judged "not the same": the two contents in order (the smaller
// hash first) and the names the files had when it was marked.
struct NotSameMark {
    ContentHash first {};
    ContentHash second {};
    std::string firstName;
    std::string secondName;
};

// The user's "not the same" marks, and the content hashes they are looked up
// by, in two tables of the signature cache's database: a mark follows the
// contents, so it holds when files are renamed, moved or copied. The hash of
// a file is kept under its path and version, as a signature is, so that a
// file that has not changed is not read again. Clearing or pruning the
// signature cache leaves both tables alone: a mark is the user's judgement,
// not something that can be computed again.
//
// The database must already have been opened by SignatureStore, which owns
// its header. Every operation returns nothing (or false) after a fault, with
// the reason in problem().
class MarkStore {
public:
    // Opens the tables in `file`, creating them when missing.
    static std::unique_ptr<MarkStore> open(const std::string& file, std::string& problem);
    ~MarkStore();
    MarkStore(const MarkStore&) = delete;
    MarkStore& operator=(const MarkStore&) = delete;

    const std::string& problem() const { return m_problem; }

    std::optional<int64_t> markCount();
    // Whether the pair of contents is marked, in either order.
    std::optional<bool> isMarked(const ContentHash& a, const ContentHash& b);
    // True when the mark is new.
    std::optional<bool> add(const ContentHash& a, const ContentHash& b, const std::string& nameA,
                            const std::string& nameB);
    // True when there was a mark to remove.
    std::optional<bool> remove(const ContentHash& a, const ContentHash& b);
    std::optional<std::vector<NotSameMark>> list();
    // The number of marks removed.
    std::optional<int64_t> clear();

    // The hash of the file's present content: kept from an earlier read of
    // this version, or read now and kept. Nothing when the file cannot be
    // read (problem() stays empty) or after a fault of the database.
    std::optional<ContentHash> contentHashOf(const std::string& path);

private:
    explicit MarkStore(sqlite3* db);
    bool fail(int code, const char* doing);
    bool execute(const char* sql);

    sqlite3* m_db = nullptr;
    std::string m_problem;
};
