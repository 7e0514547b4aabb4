#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <QDialog>
#include <QElapsedTimer>
#include <QRect>
#include <QString>

#include "review/group_walk.h"
#include "review/pair_turns.h"
#include "review/review_model.h"
#include "review/review_session.h"
#include "review/ui/picture_cache.h"
#include "review/ui/review_controls.h"

// The review window (TForm3): shows one group of matching pictures side by
// side, modally, with stepping, zoom and pan, delete and move.
class ReviewWindow : public QDialog {
    Q_OBJECT
    friend class ReviewWindowTestPeer;

public:
    explicit ReviewWindow(QWidget* parent = nullptr);
    ~ReviewWindow() override;

    // After a new pair comes on show, clicks and keys that would act on it
    // (delete, move, OK, Prev, Next) are dropped for this long: a double
    // press must not reach a pair the user has not yet seen, and a person
    // who looks first is not slowed.
    static constexpr int64_t kSettleMs = 150;

    // Shows `group` (FileTable indices; shrinks as files are deleted) with
    // paneCount panes and returns when the window closes. `place` (when its
    // total is known) is shown as "グループ n / total". A group whose
    // pictures cannot be read shows the error and answers Abort, which ends
    // the walk, without opening the window; a file found gone is marked gone.
    ReviewResult CheckFile(ReviewSession& session, std::vector<int32_t>& group, int32_t paneCount = 2,
                           const GroupPlace& place = {});

    // A JPEG whose full-size picture would take more bytes than this is
    // held whole only at a smaller scale; at full size only the part on view
    // (and a margin) is decoded.
    void setWholePictureLimit(int64_t bytes) { m_wholePictureLimit = bytes; }

    // How error messages reach the user; a message box unless replaced.
    void setErrorSink(std::function<void(const QString&)> sink);

    // The database the "not the same" marks go to: the signature cache the
    // search used (the default cache unless set).
    void setMarksFile(std::string file) { m_marksFile = std::move(file); }

    const ReviewModel* model() const { return m_model.get(); }
    PictureCache* pictureCache() const { return m_cache; }

    // Repaints the whole view for the model's ViewPos.
    void DisplayFile();

    // Closes with a modal result and lets the group's pictures go.
    void done(int result) override;

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // CheckFile without the modal loop: lays out and fills the window and
    // shows it; false (after reporting) when a picture cannot be read.
    // `group` must outlive the open window.
    bool openGroup(ReviewSession& session, std::vector<int32_t>& group, int32_t paneCount = 2,
                   const GroupPlace& place = {});
    // A new pair is coming on show: actions wait until it is painted and
    // has been on view for kSettleMs.
    void awaitNewPair();
    bool pairSettled() const;
    // The line naming what went to the trash; empty clears it.
    void setNotice(const QString& text);
    void connectControls();
    std::vector<PictureCache::Want> wantedPictures() const;
    // The part of member m's picture that its pane shows, in the picture's
    // own pixels.
    QRect visiblePart(int32_t m) const;
    void showPanePictures();
    // The pair on show lies as the search matched it: pane 1 as stored,
    // the others turned to look like it.
    void applyTurns();
    bool placeMembers();
    void reportError(const QString& message);
    // Presses the button a key stands for, under that button's own rules
    // (shown and enabled); false when the key is not the review's.
    bool triageKey(QKeyEvent* event);
    // Esc in zoom field `pane`: the field gets back the scale it had when it
    // took the focus, and the focus returns to the window.
    void leaveZoomField(int32_t pane);
    void applyOutcome(const ReviewActionOutcome& outcome);
    void syncGroup();

    void BitBtn1Click();
    void BitBtn2Click();
    void Button1Click();
    void Button3Click();
    void Button2Click();
    void Button4Click(int32_t pane);
    void Button7Click(int32_t which);
    void BitBtn3Click();
    void BitBtn4Click();
    void BitBtn5Click();
    void BitBtn6Click(int32_t direction);
    void Edit1Change(int32_t pane, const QString& text);
    void Edit1KeyPress(int32_t pane);
    void Image1DblClick(int32_t pane);
    void Image1MouseDown(int32_t pane, int x, int y);
    void Image1MouseMove(int32_t pane, int x, int y);
    void Image1MouseUp(int32_t pane);
    // Marks the pair on show (panes 1 and 2) as not the same.
    void notSameClick();
    // Lists, in a small window, the files the search paired with the
    // picture of `pane`, best first.
    void showLikePictures(int32_t pane);
    void pictureArrived(int32_t file);
    void pictureFailed(int32_t file, const QString& message);

    std::unique_ptr<ReviewModel> m_model;
    GroupTurns m_turns; // of the group on show
    ReviewSession* m_session = nullptr;
    std::string m_marksFile;
    QPushButton* m_notSame = nullptr; // beside the existing buttons, in the free place under "OK"
    std::vector<int32_t>* m_group = nullptr;
    PictureCache* m_cache = nullptr;
    std::function<void(const QString&)> m_errorSink;
    std::set<int32_t> m_reportedFailures; // files whose load error was shown
    bool m_pairPainted = false; // every shown pane has its picture or its error
    QElapsedTimer m_pairShown;  // since the pair on show was painted
    int64_t m_settleMs = kSettleMs;
    std::vector<int32_t> m_zoomAtEdit; // per pane: the scale when its field took the focus
    QString m_notice;
    int64_t m_wholePictureLimit = int64_t {256} << 20;

    ReviewControls m_ui;
};
