#pragma once

#include <cstdint>
#include <vector>

#include <QAbstractItemModel>
#include <QHash>

#include "cleanup/cleanup_list.h"
#include "search/file_table.h"

class ThumbnailStore;

// The groups of a CleanupList as a tree: one top row per group, its members
// as child rows. Nothing is computed ahead: a view asks only for the rows on
// screen, and only those ask for thumbnails.
class GroupListModel : public QAbstractItemModel {
    Q_OBJECT

public:
    // The height of a member row: its thumbnail's side and a margin.
    static constexpr int kThumbnailSide = 96;
    static constexpr int kMemberRowHeight = kThumbnailSide + 6;

    enum Column : int { Name, MarkColumn, Folder, Size, Dimensions, Date, Score, ColumnCount };

    // `files` is the search's FileTable: a member deleted or moved by the
    // review shows so from there.
    GroupListModel(CleanupList& list, const FileTable& files, ThumbnailStore* thumbnails, QObject* parent = nullptr);

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // The group a row stands for (a member row: its group); -1 for none.
    int32_t groupOf(const QModelIndex& index) const;
    // The member a row stands for; -1 for a group row.
    int32_t memberOf(const QModelIndex& index) const;

    // Trash for a member not marked so, else back to what the rules would
    // leave it (keep for the kept member, none for the rest). False, with
    // nothing changed, when that would mark every member of the group.
    bool flipMark(const QModelIndex& index);

    // Proposes marks for every group anew.
    void applyRules(const RuleSet& rules);

    // Files acted on outside the model (a batch, an undo): what happened,
    // shown in the mark column; empty clears it.
    void setFileStates(const std::vector<int32_t>& files, const QString& state);

    // The rows of a group show the FileTable again (after a review).
    void refreshGroup(int32_t group);

private:
    void thumbnailReady(const QString& path);
    QString markText(const CleanupGroup& group, int32_t member) const;

    CleanupList& m_list;
    const FileTable& m_files;
    ThumbnailStore* m_thumbnails = nullptr;
    QHash<int32_t, QString> m_fileStates;
    // Built on the first thumbnail: where each path sits, to repaint just its row.
    mutable QHash<QString, std::vector<std::pair<int32_t, int32_t>>> m_rowsOfPath;
};
