#include "review/review_model.h"

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/folder_path.h"
#include "common/integer_text.h"
#include "search/file_table.h"
#include "search/pair_list.h"
#include "search/search_options.h"

namespace {

// A FileTable of `count` files in /x, a 390 x 416 pane and a PairList; the
// file operations only record what they were asked and succeed unless told.
struct Fixture {
    FileTable files;
    std::vector<PairRec> pairs;
    ReviewSession session;
    std::vector<std::string> trashed;
    std::vector<std::string> moves;
    std::vector<std::string> restored;
    bool trashFails = false;
    bool moveFails = false;
    bool checkFails = false;
    bool restoreFails = false;
    bool moveReplaces = false; // the move finds a file at the target and trashes it

    explicit Fixture(int count, CheckMode mode = CheckMode::FileSize)
    {
        for (int i = 0; i < count; ++i) {
            File_rec f;
            f.path = "/x/f" + std::to_string(i) + ".jpg";
            f.stamp = "2024/01/02 03/04/06";
            f.size = 1000 + i;
            files.push_back(f);
        }
        session.files = &files;
        session.pairs = &pairs;
        session.mode = mode;
        session.pane = PaneSize{390, 416};
    }

    ReviewModel model(std::vector<int32_t> group, int32_t panes = 2)
    {
        ReviewFileOps ops;
        ops.trash = [this](const std::string& path) {
            if (trashFails)
                return FileActionResult{"trash failed"};
            trashed.push_back(path);
            return FileActionResult{};
        };
        ops.move = [this](const std::string& from, const std::string& to) {
            if (moveFails)
                return FileActionResult{"move failed"};
            moves.push_back(from + " -> " + to);
            FileActionResult result;
            if (moveReplaces)
                result.trashed.filePath = "/trash/files/x";
            return result;
        };
        ops.check = [this](const std::string&, const std::string&) {
            return checkFails ? FileActionResult{"cannot move"} : FileActionResult{};
        };
        ops.restore = [this](const TrashedFile&, const std::string& path) {
            if (restoreFails)
                return FileActionResult{"restore failed"};
            restored.push_back(path);
            trashed.erase(std::find(trashed.begin(), trashed.end(), path));
            return FileActionResult{};
        };
        return ReviewModel(session, std::move(group), panes, ops);
    }
};

struct Placement {
    int32_t zoom, left, top;
};

Placement placed(const ReviewModel& model, int32_t m)
{
    return {model.zoom(m), model.left(m), model.top(m)};
}

void expectPlacement(const ReviewModel& model, int32_t m, Placement want)
{
    EXPECT_EQ(model.zoom(m), want.zoom) << "member " << m;
    EXPECT_EQ(model.left(m), want.left) << "member " << m;
    EXPECT_EQ(model.top(m), want.top) << "member " << m;
}

// A drag over a picture control of the member's shown size, as the window
// has it once a scale is applied.
void dragInShownControl(ReviewModel& model, int32_t pane, int32_t x, int32_t y)
{
    const int32_t m = model.memberInPane(pane);
    model.dragMove(pane, x, y, model.shownWidth(m), model.shownHeight(m));
}

} // namespace

TEST(ReviewModelTest, ZoomFitAndInitialPlacementIn390By416Pane)
{
    Fixture fx(4);
    ReviewModel model = fx.model({0, 1, 2, 3});
    model.placeMember(1, 1000, 800); // larger of 39 and 52
    model.placeMember(2, 4000, 3000); // 9 and 13, raised to 25
    model.placeMember(3, 500, 300);   // wider only: 100, half the overflow cut
    model.placeMember(4, 200, 100);   // fits: top left, not centred
    expectPlacement(model, 1, {52, -65, 0});
    EXPECT_EQ(model.shownWidth(1), 520);
    EXPECT_EQ(model.shownHeight(1), 416);
    expectPlacement(model, 2, {25, -305, -83});
    EXPECT_EQ(model.shownWidth(2), 1000);
    EXPECT_EQ(model.shownHeight(2), 750);
    expectPlacement(model, 3, {100, -55, 0});
    expectPlacement(model, 4, {100, 0, 0});
    EXPECT_EQ(fx.files[1].width, 4000);
    EXPECT_EQ(fx.files[1].height, 3000);
    EXPECT_EQ(ReviewModel::zoomFit(391, 417, 390, 416), 100 * 390 / 391);
    EXPECT_EQ(ReviewModel::zoomFit(391, 416, 390, 416), 100);
}

