#include "review/ui/review_controls.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <tuple>
#include <utility>

#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextDocument>
#include <QTextOption>

#include "review/review_model.h"
#include "review/ui/picture_view.h"
#include "review/ui/window_look.h"

namespace {

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
// The second row: the group counter between "削除" and the pad, the trash
// notice right of the pad.
constexpr int kSecondRowTop = 50;
constexpr int kGroupLabelLeft = 130;
constexpr int kGroupLabelWidth = 160;
constexpr int kNoticeLeft = 376;

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

// Places Label1..Label3 for the group; returns the top row's right edge.
int placeLabels(ReviewControls& c, const ReviewModel& model)
{
    // Each label is as wide as its widest text in this group (the group size
    // in every number) and keeps its place unless the one before it reaches
    // that far.
    const std::pair<QLabel*, int> labels[] = {{c.countLabel, kLabel1Left}, {c.firstLabel, kLabel2Left},
                                              {c.lastLabel, kLabel3Left}};
    const std::string widestNumber = std::to_string(model.groupSize());
    const std::string texts[] = {model.countLabel(), model.firstLabel(), model.lastLabel()};
    int right = c.next->geometry().right() + 1;
    int previousRight = 0;
    for (std::size_t i = 0; i < 3; ++i) {
        const std::string& text = texts[i];
        const std::string widest = text.substr(0, text.find_last_not_of("0123456789") + 1) + widestNumber;
        QLabel* label = labels[i].first;
        const int width = label->fontMetrics().horizontalAdvance(QString::fromStdString(widest)) + 2;
        const int left = std::max(labels[i].second, previousRight + kLabelGap);
        label->setGeometry(left, kLabelTop, width, kLabelHeight);
        previousRight = left + width;
        right = std::max(right, previousRight);
    }
    return right;
}

} // namespace

void buildReviewControls(QWidget& window, ReviewControls& c)
{
    c.ok = makeButton(&window, "Button1", QStringLiteral("OK"), {8, 8, 49, 25});
    c.abort = makeButton(&window, "Button3", QStringLiteral("中断"), {72, 8, 49, 25});
    c.remove = makeButton(&window, "Button2", QStringLiteral("削除"), {72, 48, 49, 25});
    c.zoomOut = makeButton(&window, "BitBtn3", {}, {152, 8, 33, 25});
    c.actual = makeButton(&window, "BitBtn5", {}, {200, 8, 33, 25});
    c.zoomIn = makeButton(&window, "BitBtn4", {}, {248, 8, 33, 25});
    c.zoomOut->setIcon(glyph(1));
    c.zoomIn->setIcon(glyph(2));
    c.actual->setIcon(glyph(3));

    auto* pad = new QFrame(&window);
    pad->setObjectName(QStringLiteral("Panel2"));
    pad->setGeometry(296, 0, 73, 73);
    static constexpr int kPadCell[8][2] = {{0, 0}, {1, 0}, {2, 0}, {0, 1}, {2, 1}, {0, 2}, {1, 2}, {2, 2}};
    for (int d = 1; d <= 8; ++d) {
        const QByteArray name = "BitBtn" + QByteArray::number(5 + d);
        QPushButton*& button = c.pad[static_cast<std::size_t>(d - 1)];
        button = makeButton(pad, name.constData(), {}, {kPadCell[d - 1][0] * 24, kPadCell[d - 1][1] * 24, 25, 25});
        button->setIcon(glyph(10 + d));
    }

    c.prev = makeButton(&window, "BitBtn1", QStringLiteral("Prev"), {424, 8, 57, 25});
    c.next = makeButton(&window, "BitBtn2", QStringLiteral("Next"), {496, 8, 57, 25});

    const QFont labelFont = gothicFont(15);
    const std::tuple<QLabel**, const char*, int> labels[] = {{&c.countLabel, "Label1", kLabel1Left},
                                                             {&c.firstLabel, "Label2", kLabel2Left},
                                                             {&c.lastLabel, "Label3", kLabel3Left}};
    for (const auto& [label, name, left] : labels) {
        *label = new QLabel(&window);
        (*label)->setObjectName(QString::fromLatin1(name));
        (*label)->setFont(labelFont);
        (*label)->setGeometry(left, kLabelTop, 80, kLabelHeight);
    }
    c.groupLabel = new QLabel(&window);
    c.groupLabel->setObjectName(QStringLiteral("GroupLabel"));
    c.groupLabel->setFont(gothicFont(13));
    c.groupLabel->setGeometry(kGroupLabelLeft, kSecondRowTop, kGroupLabelWidth, kLabelHeight);
    // Passive lines: a double click on them is one on the window's surface.
    c.groupLabel->setAttribute(Qt::WA_TransparentForMouseEvents);
    c.notice = new QLabel(&window);
    c.notice->setAttribute(Qt::WA_TransparentForMouseEvents);
    c.notice->setObjectName(QStringLiteral("NoticeLabel"));
    c.notice->setFont(gothicFont(12));
    QPalette noticePalette = c.notice->palette();
    noticePalette.setColor(QPalette::WindowText, QColor(160, 0, 0));
    c.notice->setPalette(noticePalette);

    c.panel = new QFrame(&window);
    c.panel->setObjectName(QStringLiteral("Panel1"));
    c.panel->setFrameShape(QFrame::Box);
    c.panel->setFrameShadow(QFrame::Plain);
    c.panel->move(0, kTopArea);

    const QFont editFont = gothicFont(13);
    static const QString kDigits[] = {QStringLiteral("１"), QStringLiteral("２"), QStringLiteral("３")};
    for (int i = 1; i <= ReviewControls::kPanes; ++i) {
        const auto k = static_cast<std::size_t>(i - 1);
        auto* box = c.scrollBox[k] = new QFrame(c.panel);
        box->setObjectName(QStringLiteral("ScrollBox%1").arg(i));
        c.image[k] = new PictureView(box);
        c.image[k]->setObjectName(QStringLiteral("Image%1").arg(i));
        auto* edit = c.edit[k] = new QLineEdit(box);
        edit->setObjectName(QStringLiteral("Edit%1").arg(i));
        edit->setFont(editFont);
        edit->resize(kEditWidth, kEditHeight);
        auto* memo = c.memo[k] = new QPlainTextEdit(c.panel);
        memo->setObjectName(QStringLiteral("Memo%1").arg(i));
        memo->setReadOnly(true);
        // Narrow panes (800 x 600) must still show every line whole.
        memo->setLineWrapMode(QPlainTextEdit::WidgetWidth);
        memo->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        memo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        // A path that wraps twice still leaves room for the other lines.
        memo->document()->setDocumentMargin(2);
        QPalette memoPalette = memo->palette();
        memoPalette.setColor(QPalette::Base, memoPalette.color(QPalette::Button));
        memo->setPalette(memoPalette);
        c.paneDelete[k] = makeButton(c.panel, QByteArray("Button" + QByteArray::number(i + 3)).constData(),
                                     QStringLiteral("削除") + kDigits[i - 1], {0, 0, kPaneButtonWidth, kButtonHeight});
    }
    c.move1 = makeButton(c.panel, "Button7", QStringLiteral("移動１"), {0, 0, kPaneButtonWidth, kButtonHeight});
    c.move2 = makeButton(c.panel, "Button8", QStringLiteral("移動２"), {0, 0, kPaneButtonWidth, kButtonHeight});

    // Each button's tool tip names its key.
    const std::pair<QPushButton*, QString> tips[] = {
        {c.ok, QStringLiteral("次のグループへ (Enter)")},
        {c.abort, QStringLiteral("確認を中断 (Esc)")},
        {c.zoomOut, QStringLiteral("縮小 (-)")},
        {c.zoomIn, QStringLiteral("拡大 (+)")},
        {c.actual, QStringLiteral("1:1 (0)")},
        {c.prev, QStringLiteral("前へ (←)")},
        {c.next, QStringLiteral("次へ (→)")},
        {c.paneDelete[0], QStringLiteral("左の画像を削除 (1)")},
        {c.paneDelete[1], QStringLiteral("右の画像を削除 (2)")},
        {c.move1, QStringLiteral("左の画像を右のフォルダへ移動 (Shift+1)")},
        {c.move2, QStringLiteral("右の画像を左のフォルダへ移動 (Shift+2)")},
        {c.pad[1], QStringLiteral("上へ (Shift+↑)")},
        {c.pad[3], QStringLiteral("左へ (Shift+←)")},
        {c.pad[4], QStringLiteral("右へ (Shift+→)")},
        {c.pad[6], QStringLiteral("下へ (Shift+↓)")},
    };
    for (const auto& [button, tip] : tips)
        button->setToolTip(tip);
}

