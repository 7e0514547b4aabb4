#include "app/group_list_window.h"

#include <utility>

#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QInputDialog>
#include <QLabel>
#include <QListWidget>
#include <QLocale>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <QVBoxLayout>

#include "app/group_list_model.h"
#include "cleanup/batch_journal.h"
#include "cleanup/cleanup_plan.h"

// The list's batches: trash or move what is marked on a worker thread, undo a
// batch from the journal, open and save plans.

namespace {

QString bytesText(int64_t bytes)
{
    return QLocale::system().formattedDataSize(bytes);
}

} // namespace

void GroupListWindow::trashMarked()
{
    runPlan(currentPlan(), {});
}

void GroupListWindow::moveMarked()
{
    const QString folder = QFileDialog::getExistingDirectory(this, QStringLiteral("移動先のフォルダ"));
    if (folder.isEmpty())
        return;
    runPlan(currentPlan(), folder.toStdString());
}

void GroupListWindow::runPlan(const CleanupPlan& plan, const std::string& moveTo)
{
    if (m_worker)
        return;
    int64_t files = 0;
    int64_t bytes = 0;
    for (const PlanGroup& group : plan.groups) {
        for (const PlanMember& member : group.members) {
            if (member.mark == Mark::Trash) {
                ++files;
                bytes += member.identity.size;
            }
        }
    }
    if (files == 0) {
        m_status->setText(QStringLiteral("削除の印のついたファイルはありません"));
        return;
    }
    const QString where = moveTo.empty() ? QStringLiteral("ゴミ箱へ移します")
                                         : QStringLiteral("%1 へ移します").arg(QString::fromStdString(moveTo));
    if (!m_confirm(QStringLiteral("%1 ファイル（%2）を%3。よろしいですか？").arg(files).arg(bytesText(bytes)).arg(where)))
        return;
    auto report = std::make_shared<ApplyReport>();
    auto problem = std::make_shared<std::string>();
    const std::string journalPath = m_journalPath;
    runInBackground(
        [this, plan, moveTo, report, problem, journalPath] {
            std::unique_ptr<BatchJournal> journal = BatchJournal::open(journalPath, *problem);
            if (!journal)
                return;
            ApplyOptions options;
            options.moveTo = moveTo;
            options.abort = &m_abort;
            options.progress = [this](int64_t done, int64_t total) {
                QMetaObject::invokeMethod(this, [this, done, total] { showProgress(done, total); }, Qt::QueuedConnection);
            };
            *report = applyPlan(plan, journal.get(), options);
        },
        [this, report, problem, moveTo] {
            if (!problem->empty())
                report->stopped = *problem;
            batchDone(*report, moveTo);
        });
}

void GroupListWindow::batchDone(const ApplyReport& report, const std::string& moveTo)
{
    const std::vector<int32_t> acted = filesAt(report.acted);
    for (int32_t file : acted)
        (*m_source.files)[static_cast<std::size_t>(file)].skip = 1; // as a review delete: gone from the search
    m_model->setFileStates(acted, moveTo.empty() ? QStringLiteral("ゴミ箱へ移動済み") : QStringLiteral("移動済み"));
    m_skipped->clear();
    for (const GroupNotActed& group : report.skipped)
        m_skipped->addItem(QStringLiteral("グループ %1：%2").arg(group.group + 1).arg(QString::fromStdString(group.reason)));
    for (const GroupNotActed& group : report.refused)
        m_skipped->addItem(QStringLiteral("グループ %1：%2").arg(group.group + 1).arg(QString::fromStdString(group.reason)));
    for (const std::string& failure : report.failed)
        m_skipped->addItem(QString::fromStdString(failure));
    m_skipped->setVisible(m_skipped->count() > 0);
    QString text = QStringLiteral("%1 ファイル（%2）を移しました").arg(report.acted.size()).arg(bytesText(report.actedBytes));
    if (!report.skipped.empty() || !report.refused.empty())
        text += QStringLiteral("・%1 グループは手をつけていません").arg(report.skipped.size() + report.refused.size());
    if (report.aborted)
        text += QStringLiteral("・中断しました");
    if (!report.stopped.empty())
        text += QStringLiteral("・記録が書けず止めました：%1").arg(QString::fromStdString(report.stopped));
    m_status->setText(text);
    emit batchFinished();
}

void GroupListWindow::undoLast()
{
    undo(std::nullopt);
}

void GroupListWindow::undoBatchNumbered(int64_t batch)
{
    undo(batch);
}

void GroupListWindow::pickBatchToUndo()
{
    std::string problem;
    std::unique_ptr<BatchJournal> journal = BatchJournal::open(m_journalPath, problem);
    if (!journal) {
        m_status->setText(QStringLiteral("記録を開けません：%1").arg(QString::fromStdString(problem)));
        return;
    }
    QStringList items;
    std::vector<int64_t> ids;
    const std::vector<BatchSummary> batches = journal->batches();
    for (auto batch = batches.rbegin(); batch != batches.rend(); ++batch) {
        items.append(QStringLiteral("%1  %2  %3  %4 ファイル（%5）  %6")
                         .arg(batch->id)
                         .arg(QDateTime::fromSecsSinceEpoch(batch->started).toString(QStringLiteral("yyyy/MM/dd hh:mm:ss")))
                         .arg(QString::fromStdString(batch->action))
                         .arg(batch->files)
                         .arg(bytesText(batch->bytes))
                         .arg(QString::fromStdString(batch->state)));
        ids.push_back(batch->id);
    }
    if (items.isEmpty()) {
        m_status->setText(QStringLiteral("元に戻せる処理はありません"));
        return;
    }
    bool ok = false;
    const QString picked = QInputDialog::getItem(this, QStringLiteral("元に戻す"), QStringLiteral("処理"), items, 0, false, &ok);
    if (ok)
        undo(ids[static_cast<std::size_t>(items.indexOf(picked))]);
}

