#include "review/review_model.h"

#include <algorithm>
#include <utility>

#include "common/file_name.h"
#include "common/folder_path.h"
#include "common/integer_text.h"
#include "review/error_messages.h"
#include "search/file_table.h"
#include "search/pair_list.h"
#include "search/search_options.h"

namespace {

// Below this the fitted scale is not lowered: a huge photograph is shown at a
// quarter and panned rather than shrunk to a thumbnail.
constexpr int32_t kMinFitZoom = 25;
// Zoom out leaves members at or below this alone (100 -> 50 -> 25 -> 12).
constexpr int32_t kZoomOutFloor = 20;
// Zoom in doubles only up to this (at most 1600 %).
constexpr int32_t kZoomInCeiling = 800;
// The 100 % button leaves members above this alone (reachable only by typing).
constexpr int32_t kActualCeiling = 1600;

int32_t scaled(int32_t size, int32_t zoom)
{
    return static_cast<int32_t>(int64_t{size} * zoom / 100);
}

} // namespace

ReviewModel::ReviewModel(ReviewSession& session, std::vector<int32_t> group, int32_t paneCount, ReviewFileOps ops)
    : m_session(session), m_group(std::move(group)), m_members(m_group.size()), m_ops(std::move(ops)),
      m_paneCount(paneCount)
{
}

int32_t ReviewModel::zoomFit(int32_t width, int32_t height, int32_t paneWidth, int32_t paneHeight)
{
    if (width > paneWidth && height > paneHeight) {
        const int32_t fit = std::max(paneWidth * 100 / width, paneHeight * 100 / height);
        return std::max(fit, kMinFitZoom);
    }
    return 100;
}

void ReviewModel::placeMember(int32_t m, int32_t width, int32_t height)
{
    File_rec& file = (*m_session.files)[static_cast<std::size_t>(fileOf(m))];
    file.width = width;
    file.height = height;
    Member& member = at(m);
    const bool swapped = swapsSides(member.turn);
    member.width = swapped ? height : width;
    member.height = swapped ? width : height;
    fitMember(member);
}

void ReviewModel::fitMember(Member& member) const
{
    const int32_t w = paneWidth();
    const int32_t h = paneHeight();
    member.zoom = zoomFit(member.width, member.height, w, h);
    member.left = std::min(0, (w - scaled(member.width, member.zoom)) / 2);
    member.top = std::min(0, (h - scaled(member.height, member.zoom)) / 4);
}

void ReviewModel::placeMissingMember(int32_t m)
{
    at(m) = Member{};
}

void ReviewModel::setTurn(int32_t m, Orientation turn)
{
    Member& member = at(m);
    if (member.turn == turn)
        return;
    const bool swap = swapsSides(member.turn) != swapsSides(turn);
    member.turn = turn;
    if (swap) {
        std::swap(member.width, member.height);
        fitMember(member);
    }
}

int32_t ReviewModel::shownPanes() const
{
    return std::min(m_paneCount, groupSize());
}

int32_t ReviewModel::shownWidth(int32_t m) const
{
    return scaled(at(m).width, at(m).zoom);
}

int32_t ReviewModel::shownHeight(int32_t m) const
{
    return scaled(at(m).height, at(m).zoom);
}

bool ReviewModel::prevEnabled() const
{
    if (m_viewPos == 0 || m_dragPane > 0)
        return false;
    return groupSize() > m_paneCount;
}

bool ReviewModel::nextEnabled() const
{
    if (m_viewPos == groupSize() - m_paneCount || m_dragPane > 0)
        return false;
    return groupSize() > m_paneCount;
}

bool ReviewModel::moveButtonsVisible() const
{
    if (m_paneCount != 2 || groupSize() < m_viewPos + 2)
        return false;
    const FileTable& files = *m_session.files;
    return parentFolder(files[static_cast<std::size_t>(fileOf(m_viewPos + 1))].path) !=
           parentFolder(files[static_cast<std::size_t>(fileOf(m_viewPos + 2))].path);
}

std::string ReviewModel::countLabel() const
{
    return "検出数：" + std::to_string(groupSize());
}

std::string ReviewModel::firstLabel() const
{
    return "開始：" + std::to_string(m_viewPos + 1);
}

std::string ReviewModel::lastLabel() const
{
    return "終了：" + std::to_string(std::min(groupSize(), m_viewPos + m_paneCount));
}

std::vector<std::string> ReviewModel::memoLines(int32_t pane) const
{
    const File_rec& file = (*m_session.files)[static_cast<std::size_t>(fileOf(memberInPane(pane)))];
    return {file.path, "日付:  " + file.stamp,
            "ﾌｧｲﾙｻｲｽﾞ:  " + std::to_string(file.size) + "   横：  " + std::to_string(file.width) + "   縦：  " +
                std::to_string(file.height)};
}

void ReviewModel::prev()
{
    if (m_viewPos > 0)
        --m_viewPos;
}

void ReviewModel::next()
{
    if (groupSize() - m_viewPos > m_paneCount)
        ++m_viewPos;
}

