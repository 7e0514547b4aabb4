// The review window's zoom: the fitted scale, the zoom buttons and field, the
// decoded scale it asks for, the part of a huge picture, dragging and stretching.


#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include "gui/review_window_scene.h"
#include "gui/review_window_test_peer.h"
#include "review/ui/picture_cache.h"
#include "review/ui/picture_view.h"
#include "review/ui/review_keys.h"
#include "review/ui/review_window.h"

using namespace review_scene;

class ReviewWindowZoomTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void zoomFitPlacesPictures_data();
    void zoomFitPlacesPictures();
    void zoomButtonsAndPad();
    void zoomDecidesTheDecodedScale();
    void hugePictureAtFullSizeOnlyInPart();
    void typedZoomWithEnter();
    void dragStopsAtTheEdges();
    void stretchAveragesAndRepeats();

private:
    QTemporaryDir m_data;
};

void ReviewWindowZoomTest::initTestCase()
{
    QVERIFY(m_data.isValid());
    qputenv("XDG_DATA_HOME", m_data.path().toUtf8());
}

void ReviewWindowZoomTest::zoomFitPlacesPictures_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("zoom");
    QTest::addColumn<QRect>("shown");
    QTest::addColumn<QSize>("decoded"); // at the scale the zoom needs
    QTest::newRow("1000x800 fills the height") << 1000 << 800 << 52 << QRect(-65, 0, 520, 416) << QSize(1000, 800);
    QTest::newRow("4000x3000 raised to 25") << 4000 << 3000 << 25 << QRect(-305, -83, 1000, 750) << QSize(1000, 750);
    QTest::newRow("500x300 wider only") << 500 << 300 << 100 << QRect(-55, 0, 500, 300) << QSize(500, 300);
    QTest::newRow("200x100 top left") << 200 << 100 << 100 << QRect(0, 0, 200, 100) << QSize(200, 100);
}

void ReviewWindowZoomTest::zoomFitPlacesPictures()
{
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, zoom);
    QFETCH(QRect, shown);
    QFETCH(QSize, decoded);
    Scene scene;
    scene.add("x/a.jpg", width, height);
    scene.add("x/b.jpg", 40, 40);
    ReviewWindow window;
    QVERIFY(ReviewWindowTestPeer::openGroup(window, scene.session, scene.group));
    QCOMPARE(imageRect(window, 1), shown);
    QCOMPARE(child<QLineEdit>(window, "Edit1")->text(), QString::number(zoom));
    QCOMPARE(scene.files[0].width, width);
    QCOMPARE(scene.files[0].height, height);
    // The window opens before any picture is decoded (a worker decodes them).
    PictureView* image = child<PictureView>(window, "Image1");
    QVERIFY(image->picture() == nullptr);
    QVERIFY(image->showsPlaceholder());
    QTRY_VERIFY(image->picture() != nullptr);
    QCOMPARE(QSize(image->picture()->width(), image->picture()->height()), decoded);
    QCOMPARE(image->geometry(), shown);
}

void ReviewWindowZoomTest::zoomButtonsAndPad()
{
    Scene scene;
    scene.add("x/a.jpg", 1000, 800);
    scene.add("x/b.jpg", 1000, 600);
    ReviewWindow window;
    QVERIFY(ReviewWindowTestPeer::openGroup(window, scene.session, scene.group));
    click(window, "BitBtn3"); // zoom out, every member
    QCOMPARE(imageRect(window, 1), QRect(0, 0, 260, 208));
    QCOMPARE(child<QLineEdit>(window, "Edit1")->text(), QStringLiteral("26"));
    click(window, "BitBtn4"); // back to 52: did not overflow before, so centred
    QCOMPARE(imageRect(window, 1), QRect(-65, 0, 520, 416));
    click(window, "BitBtn4"); // 104 about the centre
    QCOMPARE(imageRect(window, 1), QRect(-325, -104, 1040, 832));

    click(window, "BitBtn5");
    QCOMPARE(imageRect(window, 2), QRect(-305, -92, 1000, 600));
    QList<int> lefts;
    for (int i = 0; i < 3; ++i) {
        click(window, "BitBtn9"); // left
        lefts << imageRect(window, 2).x();
    }
    QCOMPARE(lefts, (QList<int>{-175, -45, 0}));
    click(window, "BitBtn5");
    lefts.clear();
    for (int i = 0; i < 3; ++i) {
        click(window, "BitBtn10"); // right
        lefts << imageRect(window, 2).x();
    }
    QCOMPARE(lefts, (QList<int>{-435, -565, -610}));
}

