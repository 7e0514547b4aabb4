#include <filesystem>
#include <string>
#include <vector>

#include <QDir>
#include <QTest>
#include <QTreeWidgetItem>

#include "app/folder_listing.h"
#include "common/folder_path.h"
#include "app/folder_tree.h"
#include "app/volume_list.h"
#include "support/test_pictures.h"

using testing_support::TempDir;
namespace fs = std::filesystem;

namespace {

void makeFolders(const TempDir& dir, std::initializer_list<const char*> relatives)
{
    for (const char* relative : relatives)
        fs::create_directories(dir.path() / relative);
}

QStringList childTexts(const QTreeWidgetItem* node)
{
    QStringList texts;
    for (int i = 0; i < node->childCount(); ++i)
        texts.append(node->child(i)->text(0));
    return texts;
}

QTreeWidgetItem* childNamed(QTreeWidgetItem* node, const QString& text)
{
    for (int i = 0; i < node->childCount(); ++i) {
        if (node->child(i)->text(0) == text)
            return node->child(i);
    }
    qFatal("no child %s", qPrintable(text));
}

// A tree over two volumes in a temporary folder: a fixed "disk" and an
// optical "cd", with the depth option read from `depth`.
struct TreeFixture {
    TempDir dir;
    QWidget parent;
    FolderTree* tree = nullptr;
    int32_t depth = 0;

    TreeFixture()
    {
        makeFolders(dir, {"disk/a/a1/a11", "disk/a/a2", "disk/b/b1", "disk/.hidden/h1", "disk/Zeta", "cd/old"});
        testing_support::writeBytes(dir.file("disk/file.jpg"), "not a folder");
        tree = new FolderTree(&parent);
        tree->setDepthSource([this] { return depth; });
    }

    std::string disk() const { return dir.str() + "/disk"; }
    std::string cd() const { return dir.str() + "/cd"; }

    void start(const std::string& currentDir, const std::string& initial = {})
    {
        tree->start({Volume {cd(), VolumeKind::Optical}, Volume {disk(), VolumeKind::Fixed}}, currentDir, initial);
    }
    QTreeWidgetItem* cdNode() const { return tree->topLevelItem(0); }
    QTreeWidgetItem* diskNode() const { return tree->topLevelItem(1); }
};

} // namespace

class FolderTreeTest : public QObject {
    Q_OBJECT
private slots:
    void listingShowsVisibleFoldersInNameOrder();
    void pathsNeverEndInSlashExceptTheRoot();
    void volumeKindFromDeviceAndSysfs();
    void volumeOfTakesTheLongestMountPoint();
    void startReadsOnlyTheCurrentVolume();
    void depthDecidesHowDeepAndWhetherToOpen();
    void leavingABranchFoldsIt();
    void opticalVolumeIsReadAgainWhenSelectedAnew();
    void initialFolderIsExpandedToAndSelected();
    void clickedFolderStaysSelectedWhenTheLeftOneFolds();
    void startScrollsToTheSelectedFolder();
    void missingFolderStartsAtNearestParent();
    void homeIsTheFirstTopNode();
    void collapsingAroundTheSelectionSelectsTheCollapsedFolder();
    void doubleClickWithADepthLeavesTheFolderOpen();
    void foldersAreReadAgainWhenOpenedAndOnReread();
};

void FolderTreeTest::listingShowsVisibleFoldersInNameOrder()
{
    TempDir dir;
    makeFolders(dir, {"b", "A", "a", "C", ".git", "..dots"});
    testing_support::writeBytes(dir.file("file"), "x");
    fs::create_directory_symlink(dir.path() / "b", dir.path() / "link");
    const std::vector<std::string> expected {"A", "a", "b", "C"};
    QCOMPARE(folder_listing::visibleSubfolders(dir.str()), expected);
    QVERIFY(folder_listing::visibleSubfolders(dir.str() + "/missing").empty());
    QVERIFY(folder_listing::visibleSubfolders(dir.str() + "/file").empty());
}

