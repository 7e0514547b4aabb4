#include "cache/store_records.h"

#include <fstream>
#include <iterator>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "compare/similar/similar_reduction.h"
#include "support/test_pictures.h"

namespace store_records {

FileVersion settledVersion(uint64_t inode)
{
    FileVersion version;
    version.device = 0x801;
    version.inode = inode;
    version.size = 12345;
    version.mtimeNs = 1'600'000'000'123'456'789;
    version.ctimeNs = 1'600'000'001'000'000'001;
    version.seenNs = version.ctimeNs + 5'000'000'000;
    return version;
}

PictureOutcome decodedRecord(uint32_t seed)
{
    const Picture picture = testing_support::photoLikePicture(90, 70, seed);
    PictureOutcome outcome;
    outcome.status = PictureOutcome::Status::Loaded;
    outcome.width = 90;
    outcome.height = 70;
    outcome.hasIdentical = true;
    outcome.identical = ComputeSignature(picture);
    outcome.hasSimilar = true;
    reduceSimilarPicture(picture, outcome.similar);
    return outcome;
}

PictureOutcome failedRecord(LoadFailure failure, const std::string& error)
{
    PictureOutcome outcome;
    outcome.status = PictureOutcome::Status::Failed;
    outcome.failure = failure;
    outcome.error = error;
    return outcome;
}

CacheWarning Warnings::sink()
{
    return [this](const std::string& message) { messages.push_back(message); };
}

std::string readAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void fillCache(const std::string& file, const std::string& path)
{
    Warnings warnings;
    auto store = SignatureStore::open(file, warnings.sink());
    ASSERT_TRUE(store);
    store->add(path, settledVersion(), decodedRecord(1));
    store->flush();
    ASSERT_TRUE(warnings.messages.empty());
}

int runSql(const std::string& file, const std::string& sql)
{
    sqlite3* db = nullptr;
    int code = sqlite3_open(file.c_str(), &db);
    if (code == SQLITE_OK)
        code = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
    sqlite3_close(db);
    return code;
}

void expectOneWarning(const Warnings& warnings, const std::string& says)
{
    ASSERT_EQ(warnings.messages.size(), 1u);
    EXPECT_NE(warnings.messages[0].find(says), std::string::npos) << warnings.messages[0];
}

std::string numbered(uint64_t i)
{
    std::string path = "p";
    path += std::to_string(i);
    return path;
}

} // namespace store_records
