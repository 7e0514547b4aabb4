#include "review/ui/review_window.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <utility>

#include <QFile>
#include <QFont>
#include <QFrame>
#include <QImageReader>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/file_name.h"
#include "common/path_text.h"
#include "picture/picture_file.h"
#include "picture/picture_loader.h"
#include "picture/picture_size.h"
#include "picture/scaled_jpeg.h"
#include "review/error_messages.h"
#include "review/ui/error_box.h"
#include "review/ui/picture_view.h"
#include "review/ui/review_keys.h"
#include "search/file_table.h"

namespace {

// The title line when the window has no main window to take it from.
const QString kTitle = QStringLiteral("Zelvic\u3000Ver\u30000.9");

constexpr int kMemoHeight = 87;
constexpr int kPaneButtonWidth = 41;
constexpr int kButtonHeight = 25;
constexpr int kEditWidth = 45;
constexpr int kEditHeight = 21;
constexpr int kMoveButtonDrop = 40;
// Room below the memos inside Panel1.
constexpr int kPanelMargin = 5;
constexpr int kTopArea = 80;
constexpr int kLabel1Left = 584;
constexpr int kLabel2Left = 664;
constexpr int kLabel3Left = 728;
constexpr int kLabelTop = 16;
constexpr int kLabelHeight = 20;
// Least room between two labels, and right of the top row.
constexpr int kLabelGap = 6;
constexpr int kTopRowMargin = 8;

QFont windowFont(int pixelSize)
{
    QFont font;
    font.setFamilies({QStringLiteral("MS PGothic"), QStringLiteral("IPAPGothic"), QStringLiteral("Noto Sans CJK JP")});
    font.setPixelSize(pixelSize);
    return font;
}

QString fromBytes(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Small glyphs for the picture-only buttons: 1 zoom out, 2 zoom in, 3 actual
// size, 10 + d for direction d of the pad.
QIcon glyph(int kind)
{
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor ink(30, 30, 120);
    if (kind <= 2) {
        p.setPen(QPen(ink, 1.6));
        p.drawEllipse(QPointF(6.5, 6.5), 4.8, 4.8);
        p.drawLine(QPointF(10, 10), QPointF(15, 15));
        p.drawLine(QPointF(4, 6.5), QPointF(9, 6.5));
        if (kind == 2)
            p.drawLine(QPointF(6.5, 4), QPointF(6.5, 9));
    } else if (kind == 3) {
        p.setPen(ink);
        QFont font;
        font.setPixelSize(10);
        font.setBold(true);
        p.setFont(font);
        p.drawText(QRect(0, 0, 16, 16), Qt::AlignCenter, QStringLiteral("1:1"));
    } else {
        static constexpr int kDx[] = {-1, 0, 1, -1, 1, -1, 0, 1};
        static constexpr int kDy[] = {-1, -1, -1, 0, 0, 1, 1, 1};
        const int d = kind - 10;
        const double angle = std::atan2(kDy[d - 1], kDx[d - 1]);
        p.translate(8, 8);
        p.rotate(angle * 180.0 / M_PI);
        QPainterPath arrow;
        arrow.moveTo(6, 0);
        arrow.lineTo(-1, -5);
        arrow.lineTo(-1, 5);
        arrow.closeSubpath();
        p.fillPath(arrow, ink);
        p.fillRect(QRectF(-6, -1.5, 6, 3), ink);
    }
    return QIcon(pixmap);
}

QPushButton* makeButton(QWidget* parent, const char* name, const QString& caption, QRect place)
{
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(place);
    // Enter belongs to the zoom fields; no button is a dialog default.
    button->setAutoDefault(false);
    button->setDefault(false);
    button->setFocusPolicy(Qt::TabFocus);
    return button;
}

// A neighbour of the shown members is decoded ahead only while it is no
// larger than this at its scale: two shown pictures of hundreds of
// megapixels at 1:1 must not be joined by a third and a fourth.
constexpr int64_t kPrefetchBytes = int64_t {192} << 20;

LoadedPicture failedHeader(LoadFailure failure, std::string error, int systemError = 0)
{
    LoadedPicture failed;
    failed.failure = failure;
    failed.error = std::move(error);
    failed.systemError = systemError;
    return failed;
}

// The size of a picture without decoding it: JPEG from its markers, other
// files through Qt's reader on a descriptor (raw path bytes). A file whose
// header gives no size cannot be shown; `failure` says why.
std::optional<PictureSize> headerSize(const std::string& path, LoadedPicture& failure)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        failure = failedHeader(failureOfErrno(error), std::strerror(error), error);
        return std::nullopt;
    }
    struct stat st {};
    const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (!regular || st.st_size == 0) {
        ::close(fd);
        failure = regular ? failedHeader(LoadFailure::Empty, "empty file")
                          : failedHeader(LoadFailure::NotRegular, "not a regular file");
        return std::nullopt;
    }
    std::optional<PictureSize> result;
    if (upperExtension(path) == ".JPG") {
        ::close(fd);
        const std::optional<PictureSize> size = ReadPictureSize(path);
        if (size && size->width > 0 && size->height > 0)
            result = size;
    } else {
        QFile file;
        if (file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
            QImageReader reader(&file, "bmp");
            const QSize size = reader.size();
            if (size.isValid() && size.width() > 0 && size.height() > 0)
                result = PictureSize {size.width(), size.height()};
        } else {
            ::close(fd);
        }
    }
    if (!result)
        failure = failedHeader(LoadFailure::Damaged, "no picture size in the file's header");
    return result;
}

} // namespace