void FolderTreeTest::pathsNeverEndInSlashExceptTheRoot()
{
    using folder_listing::nodePath;
    QCOMPARE(nodePath("/", {}), std::string("/"));
    QCOMPARE(nodePath("/", {"home", "a"}), std::string("/home/a"));
    QCOMPARE(nodePath("/media/usb", {"DCIM"}), std::string("/media/usb/DCIM"));
    QCOMPARE(absoluteFolder("/", "/x"), std::string("/"));
    QCOMPARE(absoluteFolder("..", "/x"), std::string("/"));
    QCOMPARE(absoluteFolder("../..", "/x"), std::string("/"));
    QCOMPARE(absoluteFolder("p//q/./r/", "/base"), std::string("/base/p/q/r"));
    QCOMPARE(absoluteFolder("/a/b/../c", "/base"), std::string("/a/c"));

    std::vector<std::string> names;
    QVERIFY(folder_listing::namesBelow("/", "/home/a", names));
    QCOMPARE(names, (std::vector<std::string> {"home", "a"}));
    QVERIFY(folder_listing::namesBelow("/media/usb", "/media/usb", names));
    QVERIFY(names.empty());
    QVERIFY(!folder_listing::namesBelow("/media/usb", "/media/usb2/x", names));
}

void FolderTreeTest::volumeKindFromDeviceAndSysfs()
{
    TempDir sys;
    // sdb is a removable disk with partition sdb1; sda a fixed disk.
    makeFolders(sys, {"devices/sdb/sdb1", "devices/sda/sda1", "block/sdb", "block/sda", "class/block"});
    testing_support::writeBytes(sys.file("devices/sdb/sdb1/partition"), "1\n");
    testing_support::writeBytes(sys.file("devices/sda/sda1/partition"), "1\n");
    testing_support::writeBytes(sys.file("block/sdb/removable"), "1\n");
    testing_support::writeBytes(sys.file("block/sda/removable"), "0\n");
    fs::create_directory_symlink(sys.path() / "devices/sdb/sdb1", sys.path() / "class/block/sdb1");
    fs::create_directory_symlink(sys.path() / "devices/sda/sda1", sys.path() / "class/block/sda1");
    fs::create_directory_symlink(sys.path() / "devices/sdb", sys.path() / "class/block/sdb");

    using volume_list::volumeKind;
    QCOMPARE(volumeKind("/dev/sdb1", "vfat", sys.str()), VolumeKind::Removable);
    QCOMPARE(volumeKind("/dev/sdb", "vfat", sys.str()), VolumeKind::Removable);
    QCOMPARE(volumeKind("/dev/sda1", "ext4", sys.str()), VolumeKind::Fixed);
    QCOMPARE(volumeKind("/dev/sr0", "iso9660", sys.str()), VolumeKind::Optical);
    QCOMPARE(volumeKind("/dev/sr1", "auto", sys.str()), VolumeKind::Optical);
    QCOMPARE(volumeKind("/dev/loop3", "udf", sys.str()), VolumeKind::Optical);
    QCOMPARE(volumeKind("server:/export", "nfs4", sys.str()), VolumeKind::Network);
    QCOMPARE(volumeKind("//server/share", "cifs", sys.str()), VolumeKind::Network);
    QCOMPARE(volumeKind("/dev/nvme0n1p2", "ext4", sys.str()), VolumeKind::Fixed);

    // The real list always starts with the root file system.
    const std::vector<Volume> volumes = volume_list::mountedVolumes();
    QVERIFY(!volumes.empty());
    QCOMPARE(volumes.front().root, std::string("/"));
}

void FolderTreeTest::volumeOfTakesTheLongestMountPoint()
{
    const std::vector<Volume> volumes {{"/", VolumeKind::Fixed}, {"/media/usb", VolumeKind::Removable},
                                       {"/media/usb/inner", VolumeKind::Fixed}};
    QCOMPARE(volume_list::volumeOf(volumes, "/media/usb/x"), std::string("/media/usb"));
    QCOMPARE(volume_list::volumeOf(volumes, "/media/usb/inner/y"), std::string("/media/usb/inner"));
    QCOMPARE(volume_list::volumeOf(volumes, "/media/usbx"), std::string("/"));
    QCOMPARE(volume_list::volumeOf({{"/data", VolumeKind::Fixed}}, "/home"), std::string());
}

