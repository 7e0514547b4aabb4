#include "app/group_list_window.h"

#include <algorithm>
#include <utility>

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QThread>
#include <QTreeView>
#include <QVBoxLayout>

#include "app/group_list_model.h"
#include "app/rule_line.h"
#include "app/thumbnail_store.h"
#include "cleanup/batch_journal.h"
#include "cleanup/cleanup_plan.h"
#include "review/group_walk.h"
#include "review/review_session.h"
#include "review/ui/review_window.h"

namespace {


QString bytesText(int64_t bytes)
{
    return QLocale::system().formattedDataSize(bytes);
}

std::vector<std::string> splitFolders(const QString& text)
{
    std::vector<std::string> folders;
    for (const QString& part : text.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QString folder = part.trimmed();
        if (!folder.isEmpty())
            folders.push_back(folder.toStdString());
    }
    return folders;
}

} // namespace

GroupListWindow::GroupListWindow(const GroupListSource& source, ReviewWindow* review, QWidget* parent)
    : QWidget(parent, Qt::Window), m_source(source), m_review(review), m_journalPath(BatchJournal::defaultPath())
{
    setObjectName(QStringLiteral("GroupList"));
    setWindowTitle(QStringLiteral("グループ一覧"));
    setAttribute(Qt::WA_DeleteOnClose, false);
    m_list = CleanupList::fromSearch(*m_source.files, *m_source.resultLines);
    m_thumbnails = new ThumbnailStore(this);
    m_model = new GroupListModel(m_list, *m_source.files, m_thumbnails, this);
    m_confirm = [this](const QString& question) {
        return QMessageBox::question(this, windowTitle(), question) == QMessageBox::Yes;
    };
    buildControls();
    resize(1200, 760);
}

GroupListWindow::~GroupListWindow()
{
    m_abort = true;
    if (m_worker)
        m_worker->wait();
}

