#include <memory>
#include <string>

#include <QAction>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "app/main_window.h"
#include "gui/main_window_fixture.h"
#include "gui/main_window_test_peer.h"
#include "review/ui/review_window.h"
#include "support/test_pictures.h"

using main_window_fixture::closeReviewsOf;
using testing_support::TempDir;

namespace {

// Runs a search from the window; the options it ran with.
SearchOptions searchFrom(MainWindow& window)
{
    QSignalSpy finished(&window, &MainWindow::searchFinished);
    window.Button2Click();
    if (!finished.wait(10000))
        qFatal("the search did not finish");
    return MainWindowTestPeer(window).lastOutcome().options;
}

} // namespace

class MainWindowTurnedTest : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> m_config;

private slots:
    void init()
    {
        m_config = std::make_unique<QTemporaryDir>();
        qputenv("XDG_CONFIG_HOME", m_config->path().toUtf8());
    }

    // The choice sits in the formats' menu, is off at first, reaches the
    // search, and is kept beside the formats, not in Zelvic.ini.
    void turnedChoiceIsKeptApartAndSearched()
    {
        TempDir dir;
        testing_support::writeJpeg(dir.file("photos/a.jpg"), testing_support::photoLikePicture(32, 24, 7), 90);
        QFile kept(m_config->path() + QStringLiteral("/zelvic/turned"));
        QStringList errors;
        {
            auto window = main_window_fixture::makeWindow(dir, &errors, dir.str() + "/photos");
            closeReviewsOf(*window);
            auto* turned = window->findChild<QAction*>(QStringLiteral("turnedChoice"));
            QVERIFY(turned && turned->isCheckable() && !turned->isChecked());
            QCOMPARE(turned->text(), QStringLiteral("回転・反転も探す"));
            QVERIFY(!searchFrom(*window).turned);
            QVERIFY(!kept.exists());
            turned->setChecked(true);
            QVERIFY(searchFrom(*window).turned);
        }
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), QByteArray("on\n"));
        kept.close();
        auto again = main_window_fixture::makeWindow(dir, &errors, dir.str() + "/photos");
        closeReviewsOf(*again);
        auto* turned = again->findChild<QAction*>(QStringLiteral("turnedChoice"));
        QVERIFY(turned->isChecked());
        turned->setChecked(false);
        QVERIFY(!searchFrom(*again).turned);
        again.reset();
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), QByteArray("off\n"));
        QFile ini(m_config->filePath(QStringLiteral("zelvic/Zelvic.ini")));
        QVERIFY(ini.open(QIODevice::ReadOnly));
        QVERIFY(!ini.readAll().contains("turn"));
        QVERIFY(errors.isEmpty());
    }
};

QTEST_MAIN(MainWindowTurnedTest)
#include "main_window_turned_test.moc"