void FolderTreeTest::startReadsOnlyTheCurrentVolume()
{
    TreeFixture f;
    f.start(f.disk() + "/b/b1");
    QCOMPARE(f.tree->topLevelItemCount(), 2);
    QCOMPARE(f.cdNode()->childCount(), 0);
    // One level, sorted with letters folded; the hidden folder and the file
    // are not there.
    QCOMPARE(childTexts(f.diskNode()), (QStringList {"a", "b", "Zeta"}));
    QCOMPARE(childNamed(f.diskNode(), "a")->childCount(), 0);
    QVERIFY(f.diskNode()->isExpanded());
    QCOMPARE(f.tree->currentItem(), f.diskNode());
    QCOMPARE(f.tree->searchFolder(), f.disk());
    QCOMPARE(f.tree->prevNode(), f.diskNode());

    // Nothing selected when no volume holds the current folder.
    TreeFixture g;
    g.start("/elsewhere/entirely");
    QCOMPARE(g.tree->currentItem(), nullptr);
    QVERIFY(g.tree->searchFolder().empty());
}

void FolderTreeTest::depthDecidesHowDeepAndWhetherToOpen()
{
    TreeFixture f;
    f.start(f.disk());
    QTreeWidgetItem* a = childNamed(f.diskNode(), "a");
    QTreeWidgetItem* b = childNamed(f.diskNode(), "b");

    f.depth = 0; // "検索なし": one level read, not opened
    f.tree->setCurrentItem(a);
    QCOMPARE(childTexts(a), (QStringList {"a1", "a2"}));
    QCOMPARE(childNamed(a, "a1")->childCount(), 0);
    QVERIFY(!a->isExpanded());
    QCOMPARE(f.tree->searchFolder(), f.disk() + "/a");

    f.depth = 3; // two levels read at most, and opened
    f.tree->setCurrentItem(b);
    QCOMPARE(childTexts(b), (QStringList {"b1"}));
    QVERIFY(b->isExpanded());
    f.tree->setCurrentItem(childNamed(f.diskNode(), "Zeta"));
    QCOMPARE(f.tree->searchFolder(), f.disk() + "/Zeta");

    // A node read once is not read again: a folder made since does not show.
    fs::create_directories(fs::path(f.disk()) / "a/a3");
    f.tree->setCurrentItem(a);
    QCOMPARE(childTexts(a), (QStringList {"a1", "a2"}));
    QVERIFY(a->isExpanded());

    TreeFixture g;
    g.depth = 2;
    g.start(g.disk());
    QTreeWidgetItem* ga = childNamed(g.diskNode(), "a");
    g.tree->setCurrentItem(ga);
    QCOMPARE(childTexts(childNamed(ga, "a1")), QStringList {"a11"});
    QCOMPARE(childNamed(childNamed(ga, "a1"), "a11")->childCount(), 0);
}

void FolderTreeTest::leavingABranchFoldsIt()
{
    TreeFixture f;
    f.depth = 1;
    f.start(f.disk());
    QTreeWidgetItem* a = childNamed(f.diskNode(), "a");
    f.tree->setCurrentItem(a);
    QVERIFY(a->isExpanded());
    QTreeWidgetItem* a1 = childNamed(a, "a1");
    f.tree->setCurrentItem(a1);
    QVERIFY(a->isExpanded()); // left for a node below it: stays open
    QVERIFY(a1->isExpanded());
    f.tree->setCurrentItem(a);
    QVERIFY(!a1->isExpanded()); // a1 is not above a: folded
    QVERIFY(a->isExpanded());
    f.tree->setCurrentItem(childNamed(f.diskNode(), "b"));
    QVERIFY(!a->isExpanded());
    QVERIFY(f.diskNode()->isExpanded());
}