void GroupListWindow::buildControls()
{
    auto* layout = new QVBoxLayout(this);
    auto* rules = new QHBoxLayout;
    rules->addWidget(new QLabel(QStringLiteral("残す規則"), this));
    m_rules = new QLineEdit(QStringLiteral("pixels,bytes"), this);
    m_rules->setObjectName(QStringLiteral("Rules"));
    m_rules->setToolTip(QStringLiteral("優先順にカンマで区切る：pixels, bytes, oldest, newest, path, "
                                       "folder=フォルダ;フォルダ, name=*パターン*, not-name=*copy*"));
    rules->addWidget(m_rules, 1);
    rules->addWidget(new QLabel(QStringLiteral("参照フォルダ"), this));
    m_references = new QLineEdit(this);
    m_references->setObjectName(QStringLiteral("References"));
    m_references->setToolTip(QStringLiteral("ここのファイルには印をつけない（; で区切る）"));
    rules->addWidget(m_references, 1);
    m_applyRules = new QPushButton(QStringLiteral("規則で印をつける"), this);
    m_applyRules->setObjectName(QStringLiteral("ApplyRules"));
    rules->addWidget(m_applyRules);
    layout->addLayout(rules);

    auto* sets = new QHBoxLayout;
    sets->addWidget(new QLabel(QStringLiteral("規則セット"), this));
    m_ruleSets = new QComboBox(this);
    m_ruleSets->setObjectName(QStringLiteral("RuleSets"));
    m_ruleSets->setMinimumContentsLength(16);
    sets->addWidget(m_ruleSets);
    m_saveRules = new QPushButton(QStringLiteral("規則セットを保存…"), this);
    m_saveRules->setObjectName(QStringLiteral("SaveRuleSet"));
    m_saveRules->setAutoDefault(false);
    sets->addWidget(m_saveRules);
    sets->addStretch(1);
    m_openAfterSearch = new QCheckBox(QStringLiteral("検索後は確認画面の代わりにこの一覧を開く"), this);
    m_openAfterSearch->setObjectName(QStringLiteral("OpenAfterSearch"));
    m_openAfterSearch->setChecked(m_settings.openListAfterSearch());
    sets->addWidget(m_openAfterSearch);
    layout->addLayout(sets);
    fillRuleSets();

    m_view = new QTreeView(this);
    m_view->setObjectName(QStringLiteral("Groups"));
    m_view->setModel(m_model);
    // Member rows are as tall as a thumbnail, group rows a line of text;
    // scrolling goes by item, so only the rows on screen are measured.
    m_view->setIconSize(QSize(GroupListModel::kThumbnailSide, GroupListModel::kThumbnailSide));
    m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_view->setExpandsOnDoubleClick(false);
    m_view->header()->setSectionResizeMode(QHeaderView::Interactive);
    for (const auto& [column, width] : {std::pair {GroupListModel::Name, 320}, std::pair {GroupListModel::MarkColumn, 110},
                                        std::pair {GroupListModel::Folder, 260}, std::pair {GroupListModel::Size, 80},
                                        std::pair {GroupListModel::Dimensions, 100}, std::pair {GroupListModel::Date, 150}})
        m_view->setColumnWidth(column, width);
    m_view->expandAll();
    m_view->installEventFilter(this);
    // Rows scrolled away no longer wait for their thumbnails; the rows now
    // on screen ask again as they paint.
    connect(m_view->verticalScrollBar(), &QScrollBar::valueChanged, m_thumbnails, &ThumbnailStore::dropQueued);
    layout->addWidget(m_view, 1);

    m_skipped = new QListWidget(this);
    m_skipped->setObjectName(QStringLiteral("Skipped"));
    m_skipped->setMaximumHeight(100);
    m_skipped->setVisible(false);
    layout->addWidget(m_skipped);

    auto* actions = new QHBoxLayout;
    m_trash = new QPushButton(QStringLiteral("マーク済みをゴミ箱へ"), this);
    m_trash->setObjectName(QStringLiteral("Trash"));
    m_trash->setDefault(false);
    m_move = new QPushButton(QStringLiteral("マーク済みをフォルダへ…"), this);
    m_move->setObjectName(QStringLiteral("Move"));
    m_undo = new QPushButton(QStringLiteral("元に戻す"), this);
    m_undo->setObjectName(QStringLiteral("Undo"));
    m_history = new QPushButton(QStringLiteral("処理の一覧…"), this);
    m_history->setObjectName(QStringLiteral("History"));
    m_openPlan = new QPushButton(QStringLiteral("計画を開く…"), this);
    m_savePlan = new QPushButton(QStringLiteral("計画を保存…"), this);
    for (QPushButton* button : {m_trash, m_move, m_undo, m_history, m_openPlan, m_savePlan}) {
        button->setAutoDefault(false);
        actions->addWidget(button);
    }
    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("Progress"));
    m_progress->setVisible(false);
    actions->addWidget(m_progress, 1);
    m_abortButton = new QPushButton(QStringLiteral("中断"), this);
    m_abortButton->setObjectName(QStringLiteral("Abort"));
    m_abortButton->setAutoDefault(false);
    m_abortButton->setVisible(false);
    actions->addWidget(m_abortButton);
    layout->addLayout(actions);

    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("Status"));
    m_status->setText(QStringLiteral("%1 グループ").arg(m_list.groupCount()));
    layout->addWidget(m_status);

    connect(m_applyRules, &QPushButton::clicked, this, &GroupListWindow::applyRules);
    connect(m_rules, &QLineEdit::returnPressed, this, &GroupListWindow::applyRules);
    connect(m_ruleSets, &QComboBox::activated, this, &GroupListWindow::useRuleSet);
    connect(m_saveRules, &QPushButton::clicked, this, [this] {
        const QString name = QInputDialog::getText(this, QStringLiteral("規則セットを保存"), QStringLiteral("名前"));
        if (!name.trimmed().isEmpty())
            saveRuleSet(name.trimmed());
    });
    connect(m_openAfterSearch, &QCheckBox::toggled, this,
            [this](bool open) { m_settings.setOpenListAfterSearch(open); });
    connect(m_trash, &QPushButton::clicked, this, &GroupListWindow::trashMarked);
    connect(m_move, &QPushButton::clicked, this, &GroupListWindow::moveMarked);
    connect(m_undo, &QPushButton::clicked, this, &GroupListWindow::undoLast);
    connect(m_history, &QPushButton::clicked, this, &GroupListWindow::pickBatchToUndo);
    connect(m_openPlan, &QPushButton::clicked, this, &GroupListWindow::openPlan);
    connect(m_savePlan, &QPushButton::clicked, this, &GroupListWindow::savePlan);
    connect(m_abortButton, &QPushButton::clicked, this, [this] { m_abort = true; });
    // A click on a member's mark flips it; a double click elsewhere opens the review.
    connect(m_view, &QTreeView::clicked, this, [this](const QModelIndex& index) {
        if (m_model->memberOf(index) >= 0 && index.column() == GroupListModel::MarkColumn)
            flipMark(index);
    });
    connect(m_view, &QTreeView::doubleClicked, this, [this](const QModelIndex& index) {
        if (index.column() != GroupListModel::MarkColumn)
            reviewCurrentGroup();
    });
}

