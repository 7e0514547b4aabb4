#include <string>
#include <vector>

#include <QPlainTextEdit>
#include <QTest>

#include <sys/stat.h>

#include "gui/review_window_test_peer.h"
#include "picture/orientation.h"
#include "review/ui/picture_view.h"
#include "review/ui/review_window.h"
#include "search/file_table.h"
#include "search/pair_list.h"
#include "search/pair_orientations.h"
#include "search/search_options.h"
#include "support/test_pictures.h"

using testing_support::TempDir;

namespace {

// Two bitmaps of one photograph: a.bmp as taken, b.bmp stored a quarter
// anticlockwise, so that b turned a quarter clockwise is a. The search
// paired them in that orientation.
struct TurnedPair {
    TempDir dir;
    FileTable files;
    std::vector<PairRec> pairs {PairRec {PairState::Waiting, 0, 1}};
    PairOrientations orientations;
    ReviewSession session;

    TurnedPair()
    {
        const Picture picture = testing_support::photoLikePicture(120, 80, 4);
        addFile("a.bmp", picture);
        addFile("b.bmp", turnedPicture(picture, Orientation::Turned270));
        orientations.set(0, 1, Orientation::Turned90);
        session.files = &files;
        session.pairs = &pairs;
        session.mode = CheckMode::Identical;
        session.pane = PaneSize {390, 416};
        session.orientations = &orientations;
    }

    void addFile(const std::string& name, const Picture& picture)
    {
        File_rec file;
        file.path = dir.file(name);
        testing_support::writeBmp24(file.path, picture);
        struct stat st {};
        ::stat(file.path.c_str(), &st);
        file.size = st.st_size;
        file.stamp = "2024/05/06 07/08/10";
        files.push_back(file);
    }
};

PictureView* image(ReviewWindow& window, int pane)
{
    return window.findChild<PictureView*>(QStringLiteral("Image%1").arg(pane));
}

QString memo(ReviewWindow& window, int pane)
{
    return window.findChild<QPlainTextEdit*>(QStringLiteral("Memo%1").arg(pane))->toPlainText();
}

// Both panes have their pictures.
bool painted(ReviewWindow& window)
{
    return QTest::qWaitFor([&window] { return ReviewWindowTestPeer::pairSettled(window); });
}

} // namespace

class ReviewTurnedTest : public QObject {
    Q_OBJECT

private slots:
    // The pair on show lies alike: the second picture is shown turned as
    // the search matched it, and its memo says so; the file is untouched.
    void secondPictureIsShownAsTheSearchMatchedIt()
    {
        TurnedPair scene;
        const std::string before = testing_support::readFileText(scene.files[1].path);
        ReviewWindow window;
        std::vector<int32_t> group {0, 1};
        QVERIFY(ReviewWindowTestPeer::openGroup(window, scene.session, group));
        QVERIFY(painted(window));
        QCOMPARE(image(window, 1)->turn(), Orientation::Upright);
        QCOMPARE(image(window, 2)->turn(), Orientation::Turned90);
        QCOMPARE(image(window, 2)->size(), QSize(120, 80));
        QCOMPARE(image(window, 2)->grab().toImage(), image(window, 1)->grab().toImage());
        QVERIFY(memo(window, 2).contains(QStringLiteral("表示の向き：右へ90°回転 (turn90)")));
        QVERIFY(!memo(window, 1).contains(QStringLiteral("表示の向き")));
        // The memo names the file's own size, not the turned one.
        QVERIFY(memo(window, 2).contains(QStringLiteral("横：  80   縦：  120")));
        window.done(0);
        QCOMPARE(testing_support::readFileText(scene.files[1].path), before);
    }

    // With the turned copy first, the other is turned back to match it.
    void firstPictureStaysAsStoredWhicheverItIs()
    {
        TurnedPair scene;
        ReviewWindow window;
        std::vector<int32_t> group {1, 0};
        QVERIFY(ReviewWindowTestPeer::openGroup(window, scene.session, group));
        QVERIFY(painted(window));
        QCOMPARE(image(window, 2)->turn(), Orientation::Turned270);
        QCOMPARE(image(window, 2)->grab().toImage(), image(window, 1)->grab().toImage());
        QVERIFY(memo(window, 2).contains(QStringLiteral("(turn270)")));
    }
};

QTEST_MAIN(ReviewTurnedTest)
#include "review_turned_test.moc"
