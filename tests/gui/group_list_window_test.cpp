#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLocale>
#include <QFile>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include "app/group_list_model.h"
#include "app/group_list_settings.h"
#include "app/group_list_window.h"
#include "app/main_window.h"
#include "app/option_group.h"
#include "app/thumbnail_store.h"
#include "gui/main_window_test_peer.h"
#include "gui/review_window_test_peer.h"
#include "support/test_pictures.h"

using testing_support::TempDir;

namespace {

// Two groups in file-size mode: three copies of one photograph and two of
// another, big enough that a thumbnail is scaled down to 128 pixels.
void writeGroups(const TempDir& dir)
{
    const Picture first = testing_support::photoLikePicture(300, 200, 7);
    for (const char* name : {"photos/a.jpg", "photos/b.jpg", "photos/copies/c.jpg"})
        testing_support::writeJpeg(dir.file(name), first, 90);
    const Picture second = testing_support::photoLikePicture(200, 240, 11);
    for (const char* name : {"photos/d.jpg", "photos/e.jpg"})
        testing_support::writeJpeg(dir.file(name), second, 80);
}

std::string bytesOf(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A main window on `dir` whose review walk after a search closes every
// group (unless the test answers the review itself).
std::unique_ptr<MainWindow> searchedWindow(const TempDir& dir, QStringList* errors, bool closeReviews = true)
{
    MainWindowSetup setup;
    setup.startDir = dir.str();
    setup.initialFolder = dir.str() + "/photos";
    setup.volumes = std::vector<Volume> {Volume {dir.str(), VolumeKind::Fixed}};
    setup.reportError = [errors](const QString& message) { errors->append(message); };
    setup.cacheFile = dir.file(".cache/signatures.sqlite");
    auto window = std::make_unique<MainWindow>(std::move(setup));
    window->findChild<OptionGroup*>(QStringLiteral("RadioGroup1"))->setItemIndex(1); // photos/copies too
    if (!closeReviews)
        return window;
    MainWindow* raw = window.get();
    auto* closer = new QTimer(raw);
    QObject::connect(closer, &QTimer::timeout, raw, [raw, closer] {
        ReviewWindow* review = MainWindowTestPeer(*raw).reviewWindow();
        if (review->isVisible() && !raw->findChild<GroupListWindow*>())
            review->reject();
        if (raw->findChild<GroupListWindow*>())
            closer->stop();
    });
    closer->start(20);
    return window;
}

GroupListWindow* openList(MainWindow& window)
{
    auto* button = window.findChild<QPushButton*>(QStringLiteral("GroupListButton"));
    if (!button || !button->isEnabled())
        return nullptr;
    QTest::mouseClick(button, Qt::LeftButton);
    return window.findChild<GroupListWindow*>();
}

QModelIndex memberRow(const GroupListWindow& list, int group, int member, int column = GroupListModel::Name)
{
    const QAbstractItemModel* model = list.model();
    return model->index(member, column, model->index(group, 0));
}

// The list follows the result lines, smaller files first: d.jpg and e.jpg,
// then the three copies.
constexpr int kPair = 0;
constexpr int kCopies = 1;

QString markOf(const GroupListWindow& list, int group, int member)
{
    return memberRow(list, group, member, GroupListModel::MarkColumn).data().toString();
}

void typeRules(GroupListWindow& list, const QString& rules)
{
    auto* edit = list.findChild<QLineEdit*>(QStringLiteral("Rules"));
    edit->selectAll();
    QTest::keyClicks(edit, rules);
    QTest::mouseClick(list.findChild<QPushButton*>(QStringLiteral("ApplyRules")), Qt::LeftButton);
}

void pressOn(GroupListWindow& list, const QModelIndex& row, Qt::Key key)
{
    list.view()->setCurrentIndex(row);
    QTest::keyClick(list.view(), key);
}

QString status(const GroupListWindow& list)
{
    return list.findChild<QLabel*>(QStringLiteral("Status"))->text();
}

} // namespace

class GroupListWindowTest : public QObject {
    Q_OBJECT
    // Trash, journal, thumbnails and settings of each test apart from the user's.
    std::unique_ptr<QTemporaryDir> m_home;

private slots:
    void init()
    {
        m_home = std::make_unique<QTemporaryDir>();
        for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME", "XDG_CACHE_HOME"})
            qputenv(name, (m_home->path() + QLatin1Char('/') + QLatin1String(name)).toUtf8());
    }