void GroupListWindow::applyRules()
{
    std::string problem;
    std::optional<std::vector<KeepCriterion>> criteria = parseRuleLine(m_rules->text(), problem);
    if (!criteria) {
        m_status->setText(QStringLiteral("規則を読めません：%1").arg(QString::fromStdString(problem)));
        return;
    }
    RuleSet rules;
    rules.criteria = std::move(*criteria);
    rules.referenceFolders = splitFolders(m_references->text());
    m_model->applyRules(rules);
    m_view->expandAll();
    m_status->setText(QStringLiteral("%1 グループ・削除の印 %2 ファイル（%3）")
                          .arg(m_list.groupCount())
                          .arg(m_list.markedFiles())
                          .arg(bytesText(m_list.markedBytes())));
}

void GroupListWindow::fillRuleSets()
{
    m_ruleSets->clear();
    for (const RuleSet& rules : m_settings.ruleSets())
        m_ruleSets->addItem(QString::fromStdString(rules.name));
    m_ruleSets->setCurrentIndex(-1);
}

void GroupListWindow::useRuleSet(int index)
{
    const std::vector<RuleSet> sets = m_settings.ruleSets();
    if (index < 0 || static_cast<std::size_t>(index) >= sets.size())
        return;
    const RuleSet& rules = sets[static_cast<std::size_t>(index)];
    m_rules->setText(ruleLineOf(rules.criteria));
    QStringList references;
    for (const std::string& folder : rules.referenceFolders)
        references.append(QString::fromStdString(folder));
    m_references->setText(references.join(QLatin1Char(';')));
    applyRules();
}

void GroupListWindow::saveRuleSet(const QString& name)
{
    std::string problem;
    std::optional<std::vector<KeepCriterion>> criteria = parseRuleLine(m_rules->text(), problem);
    if (!criteria) {
        m_status->setText(QStringLiteral("規則を読めません：%1").arg(QString::fromStdString(problem)));
        return;
    }
    RuleSet rules;
    rules.name = name.toStdString();
    rules.criteria = std::move(*criteria);
    rules.referenceFolders = splitFolders(m_references->text());
    m_settings.saveRuleSet(rules);
    fillRuleSets();
    m_ruleSets->setCurrentText(name);
}

bool GroupListWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_view && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Space) {
            flipMark(m_view->currentIndex());
            return true;
        }
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            reviewCurrentGroup();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void GroupListWindow::flipMark(const QModelIndex& index)
{
    if (m_model->memberOf(index) < 0 || m_worker)
        return;
    if (!m_model->flipMark(index))
        m_status->setText(QStringLiteral("グループの全部に削除の印はつけられません"));
}

void GroupListWindow::reviewCurrentGroup()
{
    const int32_t g = m_model->groupOf(m_view->currentIndex());
    if (g < 0 || !m_review || m_worker)
        return;
    const CleanupGroup& group = m_list.group(static_cast<std::size_t>(g));
    std::vector<int32_t> shown;
    for (const CleanupMember& member : group.members) {
        if ((*m_source.files)[static_cast<std::size_t>(member.file)].skip == 0)
            shown.push_back(member.file);
    }
    if (shown.size() < 2)
        return;
    ReviewSession session {m_source.files, m_source.pairs, m_source.mode, m_source.pane, m_source.orientations};
    const GroupPlace place {g + 1, static_cast<int32_t>(m_list.groupCount())};
    m_review->CheckFile(session, shown, 2, place);
    // A file the review deleted has nothing left to mark.
    for (std::size_t i = 0; i < group.members.size(); ++i) {
        if ((*m_source.files)[static_cast<std::size_t>(group.members[i].file)].skip != 0)
            m_list.setMark(static_cast<std::size_t>(g), i, Mark::None);
    }
    m_model->refreshGroup(g);
}

CleanupPlan GroupListWindow::currentPlan() const
{
    CleanupPlan plan = planOf(m_list, m_source.folder, "{}");
    // Files already gone (deleted in the review, or moved by an earlier
    // batch) leave their groups: the rest of a group is still acted on. A
    // file the review moved stays, and its group is skipped as changed.
    for (std::size_t g = 0; g < plan.groups.size(); ++g) {
        const auto& members = m_list.group(g).members;
        std::vector<PlanMember> left;
        for (std::size_t i = 0; i < members.size(); ++i) {
            if ((*m_source.files)[static_cast<std::size_t>(members[i].file)].skip == 0)
                left.push_back(std::move(plan.groups[g].members[i]));
        }
        plan.groups[g].members = std::move(left);
    }
    return plan;
}

void GroupListWindow::closeEvent(QCloseEvent* event)
{
    // A batch keeps running until its current file is done; the window waits
    // for it rather than leave the journal half-written.
    if (m_worker) {
        m_abort = true;
        m_worker->wait();
    }
    m_thumbnails->dropQueued();
    event->accept();
}
