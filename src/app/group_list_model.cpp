#include "app/group_list_model.h"

#include <QDateTime>
#include <QFileInfo>
#include <QIcon>
#include <QPixmap>
#include <QLocale>

#include "app/thumbnail_store.h"

namespace {

// internalId of a member row: its group + 1; of a group row: 0.
constexpr quintptr kGroupRow = 0;

QString pathText(const std::string& path)
{
    return QString::fromStdString(path);
}

} // namespace

GroupListModel::GroupListModel(CleanupList& list, const FileTable& files, ThumbnailStore* thumbnails,
                               QObject* parent)
    : QAbstractItemModel(parent), m_list(list), m_files(files), m_thumbnails(thumbnails)
{
    if (m_thumbnails)
        connect(m_thumbnails, &ThumbnailStore::ready, this, &GroupListModel::thumbnailReady);
}

QModelIndex GroupListModel::index(int row, int column, const QModelIndex& parent) const
{
    if (row < 0 || column < 0 || column >= ColumnCount)
        return {};
    if (!parent.isValid())
        return static_cast<std::size_t>(row) < m_list.groupCount() ? createIndex(row, column, kGroupRow) : QModelIndex();
    if (parent.internalId() != kGroupRow)
        return {};
    const auto& members = m_list.group(static_cast<std::size_t>(parent.row())).members;
    if (static_cast<std::size_t>(row) >= members.size())
        return {};
    return createIndex(row, column, static_cast<quintptr>(parent.row()) + 1);
}

QModelIndex GroupListModel::parent(const QModelIndex& child) const
{
    if (!child.isValid() || child.internalId() == kGroupRow)
        return {};
    return createIndex(static_cast<int>(child.internalId() - 1), 0, kGroupRow);
}

int GroupListModel::rowCount(const QModelIndex& parent) const
{
    if (!parent.isValid())
        return static_cast<int>(m_list.groupCount());
    if (parent.internalId() != kGroupRow || parent.column() != 0)
        return 0;
    return static_cast<int>(m_list.group(static_cast<std::size_t>(parent.row())).members.size());
}

int GroupListModel::columnCount(const QModelIndex&) const
{
    return ColumnCount;
}

int32_t GroupListModel::groupOf(const QModelIndex& index) const
{
    if (!index.isValid())
        return -1;
    return index.internalId() == kGroupRow ? index.row() : static_cast<int32_t>(index.internalId() - 1);
}

int32_t GroupListModel::memberOf(const QModelIndex& index) const
{
    if (!index.isValid() || index.internalId() == kGroupRow)
        return -1;
    return index.row();
}

QString GroupListModel::markText(const CleanupGroup& group, int32_t member) const
{
    const CleanupMember& m = group.members[static_cast<std::size_t>(member)];
    const File_rec& file = m_files[static_cast<std::size_t>(m.file)];
    if (auto state = m_fileStates.find(m.file); state != m_fileStates.end())
        return *state;
    if (file.skip != 0)
        return QStringLiteral("削除済み");
    switch (m.mark) {
    case Mark::Keep:
        return QStringLiteral("残す");
    case Mark::Trash:
        return QStringLiteral("削除");
    case Mark::None:
        break;
    }
    if (m.reference)
        return QStringLiteral("参照フォルダ");
    if (group.kept >= 0 && member != group.kept && !m.direct)
        return QStringLiteral("直接の組なし");
    return QStringLiteral("―");
}

