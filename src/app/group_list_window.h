#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QModelIndex>
#include <QString>
#include <QWidget>

#include "app/group_list_settings.h"
#include "cleanup/batch_actions.h"
#include "cleanup/cleanup_list.h"
#include "review/pane_size.h"
#include "search/file_table.h"

class PairOrientations;

class GroupListModel;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;
class QThread;
class QTreeView;
class ReviewWindow;
class ThumbnailStore;
struct PairRec;

// What the list works on: the last search of the main window. The FileTable
// and the PairList are the main window's; the review opened from the list
// changes them as it does in its walk.
struct GroupListSource {
    FileTable* files = nullptr;
    std::vector<PairRec>* pairs = nullptr;
    const std::vector<std::string>* resultLines = nullptr;
    std::string folder;
    CheckMode mode {};
    PaneSize pane;
    const PairOrientations* orientations = nullptr; // the review shows turned pairs turned
};

// Every group of a search in one list: thumbnails and facts of each member,
// the keep rules' proposal of marks, one batch to the trash or a folder,
// and its undo.
class GroupListWindow : public QWidget {
    Q_OBJECT

public:
    GroupListWindow(const GroupListSource& source, ReviewWindow* review, QWidget* parent = nullptr);
    ~GroupListWindow() override;

    // Asks the person before a batch; a test answers instead.
    using Confirm = std::function<bool(const QString& question)>;
    void setConfirm(Confirm confirm) { m_confirm = std::move(confirm); }

    // Where the journal of batches lives (default: BatchJournal::defaultPath()).
    void setJournalPath(std::string path) { m_journalPath = std::move(path); }

    GroupListModel* model() const { return m_model; }
    QTreeView* view() const { return m_view; }
    const CleanupList& list() const { return m_list; }

    // Proposes marks by the rules and reference folders typed in the window.
    void applyRules();
    // The batch on every marked file: into the trash, or into `moveTo`.
    void trashMarked();
    void moveMarked();
    void runPlan(const CleanupPlan& plan, const std::string& moveTo);
    // Keeps the rules and reference folders of the window under `name`.
    void saveRuleSet(const QString& name);
    // Puts the last batch back.
    void undoLast();
    // Puts back the batch the journal numbers `batch`.
    void undoBatchNumbered(int64_t batch);
    // Lists the journal's batches to pick one to put back.
    void pickBatchToUndo();
    // Opens the review on the group of the current row.
    void reviewCurrentGroup();

signals:
    // A batch or an undo has ended; the status line says how.
    void batchFinished();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    // The plan of the marks, without the files the FileTable holds as gone.
    CleanupPlan currentPlan() const;
    // Flips a member's mark, saying why when the model refuses.
    void flipMark(const QModelIndex& index);
    void openPlan();
    void fillRuleSets();
    void useRuleSet(int index);
    void savePlan();
    void setBusy(bool busy);
    void showProgress(int64_t done, int64_t total);
    // Runs `work` on a worker thread, then `finish` back here.
    void runInBackground(std::function<void()> work, std::function<void()> finish);
    void batchDone(const ApplyReport& report, const std::string& moveTo);
    void undo(std::optional<int64_t> batch);
    void undoDone(const UndoReport& report, const std::vector<std::string>& restored, const QString& problem);
    std::vector<int32_t> filesAt(const std::vector<std::string>& paths) const;

    GroupListSource m_source;
    ReviewWindow* m_review = nullptr;
    CleanupList m_list;
    ThumbnailStore* m_thumbnails = nullptr;
    GroupListModel* m_model = nullptr;
    QTreeView* m_view = nullptr;
    QLineEdit* m_rules = nullptr;
    QLineEdit* m_references = nullptr;
    QPushButton* m_applyRules = nullptr;
    QComboBox* m_ruleSets = nullptr;
    QPushButton* m_saveRules = nullptr;
    QCheckBox* m_openAfterSearch = nullptr;
    QPushButton* m_trash = nullptr;
    QPushButton* m_move = nullptr;
    QPushButton* m_undo = nullptr;
    QPushButton* m_history = nullptr;
    QPushButton* m_openPlan = nullptr;
    QPushButton* m_savePlan = nullptr;
    QPushButton* m_abortButton = nullptr;
    QProgressBar* m_progress = nullptr;
    QLabel* m_status = nullptr;
    QListWidget* m_skipped = nullptr;
    QThread* m_worker = nullptr;
    std::atomic<bool> m_abort {false};
    std::string m_journalPath;
    GroupListSettings m_settings;
    Confirm m_confirm;
};