void ReviewModel::zoomOut()
{
    const int32_t w = paneWidth();
    const int32_t h = paneHeight();
    for (int32_t m = 1; m <= groupSize(); ++m) {
        Member& p = at(m);
        if (p.zoom <= kZoomOutFloor)
            continue;
        p.zoom = p.zoom / 2;
        const int32_t sw = scaled(p.width, p.zoom);
        const int32_t sh = scaled(p.height, p.zoom);
        if (sw > w) {
            // Keep the point at the pane's centre where it is.
            const int32_t t = (w / 2 - p.left) / 2;
            p.left = std::max(w - sw, std::min(0, w / 2 - t));
        } else {
            p.left = 0;
        }
        if (sh > h) {
            const int32_t t = (h / 2 - p.top) / 2;
            p.top = std::max(h - sh, std::min(0, h / 2 - t));
        } else {
            p.top = 0;
        }
    }
}

void ReviewModel::zoomIn()
{
    const int32_t w = paneWidth();
    const int32_t h = paneHeight();
    for (int32_t m = 1; m <= groupSize(); ++m) {
        Member& p = at(m);
        if (p.zoom > kZoomInCeiling)
            continue;
        p.zoom = p.zoom * 2;
        const int32_t sw = scaled(p.width, p.zoom);
        const int32_t sh = scaled(p.height, p.zoom);
        if (sw > w) {
            // Already overflowing: zoom about the centre; else centre it.
            if (int64_t{p.width} * p.zoom / 200 > w)
                p.left = std::min(0, 2 * p.left - w / 2);
            else
                p.left = (w - sw) / 2;
        } else {
            p.left = 0;
        }
        if (sh > h) {
            if (int64_t{p.height} * p.zoom / 200 > h)
                p.top = std::min(0, 2 * p.top - h / 2);
            else
                p.top = (h - sh) / 4;
        } else {
            p.top = 0;
        }
    }
}

void ReviewModel::zoomActual()
{
    const int32_t w = paneWidth();
    const int32_t h = paneHeight();
    for (int32_t m = 1; m <= groupSize(); ++m) {
        Member& p = at(m);
        if (p.zoom > kActualCeiling)
            continue;
        p.zoom = 100;
        p.left = p.width > w ? (w - p.width) / 2 : 0;
        p.top = p.height > h ? (h - p.height) / 2 : 0;
    }
}

void ReviewModel::pad(int32_t direction)
{
    const int32_t w = paneWidth();
    const int32_t h = paneHeight();
    const bool left = direction == 1 || direction == 4 || direction == 6;
    const bool right = direction == 3 || direction == 5 || direction == 8;
    const bool up = direction == 1 || direction == 2 || direction == 3;
    const bool down = direction == 6 || direction == 7 || direction == 8;
    for (int32_t m = 1; m <= groupSize(); ++m) {
        Member& p = at(m);
        const int32_t sw = scaled(p.width, p.zoom);
        const int32_t sh = scaled(p.height, p.zoom);
        if (sw > w) {
            if (left)
                p.left = std::min(0, p.left + w / 3);
            else if (right)
                p.left = std::max(w - sw, p.left - w / 3);
        }
        if (sh > h) {
            if (up)
                p.top = std::min(0, p.top + h / 3);
            else if (down)
                p.top = std::max(h - sh, p.top - h / 3);
        }
    }
}

TypedZoom ReviewModel::typeZoom(int32_t pane, const std::string& text)
{
    if (text.empty())
        return TypedZoom::Empty;
    const std::optional<int32_t> value = parseDecimalInt32(text);
    if (!value)
        return TypedZoom::NotInteger;
    if (pane < 1 || pane > shownPanes())
        return TypedZoom::Refused;
    Member& p = at(memberInPane(pane));
    // A scale of 0 or below draws nothing or nonsense; one that would make the
    // picture larger than a window can place is refused too.
    if (*value <= 0 || int64_t{p.width} * *value / 100 > kMaxShownSize ||
        int64_t{p.height} * *value / 100 > kMaxShownSize)
        return TypedZoom::Refused;
    p.zoom = *value;
    return TypedZoom::Stored;
}

void ReviewModel::dragPress(int32_t x, int32_t y)
{
    m_dragOriginX = x;
    m_dragOriginY = y;
    m_dragActive = true;
}

void ReviewModel::dragMove(int32_t pane, int32_t x, int32_t y, int32_t controlWidth, int32_t controlHeight)
{
    if (!m_dragActive || pane < 1 || pane > shownPanes())
        return;
    m_dragPane = pane;
    Member& p = at(memberInPane(pane));
    // The origin stays: the picture follows the pointer, so the grabbed point
    // stays under it.
    p.left = std::max(std::min(0, paneWidth() - controlWidth), std::min(0, p.left + x - m_dragOriginX));
    p.top = std::max(std::min(0, paneHeight() - controlHeight), std::min(0, p.top + y - m_dragOriginY));
}

void ReviewModel::dragRelease()
{
    m_dragActive = false;
    m_dragPane = 0;
}