TEST(ReviewModelTest, ZoomOutAndInAboutTheCentre)
{
    Fixture fx(2);
    ReviewModel model = fx.model({0, 1});
    model.placeMember(1, 1000, 800);
    model.placeMember(2, 1000, 800);
    model.zoomOut();
    expectPlacement(model, 1, {26, 0, 0});
    EXPECT_EQ(model.shownWidth(1), 260);
    EXPECT_EQ(model.shownHeight(1), 208);

    Fixture fx2(2);
    ReviewModel in = fx2.model({0, 1});
    in.placeMember(1, 1000, 800);
    in.placeMember(2, 1000, 800);
    in.zoomIn();
    // Overflowed before horizontally: 2 * -65 - 195; not vertically: (416 - 832) / 4.
    expectPlacement(in, 1, {104, -325, -104});
    expectPlacement(in, 2, {104, -325, -104});
    // Zoomed out from an overflowing position the centre point is kept.
    in.zoomOut();
    expectPlacement(in, 1, {52, -65, 0});
}

TEST(ReviewModelTest, ZoomStepsStopAtTheirLimits)
{
    Fixture fx(2);
    ReviewModel model = fx.model({0, 1});
    model.placeMember(1, 100, 100);
    model.placeMember(2, 100, 100);
    std::vector<int32_t> out;
    for (int i = 0; i < 4; ++i) {
        model.zoomOut();
        out.push_back(model.zoom(1));
    }
    EXPECT_EQ(out, (std::vector<int32_t>{50, 25, 12, 12}));
    model.zoomActual();
    std::vector<int32_t> in;
    for (int i = 0; i < 5; ++i) {
        model.zoomIn();
        in.push_back(model.zoom(1));
    }
    EXPECT_EQ(in, (std::vector<int32_t>{200, 400, 800, 1600, 1600}));
    // Above 1600 (typed) the 100 % button leaves the member alone.
    ASSERT_EQ(model.typeZoom(1, "1700"), TypedZoom::Stored);
    model.zoomActual();
    EXPECT_EQ(model.zoom(1), 1700);
    EXPECT_EQ(model.zoom(2), 100);
}

TEST(ReviewModelTest, PadMovesByAThirdAndStopsAtTheEdges)
{
    Fixture fx(2);
    ReviewModel model = fx.model({0, 1});
    model.placeMember(1, 1000, 600);
    model.placeMember(2, 300, 300); // fits: never moves
    model.zoomActual();
    expectPlacement(model, 1, {100, -305, -92});
    std::vector<int32_t> lefts;
    for (int i = 0; i < 3; ++i) {
        model.pad(4);
        lefts.push_back(model.left(1));
    }
    EXPECT_EQ(lefts, (std::vector<int32_t>{-175, -45, 0}));
    model.zoomActual();
    lefts.clear();
    for (int i = 0; i < 3; ++i) {
        model.pad(5);
        lefts.push_back(model.left(1));
    }
    EXPECT_EQ(lefts, (std::vector<int32_t>{-435, -565, -610}));
    model.zoomActual();
    model.pad(1); // up and left
    expectPlacement(model, 1, {100, -175, 0});
    model.pad(8); // down and right: 416 - 600 = -184 is the floor
    expectPlacement(model, 1, {100, -305, -138});
    model.pad(7);
    EXPECT_EQ(model.top(1), -184);
    expectPlacement(model, 2, {100, 0, 0});
}

