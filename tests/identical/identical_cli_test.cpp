#include <cstdio>
#include <sys/wait.h>
#include <filesystem>
#include <regex>
#include <string>

#include <gtest/gtest.h>

#include "support/test_pictures.h"

using testing_support::TempDir;

namespace {

// Standard output of zelvic-cli with the given arguments (no shell quoting
// needed: the test folders have plain names).
std::string runCli(const std::string& args, int* status = nullptr)
{
    const std::string command = std::string(ZELVIC_CLI_PATH) + " " + args + " 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return {};
    std::string out;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        out.append(buffer, n);
    const int rc = pclose(pipe);
    if (status)
        *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return out;
}

} // namespace

TEST(IdenticalCliTest, SignatureOfFlatGrey)
{
    TempDir dir;
    testing_support::writeJpeg(dir.file("grey.jpg"), testing_support::solidPicture(320, 240, 90, 90, 90));
    int status = -1;
    const std::string json = runCli("signature --engine identical " + dir.file("grey.jpg"), &status);
    ASSERT_EQ(status, 0);
    // Six edge profiles of 128, six tone profiles of 127, 58 positions each.
    std::string profiles;
    for (int k = 0; k < 12; ++k) {
        profiles += k ? ",[" : "[";
        for (int p = 0; p < 58; ++p) {
            if (p)
                profiles += ',';
            profiles += k < 6 ? "128" : "127";
        }
        profiles += ']';
    }
    EXPECT_EQ(json, std::string("{\"width\":320,\"height\":240,\"centroids\":[29,29,0,0],\"profiles\":[")
                        .append(profiles)
                        .append("]}\n"));

    testing_support::writeJpeg(dir.file("tiny.jpg"), testing_support::solidPicture(4, 4, 90, 90, 90));
    runCli("signature --engine identical " + dir.file("tiny.jpg"), &status);
    EXPECT_EQ(status, 1);
}

TEST(IdenticalCliTest, SearchGivesTheSameJsonOnOneAndTwoThreads)
{
    TempDir dir;
    for (uint32_t i = 0; i < 10; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "p%u.jpg", i);
        testing_support::writeJpeg(dir.file(name), testing_support::photoLikePicture(200, 150, 100 + i));
    }
    std::filesystem::copy_file(dir.file("p2.jpg"), dir.file("copy-of-p2.jpg"));
    std::filesystem::copy_file(dir.file("p7.jpg"), dir.file("copy-of-p7.JPG"));
    testing_support::writeBytes(dir.file("empty.jpg"), "");
    testing_support::writeBytes(dir.file("text.jpg"), "no picture here");
    testing_support::writeJpeg(dir.file("jpeg-inside.bmp"), testing_support::photoLikePicture(50, 50, 1));

    for (const char* mode : {"identical", "size"}) {
        const std::string args = std::string("search ") + dir.str() + " --mode " + mode + " --json --jobs ";
        int status1 = -1, status2 = -1;
        std::string one = runCli(args + "1", &status1);
        std::string two = runCli(args + "2", &status2);
        ASSERT_EQ(status1, 0);
        ASSERT_EQ(status2, 0);
        // The time and the signature cache's counts may differ between runs.
        const std::regex elapsed("\"elapsed_seconds\":[0-9.e+-]+(,\"cache\":\\{[^}]*\\})?");
        one = std::regex_replace(one, elapsed, "");
        two = std::regex_replace(two, elapsed, "");
        EXPECT_EQ(one, two) << mode;
        EXPECT_NE(one.find("copy-of-p2.jpg"), std::string::npos);
        // In size mode the damaged files have sizes of their own and are never loaded.
        if (std::string(mode) == "identical") {
            EXPECT_NE(one.find("\"unreadable\":[\""), std::string::npos) << one;
        }
        EXPECT_NE(one.find("\"pairs\":2"), std::string::npos) << mode << ": " << one;
    }
}