    void listShowsGroupsAndRulesMarkThem();
    void spaceFlipsMarksButNeverTheLastOne();
    void enterOpensTheReviewAndItsDeleteShows();
    void batchToTrashThenUndoPutsEveryFileBack();
    void thumbnailsFollowTheSharedStandardAndAreReused();
    void ruleSetsAreKeptAndTheListCanOpenInsteadOfTheReview();
    void groupsPastTheWalksLimitAreCountedAndOpenTheList();
};

void GroupListWindowTest::listShowsGroupsAndRulesMarkThem()
{
    TempDir dir;
    writeGroups(dir);
    QStringList errors;
    auto window = searchedWindow(dir, &errors);
    auto* button = window->findChild<QPushButton*>(QStringLiteral("GroupListButton"));
    QVERIFY(!button->isEnabled()); // no search yet
    window->show();
    QSignalSpy finished(window.get(), &MainWindow::searchFinished);
    window->Button2Click();
    QTRY_COMPARE(finished.count(), 1);
    QVERIFY2(errors.isEmpty(), qPrintable(errors.join('\n')));

    GroupListWindow* list = openList(*window);
    QVERIFY(list);
    QTRY_VERIFY(list->isVisible());
    const QAbstractItemModel* model = list->model();
    QCOMPARE(model->rowCount(), 2);
    QCOMPARE(model->rowCount(model->index(kCopies, 0)), 3);
    QCOMPARE(model->rowCount(model->index(kPair, 0)), 2);
    QCOMPARE(model->index(kCopies, 0).data().toString(), QStringLiteral("グループ 2（3 枚）"));
    QCOMPARE(memberRow(*list, kCopies, 0).data().toString(), QStringLiteral("a.jpg"));
    QCOMPARE(memberRow(*list, kCopies, 0, GroupListModel::Dimensions).data().toString(), QStringLiteral("300 × 200"));
    QCOMPARE(memberRow(*list, kPair, 1, GroupListModel::Folder).data().toString(),
             QString::fromStdString(dir.str() + "/photos"));
    for (int member = 0; member < 3; ++member)
        QCOMPARE(markOf(*list, kCopies, member), QStringLiteral("―")); // nothing proposed before a rule

    // Shortest path keeps a.jpg (a tie with b.jpg goes to the earlier) and d.jpg.
    typeRules(*list, QStringLiteral("path"));
    const QStringList group0 {markOf(*list, kCopies, 0), markOf(*list, kCopies, 1), markOf(*list, kCopies, 2)};
    QCOMPARE(group0, (QStringList {QStringLiteral("残す"), QStringLiteral("削除"), QStringLiteral("削除")}));
    QCOMPARE(markOf(*list, kPair, 0), QStringLiteral("残す"));
    QCOMPARE(markOf(*list, kPair, 1), QStringLiteral("削除"));
    QVERIFY2(status(*list).contains(QStringLiteral("削除の印 3 ファイル")), qPrintable(status(*list)));

    list->findChild<QLineEdit*>(QStringLiteral("References"))->setText(QString::fromStdString(dir.str() + "/photos/copies"));
    typeRules(*list, QStringLiteral("oldest,pixels"));
    // The copies folder as a reference: c.jpg is never marked, so it is the
    // one kept although a.jpg is the oldest.
    const QStringList referenced {markOf(*list, kCopies, 0), markOf(*list, kCopies, 1), markOf(*list, kCopies, 2)};
    QCOMPARE(referenced, (QStringList {QStringLiteral("削除"), QStringLiteral("削除"), QStringLiteral("残す")}));
    QCOMPARE(list->list().markedFiles(), 3);

    // A rule the list does not know says so and changes no mark.
    typeRules(*list, QStringLiteral("biggest"));
    QVERIFY2(status(*list).startsWith(QStringLiteral("規則を読めません")), qPrintable(status(*list)));
    QCOMPARE(list->list().markedFiles(), 3);
}

void GroupListWindowTest::spaceFlipsMarksButNeverTheLastOne()
{
    TempDir dir;
    writeGroups(dir);
    QStringList errors;
    auto window = searchedWindow(dir, &errors);
    window->show();
    QSignalSpy finished(window.get(), &MainWindow::searchFinished);
    window->Button2Click();
    QTRY_COMPARE(finished.count(), 1);
    GroupListWindow* list = openList(*window);
    QVERIFY(list);
    typeRules(*list, QStringLiteral("path"));

    pressOn(*list, memberRow(*list, kCopies, 1), Qt::Key_Space);
    QCOMPARE(markOf(*list, kCopies, 1), QStringLiteral("―"));
    QCOMPARE(list->list().markedFiles(), 2);
    pressOn(*list, memberRow(*list, kCopies, 1), Qt::Key_Space);
    QCOMPARE(markOf(*list, kCopies, 1), QStringLiteral("削除"));

    // d.jpg is kept and e.jpg marked: marking d.jpg too would empty the group.
    pressOn(*list, memberRow(*list, kPair, 0), Qt::Key_Space);
    QCOMPARE(markOf(*list, kPair, 0), QStringLiteral("残す"));
    QCOMPARE(status(*list), QStringLiteral("グループの全部に削除の印はつけられません"));
    // Unmark e.jpg, then the kept one may go and e.jpg stays.
    pressOn(*list, memberRow(*list, kPair, 1), Qt::Key_Space);
    pressOn(*list, memberRow(*list, kPair, 0), Qt::Key_Space);
    QCOMPARE(markOf(*list, kPair, 0), QStringLiteral("削除"));
    QCOMPARE(markOf(*list, kPair, 1), QStringLiteral("―"));
    pressOn(*list, memberRow(*list, kPair, 1), Qt::Key_Space);
    QCOMPARE(markOf(*list, kPair, 1), QStringLiteral("―"));

    // A click on a mark flips it too.
    const QModelIndex mark = memberRow(*list, kCopies, 2, GroupListModel::MarkColumn);
    list->view()->scrollTo(mark);
    const QPoint at = list->view()->visualRect(mark).center();
    QTest::mouseClick(list->view()->viewport(), Qt::LeftButton, Qt::NoModifier, at);
    QCOMPARE(markOf(*list, kCopies, 2), QStringLiteral("―"));
}

void GroupListWindowTest::enterOpensTheReviewAndItsDeleteShows()
{
    TempDir dir;
    writeGroups(dir);
    QStringList errors;
    auto window = searchedWindow(dir, &errors);
    window->show();
    QSignalSpy finished(window.get(), &MainWindow::searchFinished);
    window->Button2Click();
    QTRY_COMPARE(finished.count(), 1);
    GroupListWindow* list = openList(*window);
    QVERIFY(list);

    // In the review, "削除２" on the first pair (a.jpg, b.jpg), then close it.
    ReviewWindow* review = MainWindowTestPeer(*window).reviewWindow();
    QStringList shown;
    auto* actor = new QTimer(review);
    bool deleted = false;
    QObject::connect(actor, &QTimer::timeout, review, [review, &shown, &deleted] {
        if (!review->isVisible() || !ReviewWindowTestPeer::pairSettled(*review))
            return;
        if (!deleted) {
            shown.append(review->findChild<QLabel*>(QStringLiteral("GroupLabel"))->text());
            deleted = true;
            QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : review;
            QTest::keyClick(target, Qt::Key_2);
            return;
        }
        review->reject();
    });
    actor->start(10);
    pressOn(*list, memberRow(*list, kCopies, 2), Qt::Key_Return);
    actor->stop();

    QCOMPARE(shown, QStringList {QStringLiteral("グループ 2 / 2")});
    QVERIFY(!std::filesystem::exists(dir.str() + "/photos/b.jpg"));
    QCOMPARE(markOf(*list, kCopies, 1), QStringLiteral("削除済み"));
    QCOMPARE(markOf(*list, kCopies, 0), QStringLiteral("―"));
    // A rule leaves the deleted file alone, and a batch acts on the rest of
    // its group rather than skip it for the file that is gone.
    typeRules(*list, QStringLiteral("path"));
    QCOMPARE(markOf(*list, kCopies, 1), QStringLiteral("削除済み"));
    QCOMPARE(markOf(*list, kCopies, 2), QStringLiteral("削除"));
    list->setConfirm([](const QString&) { return true; });
    QSignalSpy batch(list, &GroupListWindow::batchFinished);
    QTest::mouseClick(list->findChild<QPushButton*>(QStringLiteral("Trash")), Qt::LeftButton);
    QTRY_COMPARE(batch.count(), 1);
    QCOMPARE(status(*list), QStringLiteral("2 ファイル（%1）を移しました")
                                .arg(QLocale::system().formattedDataSize(
                                    static_cast<qint64>(std::filesystem::file_size(dir.str() + "/photos/a.jpg")
                                                        + std::filesystem::file_size(dir.str() + "/photos/d.jpg")))));
    QVERIFY(!std::filesystem::exists(dir.str() + "/photos/copies/c.jpg"));
    QVERIFY(std::filesystem::exists(dir.str() + "/photos/a.jpg"));
}

void GroupListWindowTest::batchToTrashThenUndoPutsEveryFileBack()
{
    TempDir dir;
    writeGroups(dir);
    QStringList errors;
    auto window = searchedWindow(dir, &errors);
    window->show();
    QSignalSpy finished(window.get(), &MainWindow::searchFinished);
    window->Button2Click();
    QTRY_COMPARE(finished.count(), 1);
    GroupListWindow* list = openList(*window);
    QVERIFY(list);
    QStringList questions;
    list->setConfirm([&questions](const QString& question) {
        questions.append(question);
        return true;
    });
    typeRules(*list, QStringLiteral("path"));

    const std::vector<std::string> marked {dir.str() + "/photos/b.jpg", dir.str() + "/photos/copies/c.jpg",
                                           dir.str() + "/photos/e.jpg"};
    std::vector<std::string> bytes;
    std::vector<std::filesystem::file_time_type> times;
    for (const std::string& path : marked) {
        bytes.push_back(bytesOf(path));
        times.push_back(std::filesystem::last_write_time(path));
    }
    const int64_t total = static_cast<int64_t>(bytes[0].size() * 2 + bytes[2].size());

    QSignalSpy batch(list, &GroupListWindow::batchFinished);
    QTest::mouseClick(list->findChild<QPushButton*>(QStringLiteral("Trash")), Qt::LeftButton);
    QTRY_COMPARE(batch.count(), 1);
    QCOMPARE(questions.size(), 1);
    QVERIFY2(questions[0].startsWith(QStringLiteral("3 ファイル（%1）を").arg(QLocale::system().formattedDataSize(total))),
             qPrintable(questions[0]));
    for (const std::string& path : marked)
        QVERIFY2(!std::filesystem::exists(path), path.c_str());
    QVERIFY(std::filesystem::exists(dir.str() + "/photos/a.jpg"));
    QVERIFY(std::filesystem::exists(dir.str() + "/photos/d.jpg"));
    QCOMPARE(markOf(*list, kCopies, 1), QStringLiteral("ゴミ箱へ移動済み"));
    QCOMPARE(markOf(*list, kPair, 1), QStringLiteral("ゴミ箱へ移動済み"));
    const QString trashInfo = m_home->path() + QStringLiteral("/XDG_DATA_HOME/Trash/info");
    QCOMPARE(QDir(trashInfo).entryList(QDir::Files).size(), 3);

    QTest::mouseClick(list->findChild<QPushButton*>(QStringLiteral("Undo")), Qt::LeftButton);
    QTRY_COMPARE(batch.count(), 2);
    QCOMPARE(status(*list), QStringLiteral("3 ファイルを元に戻しました"));
    for (std::size_t i = 0; i < marked.size(); ++i) {
        QCOMPARE(bytesOf(marked[i]), bytes[i]);
        QVERIFY(std::filesystem::last_write_time(marked[i]) == times[i]);
    }
    QCOMPARE(QDir(trashInfo).entryList(QDir::Files).size(), 0);
    QCOMPARE(markOf(*list, kCopies, 1), QStringLiteral("削除"));

    // Nothing left to undo: said, and no file touched.
    QTest::mouseClick(list->findChild<QPushButton*>(QStringLiteral("Undo")), Qt::LeftButton);
    QTRY_COMPARE(batch.count(), 3);
    QCOMPARE(status(*list), QStringLiteral("元に戻せる処理はありません"));
}

void GroupListWindowTest::thumbnailsFollowTheSharedStandardAndAreReused()
{
    TempDir dir;
    writeGroups(dir);
    QStringList errors;
    auto window = searchedWindow(dir, &errors);
    window->show();
    QSignalSpy finished(window.get(), &MainWindow::searchFinished);
    window->Button2Click();
    QTRY_COMPARE(finished.count(), 1);

    const int64_t before = thumbnailDecodeCount();
    GroupListWindow* list = openList(*window);
    QVERIFY(list);
    for (int member = 0; member < 3; ++member)
        QTRY_VERIFY(!memberRow(*list, kCopies, member).data(Qt::DecorationRole).isNull());
    for (int member = 0; member < 2; ++member)
        QTRY_VERIFY(!memberRow(*list, kPair, member).data(Qt::DecorationRole).isNull());
    QCOMPARE(thumbnailDecodeCount() - before, 5);

    const std::string picture = dir.str() + "/photos/a.jpg";
    const ThumbnailPlace place = thumbnailPlace(picture, 128);
    QVERIFY2(place.file.startsWith(m_home->path() + QStringLiteral("/XDG_CACHE_HOME/thumbnails/normal/")),
             qPrintable(place.file));
    QCOMPARE(place.uri, QStringLiteral("file://") + QString::fromStdString(picture));
    QFile png(place.file);
    QVERIFY(png.open(QIODevice::ReadOnly));
    const QByteArray pngData = png.readAll();
    const QHash<QString, QString> text = pngTextChunks(pngData);
    QCOMPARE(text.value(QStringLiteral("Thumb::URI")), place.uri);
    struct stat info {};
    QCOMPARE(::stat(picture.c_str(), &info), 0);
    QCOMPARE(text.value(QStringLiteral("Thumb::MTime")), QString::number(info.st_mtim.tv_sec));
    QCOMPARE(QImageReader(place.file, "png").size(), QSize(128, 85)); // 300 x 200 to 128 on the longer side
    QCOMPARE(::stat(place.file.toLocal8Bit().constData(), &info), 0);
    QCOMPARE(info.st_mode & 0777, 0600u);
    const int64_t written = info.st_mtim.tv_sec * 1000000000 + info.st_mtim.tv_nsec;

    // A second list reads every thumbnail back: no decode, the file untouched.
    const int64_t after = thumbnailDecodeCount();
    QPointer<GroupListWindow> first(list);
    list->close();
    GroupListWindow* again = openList(*window);
    QVERIFY(again && !first); // a new list, with a new thumbnail cache
    for (int member = 0; member < 3; ++member)
        QTRY_VERIFY(!memberRow(*again, kCopies, member).data(Qt::DecorationRole).isNull());
    for (int member = 0; member < 2; ++member)
        QTRY_VERIFY(!memberRow(*again, kPair, member).data(Qt::DecorationRole).isNull());
    QCOMPARE(thumbnailDecodeCount(), after);
    QCOMPARE(::stat(place.file.toLocal8Bit().constData(), &info), 0);
    QCOMPARE(info.st_mtim.tv_sec * 1000000000 + info.st_mtim.tv_nsec, written);

    // A picture written again since is thumbnailed anew.
    // The standard's time has whole seconds: the new one lies seconds later.
    testing_support::writeJpeg(picture, testing_support::photoLikePicture(300, 200, 3), 90);
    std::filesystem::last_write_time(picture, std::filesystem::last_write_time(picture) + std::chrono::seconds(5));
    QCOMPARE(loadThumbnail(picture, 128).isNull(), false);
    QCOMPARE(thumbnailDecodeCount(), after + 1);
}

void GroupListWindowTest::ruleSetsAreKeptAndTheListCanOpenInsteadOfTheReview()
{
    TempDir dir;
    writeGroups(dir);
    QStringList errors;
    auto window = searchedWindow(dir, &errors);
    window->show();
    QSignalSpy finished(window.get(), &MainWindow::searchFinished);
    window->Button2Click();
    QTRY_COMPARE(finished.count(), 1);
    GroupListWindow* list = openList(*window);
    QVERIFY(list);

    // The copies folder preferred, then a name rule: c.jpg kept, and in the
    // pair the one whose name does not match.
    const QString copies = QString::fromStdString(dir.str() + "/photos/copies");
    typeRules(*list, QStringLiteral("folder=/elsewhere;%1, not-name=d*").arg(copies));
    QCOMPARE(markOf(*list, kCopies, 2), QStringLiteral("残す"));
    QCOMPARE(markOf(*list, kPair, 0), QStringLiteral("削除"));
    QCOMPARE(markOf(*list, kPair, 1), QStringLiteral("残す"));
    list->saveRuleSet(QStringLiteral("コピー優先"));
    typeRules(*list, QStringLiteral("path"));
    QCOMPARE(markOf(*list, kCopies, 2), QStringLiteral("削除"));

    // Chosen again from the sets, it gives the same marks and its own line back.
    auto* sets = list->findChild<QComboBox*>(QStringLiteral("RuleSets"));
    QCOMPARE(sets->count(), 1);
    sets->setCurrentIndex(-1);
    QTest::keyClick(sets, Qt::Key_Down);
    QCOMPARE(list->findChild<QLineEdit*>(QStringLiteral("Rules"))->text(),
             QStringLiteral("folder=/elsewhere;%1,not-name=d*").arg(copies));
    QCOMPARE(markOf(*list, kCopies, 2), QStringLiteral("残す"));
    QCOMPARE(markOf(*list, kPair, 0), QStringLiteral("削除"));

    // Kept beside Zelvic.ini, not in it; a second list sees the set.
    const QString config = m_home->path() + QStringLiteral("/XDG_CONFIG_HOME/zelvic/");
    QVERIFY(QFile::exists(config + QStringLiteral("group_list.ini")));
    QCOMPARE(GroupListSettings().ruleSets().size(), std::size_t {1});
    QCOMPARE(GroupListSettings().ruleSets()[0].criteria[0].folders,
             (std::vector<std::string> {"/elsewhere", copies.toStdString()}));

    // With the list chosen to open after a search, the review walk is not run.
    QTest::mouseClick(list->findChild<QCheckBox*>(QStringLiteral("OpenAfterSearch")), Qt::LeftButton);
    QVERIFY(GroupListSettings().openListAfterSearch());
    bool reviewShown = false;
    ReviewWindow* review = MainWindowTestPeer(*window).reviewWindow();
    auto* watch = new QTimer(review);
    QObject::connect(watch, &QTimer::timeout, review, [review, &reviewShown] { reviewShown |= review->isVisible(); });
    watch->start(5);
    window->Button2Click();
    QTRY_COMPARE(finished.count(), 2);
    watch->stop();
    QVERIFY(!reviewShown);
    GroupListWindow* opened = window->findChild<GroupListWindow*>();
    QVERIFY(opened);
    QTRY_VERIFY(opened->isVisible());
    QCOMPARE(opened->model()->rowCount(), 2);
}

void GroupListWindowTest::groupsPastTheWalksLimitAreCountedAndOpenTheList()
{
    // 2,002 pairs of copies, every pair its own size (one tiny JPEG with
    // bytes after its end): the walk lets 2,001 of them start a group. The
    // first group's review is ended with "中断", which ends the walk.
    TempDir dir;
    constexpr int kPairs = 2002;
    testing_support::writeJpeg(dir.file("base.jpg"), testing_support::photoLikePicture(8, 8, 5), 90);
    const std::string base = bytesOf(dir.file("base.jpg"));
    for (int pair = 0; pair < kPairs; ++pair) {
        const std::string bytes = base + std::string(static_cast<std::size_t>(pair), '\0');
        for (const char* side : {"a", "b"}) {
            std::ofstream out(dir.file("photos/" + std::to_string(pair) + side + ".jpg"), std::ios::binary);
            out << bytes;
        }
    }
    QStringList errors;
    auto window = searchedWindow(dir, &errors, false);
    ReviewWindow* review = MainWindowTestPeer(*window).reviewWindow();
    int reviews = 0;
    auto* aborter = new QTimer(review);
    QObject::connect(aborter, &QTimer::timeout, review, [review, &reviews] {
        if (review->isVisible()) {
            ++reviews;
            review->done(static_cast<int>(ReviewResult::Abort));
        }
    });
    aborter->start(1);
    window->show();
    QSignalSpy finished(window.get(), &MainWindow::searchFinished);
    window->Button2Click();
    // 4,004 files: several seconds under the sanitizers.
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 120000);
    QVERIFY2(errors.isEmpty(), qPrintable(errors.join('\n')));
    QCOMPARE(MainWindowTestPeer(*window).lastOutcome().pairList.size(), std::size_t {kPairs});
    QCOMPARE(reviews, 1);

    QMessageBox* box = nullptr;
    QTRY_VERIFY_WITH_TIMEOUT((box = window->findChild<QMessageBox*>(QStringLiteral("NotOfferedBox"))) != nullptr, 60000);
    QCOMPARE(box->text(), QStringLiteral("1 グループは表示されませんでした。グループ一覧で開きますか？"));
    QVERIFY(!window->findChild<GroupListWindow*>());
    QTest::mouseClick(box->button(QMessageBox::Yes), Qt::LeftButton);
    GroupListWindow* list = window->findChild<GroupListWindow*>();
    QVERIFY(list);
    QCOMPARE(list->model()->rowCount(), kPairs);
}

QTEST_MAIN(GroupListWindowTest)
#include "group_list_window_test.moc"