TEST(ReviewModelTest, TypedZoomStoresOnlyPositiveIntegers)
{
    Fixture fx(3);
    ReviewModel model = fx.model({0, 1, 2});
    model.placeMember(1, 1000, 800);
    model.placeMember(2, 1000, 800);
    model.placeMember(3, 1000, 800);
    model.next(); // pane 1 shows member 2
    EXPECT_EQ(model.typeZoom(1, "150"), TypedZoom::Stored);
    EXPECT_EQ(model.zoom(2), 150);
    EXPECT_EQ(model.left(2), -65); // position is not recomputed
    EXPECT_EQ(model.zoom(1), 52);
    EXPECT_EQ(model.zoom(3), 52);
    EXPECT_EQ(model.typeZoom(2, ""), TypedZoom::Empty);
    EXPECT_EQ(model.typeZoom(2, "1.5"), TypedZoom::NotInteger);
    EXPECT_EQ(model.typeZoom(2, "-"), TypedZoom::NotInteger);
    EXPECT_EQ(model.typeZoom(2, "99999999999"), TypedZoom::NotInteger);
    EXPECT_EQ(model.typeZoom(2, "0"), TypedZoom::Refused);
    EXPECT_EQ(model.typeZoom(2, "-20"), TypedZoom::Refused);
    EXPECT_EQ(model.typeZoom(2, "2000000000"), TypedZoom::Refused); // wider than any window
    EXPECT_EQ(model.zoom(3), 52);
    EXPECT_EQ(parseDecimalInt32(" +42"), 42);
    EXPECT_EQ(parseDecimalInt32("-2147483648"), INT32_MIN);
    EXPECT_FALSE(parseDecimalInt32("2147483648"));
    EXPECT_FALSE(parseDecimalInt32("12 "));
}

TEST(ReviewModelTest, DragIsClampedToThePane)
{
    Fixture fx(2);
    ReviewModel model = fx.model({0, 1});
    model.placeMember(1, 1000, 800);
    model.placeMember(2, 1000, 800);
    model.zoomIn(); // 1040 x 832 at -325, -104
    dragInShownControl(model, 1, 500, 500); // no press yet: nothing
    EXPECT_EQ(model.left(1), -325);
    model.dragPress(400, 200);
    dragInShownControl(model, 1, 500, 200);
    EXPECT_EQ(model.left(1), -225);
    EXPECT_EQ(model.dragPane(), 1);
    EXPECT_FALSE(model.prevEnabled());
    dragInShownControl(model, 1, 900, 200);
    EXPECT_EQ(model.left(1), 0);
    dragInShownControl(model, 1, -2000, 100);
    EXPECT_EQ(model.left(1), 390 - 1040);
    EXPECT_EQ(model.top(1), -204);
    EXPECT_EQ(model.left(2), -325); // only the dragged member moves
    model.dragRelease();
    EXPECT_EQ(model.dragPane(), 0);
    EXPECT_FALSE(model.dragActive());

    // A typed scale not yet applied with Enter: the control keeps its old
    // size (520 wide at 52 %), and that size bounds the drag.
    Fixture typed(2);
    ReviewModel pending = typed.model({0, 1});
    pending.placeMember(1, 1000, 800);
    pending.placeMember(2, 1000, 800);
    ASSERT_EQ(pending.typeZoom(1, "150"), TypedZoom::Stored);
    pending.dragPress(300, 100);
    pending.dragMove(1, -700, 100, 520, 416);
    EXPECT_EQ(pending.left(1), 390 - 520);

    Fixture small(2);
    ReviewModel narrow = small.model({0, 1});
    narrow.placeMember(1, 200, 100);
    narrow.placeMember(2, 200, 100);
    narrow.dragPress(10, 10);
    dragInShownControl(narrow, 1, 60, 80);
    EXPECT_EQ(narrow.left(1), 0);
    EXPECT_EQ(narrow.top(1), 0);
}

TEST(ReviewModelTest, LabelsAndSteppingThroughAGroupOfFive)
{
    Fixture fx(5);
    ReviewModel model = fx.model({0, 1, 2, 3, 4});
    EXPECT_EQ(model.countLabel(), "検出数：5");
    EXPECT_EQ(model.firstLabel(), "開始：1");
    EXPECT_EQ(model.lastLabel(), "終了：2");
    EXPECT_FALSE(model.prevEnabled());
    EXPECT_TRUE(model.nextEnabled());
    for (int i = 0; i < 4; ++i)
        model.next();
    EXPECT_EQ(model.viewPos(), 3);
    EXPECT_EQ(model.firstLabel(), "開始：4");
    EXPECT_EQ(model.lastLabel(), "終了：5");
    EXPECT_FALSE(model.nextEnabled());
    EXPECT_TRUE(model.prevEnabled());
    model.prev();
    EXPECT_EQ(model.viewPos(), 2);

    Fixture pair(2);
    ReviewModel two = pair.model({1, 0});
    EXPECT_EQ(two.countLabel(), "検出数：2");
    EXPECT_EQ(two.lastLabel(), "終了：2");
    EXPECT_FALSE(two.prevEnabled());
    EXPECT_FALSE(two.nextEnabled());
    two.placeMember(1, 640, 480);
    const std::vector<std::string> memo = two.memoLines(1);
    ASSERT_EQ(memo.size(), 3u);
    EXPECT_EQ(memo[0], "/x/f1.jpg");
    EXPECT_EQ(memo[1], "日付:  2024/01/02 03/04/06");
    EXPECT_EQ(memo[2], "ﾌｧｲﾙｻｲｽﾞ:  1001   横：  640   縦：  480");
}

