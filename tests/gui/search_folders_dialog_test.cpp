#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include "app/search_folder_settings.h"
#include "app/search_folders_dialog.h"

namespace {

template <typename T>
T* child(const QWidget& parent, const char* name)
{
    T* widget = parent.findChild<T*>(QString::fromLatin1(name));
    if (!widget)
        qFatal("no control %s", name);
    return widget;
}

void enter(const SearchFoldersDialog& dialog, const char* list, const QString& text)
{
    child<QLineEdit>(dialog, (std::string(list) + "Entry").c_str())->setText(text);
    child<QPushButton>(dialog, (std::string(list) + "Add").c_str())->click();
}

} // namespace

class SearchFoldersDialogTest : public QObject {
    Q_OBJECT

private slots:
    void listsTakeEntriesOnceAndLoseTheSelected();
    void fileKeepsBothListsAndSkipsWhatCannotBeSearched();
};

void SearchFoldersDialogTest::listsTakeEntriesOnceAndLoseTheSelected()
{
    SearchFoldersDialog dialog(SearchFolderSettings {{"/kept"}, {}});
    enter(dialog, "Folders", QStringLiteral("/b//c/../d/"));
    enter(dialog, "Folders", QStringLiteral("/b/d")); // the same folder again
    enter(dialog, "Folders", QStringLiteral("relative/e")); // not taken: stays to be put right
    QCOMPARE(child<QLineEdit>(dialog, "FoldersEntry")->text(), QStringLiteral("relative/e"));
    enter(dialog, "Excludes", QStringLiteral("*/.thumbnails/*"));
    enter(dialog, "Excludes", QStringLiteral("*/Lightroom/*"));
    enter(dialog, "Excludes", QString());
    QCOMPARE(dialog.settings().moreFolders, (std::vector<std::string> {"/kept", "/b/d"}));
    QCOMPARE(dialog.settings().excludes, (std::vector<std::string> {"*/.thumbnails/*", "*/Lightroom/*"}));

    auto* excludes = child<QListWidget>(dialog, "ExcludesList");
    excludes->setCurrentRow(0);
    child<QPushButton>(dialog, "ExcludesRemove")->click();
    child<QPushButton>(dialog, "FoldersRemove")->click(); // nothing selected: nothing goes
    QCOMPARE(dialog.settings().excludes, std::vector<std::string> {"*/Lightroom/*"});
    QCOMPARE(dialog.settings().moreFolders.size(), std::size_t {2});
}

void SearchFoldersDialogTest::fileKeepsBothListsAndSkipsWhatCannotBeSearched()
{
    QTemporaryDir dir;
    const std::string path = dir.filePath(QStringLiteral("new/zelvic/search_folders.ini")).toStdString();
    QVERIFY(SearchFolderSettings::read(path).moreFolders.empty());
    const SearchFolderSettings one {{"/a b/c"}, {"*/x,y/*"}};
    QVERIFY(one.write(path)); // its folder made on the way
    const SearchFolderSettings back = SearchFolderSettings::read(path);
    QCOMPARE(back.moreFolders, one.moreFolders);
    QCOMPARE(back.excludes, one.excludes);
    const SearchFolderSettings two {{"/p", "/q"}, {}};
    QVERIFY(two.write(path));
    QCOMPARE(SearchFolderSettings::read(path).moreFolders, two.moreFolders);
    QVERIFY(SearchFolderSettings::read(path).excludes.empty());

    // A hand-edited file: relative and empty entries are left out.
    QFile file(QString::fromStdString(path));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("[Search]\nMoreFolders=relative, /x/../y, \"\"\nExcludes=*.bmp, \"\"\n");
    file.close();
    const SearchFolderSettings edited = SearchFolderSettings::read(path);
    QCOMPARE(edited.moreFolders, std::vector<std::string> {"/y"});
    QCOMPARE(edited.excludes, std::vector<std::string> {"*.bmp"});
}

QTEST_MAIN(SearchFoldersDialogTest)
#include "search_folders_dialog_test.moc"