QVariant GroupListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid())
        return {};
    const int32_t g = groupOf(index);
    const CleanupGroup& group = m_list.group(static_cast<std::size_t>(g));
    if (index.internalId() == kGroupRow) {
        if (role == Qt::DisplayRole && index.column() == Name)
            return QStringLiteral("グループ %1（%2 枚）").arg(g + 1).arg(group.members.size());
        return {};
    }
    const int32_t member = index.row();
    const CleanupMember& m = group.members[static_cast<std::size_t>(member)];
    const File_rec& file = m_files[static_cast<std::size_t>(m.file)];
    if (role == Qt::DecorationRole && index.column() == Name && m_thumbnails) {
        // An icon, so that the view scales it into its icon size keeping
        // the picture's proportions.
        const QImage image = m_thumbnails->thumbnail(pathText(file.path));
        return image.isNull() ? QVariant() : QVariant(QIcon(QPixmap::fromImage(image)));
    }
    if (role == Qt::SizeHintRole)
        return QSize(-1, kMemberRowHeight);
    if (role == Qt::ForegroundRole && index.column() == MarkColumn) {
        if (m.mark == Mark::Trash)
            return QColor(Qt::red);
        if (m.mark == Mark::Keep)
            return QColor(Qt::darkGreen);
        return QColor(Qt::gray);
    }
    if (role == Qt::UserRole)
        return static_cast<int>(m.mark);
    if (role != Qt::DisplayRole)
        return {};
    switch (index.column()) {
    case Name:
        return QFileInfo(pathText(file.path)).fileName();
    case MarkColumn:
        return markText(group, member);
    case Folder:
        return QFileInfo(pathText(file.path)).path();
    case Size:
        return QLocale::system().toString(static_cast<qlonglong>(m.facts.size));
    case Dimensions:
        return m.width > 0 ? QStringLiteral("%1 × %2").arg(m.width).arg(m.height) : QString();
    case Date:
        return QDateTime::fromMSecsSinceEpoch(m.facts.mtimeNs / 1000000).toString(QStringLiteral("yyyy/MM/dd hh:mm:ss"));
    case Score:
        return m.score >= 0 ? QVariant(m.score) : QVariant();
    default:
        return {};
    }
}

QVariant GroupListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case Name:
        return QStringLiteral("名前");
    case MarkColumn:
        return QStringLiteral("印");
    case Folder:
        return QStringLiteral("フォルダ");
    case Size:
        return QStringLiteral("サイズ");
    case Dimensions:
        return QStringLiteral("幅 × 高さ");
    case Date:
        return QStringLiteral("日付");
    case Score:
        return QStringLiteral("残す画像との一致度");
    default:
        return {};
    }
}

bool GroupListModel::flipMark(const QModelIndex& index)
{
    const int32_t g = groupOf(index);
    const int32_t member = memberOf(index);
    if (member < 0)
        return false;
    const CleanupGroup& group = m_list.group(static_cast<std::size_t>(g));
    const CleanupMember& m = group.members[static_cast<std::size_t>(member)];
    if (m_files[static_cast<std::size_t>(m.file)].skip != 0 || m_fileStates.contains(m.file))
        return false; // already gone: nothing left to mark
    Mark next = Mark::Trash;
    if (m.mark == Mark::Trash)
        next = member == group.kept ? Mark::Keep : Mark::None;
    if (!m_list.setMark(static_cast<std::size_t>(g), static_cast<std::size_t>(member), next))
        return false;
    const QModelIndex first = this->index(member, 0, this->index(g, 0));
    emit dataChanged(first, first.siblingAtColumn(ColumnCount - 1));
    return true;
}

void GroupListModel::applyRules(const RuleSet& rules)
{
    beginResetModel();
    m_list.applyRules(rules);
    endResetModel();
}

void GroupListModel::setFileStates(const std::vector<int32_t>& files, const QString& state)
{
    for (int32_t file : files) {
        if (state.isEmpty())
            m_fileStates.remove(file);
        else
            m_fileStates.insert(file, state);
    }
    // A batch touches few enough rows at once that a repaint of all is cheap.
    if (m_list.groupCount() > 0)
        emit dataChanged(index(0, 0), index(static_cast<int>(m_list.groupCount()) - 1, ColumnCount - 1));
}

void GroupListModel::refreshGroup(int32_t group)
{
    const auto& members = m_list.group(static_cast<std::size_t>(group)).members;
    m_rowsOfPath.clear(); // a move in the review changed a path
    const QModelIndex parent = index(group, 0);
    emit dataChanged(parent, parent.siblingAtColumn(ColumnCount - 1));
    if (!members.empty())
        emit dataChanged(index(0, 0, parent), index(static_cast<int>(members.size()) - 1, ColumnCount - 1, parent));
}

void GroupListModel::thumbnailReady(const QString& path)
{
    if (m_rowsOfPath.isEmpty()) {
        for (std::size_t g = 0; g < m_list.groupCount(); ++g) {
            const auto& members = m_list.group(g).members;
            for (std::size_t i = 0; i < members.size(); ++i)
                m_rowsOfPath[pathText(m_files[static_cast<std::size_t>(members[i].file)].path)].emplace_back(
                    static_cast<int32_t>(g), static_cast<int32_t>(i));
        }
    }
    const auto rows = m_rowsOfPath.find(path);
    if (rows == m_rowsOfPath.end())
        return;
    for (const auto& [g, i] : *rows) {
        const QModelIndex cell = index(i, Name, index(g, 0));
        emit dataChanged(cell, cell, {Qt::DecorationRole});
    }
}