TEST(ReviewModelTest, DeleteShiftsMembersAndKeepsTheViewFull)
{
    Fixture fx(5);
    ReviewModel model = fx.model({0, 1, 2, 3, 4});
    for (int32_t m = 1; m <= 5; ++m)
        model.placeMember(m, 1000 + 100 * m, 800);
    model.typeZoom(1, "77"); // member 1
    for (int i = 0; i < 3; ++i)
        model.next();
    const Placement fifth = placed(model, 5);
    const ReviewActionOutcome out = model.deletePaneNow(1);
    EXPECT_TRUE(out.error.empty());
    EXPECT_FALSE(out.closeWindow);
    EXPECT_EQ(fx.trashed, (std::vector<std::string>{"/x/f3.jpg"}));
    EXPECT_EQ(fx.files[3].skip, 1);
    EXPECT_EQ(model.groupSize(), 4);
    EXPECT_EQ(model.group(), (std::vector<int32_t>{0, 1, 2, 4}));
    EXPECT_EQ(model.viewPos(), 2); // panes show members 3 and 4
    expectPlacement(model, 4, fifth);
    EXPECT_EQ(model.pictureWidth(4), 1500);
    EXPECT_EQ(model.zoom(1), 77);
    EXPECT_EQ(model.deletePane(), 0);
    EXPECT_FALSE(model.deleteEnabled());
}

TEST(ReviewModelTest, DeleteOfTheLastButOneClosesAndChosenPaneDeletes)
{
    Fixture fx(3);
    ReviewModel model = fx.model({0, 1});
    EXPECT_TRUE(model.deleteChosen().error.empty()); // nothing chosen: nothing happens
    EXPECT_TRUE(fx.trashed.empty());
    model.choosePane(2);
    EXPECT_TRUE(model.deleteEnabled());
    model.clearChoice(); // double-click on the window surface cancels
    EXPECT_TRUE(model.deleteChosen().error.empty());
    EXPECT_TRUE(fx.trashed.empty());
    model.choosePane(2);
    const ReviewActionOutcome out = model.deleteChosen();
    EXPECT_TRUE(out.closeWindow);
    EXPECT_EQ(fx.trashed, (std::vector<std::string>{"/x/f1.jpg"}));
    EXPECT_EQ(model.group(), (std::vector<int32_t>{0}));
}

TEST(ReviewModelTest, FailedDeleteKeepsTheFileInPlay)
{
    Fixture fx(3, CheckMode::Similar);
    fx.pairs = {{PairState::Waiting, 0, 1}, {PairState::Waiting, 1, 2}};
    ReviewModel model = fx.model({0, 1, 2});
    fx.trashFails = true;
    const ReviewActionOutcome out = model.deletePaneNow(2);
    EXPECT_EQ(out.error, "trash failed");
    EXPECT_FALSE(out.closeWindow);
    EXPECT_EQ(fx.files[1].skip, 0);
    EXPECT_EQ(model.groupSize(), 3);
    EXPECT_EQ(fx.pairs[0].state, PairState::Waiting);
    EXPECT_EQ(model.deletePane(), 0);
}

TEST(ReviewModelTest, PairStatesChangeOnlyInSimilarMode)
{
    for (CheckMode mode : {CheckMode::Similar, CheckMode::Identical}) {
        Fixture fx(4, mode);
        constexpr PairState out = PairState::OutOfPlay;
        constexpr PairState taken = PairState::Taken;
        constexpr PairState waiting = PairState::Waiting;
        fx.pairs = {{taken, 0, 1}, {waiting, 1, 3}, {out, 1, 2}, {waiting, 2, 3}, {taken, 3, 0}};
        ReviewModel model = fx.model({0, 1, 3});
        model.deletePaneNow(2); // file 1
        std::vector<PairState> states;
        for (const PairRec& p : fx.pairs)
            states.push_back(p.state);
        if (mode == CheckMode::Similar)
            EXPECT_EQ(states, (std::vector<PairState>{out, out, out, waiting, taken}));
        else
            EXPECT_EQ(states, (std::vector<PairState>{taken, waiting, out, waiting, taken}));
    }
}