ReviewWindow::ReviewWindow(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("Form3"));
    setFont(windowFont(12));
    setWindowTitle(kTitle);
    m_cache = new PictureCache(this);
    connect(m_cache, &PictureCache::pictureReady, this, &ReviewWindow::pictureArrived);
    connect(m_cache, &PictureCache::pictureFailed, this, &ReviewWindow::pictureFailed);
    buildControls();
    findPaneControls();
}

ReviewWindow::~ReviewWindow() = default;

void ReviewWindow::buildControls()
{
    m_ok = makeButton(this, "Button1", QStringLiteral("OK"), {8, 8, 49, 25});
    m_abort = makeButton(this, "Button3", QStringLiteral("中断"), {72, 8, 49, 25});
    m_delete = makeButton(this, "Button2", QStringLiteral("削除"), {72, 48, 49, 25});
    m_zoomOut = makeButton(this, "BitBtn3", {}, {152, 8, 33, 25});
    m_actual = makeButton(this, "BitBtn5", {}, {200, 8, 33, 25});
    m_zoomIn = makeButton(this, "BitBtn4", {}, {248, 8, 33, 25});
    m_zoomOut->setIcon(glyph(1));
    m_zoomIn->setIcon(glyph(2));
    m_actual->setIcon(glyph(3));

    auto* pad = new QFrame(this);
    pad->setObjectName(QStringLiteral("Panel2"));
    pad->setGeometry(296, 0, 73, 73);
    static constexpr int kPadCell[8][2] = {{0, 0}, {1, 0}, {2, 0}, {0, 1}, {2, 1}, {0, 2}, {1, 2}, {2, 2}};
    for (int d = 1; d <= 8; ++d) {
        const QByteArray name = "BitBtn" + QByteArray::number(5 + d);
        auto* button = makeButton(pad, name.constData(), {},
                                  {kPadCell[d - 1][0] * 24, kPadCell[d - 1][1] * 24, 25, 25});
        button->setIcon(glyph(10 + d));
    }

    m_prev = makeButton(this, "BitBtn1", QStringLiteral("Prev"), {424, 8, 57, 25});
    m_next = makeButton(this, "BitBtn2", QStringLiteral("Next"), {496, 8, 57, 25});

    const QFont labelFont = windowFont(15);
    const std::pair<const char*, int> labels[] = {{"Label1", kLabel1Left}, {"Label2", kLabel2Left},
                                                  {"Label3", kLabel3Left}};
    for (const auto& [name, left] : labels) {
        auto* label = new QLabel(this);
        label->setObjectName(QString::fromLatin1(name));
        label->setFont(labelFont);
        label->setGeometry(left, kLabelTop, 80, kLabelHeight);
    }

    m_panel = new QFrame(this);
    m_panel->setObjectName(QStringLiteral("Panel1"));
    m_panel->setFrameShape(QFrame::Box);
    m_panel->setFrameShadow(QFrame::Plain);
    m_panel->move(0, kTopArea);

    const QFont editFont = windowFont(13);
    static const QString kDigits[] = {QStringLiteral("１"), QStringLiteral("２"), QStringLiteral("３")};
    for (int i = 1; i <= kPanes; ++i) {
        auto* box = new QFrame(m_panel);
        box->setObjectName(QStringLiteral("ScrollBox%1").arg(i));
        auto* image = new PictureView(box);
        image->setObjectName(QStringLiteral("Image%1").arg(i));
        auto* edit = new QLineEdit(box);
        edit->setObjectName(QStringLiteral("Edit%1").arg(i));
        edit->setFont(editFont);
        edit->resize(kEditWidth, kEditHeight);
        auto* memo = new QPlainTextEdit(m_panel);
        memo->setObjectName(QStringLiteral("Memo%1").arg(i));
        memo->setReadOnly(true);
        memo->setLineWrapMode(QPlainTextEdit::NoWrap);
        memo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        QPalette memoPalette = memo->palette();
        memoPalette.setColor(QPalette::Base, memoPalette.color(QPalette::Button));
        memo->setPalette(memoPalette);
        makeButton(m_panel, QByteArray("Button" + QByteArray::number(i + 3)).constData(),
                   QStringLiteral("削除") + kDigits[i - 1], {0, 0, kPaneButtonWidth, kButtonHeight});
    }
    m_move1 = makeButton(m_panel, "Button7", QStringLiteral("移動１"), {0, 0, kPaneButtonWidth, kButtonHeight});
    m_move2 = makeButton(m_panel, "Button8", QStringLiteral("移動２"), {0, 0, kPaneButtonWidth, kButtonHeight});

    connect(m_ok, &QPushButton::clicked, this, &ReviewWindow::Button1Click);
    connect(m_abort, &QPushButton::clicked, this, &ReviewWindow::Button3Click);
    connect(m_delete, &QPushButton::clicked, this, &ReviewWindow::Button2Click);
    connect(m_prev, &QPushButton::clicked, this, &ReviewWindow::BitBtn1Click);
    connect(m_next, &QPushButton::clicked, this, &ReviewWindow::BitBtn2Click);
    connect(m_zoomOut, &QPushButton::clicked, this, &ReviewWindow::BitBtn3Click);
    connect(m_zoomIn, &QPushButton::clicked, this, &ReviewWindow::BitBtn4Click);
    connect(m_actual, &QPushButton::clicked, this, &ReviewWindow::BitBtn5Click);
    connect(m_move1, &QPushButton::clicked, this, [this] { Button7Click(1); });
    connect(m_move2, &QPushButton::clicked, this, [this] { Button7Click(2); });
}

