#include "review/ui/picture_view.h"

#include <algorithm>
#include <vector>

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>

#include "review/pair_turns.h"

namespace {

struct Span {
    int32_t first;
    int32_t end; // one past the last source pixel
};

// Source pixels covered by target pixels from..from+count-1 of `shown`.
std::vector<Span> spans(int32_t source, int32_t shown, int32_t from, int32_t count)
{
    std::vector<Span> out(static_cast<std::size_t>(count));
    for (int32_t i = 0; i < count; ++i) {
        const int64_t t = from + i;
        int32_t a = static_cast<int32_t>(t * source / shown);
        int32_t b = static_cast<int32_t>((t + 1) * source / shown);
        a = std::clamp(a, 0, source - 1);
        b = std::clamp(b, a + 1, source);
        out[static_cast<std::size_t>(i)] = {a, b};
    }
    return out;
}

} // namespace

QImage renderStretched(const Picture& picture, int32_t shownWidth, int32_t shownHeight, const QRect& area)
{
    const QRect clipped = area.intersected(QRect(0, 0, shownWidth, shownHeight));
    if (picture.isNull() || clipped.isEmpty())
        return {};
    QImage out(clipped.size(), QImage::Format_RGB32);
    const std::vector<Span> columns = spans(picture.width(), shownWidth, clipped.x(), clipped.width());
    const std::vector<Span> rows = spans(picture.height(), shownHeight, clipped.y(), clipped.height());
    std::vector<uint64_t> sums(static_cast<std::size_t>(clipped.width()) * 3);
    for (int32_t j = 0; j < clipped.height(); ++j) {
        const Span row = rows[static_cast<std::size_t>(j)];
        auto* target = reinterpret_cast<QRgb*>(out.scanLine(j));
        const bool single = row.end - row.first == 1;
        if (!single)
            std::fill(sums.begin(), sums.end(), uint64_t{0});
        for (int32_t y = row.first; y < row.end; ++y) {
            const uint8_t* source = picture.row(y);
            for (int32_t i = 0; i < clipped.width(); ++i) {
                const Span col = columns[static_cast<std::size_t>(i)];
                if (single && col.end - col.first == 1) {
                    const uint8_t* p = source + 3 * col.first;
                    target[i] = qRgb(p[2], p[1], p[0]);
                    continue;
                }
                uint64_t b = 0;
                uint64_t g = 0;
                uint64_t r = 0;
                for (const uint8_t* p = source + 3 * col.first; p < source + 3 * col.end; p += 3) {
                    b += p[0];
                    g += p[1];
                    r += p[2];
                }
                if (single) {
                    const uint64_t n = static_cast<uint64_t>(col.end - col.first);
                    target[i] = qRgb(static_cast<int>(r / n), static_cast<int>(g / n), static_cast<int>(b / n));
                } else {
                    sums[3 * i] += b;
                    sums[3 * i + 1] += g;
                    sums[3 * i + 2] += r;
                }
            }
        }
        if (!single) {
            for (int32_t i = 0; i < clipped.width(); ++i) {
                const Span col = columns[static_cast<std::size_t>(i)];
                const uint64_t n = static_cast<uint64_t>(col.end - col.first) * static_cast<uint64_t>(row.end - row.first);
                target[i] = qRgb(static_cast<int>(sums[3 * i + 2] / n), static_cast<int>(sums[3 * i + 1] / n),
                                 static_cast<int>(sums[3 * i] / n));
            }
        }
    }
    return out;
}

PictureView::PictureView(QWidget* parent) : QWidget(parent)
{
    setCursor(Qt::PointingHandCursor);
    setAttribute(Qt::WA_OpaquePaintEvent, false);
}

void PictureView::setPicture(std::shared_ptr<const Picture> picture)
{
    if (picture == m_picture)
        return;
    m_picture = std::move(picture);
    // A turned copy whose picture no one holds any longer goes with it.
    for (Turned* kept : {&m_turnedPicture, &m_turnedPart}) {
        if (kept->source.expired())
            *kept = Turned {};
    }
    m_rendered = QImage();
    m_renderedFrom = nullptr;
    update();
}

void PictureView::setPart(std::shared_ptr<const Picture> part, const QRect& area, const QSize& fullSize)
{
    if (part == m_part && area == m_partArea && fullSize == m_fullSize)
        return;
    m_part = std::move(part);
    m_partArea = area;
    m_fullSize = fullSize;
    update();
}

