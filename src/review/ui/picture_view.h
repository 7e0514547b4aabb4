#pragma once

#include <cstdint>
#include <memory>

#include <QImage>
#include <QRect>
#include <QWidget>

#include "picture/orientation.h"
#include "picture/picture.h"

// Renders the part `area` of a picture stretched to shownWidth x shownHeight
// (coordinates in the stretched picture). Each target pixel averages the
// source pixels it covers, or repeats the one it falls in when enlarging, so
// the cost follows the visible area, never the full stretched size.
QImage renderStretched(const Picture& picture, int32_t shownWidth, int32_t shownHeight, const QRect& area);

// A review picture (Image1..Image3): its geometry is the shown size and
// position inside the pane; it draws only what the pane lets be seen. It
// reports mouse events to the window, which owns the behaviour.
class PictureView : public QWidget {
    Q_OBJECT
public:
    explicit PictureView(QWidget* parent);

    // The picture to show; null empties the view.
    void setPicture(std::shared_ptr<const Picture> picture);
    const std::shared_ptr<const Picture>& picture() const { return m_picture; }

    // A part of the picture at finer detail, drawn over it: `area` is where
    // the part lies in a picture of `fullSize` pixels. Null removes it.
    void setPart(std::shared_ptr<const Picture> part, const QRect& area, const QSize& fullSize);
    const std::shared_ptr<const Picture>& part() const { return m_part; }

    // Shows the picture (and its part) turned; the view's size is then that
    // of the turned picture, and `area` and `fullSize` of setPart stay in the
    // stored picture's pixels.
    void setTurn(Orientation turn);
    Orientation turn() const { return m_turn; }

    // Without a picture: whether one is on its way (a placeholder is drawn)
    // or none will come (the view stays empty).
    void setPending(bool pending);
    bool showsPlaceholder() const { return !m_picture && m_pending; }

signals:
    void doubleClicked();
    void leftPressed(int x, int y);
    void dragged(int x, int y);
    void released();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    // The picture and its part as shown: turned copies, made once for each
    // picture and turn.
    const Picture* shownPicture();
    const Picture* shownPart();

    std::shared_ptr<const Picture> m_picture;
    std::shared_ptr<const Picture> m_part;
    QRect m_partArea;
    QSize m_fullSize;
    bool m_pending = false;
    Orientation m_turn = Orientation::Upright;
    // A turned copy, kept while its source is held and the turn stays: a
    // repaint of the same pair (a zoom, a step back) does not turn it again.
    struct Turned {
        std::weak_ptr<const Picture> source;
        Orientation turn = Orientation::Upright;
        std::shared_ptr<const Picture> copy;
    };
    static const Picture* turnedCopy(const std::shared_ptr<const Picture>& source, Orientation turn, Turned& kept);
    Turned m_turnedPicture;
    Turned m_turnedPart;
    // The last rendering, reused while nothing that shapes it has changed.
    QImage m_rendered;
    QRect m_renderedArea;
    QSize m_renderedSize;
    const Picture* m_renderedFrom = nullptr;
};
