#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <QString>
#include <QWidget>

#include "app/search_folder_settings.h"
#include "app/settings_location.h"
#include "app/volume_list.h"
#include "driver/search_job.h"
#include "review/group_walk.h"
#include "review/pane_size.h"

class FolderTree;
class GroupListWindow;
class QAction;
class OptionGroup;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;
class QToolButton;
class ReviewWindow;
class SearchRunner;

// Shows an error to the person at the screen (a message box unless a test
// collects them instead).
using ErrorReporter = std::function<void(const QString& message)>;

// What the main window takes from its surroundings at start.
struct MainWindowSetup {
    std::string startDir;            // StartDir; empty: the current directory
    std::string initialFolder;       // `zelvic FOLDER`: selected instead of the current volume
    std::optional<std::vector<Volume>> volumes; // the tree's top nodes; none: the mounted volumes
    ErrorReporter reportError;       // the review's errors too; none: message boxes
    std::optional<std::string> cacheFile; // the signature cache; none: the default one, empty: no cache
};

// TForm1: the folder tree, the options, the search and its outcome. Writes
// the settings file when it is destroyed.
class MainWindow : public QWidget {
    Q_OBJECT
    friend class MainWindowTestPeer;

public:
    static constexpr int kLeft = 100;
    static constexpr int kTop = 20;
    static constexpr int kOuterWidth = 550;
    static constexpr int kOuterHeight = 548;

    explicit MainWindow(MainWindowSetup setup = {}, QWidget* parent = nullptr);
    ~MainWindow() override;

    void Button2Click();
    void Button3Click();
    void Button4Click();
    // Opens the list of every group of the last search (a new one each time).
    void openGroupList();

signals:
    // A search (with its review) or a re-display has ended.
    void searchFinished();

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void buildControls();
    void FormCreate();
    void FormClose();
    void RadioGroup2Click();
    // Opens the dialog of further folders and exclusions; what it keeps goes
    // to their own file when it is accepted.
    void editSearchFolders();
    void showSearchFolders(const SearchFolderSettings& settings);
    void readSettings();
    // The "形式" button's menu: one checkable entry a format, from m_formats,
    // and the choice of turned copies.
    void buildFormatMenu();
    void formatToggled(PictureFormat format, QAction* action, bool on);
    // The menu's last entry: look for turned and mirrored copies too.
    void turnedToggled(bool on);
    void setBusy(bool busy);
    void showProgress(const SearchProgress& progress);
    void onSearchFinished();
    // Runs `walk` over the last search's pairs with the review window as the
    // reviewer; a group that cannot be shown ends it.
    void runReview(CheckMode mode, const std::function<void(const PlacedGroupReviewer&)>& walk);
    void fitOuterSize();
    // After the review walk: when its limit on starting pairs left groups
    // unshown, says how many and offers the list.
    void tellGroupsNotOffered();

    MainWindowSetup m_setup;
    FolderTree* m_tree = nullptr;
    QPushButton* m_button1 = nullptr;
    QPushButton* m_button2 = nullptr;
    QPushButton* m_button3 = nullptr;
    QPushButton* m_button4 = nullptr;
    QPushButton* m_moreFoldersButton = nullptr;
    QPushButton* m_groupListButton = nullptr;
    GroupListWindow* m_groupList = nullptr;
    OptionGroup* m_radioGroup1 = nullptr;
    OptionGroup* m_radioGroup2 = nullptr;
    OptionGroup* m_radioGroup7 = nullptr;
    OptionGroup* m_radioGroup3 = nullptr;
    QLabel* m_label1 = nullptr;
    QLabel* m_label3 = nullptr;
    QLineEdit* m_edit1 = nullptr;
    QListWidget* m_listBox3 = nullptr;
    QListWidget* m_listBox1 = nullptr;
    QProgressBar* m_progress = nullptr;
    QToolButton* m_formatButton = nullptr;
    ReviewWindow* m_review = nullptr;
    SearchRunner* m_runner = nullptr;

    int32_t m_checkMode = 0;  // CheckMode
    std::string m_startDir;   // StartDir
    std::vector<Volume> m_volumes; // the tree's top nodes
    SearchOutcome m_last;     // the last search: FileTable, result lines, pair list
    SettingsLocation m_settings; // where Zelvic.ini is read and written
    std::string m_configFolder;  // where the format choice is kept
    PictureFormats m_formats = PictureFormats::defaults(); // the formats searched
    bool m_turned = false;    // SearchOptions::turned, kept beside the formats
    PaneSize m_pane;          // DispMaxWidth, DispMaxHeight
    bool m_busy = false;      // a search or a review walk is running
    bool m_outerSizeFitted = false;
    bool m_activatedOnce = false;
};