void layoutReviewControls(QWidget& window, ReviewControls& c, const ReviewModel& model)
{
    const int w = model.paneWidth();
    const int h = model.paneHeight();
    const int panes = model.paneCount();
    // Places inside Panel1 count from inside its border.
    const int border = c.panel->frameWidth();
    for (int i = 1; i <= ReviewControls::kPanes; ++i) {
        const auto k = static_cast<std::size_t>(i - 1);
        const int paneLeft = border + (w + 5) * (i - 1);
        c.scrollBox[k]->setGeometry(paneLeft, border, w, h);
        c.memo[k]->setGeometry(paneLeft + 45, border + h + 5, w - 50, kMemoHeight);
        c.edit[k]->move(w - kEditWidth, 0);
        c.paneDelete[k]->move(paneLeft + 2, border + h + 5);
        const bool used = i <= panes;
        c.scrollBox[k]->setVisible(used);
        c.memo[k]->setVisible(used);
        c.paneDelete[k]->setVisible(used);
    }
    c.move1->move(c.paneDelete[0]->x(), c.paneDelete[0]->y() + kMoveButtonDrop);
    c.move2->move(c.paneDelete[1]->x(), c.paneDelete[1]->y() + kMoveButtonDrop);
    c.move1->hide();
    c.move2->hide();
    const int panelWidth = w * panes + 28;
    const int panelHeight = 2 * border + h + 5 + kMemoHeight + kPanelMargin;
    c.panel->resize(panelWidth, panelHeight);
    // Narrow panes (file-size or picture-size mode on a small screen) must
    // not cut the top row of controls off.
    const int width = std::max(panelWidth, placeLabels(c, model) + kTopRowMargin);
    window.setFixedSize(width, panelHeight + kTopArea);
    c.notice->setGeometry(kNoticeLeft, kSecondRowTop, std::max(0, width - kNoticeLeft - kTopRowMargin), kLabelHeight);
    window.move(0, 0);
}