void ReviewWindowZoomTest::zoomDecidesTheDecodedScale()
{
    Scene scene;
    scene.add("x/a.jpg", 1600, 1200); // fitted at 34 %: decoded at 1/2
    scene.add("x/b.jpg", 300, 200);   // 100 %: whole
    scene.add("x/c.jpg", 3200, 2400); // fitted at 25 %: 1/4; the neighbour after the shown pair
    ReviewWindow window;
    QVERIFY(ReviewWindowTestPeer::openGroup(window, scene.session, scene.group));
    PictureView* image = child<PictureView>(window, "Image1");
    auto decodedWidth = [image] { return image->picture() ? image->picture()->width() : 0; };
    QTRY_COMPARE(decodedWidth(), 800);
    click(window, "BitBtn3"); // 17 %: 1/4
    QTRY_COMPARE(decodedWidth(), 400);
    QCOMPARE(imageRect(window, 1), QRect(0, 0, 272, 204));
    click(window, "BitBtn5"); // 1:1 needs every pixel
    // Until the whole picture arrives the coarse one is shown stretched.
    QCOMPARE(decodedWidth(), 400);
    QCOMPARE(imageRect(window, 1).size(), QSize(1600, 1200));
    QTRY_COMPARE(decodedWidth(), 1600);
    QCOMPARE(child<PictureView>(window, "Image2")->picture()->width(), 300);
    QCOMPARE(window.pictureCache()->heldScale(scene.group[0]), 1);
    QTRY_COMPARE(window.pictureCache()->heldScale(scene.group[2]), 1);
}

void ReviewWindowZoomTest::hugePictureAtFullSizeOnlyInPart()
{
    Scene scene;
    scene.add("x/a.jpg", 1600, 1200); // 34 %: 800 wide at 1/2
    scene.add("x/b.jpg", 1600, 1200);
    ReviewWindow window;
    // Anything over 1 MB whole at full size counts as huge here.
    window.setWholePictureLimit(1 << 20);
    QVERIFY(ReviewWindowTestPeer::openGroup(window, scene.session, scene.group));
    PictureView* image = child<PictureView>(window, "Image1");
    QTRY_VERIFY(image->picture() != nullptr);
    QCOMPARE(image->picture()->width(), 800);
    QVERIFY(image->part() == nullptr);

    click(window, "BitBtn5"); // 1:1, centred: left -605, top -392
    QCOMPARE(imageRect(window, 1), QRect(-605, -392, 1600, 1200));
    QTRY_VERIFY(image->part() != nullptr);
    QCOMPARE(image->picture()->width(), 800); // the fitted picture stays behind
    const PictureCache::Part* part = window.pictureCache()->findPart(scene.group[0]);
    QVERIFY(part != nullptr);
    // The pane shows columns 605..994 and rows 392..807; the part holds them
    // with a pane's margin on each side, no more.
    QVERIFY(part->area.contains(QRect(605, 392, 390, 416)));
    QVERIFY(part->area.width() <= 3 * 390 + 2 * 32);
    QVERIFY(part->area.height() <= 3 * 416);
    QCOMPARE(part->picture->width(), part->area.width());

    // Panning within the margin keeps the part; past it, another comes.
    click(window, "BitBtn10");
    QCOMPARE(window.pictureCache()->findPart(scene.group[0])->area, part->area);
    const QRect before = part->area;
    for (int i = 0; i < 4; ++i)
        click(window, "BitBtn10");
    QCOMPARE(imageRect(window, 1).topLeft(), QPoint(-1210, -392));
    QTRY_VERIFY(window.pictureCache()->findPart(scene.group[0])->area != before);
    QVERIFY(window.pictureCache()->findPart(scene.group[0])->area.contains(QRect(1210, 392, 390, 416)));

    // A drag shows another part once the mouse is let go.
    sendMouse(image, QEvent::MouseButtonPress, {1300, 500}, Qt::LeftButton, Qt::LeftButton);
    sendMouse(image, QEvent::MouseMove, {2300, 500}, Qt::NoButton, Qt::LeftButton);
    sendMouse(image, QEvent::MouseButtonRelease, {2300, 500}, Qt::LeftButton, Qt::NoButton);
    QCOMPARE(image->pos(), QPoint(-210, -392));
    QTRY_VERIFY(window.pictureCache()->findPart(scene.group[0])->area.contains(QRect(210, 392, 390, 416)));
    QTRY_VERIFY(image->part() != nullptr && image->part().get() ==
                window.pictureCache()->findPart(scene.group[0])->picture.get());

    // Back to the fitted scale: the part goes.
    click(window, "BitBtn3");
    QVERIFY(window.pictureCache()->findPart(scene.group[0]) == nullptr);
    QVERIFY(image->part() == nullptr);
}