void ReviewModel::choosePane(int32_t pane)
{
    m_deletePane = pane;
    m_deleteEnabled = true;
}

void ReviewModel::clearChoice()
{
    m_deletePane = 0;
    m_deleteEnabled = false;
}

void ReviewModel::close()
{
    m_dragPane = 0;
    m_deletePane = 0;
}

ReviewActionOutcome ReviewModel::deleteChosen()
{
    ReviewActionOutcome outcome;
    if (m_deletePane == 0)
        return outcome;
    const int32_t m = m_viewPos + m_deletePane;
    if (m > groupSize()) {
        clearChoice();
        return outcome;
    }
    const FileActionResult trashed = m_ops.trash((*m_session.files)[static_cast<std::size_t>(fileOf(m))].path);
    if (!trashed.ok()) {
        // The file is still there: it stays in the group and in later reviews.
        outcome.error = trashed.error;
        clearChoice();
        return outcome;
    }
    outcome.trashed.push_back((*m_session.files)[static_cast<std::size_t>(fileOf(m))].path);
    forgetMember(m, outcome);
    return outcome;
}

void ReviewModel::markGone(int32_t m)
{
    const int32_t f = fileOf(m);
    (*m_session.files)[static_cast<std::size_t>(f)].skip = 1;
    takePairsOutOfPlay(f);
}

void ReviewModel::takePairsOutOfPlay(int32_t f)
{
    if (m_session.mode != CheckMode::Similar || m_session.pairs == nullptr)
        return;
    for (PairRec& pair : *m_session.pairs) {
        if (pair.state != PairState::OutOfPlay && (pair.indexA == f || pair.indexB == f))
            pair.state = PairState::OutOfPlay;
    }
}

void ReviewModel::forgetMember(int32_t m, ReviewActionOutcome& outcome)
{
    const int32_t f = fileOf(m);
    (*m_session.files)[static_cast<std::size_t>(f)].skip = 1;
    takePairsOutOfPlay(f);
    // Members after the deleted one move up, keeping their scale and position.
    m_group.erase(m_group.begin() + (m - 1));
    m_members.erase(m_members.begin() + (m - 1));
    if (m_viewPos > 0 && m_viewPos + m_paneCount > groupSize())
        --m_viewPos;
    if (groupSize() == 1) {
        close();
        outcome.closeWindow = true;
    }
    clearChoice();
}

ReviewActionOutcome ReviewModel::deletePaneNow(int32_t pane)
{
    m_deletePane = pane;
    return deleteChosen();
}

ReviewActionOutcome ReviewModel::move(int32_t which)
{
    ReviewActionOutcome outcome;
    if (!moveButtonsVisible() || (which != 1 && which != 2))
        return outcome;
    FileTable& files = *m_session.files;
    const int32_t a = fileOf(m_viewPos + 1);
    const int32_t b = fileOf(m_viewPos + 2);
    const int32_t source = which == 1 ? a : b;
    const int32_t target = which == 1 ? b : a;
    const std::string from = files[static_cast<std::size_t>(source)].path;
    const std::string to =
        childPath(parentFolder(files[static_cast<std::size_t>(target)].path), std::string(fileNameOf(from)));
    // Nothing changes unless the move can be made: a same-named file in the
    // target folder is trashed only when the move that needs it out of the
    // way is known to be possible.
    const FileActionResult checked = m_ops.check(from, to);
    if (!checked.ok()) {
        outcome.error = checked.error;
        return outcome;
    }
    // The file the move would overwrite goes to the trash first, so it can
    // be restored; if that fails, the move must not destroy it.
    const bool sameName =
        fileNameOf(files[static_cast<std::size_t>(a)].path) == fileNameOf(files[static_cast<std::size_t>(b)].path);
    const int32_t other = m_viewPos + (which == 1 ? 2 : 1);
    const std::string otherPath = files[static_cast<std::size_t>(fileOf(other))].path;
    FileActionResult trashed;
    if (sameName) {
        trashed = m_ops.trash(otherPath);
        if (!trashed.ok()) {
            outcome.error = moveFailedText(from, to) + "\n" + trashed.error;
            clearChoice();
            return outcome;
        }
    }
    const FileActionResult moved = m_ops.move(from, to);
    if (!moved.ok()) {
        outcome.error = moved.error;
        if (sameName) {
            // Back where it was, so the failed move costs the user nothing.
            const FileActionResult restored = m_ops.restore(trashed.trashed, otherPath);
            outcome.error += "\n" + (restored.ok() ? restoredText(otherPath) : restored.error);
            if (!restored.ok())
                forgetMember(other, outcome); // it stays in the trash
        }
        return outcome;
    }
    if (sameName) {
        outcome.trashed.push_back(otherPath);
        forgetMember(other, outcome);
    } else if (!moved.trashed.filePath.empty()) {
        // A file of the same name that the review never showed made room.
        outcome.trashed.push_back(to);
    }
    files[static_cast<std::size_t>(source)].path = to;
    return outcome;
}