void ReviewWindow::findPaneControls()
{
    m_countLabel = findChild<QLabel*>(QStringLiteral("Label1"));
    m_firstLabel = findChild<QLabel*>(QStringLiteral("Label2"));
    m_lastLabel = findChild<QLabel*>(QStringLiteral("Label3"));
    for (int i = 1; i <= kPanes; ++i) {
        const auto k = static_cast<std::size_t>(i - 1);
        m_scrollBox[k] = findChild<QFrame*>(QStringLiteral("ScrollBox%1").arg(i));
        m_image[k] = findChild<PictureView*>(QStringLiteral("Image%1").arg(i));
        m_memo[k] = findChild<QPlainTextEdit*>(QStringLiteral("Memo%1").arg(i));
        m_edit[k] = findChild<QLineEdit*>(QStringLiteral("Edit%1").arg(i));
        m_paneDelete[k] = findChild<QPushButton*>(QStringLiteral("Button%1").arg(i + 3));
        connect(m_paneDelete[k], &QPushButton::clicked, this, [this, i] { Button4Click(i); });
        connect(m_edit[k], &QLineEdit::textEdited, this, [this, i](const QString& text) { Edit1Change(i, text); });
        connect(m_edit[k], &QLineEdit::returnPressed, this, [this, i] { Edit1KeyPress(i); });
        PictureView* image = m_image[k];
        connect(image, &PictureView::doubleClicked, this, [this, i] { Image1DblClick(i); });
        connect(image, &PictureView::leftPressed, this, [this, i](int x, int y) { Image1MouseDown(i, x, y); });
        connect(image, &PictureView::dragged, this, [this, i](int x, int y) { Image1MouseMove(i, x, y); });
        connect(image, &PictureView::released, this, [this, i] { Image1MouseUp(i); });
    }
    for (int d = 1; d <= 8; ++d) {
        m_pad[static_cast<std::size_t>(d - 1)] = findChild<QPushButton*>(QStringLiteral("BitBtn%1").arg(5 + d));
        connect(m_pad[static_cast<std::size_t>(d - 1)], &QPushButton::clicked, this, [this, d] { BitBtn6Click(d); });
    }

    // Each button's tool tip names its key.
    const std::pair<QPushButton*, QString> tips[] = {
        {m_ok, QStringLiteral("次のグループへ (Enter)")},
        {m_abort, QStringLiteral("確認を中断 (Esc)")},
        {m_zoomOut, QStringLiteral("縮小 (-)")},
        {m_zoomIn, QStringLiteral("拡大 (+)")},
        {m_actual, QStringLiteral("1:1 (0)")},
        {m_prev, QStringLiteral("前へ (←)")},
        {m_next, QStringLiteral("次へ (→)")},
        {m_paneDelete[0], QStringLiteral("左の画像を削除 (1)")},
        {m_paneDelete[1], QStringLiteral("右の画像を削除 (2)")},
        {m_move1, QStringLiteral("左の画像を右のフォルダへ移動 (Shift+1)")},
        {m_move2, QStringLiteral("右の画像を左のフォルダへ移動 (Shift+2)")},
        {m_pad[1], QStringLiteral("上へ (Shift+↑)")},
        {m_pad[3], QStringLiteral("左へ (Shift+←)")},
        {m_pad[4], QStringLiteral("右へ (Shift+→)")},
        {m_pad[6], QStringLiteral("下へ (Shift+↓)")},
    };
    for (const auto& [button, tip] : tips)
        button->setToolTip(tip);

    // The keys act wherever the focus is, except in a zoom field; a memo
    // takes the focus only when clicked, so at open the keys are the review's.
    for (QWidget* widget : findChildren<QWidget*>())
        widget->installEventFilter(this);
    for (QPlainTextEdit* memo : m_memo)
        memo->setFocusPolicy(Qt::ClickFocus);
    for (QLineEdit* edit : m_edit)
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

void ReviewWindow::layoutPanes()
{
    const int w = m_model->paneWidth();
    const int h = m_model->paneHeight();
    const int panes = m_model->paneCount();
    // Places inside Panel1 count from inside its border.
    const int border = m_panel->frameWidth();
    for (int i = 1; i <= kPanes; ++i) {
        const auto k = static_cast<std::size_t>(i - 1);
        const int paneLeft = border + (w + 5) * (i - 1);
        m_scrollBox[k]->setGeometry(paneLeft, border, w, h);
        m_memo[k]->setGeometry(paneLeft + 45, border + h + 5, w - 50, kMemoHeight);
        m_edit[k]->move(w - kEditWidth, 0);
        m_paneDelete[k]->move(paneLeft + 2, border + h + 5);
        const bool used = i <= panes;
        m_scrollBox[k]->setVisible(used);
        m_memo[k]->setVisible(used);
        m_paneDelete[k]->setVisible(used);
    }
    m_move1->move(m_paneDelete[0]->x(), m_paneDelete[0]->y() + kMoveButtonDrop);
    m_move2->move(m_paneDelete[1]->x(), m_paneDelete[1]->y() + kMoveButtonDrop);
    m_move1->hide();
    m_move2->hide();
    const int panelWidth = w * panes + 28;
    const int panelHeight = 2 * border + h + 5 + kMemoHeight + kPanelMargin;
    m_panel->resize(panelWidth, panelHeight);
    // Narrow panes (file-size or picture-size mode on a small screen) must
    // not cut the top row of controls off.
    setFixedSize(std::max(panelWidth, placeLabels() + kTopRowMargin), panelHeight + kTopArea);
    move(0, 0);
}

int ReviewWindow::placeLabels()
{
    // Each label is as wide as its widest text in this group (the group size
    // in every number) and keeps its place unless the one before it reaches
    // that far.
    const std::pair<QLabel*, int> labels[] = {{m_countLabel, kLabel1Left}, {m_firstLabel, kLabel2Left},
                                              {m_lastLabel, kLabel3Left}};
    const std::string widestNumber = std::to_string(m_model->groupSize());
    const std::string texts[] = {m_model->countLabel(), m_model->firstLabel(), m_model->lastLabel()};
    int right = m_next->geometry().right() + 1;
    int previousRight = 0;
    for (std::size_t i = 0; i < 3; ++i) {
        const std::string& text = texts[i];
        const std::string widest = text.substr(0, text.find_last_not_of("0123456789") + 1) + widestNumber;
        QLabel* label = labels[i].first;
        const int width = label->fontMetrics().horizontalAdvance(fromBytes(widest)) + 2;
        const int left = std::max(labels[i].second, previousRight + kLabelGap);
        label->setGeometry(left, kLabelTop, width, kLabelHeight);
        previousRight = left + width;
        right = std::max(right, previousRight);
    }
    return right;
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
        const std::optional<PictureSize> size = headerSize(file.path, failure);
        if (!size) {
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
    // The pane in the stretched picture's coordinates, then in the picture's.
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
    return QRect(static_cast<int>(left), static_cast<int>(top), static_cast<int>(right - left),
                 static_cast<int>(bottom - top));
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
        if (bytes > m_wholePictureLimit && scale == 1 && upperExtension(file.path) == ".JPG") {
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

bool ReviewWindow::openGroup(ReviewSession& session, std::vector<int32_t>& group, int32_t paneCount)
{
    m_cache->clear();
    m_reportedFailures.clear();
    m_group = &group;
    m_model = std::make_unique<ReviewModel>(session, group, paneCount);
    if (parentWidget() != nullptr && !parentWidget()->windowTitle().isEmpty())
        setWindowTitle(parentWidget()->windowTitle());
    layoutPanes();
    m_delete->setEnabled(false);
    if (!placeMembers())
        return false;
    // The pictures follow from the worker; the panes show a placeholder
    // until they arrive.
    DisplayFile(0);
    show();
    return true;
}

ReviewResult ReviewWindow::CheckFile(ReviewSession& session, std::vector<int32_t>& group, int32_t paneCount)
{
    if (!openGroup(session, group, paneCount))
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
    for (PictureView* image : m_image)
        image->setPicture(nullptr);
}

void ReviewWindow::showPanePictures()
{
    QString failures;
    for (int32_t i = 1; i <= m_model->shownPanes(); ++i) {
        const int32_t f = m_model->fileOf(m_model->memberInPane(i));
        PictureView* image = m_image[static_cast<std::size_t>(i - 1)];
        image->setPicture(m_cache->find(f));
        const PictureCache::Part* part = m_cache->findPart(f);
        const int32_t m = m_model->memberInPane(i);
        if (part != nullptr)
            image->setPart(part->picture, part->area, QSize(m_model->pictureWidth(m), m_model->pictureHeight(m)));
        else
            image->setPart(nullptr, {}, {});
        // A picture that fails leaves its pane empty; its error is shown the
        // first time the member is on view.
        const std::string* failure = m_cache->failureOf(f);
        image->setPending(failure == nullptr);
        if (failure != nullptr && m_reportedFailures.insert(f).second)
            failures += (failures.isEmpty() ? QString() : QStringLiteral("\n")) + fromBytes(*failure);
    }
    if (!failures.isEmpty())
        reportError(failures);
}

void ReviewWindow::DisplayFile(int32_t pos)
{
    if (!m_model)
        return;
    (void)pos; // always the model's ViewPos
    m_move1->setVisible(m_model->moveButtonsVisible());
    m_move2->setVisible(m_model->moveButtonsVisible());
    for (int32_t i = 1; i <= m_model->paneCount(); ++i) {
        const auto k = static_cast<std::size_t>(i - 1);
        m_image[k]->setPicture(nullptr);
        m_memo[k]->clear();
        QPalette palette = m_edit[k]->palette();
        palette.setColor(QPalette::Base, i == m_model->deletePane() ? Qt::red : Qt::white);
        palette.setColor(QPalette::Text, Qt::black);
        m_edit[k]->setPalette(palette);
        m_edit[k]->hide();
    }
    m_prev->setEnabled(m_model->prevEnabled());
    m_next->setEnabled(m_model->nextEnabled());
    m_delete->setEnabled(m_model->deleteEnabled());
    m_countLabel->setText(fromBytes(m_model->countLabel()));
    m_firstLabel->setText(fromBytes(m_model->firstLabel()));
    m_lastLabel->setText(fromBytes(m_model->lastLabel()));
    for (int32_t i = 1; i <= m_model->shownPanes(); ++i) {
        const auto k = static_cast<std::size_t>(i - 1);
        const int32_t m = m_model->memberInPane(i);
        m_image[k]->setGeometry(m_model->left(m), m_model->top(m), m_model->shownWidth(m), m_model->shownHeight(m));
        const std::vector<std::string> lines = m_model->memoLines(i);
        m_memo[k]->setPlainText(pathText(lines[0]) + QLatin1Char('\n') + fromBytes(lines[1]) + QLatin1Char('\n') +
                                fromBytes(lines[2]));
        m_edit[k]->setText(QString::number(m_model->zoom(m)));
        m_edit[k]->show();
        m_edit[k]->raise();
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
    if (!outcome.error.empty())
        reportError(fromBytes(outcome.error));
    DisplayFile(m_model->viewPos());
    if (outcome.closeWindow)
        done(static_cast<int>(ReviewResult::Ok));
}

void ReviewWindow::BitBtn1Click()
{
    m_model->prev();
    DisplayFile(m_model->viewPos());
}

void ReviewWindow::BitBtn2Click()
{
    m_model->next();
    DisplayFile(m_model->viewPos());
}

void ReviewWindow::Button1Click()
{
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
    applyOutcome(m_model->deleteChosen());
}

void ReviewWindow::Button4Click(int32_t pane)
{
    applyOutcome(m_model->deletePaneNow(pane));
}

void ReviewWindow::Button7Click(int32_t which)
{
    applyOutcome(m_model->move(which));
}

void ReviewWindow::BitBtn3Click()
{
    m_model->zoomOut();
    DisplayFile(m_model->viewPos());
}

void ReviewWindow::BitBtn4Click()
{
    m_model->zoomIn();
    DisplayFile(m_model->viewPos());
}

void ReviewWindow::BitBtn5Click()
{
    m_model->zoomActual();
    DisplayFile(m_model->viewPos());
}

void ReviewWindow::BitBtn6Click(int32_t direction)
{
    m_model->pad(direction);
    DisplayFile(m_model->viewPos());
}

void ReviewWindow::Edit1Change(int32_t pane, const QString& text)
{
    if (!m_model)
        return;
    if (m_model->typeZoom(pane, text.toStdString()) == TypedZoom::NotInteger) {
        // Shown once the edit has finished handling the key.
        const QString message = QString::fromStdString(notAnIntegerText(text.toStdString()));
        QMetaObject::invokeMethod(this, [this, message] { reportError(message); }, Qt::QueuedConnection);
    }
}

void ReviewWindow::Edit1KeyPress(int32_t)
{
    DisplayFile(m_model->viewPos());
}

void ReviewWindow::Image1DblClick(int32_t pane)
{
    if (pane > m_model->shownPanes())
        return;
    m_model->choosePane(pane);
    DisplayFile(m_model->viewPos());
}

void ReviewWindow::Image1MouseDown(int32_t, int x, int y)
{
    m_model->dragPress(x, y);
}

void ReviewWindow::Image1MouseMove(int32_t pane, int x, int y)
{
    if (!m_model->dragActive())
        return;
    PictureView* image = m_image[static_cast<std::size_t>(pane - 1)];
    m_model->dragMove(pane, x, y, image->width(), image->height());
    const int32_t m = m_model->memberInPane(pane);
    // Only the picture moves; the rest of the view is not repainted.
    image->move(m_model->left(m), m_model->top(m));
}

void ReviewWindow::Image1MouseUp(int32_t)
{
    m_model->dragRelease();
    // A picture held only in part may now show another part.
    m_cache->setWanted(wantedPictures());
}

void ReviewWindow::mouseDoubleClickEvent(QMouseEvent* event)
{
    // Only the window's own surface: not its controls and panels.
    if (m_model && childAt(event->position().toPoint()) == nullptr) {
        m_model->clearChoice();
        DisplayFile(m_model->viewPos());
    }
    event->accept();
}

bool ReviewWindow::triageKey(QKeyEvent* event)
{
    if (!m_model || !isVisible())
        return false;
    const ReviewKey key = reviewKeyOf(*event);
    QPushButton* button = nullptr;
    switch (key) {
    case ReviewKey::None:
        return false;
    case ReviewKey::Prev: button = m_prev; break;
    case ReviewKey::Next: button = m_next; break;
    case ReviewKey::Delete1: button = m_paneDelete[0]; break;
    case ReviewKey::Delete2: button = m_paneDelete[1]; break;
    case ReviewKey::Move1: button = m_move1; break;
    case ReviewKey::Move2: button = m_move2; break;
    case ReviewKey::ZoomIn: button = m_zoomIn; break;
    case ReviewKey::ZoomOut: button = m_zoomOut; break;
    case ReviewKey::ZoomActual: button = m_actual; break;
    case ReviewKey::PanLeft: button = m_pad[3]; break;
    case ReviewKey::PanRight: button = m_pad[4]; break;
    case ReviewKey::PanUp: button = m_pad[1]; break;
    case ReviewKey::PanDown: button = m_pad[6]; break;
    case ReviewKey::Ok: button = m_ok; break;
    case ReviewKey::Abort: button = m_abort; break;
    }
    // A held key repeats; a file action or closing must not: each stands
    // for one press of its button.
    const bool once = key == ReviewKey::Delete1 || key == ReviewKey::Delete2 || key == ReviewKey::Move1 ||
                      key == ReviewKey::Move2 || key == ReviewKey::Ok || key == ReviewKey::Abort;
    // The key is the review's even when its button is off: it must not move
    // a memo's cursor or fall through to another control.
    if (button->isVisibleTo(this) && button->isEnabled() && !(once && event->isAutoRepeat()))
        button->click();
    return true;
}

bool ReviewWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress)
        return QDialog::eventFilter(watched, event);
    auto* key = static_cast<QKeyEvent*>(event);
    if (std::find(m_edit.begin(), m_edit.end(), watched) == m_edit.end()) {
        if (!triageKey(key))
            return QDialog::eventFilter(watched, event);
        key->accept();
        return true;
    }
    // A zoom field keeps its keys (Enter applies the typed scale through the
    // field's own signal); only Esc still means "中断". What the field
    // leaves unused goes no further, to no pane or button.
    if (reviewKeyOf(*key) == ReviewKey::Abort) {
        triageKey(key);
        key->accept();
        return true;
    }
    static_cast<QObject*>(watched)->event(event);
    event->accept(); // an ignored key would travel on to the parents
    return true;
}

void ReviewWindow::keyPressEvent(QKeyEvent* event)
{
    if (triageKey(event)) {
        event->accept();
        return;
    }
    // Enter and Esc never close the review by the dialog's own rules.
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
        event->accept();
        return;
    default:
        QDialog::keyPressEvent(event);
    }
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
        if (full->width != m_model->pictureWidth(m) || full->height != m_model->pictureHeight(m)) {
            // The header told another size than the decoder: trust the pixels.
            m_model->placeMember(m, full->width, full->height);
            DisplayFile(m_model->viewPos());
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