void PictureView::setTurn(Orientation turn)
{
    if (turn == m_turn)
        return;
    m_turn = turn;
    m_rendered = QImage();
    m_renderedFrom = nullptr;
    update();
}

const Picture* PictureView::turnedCopy(const std::shared_ptr<const Picture>& source, Orientation turn, Turned& kept)
{
    if (!source || turn == Orientation::Upright)
        return source.get();
    if (kept.source.lock() != source || kept.turn != turn) {
        kept.copy = std::make_shared<const Picture>(turnedPicture(*source, turn));
        kept.source = source;
        kept.turn = turn;
    }
    return kept.copy.get();
}

const Picture* PictureView::shownPicture()
{
    return turnedCopy(m_picture, m_turn, m_turnedPicture);
}

const Picture* PictureView::shownPart()
{
    return turnedCopy(m_part, m_turn, m_turnedPart);
}

void PictureView::setPending(bool pending)
{
    if (pending == m_pending)
        return;
    m_pending = pending;
    update();
}

void PictureView::paintEvent(QPaintEvent* event)
{
    // Only what the pane shows: a picture at 1600 % may be tens of thousands
    // of pixels wide, of which a few hundred are visible.
    const QRect visible = visibleRegion().boundingRect().intersected(rect());
    if (visible.isEmpty())
        return;
    if (showsPlaceholder()) {
        QPainter painter(this);
        painter.fillRect(visible, QColor(210, 210, 210));
        painter.setPen(QColor(90, 90, 90));
        painter.drawText(visible, Qt::AlignCenter, QStringLiteral("読み込み中…"));
        return;
    }
    if (!m_picture || m_picture->isNull())
        return;
    const Picture* picture = shownPicture();
    if (m_renderedFrom != picture || m_renderedSize != size() || !m_renderedArea.contains(visible)) {
        m_rendered = renderStretched(*picture, width(), height(), visible);
        m_renderedArea = visible;
        m_renderedSize = size();
        m_renderedFrom = picture;
    }
    QPainter painter(this);
    const QRect target = event->rect().intersected(m_renderedArea);
    painter.drawImage(target, m_rendered, target.translated(-m_renderedArea.topLeft()));
    if (!m_part || m_part->isNull() || m_fullSize.isEmpty())
        return;
    // The part's place and the whole picture's size as shown.
    QRect partArea = m_partArea;
    QSize fullSize = m_fullSize;
    if (m_turn != Orientation::Upright) {
        const bool swapped = swapsSides(m_turn);
        const QSize turnedSize = swapped ? m_fullSize.transposed() : m_fullSize;
        // Where a stored pixel lies in the turned picture.
        const Orientation back = inverseOf(m_turn);
        const PixelAt a = storedPixel(back, turnedSize.width(), turnedSize.height(), m_partArea.left(), m_partArea.top());
        const PixelAt b =
            storedPixel(back, turnedSize.width(), turnedSize.height(), m_partArea.right(), m_partArea.bottom());
        partArea = QRect(QPoint(a.x, a.y), QPoint(b.x, b.y)).normalized();
        fullSize = turnedSize;
    }
    // Where the part lands in the stretched picture.
    auto at = [](int64_t position, int64_t shown, int64_t full) { return static_cast<int>(position * shown / full); };
    const QRect shownArea(QPoint(at(partArea.left(), width(), fullSize.width()),
                                 at(partArea.top(), height(), fullSize.height())),
                          QPoint(at(int64_t {partArea.right()} + 1, width(), fullSize.width()) - 1,
                                 at(int64_t {partArea.bottom()} + 1, height(), fullSize.height()) - 1));
    const QRect drawn = visible.intersected(shownArea).intersected(event->rect());
    if (drawn.isEmpty())
        return;
    const QImage detail =
        renderStretched(*shownPart(), shownArea.width(), shownArea.height(), drawn.translated(-shownArea.topLeft()));
    painter.drawImage(drawn.topLeft(), detail);
}

void PictureView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        const QPoint p = event->position().toPoint();
        emit leftPressed(p.x(), p.y());
    }
    event->accept();
}

void PictureView::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint p = event->position().toPoint();
    emit dragged(p.x(), p.y());
    event->accept();
}

void PictureView::mouseReleaseEvent(QMouseEvent* event)
{
    emit released();
    event->accept();
}

void PictureView::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        emit doubleClicked();
    event->accept();
}
