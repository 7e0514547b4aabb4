#pragma once

#include <cstdint>
#include <vector>

#include <QDialog>

#include "review/group_walk.h"
#include "review/review_session.h"

// The review window (TForm3): shows one group of matching pictures side by
// side, modally.
class ReviewWindow : public QDialog {
    Q_OBJECT
public:
    explicit ReviewWindow(QWidget* parent = nullptr);

    // Shows `group` (FileTable indices; shrinks as files are deleted) with
    // paneCount panes and returns when the window closes.
    ReviewResult CheckFile(ReviewSession& session, std::vector<int32_t>& group, int32_t paneCount = 2);
};
