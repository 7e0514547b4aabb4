#include "app/folder_tree.h"

#include <algorithm>

#include <QHeaderView>
#include <QMouseEvent>
#include <QShowEvent>

#include "app/folder_icons.h"
#include "app/folder_listing.h"
#include "common/folder_path.h"
#include "common/path_text.h"

namespace {

// The raw bytes of a node's name (a volume node: its mount point).
constexpr int kNameRole = Qt::UserRole;
// A volume node's kind; folder nodes have none.
constexpr int kKindRole = Qt::UserRole + 1;

std::string rawName(const QTreeWidgetItem* node)
{
    return node->data(0, kNameRole).toByteArray().toStdString();
}

bool isAbove(const QTreeWidgetItem* ancestor, const QTreeWidgetItem* node)
{
    for (const QTreeWidgetItem* p = node ? node->parent() : nullptr; p; p = p->parent()) {
        if (p == ancestor)
            return true;
    }
    return false;
}

} // namespace

FolderTree::FolderTree(QWidget* parent) : QTreeWidget(parent)
{
    setObjectName(QStringLiteral("TreeView1"));
    setHeaderHidden(true);
    setColumnCount(1);
    setIndentation(19);
    setIconSize(QSize(folder_icons::kIconSize, folder_icons::kIconSize));
    setSelectionMode(QAbstractItemView::SingleSelection);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    header()->setStretchLastSection(false);
    connect(this, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* current, QTreeWidgetItem*) {
                if (current)
                    TreeChange(current);
            });
}

std::string FolderTree::pathOf(const QTreeWidgetItem* node) const
{
    std::vector<std::string> names;
    const QTreeWidgetItem* top = node;
    while (top->parent()) {
        names.push_back(rawName(top));
        top = top->parent();
    }
    std::reverse(names.begin(), names.end());
    return folder_listing::nodePath(rawName(top), names);
}

QTreeWidgetItem* FolderTree::addVolumeNode(const Volume& volume)
{
    auto* node = new QTreeWidgetItem(this);
    node->setText(0, pathText(volume.root));
    node->setData(0, kNameRole, QByteArray::fromStdString(volume.root));
    node->setData(0, kKindRole, static_cast<int>(volume.kind));
    node->setIcon(0, folder_icons::volumeIcon(static_cast<TreeIcon>(volume.kind)));
    return node;
}

void FolderTree::BuildTree(QTreeWidgetItem* node, const std::string& path, int32_t levels)
{
    // Children arrive in name order, so the whole tree stays sorted.
    for (const std::string& name : folder_listing::visibleSubfolders(path)) {
        auto* child = new QTreeWidgetItem(node);
        child->setText(0, pathText(name));
        child->setData(0, kNameRole, QByteArray::fromStdString(name));
        child->setIcon(0, folder_icons::folderIcon());
        if (levels > 1)
            BuildTree(child, childPath(path, name), levels - 1);
    }
}

void FolderTree::start(const std::vector<Volume>& volumes, const std::string& currentDir,
                       const std::string& initialFolder)
{
    m_volumes = volumes;
    for (const Volume& volume : volumes)
        addVolumeNode(volume);
    if (!initialFolder.empty() && selectFolder(initialFolder))
        return;
    const std::string current = volume_list::volumeOf(volumes, currentDir);
    for (int i = 0; i < topLevelItemCount(); ++i) {
        QTreeWidgetItem* node = topLevelItem(i);
        if (rawName(node) != current || current.empty())
            continue;
        BuildTree(node, current, 0);
        node->setExpanded(true);
        setCurrentItem(node);
        return;
    }
}

QTreeWidgetItem* FolderTree::childNamed(QTreeWidgetItem* node, const std::string& name)
{
    for (int i = 0; i < node->childCount(); ++i) {
        if (rawName(node->child(i)) == name)
            return node->child(i);
    }
    return nullptr;
}

bool FolderTree::selectFolder(const std::string& folder)
{
    const std::string root = volume_list::volumeOf(m_volumes, folder);
    if (root.empty())
        return false;
    QTreeWidgetItem* node = nullptr;
    for (int i = 0; i < topLevelItemCount() && !node; ++i) {
        if (rawName(topLevelItem(i)) == root)
            node = topLevelItem(i);
    }
    if (!node)
        return false;
    std::vector<std::string> names;
    folder_listing::namesBelow(root, folder, names);
    for (const std::string& name : names) {
        if (node->childCount() == 0)
            BuildTree(node, pathOf(node), 0);
        QTreeWidgetItem* child = childNamed(node, name);
        if (!child)
            break; // hidden or gone: stop at the deepest folder shown
        node->setExpanded(true);
        node = child;
    }
    setCurrentItem(node);
    scrollToItem(node);
    return true;
}

bool FolderTree::isChangeableVolume(const QTreeWidgetItem* node)
{
    if (node->parent())
        return false;
    const int kind = node->data(0, kKindRole).toInt();
    return kind == static_cast<int>(VolumeKind::Removable) || kind == static_cast<int>(VolumeKind::Optical);
}

void FolderTree::TreeChange(QTreeWidgetItem* node)
{
    const std::string path = pathOf(node);
    const bool prevMet = !m_prevNode || isAbove(m_prevNode, node);
    const int32_t depth = m_depth ? m_depth() : 0;

    // A changeable medium may hold other folders than when it was last read.
    if (m_prevNode && node != m_prevNode && isChangeableVolume(node)) {
        if (isAbove(node, m_prevNode))
            m_prevNode = nullptr; // goes with the old children
        qDeleteAll(node->takeChildren());
    }
    if (node->childCount() == 0)
        BuildTree(node, path, std::min<int32_t>(2, depth));
    if (depth > 0)
        node->setExpanded(true);
    if (m_prevNode && !prevMet)
        foldLeftNode(m_prevNode);
    m_prevNode = node;
    m_searchFolder = path;
}

void FolderTree::foldLeftNode(QTreeWidgetItem* node)
{
    if (!m_mouseDown) {
        node->setExpanded(false);
        return;
    }
    // The node may be gone by the release (a changeable volume read again).
    m_pendingFolds.emplace_back(indexFromItem(node));
}

void FolderTree::foldPendingNodes()
{
    std::vector<QPersistentModelIndex> pending;
    pending.swap(m_pendingFolds);
    QTreeWidgetItem* current = currentItem();
    for (const QPersistentModelIndex& index : pending) {
        QTreeWidgetItem* node = index.isValid() ? itemFromIndex(index) : nullptr;
        // Never fold the selected folder or a folder on its path.
        if (node && node != current && !isAbove(node, current))
            node->setExpanded(false);
    }
}

void FolderTree::mousePressEvent(QMouseEvent* event)
{
    m_mouseDown = true;
    QTreeWidget::mousePressEvent(event);
}

void FolderTree::mouseReleaseEvent(QMouseEvent* event)
{
    QTreeWidget::mouseReleaseEvent(event);
    if (event->buttons() == Qt::NoButton) {
        m_mouseDown = false;
        foldPendingNodes();
    }
}

void FolderTree::showEvent(QShowEvent* event)
{
    QTreeWidget::showEvent(event);
    // Before the first show the view has no size to scroll by; its rows are
    // laid out once the show has been handled.
    if (!m_scrolledAtStart) {
        m_scrolledAtStart = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (currentItem())
                    scrollToItem(currentItem());
            },
            Qt::QueuedConnection);
    }
}