TEST(ReviewModelTest, MoveIntoTheOtherFolder)
{
    Fixture fx(3);
    fx.files[0].path = "/x/a.jpg";
    fx.files[1].path = "/y/b.jpg";
    ReviewModel model = fx.model({0, 1});
    EXPECT_TRUE(model.moveButtonsVisible());
    EXPECT_TRUE(model.move(1).error.empty());
    EXPECT_EQ(fx.moves, (std::vector<std::string>{"/x/a.jpg -> /y/a.jpg"}));
    EXPECT_EQ(fx.files[0].path, "/y/a.jpg");
    EXPECT_FALSE(model.moveButtonsVisible());
    EXPECT_TRUE(fx.trashed.empty());

    // A failed move keeps the old path.
    fx.files[0].path = "/x/a.jpg";
    fx.moveFails = true;
    EXPECT_EQ(model.move(2).error, "move failed");
    EXPECT_EQ(fx.files[1].path, "/y/b.jpg");

    // The root folder is "/" and compares as such.
    EXPECT_EQ(parentFolder("/a.jpg"), "/");
    EXPECT_EQ(parentFolder("/p/q/a.jpg"), "/p/q");
}

TEST(ReviewModelTest, MoveOntoAnEqualNameTrashesTheTargetFirst)
{
    Fixture fx(3);
    fx.files[0].path = "/x/a.jpg";
    fx.files[1].path = "/y/a.jpg";
    fx.files[2].path = "/z/c.jpg";
    ReviewModel model = fx.model({0, 1, 2});
    const ReviewActionOutcome out = model.move(1);
    EXPECT_FALSE(out.closeWindow);
    EXPECT_EQ(fx.trashed, (std::vector<std::string>{"/y/a.jpg"}));
    EXPECT_EQ(fx.moves, (std::vector<std::string>{"/x/a.jpg -> /y/a.jpg"}));
    EXPECT_EQ(model.group(), (std::vector<int32_t>{0, 2}));
    EXPECT_EQ(fx.files[0].path, "/y/a.jpg");
    EXPECT_EQ(fx.files[1].skip, 1);

    // Different case is a different name here: nothing is trashed first.
    Fixture cased(2);
    cased.files[0].path = "/x/a.jpg";
    cased.files[1].path = "/y/A.JPG";
    ReviewModel two = cased.model({0, 1});
    EXPECT_FALSE(two.move(2).closeWindow);
    EXPECT_TRUE(cased.trashed.empty());
    EXPECT_EQ(cased.files[1].path, "/x/A.JPG");

    // If the target cannot be trashed, it is not overwritten either.
    Fixture stuck(2);
    stuck.files[0].path = "/x/a.jpg";
    stuck.files[1].path = "/y/a.jpg";
    stuck.trashFails = true;
    ReviewModel blocked = stuck.model({0, 1});
    EXPECT_NE(blocked.move(1).error.find("trash failed"), std::string::npos);
    EXPECT_TRUE(stuck.moves.empty());
    EXPECT_EQ(stuck.files[0].path, "/x/a.jpg");
}

