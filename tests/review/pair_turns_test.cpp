#include <vector>

#include <gtest/gtest.h>

#include "review/pair_turns.h"
#include "review/review_model.h"
#include "search/file_table.h"
#include "search/pair_list.h"
#include "search/pair_orientations.h"
#include "support/test_pictures.h"

namespace {

bool samePixels(const Picture& a, const Picture& b)
{
    if (a.width() != b.width() || a.height() != b.height())
        return false;
    for (int32_t y = 0; y < a.height(); ++y) {
        for (int32_t x = 0; x < a.width() * 3; ++x) {
            if (a.row(y)[x] != b.row(y)[x])
                return false;
        }
    }
    return true;
}

PairRec pairOf(int32_t a, int32_t b)
{
    return PairRec {PairState::Waiting, a, b};
}

} // namespace

TEST(PairTurnsTest, TurnsComposeAndUndoAsThePicturesDo)
{
    const Picture picture = testing_support::photoLikePicture(5, 7, 3);
    for (int32_t a = 0; a < kOrientationCount; ++a) {
        const Picture once = turnedPicture(picture, orientationAt(a));
        const Orientation back = inverseOf(orientationAt(a));
        EXPECT_TRUE(samePixels(turnedPicture(once, back), picture)) << a;
        for (int32_t b = 0; b < kOrientationCount; ++b) {
            const Orientation both = followedBy(orientationAt(a), orientationAt(b));
            EXPECT_TRUE(samePixels(turnedPicture(once, orientationAt(b)), turnedPicture(picture, both))) << a << ' ' << b;
        }
    }
    // Quarter turns undo each other; every mirrored turn undoes itself.
    EXPECT_EQ(inverseOf(Orientation::Turned90), Orientation::Turned270);
    EXPECT_EQ(inverseOf(Orientation::Turned180), Orientation::Turned180);
    EXPECT_EQ(inverseOf(Orientation::MirroredTurned90), Orientation::MirroredTurned90);
    EXPECT_EQ(followedBy(Orientation::Mirrored, Orientation::Turned180), Orientation::MirroredTurned180);
}

// Members 0..3: 1 is 0 turned a quarter, 2 is 1 mirrored, 3 is 0 as it is.
// Whatever two are on show, the one beside turned as told looks exactly
// like the one it stands beside, whether the search paired them or not.
TEST(PairTurnsTest, EveryTwoMembersOfAGroupAreShownAlike)
{
    std::vector<Picture> pictures;
    pictures.push_back(testing_support::photoLikePicture(9, 6, 5));
    pictures.push_back(turnedPicture(pictures[0], Orientation::Turned270)); // turned 90 it is 0
    pictures.push_back(turnedPicture(pictures[1], Orientation::Mirrored));  // mirrored it is 1
    pictures.push_back(turnedPicture(pictures[0], Orientation::Upright));
    PairOrientations orientations;
    orientations.set(0, 1, Orientation::Turned90);
    orientations.set(1, 2, Orientation::Mirrored);
    const std::vector<PairRec> pairs {pairOf(0, 1), pairOf(1, 2), pairOf(0, 3), pairOf(5, 6)};
    const GroupTurns turns(pairs, &orientations, {2, 0, 1, 3});
    ASSERT_FALSE(turns.empty());
    for (int32_t shown = 0; shown < 4; ++shown) {
        for (int32_t beside = 0; beside < 4; ++beside) {
            const Orientation turn = turns.turnOf(shown, beside);
            EXPECT_TRUE(samePixels(turnedPicture(pictures[static_cast<std::size_t>(shown)], turn),
                                   pictures[static_cast<std::size_t>(beside)]))
                << shown << " beside " << beside << ": " << orientationName(turn);
        }
    }
    EXPECT_EQ(turns.turnOf(1, 0), Orientation::Turned90);
    EXPECT_EQ(turns.turnOf(0, 1), Orientation::Turned270);
    // A file outside the group is left as it is.
    EXPECT_EQ(turns.turnOf(5, 0), Orientation::Upright);
}

TEST(PairTurnsTest, PlainSearchOrUprightPairsTurnNothing)
{
    const std::vector<PairRec> pairs {pairOf(0, 1), pairOf(1, 2)};
    EXPECT_TRUE(GroupTurns(pairs, nullptr, {0, 1, 2}).empty());
    PairOrientations elsewhere;
    elsewhere.set(7, 8, Orientation::Turned180); // a pair of another group
    const GroupTurns turns(pairs, &elsewhere, {0, 1, 2});
    EXPECT_TRUE(turns.empty());
    EXPECT_EQ(turns.turnOf(1, 0), Orientation::Upright);
}

// A member shown turned a quarter takes the turned picture's sides and is
// fitted to them; its file's own size stays as it is.
TEST(PairTurnsTest, ReviewModelTurnsAMembersSides)
{
    FileTable files(2);
    std::vector<PairRec> pairs;
    ReviewSession session;
    session.files = &files;
    session.pairs = &pairs;
    session.mode = CheckMode::Identical;
    session.pane = PaneSize {390, 416};
    ReviewModel model(session, {0, 1}, 2);
    model.placeMember(2, 800, 300);
    EXPECT_EQ(model.zoom(2), 100); // only one side is larger than the pane
    model.setTurn(2, Orientation::Turned90);
    EXPECT_EQ(model.pictureWidth(2), 300);
    EXPECT_EQ(model.pictureHeight(2), 800);
    EXPECT_EQ(model.storedWidth(2), 800);
    EXPECT_EQ(model.storedHeight(2), 300);
    EXPECT_EQ(model.zoom(2), 100);
    model.setTurn(2, Orientation::MirroredTurned270); // sides as they were turned: nothing moves
    EXPECT_EQ(model.pictureWidth(2), 300);
    // The file's size as the decoder gives it keeps the turn.
    model.placeMember(2, 1000, 500);
    EXPECT_EQ(model.pictureWidth(2), 500);
    EXPECT_EQ(model.pictureHeight(2), 1000);
    EXPECT_EQ(model.zoom(2), 78); // fitted to the turned sides: the larger of 390/500 and 416/1000
    EXPECT_EQ(files[1].width, 1000);
    EXPECT_EQ(files[1].height, 500);
    model.setTurn(2, Orientation::Upright);
    EXPECT_EQ(model.pictureWidth(2), 1000);
    EXPECT_EQ(model.zoom(2), 83);
}
