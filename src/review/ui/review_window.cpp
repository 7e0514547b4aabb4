#include "review/ui/review_window.h"

#include <algorithm>
#include <cerrno>
#include <exception>
#include <string>
#include <utility>

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStringList>
#include <QVBoxLayout>

#include <sys/stat.h>

#include "cache/cache_location.h"
#include "common/file_name.h"
#include "common/path_text.h"
#include "marks/pair_marking.h"
#include "picture/picture_format.h"
#include "picture/picture_loader.h"
#include "picture/picture_size.h"
#include "picture/scaled_jpeg.h"
#include "review/error_messages.h"
#include "review/ui/error_box.h"
#include "review/ui/picture_view.h"
#include "review/ui/review_controls.h"
#include "review/ui/window_look.h"
#include "search/file_table.h"
#include "search/pair_list.h"

namespace {

QString fromBytes(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// A neighbour of the shown members is decoded ahead only while it is no
// larger than this at its scale: two shown pictures of hundreds of
// megapixels at 1:1 must not be joined by a third and a fourth.
constexpr int64_t kPrefetchBytes = int64_t {192} << 20;

} // namespace

ReviewWindow::ReviewWindow(QWidget* parent) : QDialog(parent)
{
    // The main window's title replaces the design caption when a group opens.
    dressWindow(*this, "Form3", gothicFont(12));
    m_cache = new PictureCache(this);
    connect(m_cache, &PictureCache::pictureReady, this, &ReviewWindow::pictureArrived);
    connect(m_cache, &PictureCache::pictureFailed, this, &ReviewWindow::pictureFailed);
    buildReviewControls(*this, m_ui);
    m_marksFile = defaultCacheFile();
    // Under "OK", left of "削除": no existing control moves for it.
    m_notSame = new QPushButton(QStringLiteral("別画像"), this);
    m_notSame->setObjectName(QStringLiteral("NotSameButton"));
    m_notSame->setGeometry(8, 48, 57, 25);
    m_notSame->setAutoDefault(false);
    m_notSame->setFocusPolicy(Qt::TabFocus);
    m_notSame->setToolTip(QStringLiteral("この二枚を「同じでない」と記録し、次の検索から外す (N)"));
    connect(m_notSame, &QPushButton::clicked, this, &ReviewWindow::notSameClick);
    for (int i = 1; i <= ReviewControls::kPanes; ++i) {
        PictureView* image = m_ui.image[static_cast<std::size_t>(i - 1)];
        image->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(image, &QWidget::customContextMenuRequested, this, [this, i, image](const QPoint& at) {
            auto* menu = new QMenu(this);
            menu->setAttribute(Qt::WA_DeleteOnClose);
            menu->addAction(QStringLiteral("これに似た画像"), this, [this, i] { showLikePictures(i); });
            menu->popup(image->mapToGlobal(at));
        });
    }
    connectControls();
}

ReviewWindow::~ReviewWindow() = default;

void ReviewWindow::connectControls()
{
    connect(m_ui.ok, &QPushButton::clicked, this, &ReviewWindow::Button1Click);
    connect(m_ui.abort, &QPushButton::clicked, this, &ReviewWindow::Button3Click);
    connect(m_ui.remove, &QPushButton::clicked, this, &ReviewWindow::Button2Click);
    connect(m_ui.prev, &QPushButton::clicked, this, &ReviewWindow::BitBtn1Click);
    connect(m_ui.next, &QPushButton::clicked, this, &ReviewWindow::BitBtn2Click);
    connect(m_ui.zoomOut, &QPushButton::clicked, this, &ReviewWindow::BitBtn3Click);
    connect(m_ui.zoomIn, &QPushButton::clicked, this, &ReviewWindow::BitBtn4Click);
    connect(m_ui.actual, &QPushButton::clicked, this, &ReviewWindow::BitBtn5Click);
    connect(m_ui.move1, &QPushButton::clicked, this, [this] { Button7Click(1); });
    connect(m_ui.move2, &QPushButton::clicked, this, [this] { Button7Click(2); });
    for (int i = 1; i <= ReviewControls::kPanes; ++i) {
        const auto k = static_cast<std::size_t>(i - 1);
        connect(m_ui.paneDelete[k], &QPushButton::clicked, this, [this, i] { Button4Click(i); });
        connect(m_ui.edit[k], &QLineEdit::textEdited, this, [this, i](const QString& text) { Edit1Change(i, text); });
        connect(m_ui.edit[k], &QLineEdit::returnPressed, this, [this, i] { Edit1KeyPress(i); });
        PictureView* image = m_ui.image[k];
        connect(image, &PictureView::doubleClicked, this, [this, i] { Image1DblClick(i); });
        connect(image, &PictureView::leftPressed, this, [this, i](int x, int y) { Image1MouseDown(i, x, y); });
        connect(image, &PictureView::dragged, this, [this, i](int x, int y) { Image1MouseMove(i, x, y); });
        connect(image, &PictureView::released, this, [this, i] { Image1MouseUp(i); });
    }
    for (int d = 1; d <= 8; ++d)
        connect(m_ui.pad[static_cast<std::size_t>(d - 1)], &QPushButton::clicked, this, [this, d] { BitBtn6Click(d); });

    // The keys act wherever the focus is, except in a zoom field; a memo
    // takes the focus only when clicked, so at open the keys are the review's.
    for (QWidget* widget : findChildren<QWidget*>())
        widget->installEventFilter(this);
    for (QPlainTextEdit* memo : m_ui.memo)
        memo->setFocusPolicy(Qt::ClickFocus);
    for (QLineEdit* edit : m_ui.edit)
        edit->setFocusPolicy(Qt::ClickFocus);
    setFocusPolicy(Qt::StrongFocus);
}

void ReviewWindow::setErrorSink(std::function<void(const QString&)> sink)
{
    m_errorSink = std::move(sink);
}

void ReviewWindow::reportError(const QString& message)
{
    if (m_errorSink)
        m_errorSink(message);
    else
        showErrorBox(isVisible() ? this : parentWidget(), message);
}

bool ReviewWindow::placeMembers()
{
    // Sizes come from the headers: nothing is decoded on this thread.
    const FileTable& files = *m_model->session().files;
    for (int32_t m = 1; m <= m_model->groupSize(); ++m) {
        const File_rec& file = files[static_cast<std::size_t>(m_model->fileOf(m))];
        if (file.skip != 0) {
            m_model->placeMissingMember(m);
            continue;
        }
        LoadedPicture failure;
        const std::optional<PictureSize> size = ReadShownSize(file.path, failure);
        if (!size) {
            // A file removed since the search is gone as if deleted here: a
            // re-display passes over its pairs and reaches the other groups.
            struct stat st {};
            if (::lstat(file.path.c_str(), &st) != 0 && errno == ENOENT)
                m_model->markGone(m);
            reportError(fromBytes(pictureLoadText(failure, file.path)));
            return false;
        }
        m_model->placeMember(m, size->width, size->height);
    }
    return true;
}

QRect ReviewWindow::visiblePart(int32_t m) const
{
    const int64_t width = m_model->pictureWidth(m);
    const int64_t height = m_model->pictureHeight(m);
    const int64_t shownWidth = m_model->shownWidth(m);
    const int64_t shownHeight = m_model->shownHeight(m);
    if (width <= 0 || height <= 0 || shownWidth <= 0 || shownHeight <= 0)
        return {};
    // The pane in the stretched picture's coordinates, then in the picture's
    // as shown, then in the stored picture's.
    const int64_t x0 = std::clamp<int64_t>(-int64_t {m_model->left(m)}, 0, shownWidth);
    const int64_t y0 = std::clamp<int64_t>(-int64_t {m_model->top(m)}, 0, shownHeight);
    const int64_t x1 = std::clamp<int64_t>(x0 + m_model->paneWidth(), 0, shownWidth);
    const int64_t y1 = std::clamp<int64_t>(y0 + m_model->paneHeight(), 0, shownHeight);
    const int64_t left = x0 * width / shownWidth;
    const int64_t top = y0 * height / shownHeight;
    const int64_t right = (x1 * width + shownWidth - 1) / shownWidth;
    const int64_t bottom = (y1 * height + shownHeight - 1) / shownHeight;
    if (right <= left || bottom <= top)
        return {};
    const QRect shown(static_cast<int>(left), static_cast<int>(top), static_cast<int>(right - left),
                      static_cast<int>(bottom - top));
    const Orientation turn = m_model->turn(m);
    if (turn == Orientation::Upright)
        return shown;
    const PixelAt a = storedPixel(turn, m_model->storedWidth(m), m_model->storedHeight(m), shown.left(), shown.top());
    const PixelAt b = storedPixel(turn, m_model->storedWidth(m), m_model->storedHeight(m), shown.right(), shown.bottom());
    return QRect(QPoint(a.x, a.y), QPoint(b.x, b.y)).normalized();
}

std::vector<PictureCache::Want> ReviewWindow::wantedPictures() const
{
    std::vector<PictureCache::Want> wants;
    const FileTable& files = *m_model->session().files;
    auto add = [&](int32_t m, bool shown) {
        if (m < 1 || m > m_model->groupSize())
            return;
        const int32_t f = m_model->fileOf(m);
        const File_rec& file = files[static_cast<std::size_t>(f)];
        if (file.skip != 0)
            return;
        // Decoded no finer than the member's scale shows it.
        int32_t scale = jpegScaleForZoom(m_model->zoom(m));
        const int64_t bytes = int64_t {(m_model->pictureWidth(m) + scale - 1) / scale} *
                              ((m_model->pictureHeight(m) + scale - 1) / scale) * 3;
        QRect part;
        if (bytes > m_wholePictureLimit && scale == 1 && decoderFormatOf(file.path) == PictureFormat::Jpeg) {
            // Too large to hold whole at full size: a small whole picture
            // behind, and what the pane shows at full size.
            scale = 8;
            if (!shown)
                return;
            part = visiblePart(m);
        } else if (!shown && bytes > kPrefetchBytes) {
            return;
        }
        wants.push_back({f, file.path, scale, part});
    };
    const int32_t pos = m_model->viewPos();
    for (int32_t i = 1; i <= m_model->shownPanes(); ++i)
        add(pos + i, true);
    add(pos + m_model->shownPanes() + 1, false);
    add(pos, false);
    return wants;
}

bool ReviewWindow::openGroup(ReviewSession& session, std::vector<int32_t>& group, int32_t paneCount,
                             const GroupPlace& place)
{
    m_cache->clear();
    m_reportedFailures.clear();
    m_group = &group;
    m_session = &session;
    m_model = std::make_unique<ReviewModel>(session, group, paneCount);
    m_turns = session.pairs != nullptr ? GroupTurns(*session.pairs, session.orientations, group) : GroupTurns {};
    m_zoomAtEdit.assign(static_cast<std::size_t>(ReviewControls::kPanes), 0);
    if (parentWidget() != nullptr && !parentWidget()->windowTitle().isEmpty())
        setWindowTitle(parentWidget()->windowTitle());
    m_ui.groupLabel->setText(place.total > 0 ? QStringLiteral("グループ %1 / %2").arg(place.number).arg(place.total)
                                             : QString());
    layoutReviewControls(*this, m_ui, *m_model);
    // The notice of the last group's action stays until the next action; a
    // new walk starts without one.
    setNotice(place.number > 1 ? m_notice : QString());
    awaitNewPair();
    m_ui.remove->setEnabled(false);
    if (!placeMembers())
        return false;
    // The pictures follow from the worker; the panes show a placeholder
    // until they arrive.
    DisplayFile();
    show();
    return true;
}

ReviewResult ReviewWindow::CheckFile(ReviewSession& session, std::vector<int32_t>& group, int32_t paneCount,
                                     const GroupPlace& place)
{
    if (!openGroup(session, group, paneCount, place))
        return ReviewResult::Abort;
    const int result = exec();
    if (result == static_cast<int>(ReviewResult::Ok))
        return ReviewResult::Ok;
    if (result == static_cast<int>(ReviewResult::Abort))
        return ReviewResult::Abort;
    return ReviewResult::Cancel;
}

void ReviewWindow::done(int result)
{
    QDialog::done(result);
    // The decoded pictures are not needed between groups.
    m_cache->clear();
    for (PictureView* image : m_ui.image)
        image->setPicture(nullptr);
}

void ReviewWindow::awaitNewPair()
{
    m_pairPainted = false;
    m_pairShown.invalidate();
}

bool ReviewWindow::pairSettled() const
{
    return m_pairPainted && m_pairShown.isValid() && m_pairShown.elapsed() >= m_settleMs;
}

void ReviewWindow::setNotice(const QString& text)
{
    m_notice = text;
    // A long path keeps its ends: the folder's start and the file's name.
    m_ui.notice->setText(m_ui.notice->fontMetrics().elidedText(text, Qt::ElideMiddle, m_ui.notice->width()));
    m_ui.notice->setToolTip(text);
}

void ReviewWindow::showPanePictures()
{
    QString failures;
    bool allPainted = true;
    for (int32_t i = 1; i <= m_model->shownPanes(); ++i) {
        const int32_t f = m_model->fileOf(m_model->memberInPane(i));
        PictureView* image = m_ui.image[static_cast<std::size_t>(i - 1)];
        image->setPicture(m_cache->find(f));
        const PictureCache::Part* part = m_cache->findPart(f);
        const int32_t m = m_model->memberInPane(i);
        if (part != nullptr)
            image->setPart(part->picture, part->area, QSize(m_model->storedWidth(m), m_model->storedHeight(m)));
        else
            image->setPart(nullptr, {}, {});
        // A picture that fails leaves its pane empty; its error is shown the
        // first time the member is on view.
        const std::string* failure = m_cache->failureOf(f);
        image->setPending(failure == nullptr);
        if (failure != nullptr && m_reportedFailures.insert(f).second)
            failures += (failures.isEmpty() ? QString() : QStringLiteral("\n")) + fromBytes(*failure);
        // A member whose file is gone has nothing to wait for.
        const bool gone = (*m_model->session().files)[static_cast<std::size_t>(f)].skip != 0;
        if (!gone && failure == nullptr && m_cache->find(f) == nullptr && part == nullptr)
            allPainted = false;
    }
    if (allPainted && !m_pairPainted) {
        m_pairPainted = true;
        m_pairShown.start();
    }
    if (!failures.isEmpty())
        reportError(failures);
}

void ReviewWindow::applyTurns()
{
    for (int32_t i = 1; i <= m_model->shownPanes(); ++i) {
        const int32_t m = m_model->memberInPane(i);
        const Orientation turn =
            i == 1 ? Orientation::Upright : m_turns.turnOf(m_model->fileOf(m), m_model->fileOf(m_model->memberInPane(1)));
        m_model->setTurn(m, turn);
        m_ui.image[static_cast<std::size_t>(i - 1)]->setTurn(turn);
    }
}

void ReviewWindow::DisplayFile()
{
    if (!m_model)
        return;
    applyTurns();
    m_ui.move1->setVisible(m_model->moveButtonsVisible());
    m_ui.move2->setVisible(m_model->moveButtonsVisible());
    for (int32_t i = 1; i <= m_model->paneCount(); ++i) {
        const auto k = static_cast<std::size_t>(i - 1);
        m_ui.image[k]->setPicture(nullptr);
        m_ui.memo[k]->clear();
        QPalette palette = m_ui.edit[k]->palette();
        palette.setColor(QPalette::Base, i == m_model->deletePane() ? Qt::red : Qt::white);
        palette.setColor(QPalette::Text, Qt::black);
        m_ui.edit[k]->setPalette(palette);
        m_ui.edit[k]->hide();
    }
    m_ui.prev->setEnabled(m_model->prevEnabled());
    m_ui.next->setEnabled(m_model->nextEnabled());
    m_ui.remove->setEnabled(m_model->deleteEnabled());
    m_notSame->setEnabled(m_model->shownPanes() >= 2);
    m_ui.countLabel->setText(fromBytes(m_model->countLabel()));
    m_ui.firstLabel->setText(fromBytes(m_model->firstLabel()));
    m_ui.lastLabel->setText(fromBytes(m_model->lastLabel()));
    for (int32_t i = 1; i <= m_model->shownPanes(); ++i) {
        const auto k = static_cast<std::size_t>(i - 1);
        const int32_t m = m_model->memberInPane(i);
        m_ui.image[k]->setGeometry(m_model->left(m), m_model->top(m), m_model->shownWidth(m), m_model->shownHeight(m));
        const std::vector<std::string> lines = m_model->memoLines(i);
        QString memo = pathText(lines[0]) + QLatin1Char('\n') + fromBytes(lines[1]) + QLatin1Char('\n') +
                       fromBytes(lines[2]);
        // Only the view turns; the file stays as it is.
        if (const Orientation turn = m_model->turn(m); turn != Orientation::Upright)
            memo += QStringLiteral("\n表示の向き：") + fromBytes(turnText(turn)) + QStringLiteral(" (")
                    + fromBytes(std::string(orientationName(turn))) + QLatin1Char(')');
        m_ui.memo[k]->setPlainText(memo);
        m_ui.edit[k]->setText(QString::number(m_model->zoom(m)));
        m_ui.edit[k]->show();
        m_ui.edit[k]->raise();
    }
    // Wants first: a part no longer wanted must not stay on view.
    m_cache->setWanted(wantedPictures());
    showPanePictures();
}

void ReviewWindow::syncGroup()
{
    if (m_group != nullptr)
        *m_group = m_model->group();
}

void ReviewWindow::applyOutcome(const ReviewActionOutcome& outcome)
{
    syncGroup();
    QStringList trashed;
    for (const std::string& path : outcome.trashed)
        trashed << pathText(path);
    setNotice(trashed.isEmpty() ? QString() : QStringLiteral("ゴミ箱へ移動しました：") + trashed.join(QStringLiteral("、")));
    // A delete or a move changes what is on show.
    awaitNewPair();
    if (!outcome.error.empty())
        reportError(fromBytes(outcome.error));
    DisplayFile();
    if (outcome.closeWindow)
        done(static_cast<int>(ReviewResult::Ok));
}

void ReviewWindow::BitBtn1Click()
{
    if (!pairSettled())
        return;
    setNotice({});
    const int32_t before = m_model->viewPos();
    m_model->prev();
    if (m_model->viewPos() != before)
        awaitNewPair();
    DisplayFile();
}

void ReviewWindow::BitBtn2Click()
{
    if (!pairSettled())
        return;
    setNotice({});
    const int32_t before = m_model->viewPos();
    m_model->next();
    if (m_model->viewPos() != before)
        awaitNewPair();
    DisplayFile();
}

void ReviewWindow::Button1Click()
{
    if (!pairSettled())
        return;
    setNotice({});
    m_model->close();
    done(static_cast<int>(ReviewResult::Ok));
}

void ReviewWindow::Button3Click()
{
    m_model->close();
    done(static_cast<int>(ReviewResult::Abort));
}

void ReviewWindow::Button2Click()
{
    if (pairSettled())
        applyOutcome(m_model->deleteChosen());
}

void ReviewWindow::Button4Click(int32_t pane)
{
    if (pairSettled())
        applyOutcome(m_model->deletePaneNow(pane));
}

void ReviewWindow::Button7Click(int32_t which)
{
    if (pairSettled())
        applyOutcome(m_model->move(which));
}

void ReviewWindow::notSameClick()
{
    if (!pairSettled() || m_model->shownPanes() < 2)
        return;
    const std::string& a = (*m_session->files)[static_cast<std::size_t>(m_model->fileOf(m_model->memberInPane(1)))].path;
    const std::string& b = (*m_session->files)[static_cast<std::size_t>(m_model->fileOf(m_model->memberInPane(2)))].path;
    const PairMarking marking = markPairNotSame(m_marksFile, a, b);
    if (!marking.done) {
        reportError(QStringLiteral("「同じでない」と記録できません: ") + fromBytes(marking.problem));
        return;
    }
    setNotice(QStringLiteral("同じでない: ") + fromBytes(std::string(fileNameOf(a))) + QStringLiteral(" と ")
              + fromBytes(std::string(fileNameOf(b))));
}

void ReviewWindow::showLikePictures(int32_t pane)
{
    if (!m_model || pane > m_model->shownPanes())
        return;
    const int32_t file = m_model->fileOf(m_model->memberInPane(pane));
    const FileTable& files = *m_session->files;
    // The pair list is in result-line order, best score first; a file sent
    // away in this review no longer counts.
    QStringList partners;
    for (const PairRec& pair : *m_session->pairs) {
        if (pair.indexA != file && pair.indexB != file)
            continue;
        const int32_t other = pair.indexA == file ? pair.indexB : pair.indexA;
        if (other >= 0 && static_cast<std::size_t>(other) < files.size()
            && files[static_cast<std::size_t>(other)].skip == 0)
            partners << fromBytes(files[static_cast<std::size_t>(other)].path);
    }
    partners.removeDuplicates();
    auto* dialog = new QDialog(this);
    dialog->setObjectName(QStringLiteral("LikePictures"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(QStringLiteral("これに似た画像"));
    auto* layout = new QVBoxLayout(dialog);
    layout->addWidget(new QLabel(fromBytes(files[static_cast<std::size_t>(file)].path), dialog));
    auto* list = new QListWidget(dialog);
    list->addItems(partners);
    if (partners.isEmpty())
        list->addItem(QStringLiteral("（なし）"));
    layout->addWidget(list);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, dialog);
    connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    layout->addWidget(buttons);
    dialog->resize(560, 320);
    // Window-modal without a loop of its own: the review's is the one.
    dialog->open();
}

void ReviewWindow::BitBtn3Click()
{
    m_model->zoomOut();
    DisplayFile();
}

void ReviewWindow::BitBtn4Click()
{
    m_model->zoomIn();
    DisplayFile();
}

void ReviewWindow::BitBtn5Click()
{
    m_model->zoomActual();
    DisplayFile();
}

void ReviewWindow::BitBtn6Click(int32_t direction)
{
    m_model->pad(direction);
    DisplayFile();
}

void ReviewWindow::pictureArrived(int32_t file)
{
    if (!m_model || !isVisible())
        return;
    const std::optional<PictureCache::FullSize> full = m_cache->fullSizeOf(file);
    for (int32_t i = 1; i <= m_model->shownPanes(); ++i) {
        const int32_t m = m_model->memberInPane(i);
        if (m_model->fileOf(m) != file || !full)
            continue;
        if (full->width != m_model->storedWidth(m) || full->height != m_model->storedHeight(m)) {
            // The header told another size than the decoder: trust the pixels.
            m_model->placeMember(m, full->width, full->height);
            DisplayFile();
            return;
        }
    }
    showPanePictures();
}

void ReviewWindow::pictureFailed(int32_t, const QString&)
{
    if (m_model && isVisible())
        showPanePictures();
}