void FolderTreeTest::opticalVolumeIsReadAgainWhenSelectedAnew()
{
    TreeFixture f;
    f.depth = 1;
    f.start(f.disk());
    f.tree->setCurrentItem(f.cdNode());
    QCOMPARE(childTexts(f.cdNode()), QStringList {"old"});

    // The disc is changed; coming back to the drive shows the new folders.
    fs::remove_all(fs::path(f.cd()) / "old");
    makeFolders(f.dir, {"cd/new1", "cd/new2/inner"});
    f.tree->setCurrentItem(f.diskNode());
    f.tree->setCurrentItem(f.cdNode());
    QCOMPARE(childTexts(f.cdNode()), (QStringList {"new1", "new2"}));

    // A folder of the disc selected, then the drive: the folder goes with the
    // old children and nothing is left to fold.
    QTreeWidgetItem* inner = childNamed(f.cdNode(), "new2");
    f.tree->setCurrentItem(inner);
    QCOMPARE(f.tree->searchFolder(), f.cd() + "/new2");
    makeFolders(f.dir, {"cd/new3"});
    f.tree->setCurrentItem(f.cdNode());
    QCOMPARE(childTexts(f.cdNode()), (QStringList {"new1", "new2", "new3"}));
    QCOMPARE(f.tree->prevNode(), f.cdNode());
    QCOMPARE(f.tree->searchFolder(), f.cd());

    // A fixed volume is never read again.
    makeFolders(f.dir, {"disk/c"});
    f.tree->setCurrentItem(f.diskNode());
    QCOMPARE(childTexts(f.diskNode()), (QStringList {"a", "b", "Zeta"}));
}

void FolderTreeTest::initialFolderIsExpandedToAndSelected()
{
    TreeFixture f;
    f.start(f.cd(), f.disk() + "/a/a1");
    QTreeWidgetItem* a = childNamed(f.diskNode(), "a");
    QVERIFY(f.diskNode()->isExpanded());
    QVERIFY(a->isExpanded());
    QCOMPARE(f.tree->currentItem(), childNamed(a, "a1"));
    QCOMPARE(f.tree->searchFolder(), f.disk() + "/a/a1");
    QCOMPARE(f.cdNode()->childCount(), 0); // instead of the current volume

    // A hidden folder is never shown: the deepest shown folder is selected.
    TreeFixture g;
    g.start(g.cd(), g.disk() + "/.hidden/h1");
    QCOMPARE(g.tree->searchFolder(), g.disk());

    // A folder on no volume: the current volume as usual.
    TreeFixture h;
    h.start(h.cd(), "/elsewhere");
    QCOMPARE(h.tree->searchFolder(), h.cd());
}

namespace {

void clickRow(FolderTree* tree, QTreeWidgetItem* item)
{
    const QRect row = tree->visualItemRect(item);
    QVERIFY(row.isValid());
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, row.center());
}

} // namespace

void FolderTreeTest::clickedFolderStaysSelectedWhenTheLeftOneFolds()
{
    // "a" open with one child: clicking "b" just below folds "a" while the
    // press is handled, and the rows move up under the pointer.
    TreeFixture f;
    fs::remove_all(fs::path(f.disk()) / "a/a2");
    f.depth = 1;
    f.start(f.disk());
    f.parent.resize(300, 400);
    f.tree->setGeometry(0, 0, 300, 400);
    f.parent.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f.parent));
    QTreeWidgetItem* a = childNamed(f.diskNode(), "a");
    QTreeWidgetItem* b = childNamed(f.diskNode(), "b");
    clickRow(f.tree, a);
    QVERIFY(a->isExpanded());
    QCOMPARE(f.tree->selectedItems(), QList<QTreeWidgetItem*> {a});

    clickRow(f.tree, b);
    QVERIFY(!a->isExpanded());
    QVERIFY(b->isExpanded());
    QCOMPARE(f.tree->currentItem(), b);
    QCOMPARE(f.tree->selectedItems(), QList<QTreeWidgetItem*> {b});
    QCOMPARE(f.tree->searchFolder(), f.disk() + "/b");

    // Back up to "a": "b" below it folds without moving anything above.
    clickRow(f.tree, a);
    QCOMPARE(f.tree->selectedItems(), QList<QTreeWidgetItem*> {a});
    QCOMPARE(f.tree->searchFolder(), f.disk() + "/a");
    QVERIFY(!b->isExpanded());

    // A child of the open folder, then the folder below the parent: the
    // whole branch of "a" stays open until the mouse is let go.
    clickRow(f.tree, childNamed(a, "a1"));
    QCOMPARE(f.tree->searchFolder(), f.disk() + "/a/a1");
    clickRow(f.tree, b);
    QCOMPARE(f.tree->selectedItems(), QList<QTreeWidgetItem*> {b});
    QCOMPARE(f.tree->searchFolder(), f.disk() + "/b");
    QVERIFY(!childNamed(a, "a1")->isExpanded());
}

