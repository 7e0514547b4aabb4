#include <gtest/gtest.h>

#include "cache/signature_codec.h"
#include "compare/similar/similar_reduction.h"
#include "support/test_pictures.h"

namespace {

SimilarSignature similarOf(const Picture& picture)
{
    SimilarSignature signature;
    reduceSimilarPicture(picture, signature);
    return signature;
}

} // namespace

TEST(SignatureCodecTest, SignaturesOfVariedPicturesComeBackExactly)
{
    // Detailed, flat and tiny pictures: profiles with large steps, all-zero
    // maps, and the smallest pictures each engine takes.
    std::vector<Picture> pictures;
    pictures.push_back(testing_support::photoLikePicture(320, 240, 1));
    pictures.push_back(testing_support::photoLikePicture(97, 301, 2));
    pictures.push_back(testing_support::solidPicture(64, 64, 200, 10, 10));
    pictures.push_back(testing_support::solidPicture(5, 5, 0, 0, 0));
    pictures.push_back(testing_support::patternPicture(
        80, 60, [](int32_t x, int32_t y) { return (x / 4 + y / 4) % 2 ? 0xFFFFFFu : 0u; }));
    for (const Picture& picture : pictures) {
        const IdenticalSignature identical = ComputeSignature(picture);
        const std::optional<IdenticalSignature> identicalBack = decodeIdenticalSignature(encodeIdenticalSignature(identical));
        ASSERT_TRUE(identicalBack);
        EXPECT_EQ(identicalBack->centroids, identical.centroids);
        EXPECT_EQ(identicalBack->profiles, identical.profiles);

        const SimilarSignature similar = similarOf(picture);
        const std::optional<std::string> bytes = encodeSimilarSignature(similar);
        ASSERT_TRUE(bytes);
        const std::optional<SimilarSignature> similarBack = decodeSimilarSignature(*bytes);
        ASSERT_TRUE(similarBack);
        EXPECT_EQ(similarBack->contrastMap, similar.contrastMap);
        EXPECT_EQ(similarBack->profiles, similar.profiles);
        EXPECT_EQ(similarBack->centroidX, similar.centroidX);
        EXPECT_EQ(similarBack->centroidY, similar.centroidY);
        EXPECT_EQ(similarBack->planeTotals, similar.planeTotals);
        EXPECT_EQ(similarBack->bandCodes, similar.bandCodes);
        EXPECT_EQ(similarBack->spreadA, similar.spreadA);
        EXPECT_EQ(similarBack->spreadB, similar.spreadB);
    }
}

TEST(SignatureCodecTest, ExtremeValuesSurvive)
{
    IdenticalSignature identical;
    identical.centroids = {INT32_MIN, -1, 0, INT32_MAX};
    for (auto& profile : identical.profiles) {
        for (std::size_t p = 0; p < profile.size(); ++p)
            profile[p] = p % 2 ? 255 : 0; // the largest step each way
    }
    const auto back = decodeIdenticalSignature(encodeIdenticalSignature(identical));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->centroids, identical.centroids);
    EXPECT_EQ(back->profiles, identical.profiles);

    SimilarSignature similar;
    similar.planeTotals = {INT32_MAX, INT32_MIN, 7};
    similar.bandCodes[12] = 255;
    similar.spreadA = -5;
    const auto similarBack = decodeSimilarSignature(*encodeSimilarSignature(similar));
    ASSERT_TRUE(similarBack);
    EXPECT_EQ(similarBack->planeTotals, similar.planeTotals);
    EXPECT_EQ(similarBack->bandCodes, similar.bandCodes);
    EXPECT_EQ(similarBack->spreadA, -5);
}

TEST(SignatureCodecTest, ValuesTheCompactFormCannotHoldAreNotEncoded)
{
    SimilarSignature contrast;
    contrast.contrastMap[17] = 127; // only 0, 128 and 255 have codes
    EXPECT_FALSE(encodeSimilarSignature(contrast));

    SimilarSignature outside;
    outside.profiles[0][10] = 1; // row 0 is not kept
    EXPECT_FALSE(encodeSimilarSignature(outside));
    SimilarSignature margin;
    margin.profiles[3][kInnerLast + 1] = 1;
    EXPECT_FALSE(encodeSimilarSignature(margin));

    SimilarSignature band;
    band.bandCodes[1] = 256;
    EXPECT_FALSE(encodeSimilarSignature(band));
}

TEST(SignatureCodecTest, DamagedBlobsAreRefused)
{
    const Picture picture = testing_support::photoLikePicture(120, 90, 5);
    const std::string identical = encodeIdenticalSignature(ComputeSignature(picture));
    const std::string similar = *encodeSimilarSignature(similarOf(picture));
    for (const bool isIdentical : {true, false}) {
        const std::string& blob = isIdentical ? identical : similar;
        auto decodes = [isIdentical](const std::string& bytes) {
            return isIdentical ? decodeIdenticalSignature(bytes).has_value() : decodeSimilarSignature(bytes).has_value();
        };
        ASSERT_TRUE(decodes(blob));
        EXPECT_FALSE(decodes(""));
        EXPECT_FALSE(decodes(blob.substr(0, blob.size() - 1)));
        EXPECT_FALSE(decodes(blob + '\0'));
        for (std::size_t at : {std::size_t {0}, std::size_t {2}, blob.size() / 2, blob.size() - 1}) {
            std::string flipped = blob;
            flipped[at] = static_cast<char>(flipped[at] ^ 0x10);
            EXPECT_FALSE(decodes(flipped)) << "byte " << at;
        }
    }
    // Each engine's blob is refused by the other's decoder.
    EXPECT_FALSE(decodeSimilarSignature(identical));
    EXPECT_FALSE(decodeIdenticalSignature(similar));
}
