#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "picture/orientation.h"
#include "review/file_actions.h"
#include "review/group_walk.h"
#include "review/review_session.h"

// Largest shown width or height of a picture: the largest widget the window
// can place. A typed scale that would draw a member larger is refused.
inline constexpr int64_t kMaxShownSize = 16777215;

// The file operations the review performs; tests replace them.
struct ReviewFileOps {
    std::function<FileActionResult(const std::string& path)> trash = moveFileToTrash;
    std::function<FileActionResult(const std::string& from, const std::string& to)> move = moveFileReplacing;
    std::function<FileActionResult(const std::string& from, const std::string& to)> check = checkMove;
    std::function<FileActionResult(const TrashedFile& trashed, const std::string& path)> restore = restoreFromTrash;
};

// What a delete or move asks of the window: an error to show, a window to
// close, and the files it sent to the trash, which the window names.
struct ReviewActionOutcome {
    std::string error;
    std::vector<std::string> trashed; // paths as they were before the trash
    bool closeWindow = false; // the group is down to one member: modal result 1
};

// What became of a typed scale.
enum class TypedZoom { Stored, Empty, NotInteger, Refused };

// The window-free state of the review of one group: which members the panes
// show, each member's scale and position, the pane chosen for deletion, and
// the deletes and moves with their effect on FileTable and PairList. Members
// are numbered from 1 (GroupList positions), panes from 1.
class ReviewModel {
public:
    ReviewModel(ReviewSession& session, std::vector<int32_t> group, int32_t paneCount,
                ReviewFileOps ops = ReviewFileOps{});

    // The initial scale of a W x H picture in a w x h pane.
    static int32_t zoomFit(int32_t width, int32_t height, int32_t paneWidth, int32_t paneHeight);

    // Takes member m's picture size: FileTable width and height, the fitted
    // scale and the initial placement (half the overflow cut on the left, a
    // quarter at the top).
    void placeMember(int32_t m, int32_t width, int32_t height);
    // A member whose file was deleted earlier: no picture, 100 %, top left.
    void placeMissingMember(int32_t m);
    // Shows member m turned: its width and height below are then those of
    // the turned picture, and a turn that swaps them fits it again.
    void setTurn(int32_t m, Orientation turn);
    Orientation turn(int32_t m) const { return at(m).turn; }

    int32_t paneCount() const { return m_paneCount; }
    int32_t groupSize() const { return static_cast<int32_t>(m_group.size()); }
    int32_t viewPos() const { return m_viewPos; }
    int32_t deletePane() const { return m_deletePane; }
    int32_t dragPane() const { return m_dragPane; }
    bool dragActive() const { return m_dragActive; }
    bool deleteEnabled() const { return m_deleteEnabled; }
    int32_t paneWidth() const { return m_session.pane.width; }
    int32_t paneHeight() const { return m_session.pane.height; }
    const std::vector<int32_t>& group() const { return m_group; }
    const ReviewSession& session() const { return m_session; }

    // Panes that show a member: the smaller of PaneCount and GroupSize.
    int32_t shownPanes() const;
    // Member shown in pane i.
    int32_t memberInPane(int32_t pane) const { return m_viewPos + pane; }
    // FileTable index of member m.
    int32_t fileOf(int32_t m) const { return m_group[static_cast<std::size_t>(m - 1)]; }
    int32_t zoom(int32_t m) const { return at(m).zoom; }
    int32_t left(int32_t m) const { return at(m).left; }
    int32_t top(int32_t m) const { return at(m).top; }
    // The picture as shown, turned when the member is.
    int32_t pictureWidth(int32_t m) const { return at(m).width; }
    int32_t pictureHeight(int32_t m) const { return at(m).height; }
    // The picture as stored in its file.
    int32_t storedWidth(int32_t m) const { return swapsSides(at(m).turn) ? at(m).height : at(m).width; }
    int32_t storedHeight(int32_t m) const { return swapsSides(at(m).turn) ? at(m).width : at(m).height; }
    int32_t shownWidth(int32_t m) const;
    int32_t shownHeight(int32_t m) const;

    bool prevEnabled() const;
    bool nextEnabled() const;
    // Both shown files lie in different folders (exact bytes).
    bool moveButtonsVisible() const;
    std::string countLabel() const; // Label1
    std::string firstLabel() const; // Label2
    std::string lastLabel() const;  // Label3
    // The info memo of pane i: path, date, size and dimensions, one a line.
    std::vector<std::string> memoLines(int32_t pane) const;

    void prev();
    void next();
    void zoomOut();
    void zoomIn();
    void zoomActual();
    // d = 1..8 as BitBtn6..BitBtn13.
    void pad(int32_t direction);
    // The zoom field of pane i changed to `text`.
    TypedZoom typeZoom(int32_t pane, const std::string& text);

    void dragPress(int32_t x, int32_t y);
    // Pointer at (x, y) in the picture's own coordinates; the picture
    // control is controlWidth x controlHeight (a typed scale not yet applied
    // with Enter leaves the control at its old size).
    void dragMove(int32_t pane, int32_t x, int32_t y, int32_t controlWidth, int32_t controlHeight);
    void dragRelease();

    void choosePane(int32_t pane);   // picture double-click
    void clearChoice();              // double-click on the window surface
    void close();                    // OK or 中断: DragPane 0, DeletePane 0

    // "削除": deletes the file of DeletePane (nothing when none is chosen).
    ReviewActionOutcome deleteChosen();
    // "削除１" .. "削除３".
    ReviewActionOutcome deletePaneNow(int32_t pane);
    // "移動１" (which = 1) moves pane 1's file into pane 2's folder; "移動２"
    // the other way.
    ReviewActionOutcome move(int32_t which);

    // Member m's file is not there any more (removed since the search): it
    // is marked gone as a delete marks it, so that a re-display passes over
    // its pairs. It stays in this group.
    void markGone(int32_t m);


private:
    struct Member {
        int32_t zoom = 100;
        int32_t left = 0;
        int32_t top = 0;
        int32_t width = 0;  // the picture's own size, known without its pixels, as shown
        int32_t height = 0;
        Orientation turn = Orientation::Upright;
    };

    // The fitted scale and first placement of a member of its shown size.
    void fitMember(Member& member) const;

    // A deleted member leaves the group: Skip, its pairs in similar mode,
    // the members after it move up.
    void forgetMember(int32_t m, ReviewActionOutcome& outcome);
    // In similar mode a file that is gone takes its pairs out of play.
    void takePairsOutOfPlay(int32_t f);

    Member& at(int32_t m) { return m_members[static_cast<std::size_t>(m - 1)]; }
    const Member& at(int32_t m) const { return m_members[static_cast<std::size_t>(m - 1)]; }

    ReviewSession& m_session;
    std::vector<int32_t> m_group;
    std::vector<Member> m_members;
    ReviewFileOps m_ops;
    int32_t m_paneCount = 2;
    int32_t m_viewPos = 0;
    int32_t m_deletePane = 0;
    int32_t m_dragPane = 0;
    bool m_dragActive = false;
    int32_t m_dragOriginX = 0;
    int32_t m_dragOriginY = 0;
    bool m_deleteEnabled = false;
};
