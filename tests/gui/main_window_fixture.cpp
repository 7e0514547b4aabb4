#include "gui/main_window_fixture.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QTimer>

#include "gui/main_window_test_peer.h"
#include "review/ui/review_window.h"

namespace main_window_fixture {

std::unique_ptr<MainWindow> makeWindow(const testing_support::TempDir& dir, QStringList* errors,
                                       const std::string& initial)
{
    MainWindowSetup setup;
    setup.startDir = dir.str();
    setup.initialFolder = initial;
    setup.volumes = std::vector<Volume> {Volume {dir.str(), VolumeKind::Fixed}};
    setup.reportError = [errors](const QString& message) { errors->append(message); };
    // Never the user's own signature cache.
    setup.cacheFile = dir.file(".cache/signatures.sqlite");
    return std::make_unique<MainWindow>(std::move(setup));
}

void closeReviewsOf(MainWindow& window)
{
    auto* timer = new QTimer(&window);
    QObject::connect(timer, &QTimer::timeout, &window, [&window] {
        if (MainWindowTestPeer(window).reviewWindow()->isVisible())
            MainWindowTestPeer(window).reviewWindow()->reject();
    });
    timer->start(20);
}

void recordReviewsOf(MainWindow& window, QStringList* shown)
{
    auto* timer = new QTimer(&window);
    QObject::connect(timer, &QTimer::timeout, &window, [&window, shown] {
        ReviewWindow* review = MainWindowTestPeer(window).reviewWindow();
        if (!review->isVisible())
            return;
        const QString place = review->findChild<QLabel*>(QStringLiteral("GroupLabel"))->text();
        const QString memo = review->findChild<QPlainTextEdit*>(QStringLiteral("Memo1"))->toPlainText();
        shown->append(place + QLatin1Char(' ') + memo.section(QLatin1Char('\n'), 0, 0));
        review->reject();
    });
    timer->start(20);
}

void writeFixturePictures(const testing_support::TempDir& dir)
{
    const Picture picture = testing_support::photoLikePicture(32, 24, 7);
    testing_support::writeJpeg(dir.file("photos/a.jpg"), picture, 90);
    testing_support::writeJpeg(dir.file("photos/b.jpg"), picture, 90);
    testing_support::writeJpeg(dir.file("photos/c.jpg"), testing_support::photoLikePicture(48, 40, 9), 70);
}

} // namespace main_window_fixture