void FolderTreeTest::startScrollsToTheSelectedFolder()
{
    // Rows are as wide as the longest volume path; only the height counts.
    auto inSight = [](FolderTree* tree) {
        const QRect shown = tree->visualItemRect(tree->currentItem());
        return !shown.isEmpty() && shown.top() >= 0 && shown.bottom() < tree->viewport()->height();
    };

    // A folder given at start, far down a long listing.
    TreeFixture f;
    for (int i = 0; i < 80; ++i)
        fs::create_directories(fs::path(f.disk()) / QStringLiteral("m%1").arg(100 + i).toStdString());
    f.tree->setGeometry(0, 0, 200, 150);
    f.start(f.cd(), f.disk() + "/m175");
    f.parent.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f.parent));
    QCOMPARE(f.tree->searchFolder(), f.disk() + "/m175");
    QVERIFY2(inSight(f.tree), "given folder out of sight");

    // The current folder's volume, below many others.
    TempDir dir;
    std::vector<Volume> volumes;
    for (int i = 0; i < 60; ++i) {
        const std::string name = QStringLiteral("v%1").arg(100 + i).toStdString();
        fs::create_directories(dir.path() / name / "sub");
        volumes.push_back({dir.str() + "/" + name, VolumeKind::Fixed});
    }
    QWidget parent;
    auto* tree = new FolderTree(&parent);
    tree->setGeometry(0, 0, 200, 150);
    tree->start(volumes, dir.str() + "/v155/sub");
    parent.show();
    QVERIFY(QTest::qWaitForWindowExposed(&parent));
    QCOMPARE(tree->searchFolder(), dir.str() + "/v155");
    QVERIFY2(inSight(tree), "current volume out of sight");
}

void FolderTreeTest::missingFolderStartsAtNearestParent()
{
    TempDir dir;
    makeFolders(dir, {"x/y"});
    testing_support::writeBytes(dir.file("x/y/file"), "a file, not a folder");
    using folder_listing::nearestExistingFolder;
    QCOMPARE(nearestExistingFolder(dir.str() + "/x/y"), dir.str() + "/x/y");
    QCOMPARE(nearestExistingFolder(dir.str() + "/x/y/gone/deeper"), dir.str() + "/x/y");
    QCOMPARE(nearestExistingFolder(dir.str() + "/x/y/file"), dir.str() + "/x/y");
    QCOMPARE(nearestExistingFolder(dir.str() + "/nothing"), dir.str());
    QCOMPARE(nearestExistingFolder("/"), std::string("/"));

    TreeFixture f;
    f.start(f.cd(), f.disk() + "/a/gone/deeper");
    QCOMPARE(f.tree->searchFolder(), f.disk() + "/a");
    QCOMPARE(f.tree->currentItem(), childNamed(f.diskNode(), "a"));
}

void FolderTreeTest::homeIsTheFirstTopNode()
{
    using volume_list::homeFirst;
    const std::vector<Volume> mounted {{"/", VolumeKind::Fixed}, {"/media/usb", VolumeKind::Removable}};
    const std::vector<Volume> withHome = homeFirst(mounted, "/home/u");
    QCOMPARE(withHome.size(), std::size_t {3});
    QCOMPARE(withHome[0].root, std::string("/home/u"));
    QCOMPARE(withHome[1].root, std::string("/"));
    QCOMPARE(withHome[2].root, std::string("/media/usb"));
    // A home that is itself a mount point moves up, once, keeping its kind.
    const std::vector<Volume> mountedHome = homeFirst({{"/", VolumeKind::Fixed}, {"/home/u", VolumeKind::Network}}, "/home/u");
    QCOMPARE(mountedHome.size(), std::size_t {2});
    QCOMPARE(mountedHome[0].root, std::string("/home/u"));
    QCOMPARE(mountedHome[0].kind, VolumeKind::Network);
    QCOMPARE(homeFirst(mounted, "/").size(), std::size_t {2});
    QCOMPARE(homeFirst(mounted, "").size(), std::size_t {2});
    // A folder under home belongs to the home node.
    QCOMPARE(volume_list::volumeOf(withHome, "/home/u/pictures"), std::string("/home/u"));
}