TEST(ReviewModelTest, MoveOntoAnEqualNameThatCannotBeMadeOrFailsKeepsTheOtherFile)
{
    Fixture fx(3);
    fx.files[0].path = "/x/a.jpg";
    fx.files[1].path = "/y/a.jpg";
    fx.files[2].path = "/z/c.jpg";
    ReviewModel model = fx.model({0, 1, 2});

    // Known beforehand: nothing is trashed, nothing moved.
    fx.checkFails = true;
    EXPECT_EQ(model.move(1).error, "cannot move");
    EXPECT_TRUE(fx.trashed.empty());
    EXPECT_TRUE(fx.moves.empty());

    // Failing after the trash: the other file comes back and stays in play.
    fx.checkFails = false;
    fx.moveFails = true;
    const ReviewActionOutcome failed = model.move(1);
    EXPECT_EQ(fx.restored, (std::vector<std::string>{"/y/a.jpg"}));
    EXPECT_EQ(failed.error, "move failed\nファイル /y/a.jpg をごみ箱から元の場所に戻しました");
    EXPECT_EQ(model.group(), (std::vector<int32_t>{0, 1, 2}));
    EXPECT_EQ(fx.files[1].skip, 0);
    EXPECT_EQ(fx.files[0].path, "/x/a.jpg");

    // When it cannot come back it is in the trash: it leaves the group.
    fx.restoreFails = true;
    const ReviewActionOutcome lost = model.move(1);
    EXPECT_EQ(lost.error, "move failed\nrestore failed");
    EXPECT_EQ(model.group(), (std::vector<int32_t>{0, 2}));
    EXPECT_EQ(fx.files[1].skip, 1);
    EXPECT_EQ(fx.files[0].path, "/x/a.jpg");
}

TEST(ReviewModelTest, MoveWithEqualNamesInAGroupOfTwoCloses)
{
    Fixture fx(2);
    fx.files[0].path = "/x/a.jpg";
    fx.files[1].path = "/y/a.jpg";
    ReviewModel model = fx.model({0, 1});
    const ReviewActionOutcome out = model.move(2);
    EXPECT_TRUE(out.closeWindow);
    EXPECT_EQ(fx.trashed, (std::vector<std::string>{"/x/a.jpg"}));
    EXPECT_EQ(fx.moves, (std::vector<std::string>{"/y/a.jpg -> /x/a.jpg"}));
    EXPECT_EQ(fx.files[1].path, "/x/a.jpg");
}

TEST(ReviewModelTest, ActionsNameEveryFileTheySendToTheTrash)
{
    // A move that replaced a file nobody saw names that file.
    Fixture fx(3);
    fx.files[0].path = "/a/img5.jpg";
    fx.files[1].path = "/c/deep/img5copy.jpg";
    fx.moveReplaces = true;
    ReviewModel model = fx.model({0, 1, 2});
    EXPECT_EQ(model.move(1).trashed, (std::vector<std::string>{"/c/deep/img5.jpg"}));
    // Nothing there: nothing named.
    fx.moveReplaces = false;
    EXPECT_TRUE(model.move(2).trashed.empty());

    // The other pane's file of the same name, trashed first, is named too.
    Fixture same(3);
    same.files[0].path = "/x/a.jpg";
    same.files[1].path = "/y/a.jpg";
    ReviewModel equalNames = same.model({0, 1, 2});
    EXPECT_EQ(equalNames.move(1).trashed, (std::vector<std::string>{"/y/a.jpg"}));

    // A delete names its file; a failed one names none.
    Fixture del(3);
    ReviewModel deleting = del.model({0, 1, 2});
    EXPECT_EQ(deleting.deletePaneNow(2).trashed, (std::vector<std::string>{"/x/f1.jpg"}));
    del.trashFails = true;
    EXPECT_TRUE(deleting.deletePaneNow(1).trashed.empty());
}

TEST(ReviewModelTest, GoneFileIsSkippedAndItsPairsLeaveInSimilarMode)
{
    Fixture fx(3, CheckMode::Similar);
    fx.pairs = {{PairState::Taken, 0, 1}, {PairState::Waiting, 1, 2}, {PairState::Taken, 0, 2}};
    ReviewModel model = fx.model({0, 1, 2});
    model.markGone(2);
    EXPECT_EQ(fx.files[1].skip, 1);
    EXPECT_EQ(fx.pairs[0].state, PairState::OutOfPlay);
    EXPECT_EQ(fx.pairs[1].state, PairState::OutOfPlay);
    EXPECT_EQ(fx.pairs[2].state, PairState::Taken);
    EXPECT_EQ(model.group(), (std::vector<int32_t>{0, 1, 2})); // still on show until the walk ends

    Fixture plain(2);
    plain.pairs = {{PairState::Taken, 0, 1}};
    ReviewModel other = plain.model({0, 1});
    other.markGone(1);
    EXPECT_EQ(plain.files[0].skip, 1);
    EXPECT_EQ(plain.pairs[0].state, PairState::Taken);
}
