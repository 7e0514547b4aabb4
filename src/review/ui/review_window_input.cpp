#include "review/ui/review_window.h"

#include <algorithm>
#include <string>

#include <QKeyEvent>
#include <QLineEdit>
#include <QMetaObject>
#include <QMouseEvent>
#include <QPushButton>

#include "review/error_messages.h"
#include "review/ui/picture_view.h"
#include "review/ui/review_keys.h"

// The review window's input: keys, the zoom fields and the mouse on the
// pictures. Kept apart from the layout and display, which the rest of the
// window's code is about.

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
    DisplayFile();
}

void ReviewWindow::Image1DblClick(int32_t pane)
{
    if (pane > m_model->shownPanes())
        return;
    m_model->choosePane(pane);
    DisplayFile();
}

void ReviewWindow::Image1MouseDown(int32_t, int x, int y)
{
    m_model->dragPress(x, y);
}

void ReviewWindow::Image1MouseMove(int32_t pane, int x, int y)
{
    if (!m_model->dragActive())
        return;
    PictureView* image = m_ui.image[static_cast<std::size_t>(pane - 1)];
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
        DisplayFile();
    }
    event->accept();
}

bool ReviewWindow::triageKey(QKeyEvent* event)
{
    if (!m_model || !isVisible())
        return false;
    // N marks the pair on show, once a press like the file actions.
    if (event->key() == Qt::Key_N && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        if (m_notSame->isEnabled() && !event->isAutoRepeat())
            m_notSame->click();
        return true;
    }
    const ReviewKey key = reviewKeyOf(*event);
    QPushButton* button = nullptr;
    switch (key) {
    case ReviewKey::None:
        return false;
    case ReviewKey::Prev: button = m_ui.prev; break;
    case ReviewKey::Next: button = m_ui.next; break;
    case ReviewKey::Delete1: button = m_ui.paneDelete[0]; break;
    case ReviewKey::Delete2: button = m_ui.paneDelete[1]; break;
    case ReviewKey::Move1: button = m_ui.move1; break;
    case ReviewKey::Move2: button = m_ui.move2; break;
    case ReviewKey::ZoomIn: button = m_ui.zoomIn; break;
    case ReviewKey::ZoomOut: button = m_ui.zoomOut; break;
    case ReviewKey::ZoomActual: button = m_ui.actual; break;
    case ReviewKey::PanLeft: button = m_ui.pad[3]; break;
    case ReviewKey::PanRight: button = m_ui.pad[4]; break;
    case ReviewKey::PanUp: button = m_ui.pad[1]; break;
    case ReviewKey::PanDown: button = m_ui.pad[6]; break;
    case ReviewKey::Ok: button = m_ui.ok; break;
    case ReviewKey::Abort: button = m_ui.abort; break;
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
    const auto field = std::find(m_ui.edit.begin(), m_ui.edit.end(), watched);
    const auto pane = static_cast<int32_t>(field - m_ui.edit.begin()) + 1;
    if (event->type() == QEvent::FocusIn && field != m_ui.edit.end() && m_model && pane <= m_model->shownPanes())
        m_zoomAtEdit[static_cast<std::size_t>(pane - 1)] = m_model->zoom(m_model->memberInPane(pane));
    if (event->type() != QEvent::KeyPress)
        return QDialog::eventFilter(watched, event);
    auto* key = static_cast<QKeyEvent*>(event);
    if (field == m_ui.edit.end()) {
        if (!triageKey(key))
            return QDialog::eventFilter(watched, event);
        key->accept();
        return true;
    }
    // A zoom field keeps its keys (Enter applies the typed scale through the
    // field's own signal); Esc leaves the field with the scale it had. What
    // the field leaves unused goes no further, to no pane or button.
    if (key->key() == Qt::Key_Escape) {
        leaveZoomField(pane);
        key->accept();
        return true;
    }
    static_cast<QObject*>(watched)->event(event);
    event->accept(); // an ignored key would travel on to the parents
    return true;
}

void ReviewWindow::leaveZoomField(int32_t pane)
{
    if (m_model && pane >= 1 && pane <= m_model->shownPanes()) {
        const int32_t zoom = m_zoomAtEdit[static_cast<std::size_t>(pane - 1)];
        if (zoom > 0)
            m_model->typeZoom(pane, std::to_string(zoom));
        m_ui.edit[static_cast<std::size_t>(pane - 1)]->setText(
            QString::number(m_model->zoom(m_model->memberInPane(pane))));
    }
    setFocus(Qt::OtherFocusReason);
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
