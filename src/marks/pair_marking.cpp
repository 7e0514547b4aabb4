#include "marks/pair_marking.h"

#include <memory>
#include <optional>

#include "cache/signature_store.h"
#include "marks/mark_store.h"

PairMarking markPairNotSame(const std::string& databaseFile, const std::string& a, const std::string& b,
                            bool createFolder)
{
    PairMarking result;
    // The signature store owns the file's header: it makes the database, or
    // refuses one that is not a Zelvic cache, before the marks go in.
    std::string warning;
    if (!SignatureStore::open(databaseFile, [&warning](const std::string& message) { warning = message; },
                              createFolder)) {
        result.problem = warning;
        return result;
    }
    std::string problem;
    const std::unique_ptr<MarkStore> marks = MarkStore::open(databaseFile, problem);
    if (!marks) {
        result.problem = "the not-same marks in " + databaseFile + " cannot be used: " + problem;
        return result;
    }
    const std::optional<ContentHash> first = marks->contentHashOf(a);
    const std::optional<ContentHash> second = first ? marks->contentHashOf(b) : std::nullopt;
    if (!first || !second) {
        result.problem = !marks->problem().empty() ? marks->problem()
                                                   : std::string(first ? "the second" : "the first") + " file cannot be read";
        return result;
    }
    if (*first == *second) {
        result.problem = "the two files have the same content: they cannot be marked as not the same";
        return result;
    }
    const std::optional<bool> added = marks->add(*first, *second, a, b);
    if (!added) {
        result.problem = marks->problem();
        return result;
    }
    result.done = true;
    result.added = *added;
    return result;
}