void GroupListWindow::undo(std::optional<int64_t> batch)
{
    if (m_worker)
        return;
    auto report = std::make_shared<UndoReport>();
    auto restored = std::make_shared<std::vector<std::string>>();
    auto problem = std::make_shared<std::string>();
    const std::string journalPath = m_journalPath;
    runInBackground(
        [this, report, restored, problem, journalPath, batch] {
            std::unique_ptr<BatchJournal> journal = BatchJournal::open(journalPath, *problem);
            if (!journal)
                return;
            std::optional<int64_t> last = batch;
            for (const BatchSummary& summary : journal->batches()) {
                if (!batch && summary.state != "undone" && (!last || summary.id > *last))
                    last = summary.id;
            }
            if (!last) {
                *problem = "元に戻せる処理はありません";
                return;
            }
            *report = undoBatch(*journal, *last, [this](int64_t done, int64_t total) {
                QMetaObject::invokeMethod(this, [this, done, total] { showProgress(done, total); }, Qt::QueuedConnection);
            });
            for (const JournalEntry& entry : journal->entries(*last)) {
                if (entry.state == "restored")
                    restored->push_back(entry.original);
            }
        },
        [this, report, restored, problem] { undoDone(*report, *restored, QString::fromStdString(*problem)); });
}

void GroupListWindow::undoDone(const UndoReport& report, const std::vector<std::string>& restored,
                               const QString& problem)
{
    const std::vector<int32_t> back = filesAt(restored);
    for (int32_t file : back)
        (*m_source.files)[static_cast<std::size_t>(file)].skip = 0;
    m_model->setFileStates(back, {});
    m_skipped->clear();
    for (const std::string& line : report.problems)
        m_skipped->addItem(QString::fromStdString(line));
    m_skipped->setVisible(m_skipped->count() > 0);
    if (!problem.isEmpty())
        m_status->setText(problem);
    else
        m_status->setText(QStringLiteral("%1 ファイルを元に戻しました").arg(report.restored)
                          + (report.ok() ? QString() : QStringLiteral("・%1 ファイルは戻せません").arg(report.problems.size())));
    emit batchFinished();
}

std::vector<int32_t> GroupListWindow::filesAt(const std::vector<std::string>& paths) const
{
    std::vector<int32_t> found;
    std::vector<std::string> sorted = paths;
    std::sort(sorted.begin(), sorted.end());
    for (std::size_t g = 0; g < m_list.groupCount(); ++g) {
        for (const CleanupMember& member : m_list.group(g).members) {
            if (std::binary_search(sorted.begin(), sorted.end(), member.facts.path))
                found.push_back(member.file);
        }
    }
    return found;
}

void GroupListWindow::runInBackground(std::function<void()> work, std::function<void()> finish)
{
    m_abort = false;
    setBusy(true);
    m_worker = QThread::create(std::move(work));
    m_worker->setParent(this);
    connect(m_worker, &QThread::finished, this, [this, finish = std::move(finish)] {
        m_worker->deleteLater();
        m_worker = nullptr;
        setBusy(false);
        finish();
    });
    m_worker->start();
}

void GroupListWindow::setBusy(bool busy)
{
    for (QWidget* input : std::initializer_list<QWidget*> {m_applyRules, m_trash, m_move, m_undo, m_history, m_openPlan, m_savePlan})
        input->setEnabled(!busy);
    m_progress->setVisible(busy);
    m_abortButton->setVisible(busy);
    if (busy) {
        m_progress->setRange(0, 0);
        m_progress->setValue(0);
    }
}

void GroupListWindow::showProgress(int64_t done, int64_t total)
{
    if (!m_worker || total <= 0)
        return;
    constexpr int kSteps = 1000;
    m_progress->setRange(0, kSteps);
    m_progress->setValue(static_cast<int>(done * kSteps / total));
    m_progress->setFormat(QStringLiteral("%1 / %2").arg(done).arg(total));
}

void GroupListWindow::openPlan()
{
    const QString name = QFileDialog::getOpenFileName(this, QStringLiteral("計画を開く"), {},
                                                      QStringLiteral("計画 (*.json);;すべて (*)"));
    if (name.isEmpty())
        return;
    QFile file(name);
    if (!file.open(QIODevice::ReadOnly)) {
        m_status->setText(QStringLiteral("%1 を開けません：%2").arg(name, file.errorString()));
        return;
    }
    std::string problem;
    std::optional<CleanupPlan> plan = planFromText(file.readAll().toStdString(), problem);
    if (!plan) {
        m_status->setText(QStringLiteral("%1 は計画ではありません：%2").arg(name, QString::fromStdString(problem)));
        return;
    }
    runPlan(*plan, {});
}

void GroupListWindow::savePlan()
{
    const QString name = QFileDialog::getSaveFileName(this, QStringLiteral("計画を保存"), QStringLiteral("plan.json"),
                                                      QStringLiteral("計画 (*.json)"));
    if (name.isEmpty())
        return;
    QFile file(name);
    const std::string text = planText(currentPlan());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || file.write(text.data(), static_cast<qint64>(text.size())) != static_cast<qint64>(text.size())) {
        m_status->setText(QStringLiteral("%1 に書けません：%2").arg(name, file.errorString()));
        return;
    }
    m_status->setText(QStringLiteral("%1 に保存しました").arg(name));
}