void ReviewWindowZoomTest::typedZoomWithEnter()
{
    Scene scene;
    scene.addAll({"x/a.jpg", "x/b.jpg"}, 1000, 800);
    ReviewWindow window;
    QStringList errors;
    collectErrors(window, errors);
    QVERIFY(ReviewWindowTestPeer::openGroup(window, scene.session, scene.group));
    QLineEdit* edit = child<QLineEdit>(window, "Edit1");
    edit->selectAll();
    QTest::keyClicks(edit, QStringLiteral("150"));
    QCOMPARE(imageRect(window, 1), QRect(-65, 0, 520, 416)); // not repainted yet
    QTest::keyClick(edit, Qt::Key_Return);
    QCOMPARE(imageRect(window, 1), QRect(-65, 0, 1500, 1200));
    QCOMPARE(imageRect(window, 2), QRect(-65, 0, 520, 416));
    QVERIFY(window.isVisible()); // Enter does not close the window

    edit->selectAll();
    QTest::keyClicks(edit, QStringLiteral("x"));
    QTRY_COMPARE(errors, QStringList{QStringLiteral("'x' は整数ではありません")});
    edit->selectAll();
    QTest::keyClicks(edit, QStringLiteral("0"));
    QTest::keyClick(edit, Qt::Key_Return);
    QCOMPARE(edit->text(), QStringLiteral("150")); // refused: the stored scale stays
    QCOMPARE(errors.size(), 1);
}

void ReviewWindowZoomTest::dragStopsAtTheEdges()
{
    Scene scene;
    scene.addAll({"x/a.jpg", "x/b.jpg"}, 1000, 800);
    ReviewWindow window;
    QVERIFY(ReviewWindowTestPeer::openGroup(window, scene.session, scene.group));
    click(window, "BitBtn4");
    PictureView* image = child<PictureView>(window, "Image1");
    QCOMPARE(image->geometry(), QRect(-325, -104, 1040, 832));
    sendMouse(image, QEvent::MouseButtonPress, {400, 300}, Qt::LeftButton, Qt::LeftButton);
    sendMouse(image, QEvent::MouseMove, {500, 300}, Qt::NoButton, Qt::LeftButton);
    QCOMPARE(image->pos(), QPoint(-225, -104));
    QVERIFY(!child<QPushButton>(window, "BitBtn1")->isEnabled());
    sendMouse(image, QEvent::MouseMove, {1400, 300}, Qt::NoButton, Qt::LeftButton);
    QCOMPARE(image->pos(), QPoint(0, -104));
    sendMouse(image, QEvent::MouseMove, {-900, 300}, Qt::NoButton, Qt::LeftButton);
    QCOMPARE(image->pos(), QPoint(390 - 1040, -104));
    sendMouse(image, QEvent::MouseButtonRelease, {-900, 300}, Qt::LeftButton, Qt::NoButton);
    QCOMPARE(window.model()->dragPane(), 0);
    QCOMPARE(window.model()->left(1), -650);
    QCOMPARE(window.model()->left(2), -325);
}

void ReviewWindowZoomTest::stretchAveragesAndRepeats()
{
    // Columns 0..3 of value 0, 100, 200, 40 (grey), two rows.
    Picture picture(4, 2);
    const int values[] = {0, 100, 200, 40};
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 4; ++x)
            testing_support::setPixel(picture, x, y, static_cast<uint8_t>(values[x]), static_cast<uint8_t>(values[x]),
                             static_cast<uint8_t>(values[x]));
    const QImage half = renderStretched(picture, 2, 1, QRect(0, 0, 2, 1));
    QCOMPARE(half.size(), QSize(2, 1));
    QCOMPARE(qRed(half.pixel(0, 0)), 50);
    QCOMPARE(qRed(half.pixel(1, 0)), 120);
    // Enlarged 4 times, only the asked part (clipped to the picture).
    const QImage part = renderStretched(picture, 16, 8, QRect(6, 0, 20, 1));
    QCOMPARE(part.size(), QSize(10, 1));
    QCOMPARE(qRed(part.pixel(0, 0)), 100);
    QCOMPARE(qRed(part.pixel(1, 0)), 100);
    QCOMPARE(qRed(part.pixel(2, 0)), 200);
    QCOMPARE(qRed(part.pixel(9, 0)), 40);
    QVERIFY(renderStretched(picture, 0, 0, QRect(0, 0, 5, 5)).isNull());
}

QTEST_MAIN(ReviewWindowZoomTest)
#include "review_window_zoom_test.moc"