namespace {

// Clicks the open/close mark left of a row, as a person closes a folder.
void clickBranchMark(FolderTree* tree, QTreeWidgetItem* item)
{
    const QRect row = tree->visualItemRect(item);
    QVERIFY(row.isValid());
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, QPoint(row.left() - tree->indentation() / 2, row.center().y()));
}

} // namespace

void FolderTreeTest::collapsingAroundTheSelectionSelectsTheCollapsedFolder()
{
    TreeFixture f;
    f.start(f.disk(), f.disk() + "/a/a1");
    f.parent.resize(300, 400);
    f.tree->setGeometry(0, 0, 300, 400);
    f.parent.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f.parent));
    QTreeWidgetItem* a = childNamed(f.diskNode(), "a");
    QCOMPARE(f.tree->currentItem(), childNamed(a, "a1"));

    // Closing "b", which does not hold the selection, changes nothing.
    QTreeWidgetItem* b = childNamed(f.diskNode(), "b");
    b->setExpanded(true);
    clickBranchMark(f.tree, b);
    QVERIFY(!b->isExpanded());
    QCOMPARE(f.tree->searchFolder(), f.disk() + "/a/a1");

    clickBranchMark(f.tree, a);
    QVERIFY(!a->isExpanded());
    QCOMPARE(f.tree->currentItem(), a);
    QCOMPARE(f.tree->selectedItems(), QList<QTreeWidgetItem*> {a});
    QCOMPARE(f.tree->searchFolder(), f.disk() + "/a");
}

void FolderTreeTest::doubleClickWithADepthLeavesTheFolderOpen()
{
    TreeFixture f;
    f.depth = 1;
    f.start(f.disk());
    f.parent.resize(300, 400);
    f.tree->setGeometry(0, 0, 300, 400);
    f.parent.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f.parent));
    QTreeWidgetItem* a = childNamed(f.diskNode(), "a");
    QVERIFY(!a->isExpanded());
    // As the pointer sends it: a click, then the second press as a double click.
    const auto doubleClick = [&f](QTreeWidgetItem* item) {
        const QPoint at = f.tree->visualItemRect(item).center();
        QTest::mouseClick(f.tree->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(f.tree->viewport(), Qt::LeftButton, {}, at);
    };
    doubleClick(a);
    QVERIFY(a->isExpanded());
    QCOMPARE(f.tree->currentItem(), a);
    // A double click on the open, selected folder closes it as always.
    doubleClick(a);
    QVERIFY(!a->isExpanded());
}

void FolderTreeTest::foldersAreReadAgainWhenOpenedAndOnReread()
{
    TreeFixture f;
    f.start(f.disk(), f.disk() + "/a");
    QTreeWidgetItem* a = childNamed(f.diskNode(), "a");
    QCOMPARE(a->childCount(), 2);

    // Made and removed after start: shown on the next reading, in name order.
    makeFolders(f.dir, {"disk/a/a0", "disk/a/a15", "disk/c"});
    fs::remove_all(fs::path(f.disk()) / "a/a2");
    f.tree->reread();
    QCOMPARE(a->childCount(), 3);
    QCOMPARE(a->child(0)->text(0), QStringLiteral("a0"));
    QCOMPARE(a->child(1)->text(0), QStringLiteral("a1"));
    QCOMPARE(a->child(2)->text(0), QStringLiteral("a15"));
    QVERIFY(childNamed(f.diskNode(), "c") != nullptr);

    // Opening a folder reads it again.
    makeFolders(f.dir, {"disk/a/a3"});
    a->setExpanded(false);
    a->setExpanded(true);
    QCOMPARE(a->childCount(), 4);
    QCOMPARE(a->child(3)->text(0), QStringLiteral("a3"));

    // The selected folder gone: the selection moves up to what is left.
    f.tree->setCurrentItem(a->child(3));
    fs::remove_all(fs::path(f.disk()) / "a/a3");
    f.tree->reread();
    QCOMPARE(f.tree->currentItem(), a);
    QCOMPARE(f.tree->searchFolder(), f.disk() + "/a");
}

QTEST_MAIN(FolderTreeTest)
#include "folder_tree_test.moc"
