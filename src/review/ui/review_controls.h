#pragma once

#include <array>
#include <cstdint>

class QFrame;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QWidget;
class PictureView;
class ReviewModel;

// The review window's controls under their designer names (Button1, Label1,
// Image1 ...): made once with their captions, glyphs, tool tips and fixed
// places, laid out again for each group. The window owns them as children.
struct ReviewControls {
    static constexpr int32_t kPanes = 3;

    QPushButton* ok = nullptr;      // Button1
    QPushButton* abort = nullptr;   // Button3
    QPushButton* remove = nullptr;  // Button2, "削除" of the chosen pane
    QPushButton* zoomOut = nullptr; // BitBtn3
    QPushButton* zoomIn = nullptr;  // BitBtn4
    QPushButton* actual = nullptr;  // BitBtn5
    QPushButton* prev = nullptr;    // BitBtn1
    QPushButton* next = nullptr;    // BitBtn2
    QLabel* countLabel = nullptr;   // Label1
    QLabel* firstLabel = nullptr;   // Label2
    QLabel* lastLabel = nullptr;    // Label3
    QLabel* groupLabel = nullptr;   // "グループ n / total"
    QLabel* notice = nullptr;       // names the file the last action sent to the trash
    QFrame* panel = nullptr;        // Panel1, around the panes
    QPushButton* move1 = nullptr;   // Button7
    QPushButton* move2 = nullptr;   // Button8
    // Per pane 1..3 at [0..2].
    std::array<QFrame*, kPanes> scrollBox {};
    std::array<PictureView*, kPanes> image {};
    std::array<QPlainTextEdit*, kPanes> memo {};
    std::array<QLineEdit*, kPanes> edit {};
    std::array<QPushButton*, kPanes> paneDelete {}; // Button4..Button6
    // BitBtn6..BitBtn13, direction 1..8 at [0..7].
    std::array<QPushButton*, 8> pad {};
};

// Makes every control as a child of `window` and fills `controls`.
void buildReviewControls(QWidget& window, ReviewControls& controls);

// Places the panes, memos, zoom fields and pane buttons for the model's pane
// size and count, and the labels for its group; fixes the window's size to
// fit them and the top row, at the screen's top left.
void layoutReviewControls(QWidget& window, ReviewControls& controls, const ReviewModel& model);
