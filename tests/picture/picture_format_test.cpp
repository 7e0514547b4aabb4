#include <gtest/gtest.h>

#include "picture/picture_format.h"

TEST(PictureFormat, NamesMapToFormatsByExtensionInAnyCase)
{
    EXPECT_EQ(formatOfName("/a/b.JPG"), PictureFormat::Jpeg);
    EXPECT_EQ(formatOfName("/a/b.jpg"), PictureFormat::Jpeg);
    EXPECT_EQ(formatOfName("/a/b.Bmp"), PictureFormat::Bmp);
    EXPECT_EQ(formatOfName("x.tif"), PictureFormat::Tiff);
    EXPECT_EQ(formatOfName("x.TIFF"), PictureFormat::Tiff);
    EXPECT_EQ(formatOfName("x.heif"), PictureFormat::Heic);
    EXPECT_EQ(formatOfName("x.webp"), PictureFormat::Webp);
    // Only the last extension counts; a dot in a folder's name is no extension.
    EXPECT_EQ(formatOfName("x.jpg.png"), PictureFormat::Png);
    EXPECT_EQ(formatOfName("/a.jpg/b"), std::nullopt);
    // JPEG is ".JPG" alone: ".jpeg" stays out of a default search.
    EXPECT_EQ(formatOfName("x.jpeg"), std::nullopt);
    EXPECT_EQ(formatOfName("x"), std::nullopt);
    EXPECT_EQ(formatOfName("x."), std::nullopt);
    // A file no format claims is read as a bitmap, as ever.
    EXPECT_EQ(decoderFormatOf("notes.txt"), PictureFormat::Bmp);
    EXPECT_EQ(decoderFormatOf("a.JpG"), PictureFormat::Jpeg);
}

TEST(PictureFormat, DefaultSetTakesJpgAndBmpOnly)
{
    const PictureFormats defaults = PictureFormats::defaults();
    EXPECT_TRUE(defaults.takes("a.JPG"));
    EXPECT_TRUE(defaults.takes("a.bmp"));
    EXPECT_FALSE(defaults.takes("a.png"));
    EXPECT_FALSE(defaults.takes("a.txt"));
    EXPECT_EQ(defaults.words(), "jpg,bmp");
}

TEST(PictureFormat, ListsParseIntoSetsAndBadWordsAreSaid)
{
    std::string problem;
    std::optional<PictureFormats> set = parseFormatList("bmp", problem);
    ASSERT_TRUE(set);
    EXPECT_EQ(set->words(), "bmp");
    EXPECT_FALSE(set->takes("a.jpg"));

    set = parseFormatList("bmp,jpg,bmp", problem);
    ASSERT_TRUE(set);
    EXPECT_EQ(*set, PictureFormats::defaults());

    set = parseFormatList("all", problem);
    ASSERT_TRUE(set);
    EXPECT_EQ(*set, PictureFormats::all());
    EXPECT_TRUE(set->has(PictureFormat::Jpeg));

    for (const char* bad : {"", ",", "jpg,", "JPG", "jpeg", "jpg;bmp", "all,x"}) {
        problem.clear();
        EXPECT_FALSE(parseFormatList(bad, problem)) << bad;
        EXPECT_FALSE(problem.empty()) << bad;
    }
    parseFormatList("jpg,,bmp", problem);
    EXPECT_EQ(problem, "an empty format in the list");
    parseFormatList("tga", problem);
    EXPECT_EQ(problem, "unknown format tga");
}

TEST(PictureFormat, AllHoldsEveryDecodableFormatAndBitsRoundTrip)
{
    const PictureFormats all = PictureFormats::all();
    for (int i = 0; i < kPictureFormatCount; ++i) {
        const auto format = static_cast<PictureFormat>(i);
        EXPECT_EQ(all.has(format), formatDecodable(format)) << formatWord(format);
        std::string problem;
        EXPECT_EQ(parseFormatList(formatWord(format), problem).has_value(), formatDecodable(format));
    }
    EXPECT_EQ(PictureFormats::fromBits(all.bits()), all);
    // Bits of unknown or undecodable formats are dropped.
    EXPECT_EQ(PictureFormats::fromBits(0xFFFFFFFFu), all);
    EXPECT_TRUE(PictureFormats::fromBits(0).empty());
}
