#include "app/folder_tree.h"

#include <algorithm>
#include <set>

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
    connect(this, &QTreeWidget::itemCollapsed, this, &FolderTree::nodeCollapsed);
    // A folder opened is read again: folders made since start appear.
    connect(this, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem* node) {
        if (!m_building)
            rereadNode(node);
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
        m_building = true;
        node->setExpanded(true);
        m_building = false;
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
        m_building = true;
        node->setExpanded(true);
        m_building = false;
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
    m_openedBySelection = nullptr;
    if (depth > 0 && !node->isExpanded()) {
        m_building = true;
        node->setExpanded(true);
        m_building = false;
        m_openedBySelection = node;
    }
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

void FolderTree::nodeCollapsed(QTreeWidgetItem* node)
{
    // As in desktop trees: the selection never hides inside a closed folder,
    // or "検索" would search a folder nobody can see.
    QTreeWidgetItem* current = currentItem();
    if (current && isAbove(node, current))
        setCurrentItem(node);
}

void FolderTree::mouseDoubleClickEvent(QMouseEvent* event)
{
    QTreeWidgetItem* node = itemAt(event->position().toPoint());
    if (node && node == m_openedBySelection) {
        // The first click selected the folder and opened it for the depth
        // option; the double click stands for that same opening.
        m_openedBySelection = nullptr;
        event->accept();
        return;
    }
    m_openedBySelection = nullptr;
    QTreeWidget::mouseDoubleClickEvent(event);
}

void FolderTree::removeNode(QTreeWidgetItem* node)
{
    QTreeWidgetItem* current = currentItem();
    if (current && (current == node || isAbove(node, current)))
        setCurrentItem(node->parent());
    if (m_prevNode && (m_prevNode == node || isAbove(node, m_prevNode)))
        m_prevNode = nullptr;
    if (m_openedBySelection && (m_openedBySelection == node || isAbove(node, m_openedBySelection)))
        m_openedBySelection = nullptr;
    delete node;
}

void FolderTree::rereadNode(QTreeWidgetItem* node)
{
    const std::vector<std::string> names = folder_listing::visibleSubfolders(pathOf(node));
    const std::set<std::string> present(names.begin(), names.end());
    for (int i = node->childCount() - 1; i >= 0; --i) {
        if (present.count(rawName(node->child(i))) == 0)
            removeNode(node->child(i));
    }
    // Both lists are in name order and the children left are among the
    // names: a name missing at its place is a folder made since.
    for (int k = 0; k < static_cast<int>(names.size()); ++k) {
        const std::string& name = names[static_cast<std::size_t>(k)];
        if (k < node->childCount() && rawName(node->child(k)) == name)
            continue;
        auto* child = new QTreeWidgetItem();
        child->setText(0, pathText(name));
        child->setData(0, kNameRole, QByteArray::fromStdString(name));
        child->setIcon(0, folder_icons::folderIcon());
        node->insertChild(k, child);
    }
}

void FolderTree::reread()
{
    // Open folders and the selected one show their sub-folders; the others
    // are read again when opened.
    std::vector<QTreeWidgetItem*> open;
    for (int i = 0; i < topLevelItemCount(); ++i)
        open.push_back(topLevelItem(i));
    while (!open.empty()) {
        QTreeWidgetItem* node = open.back();
        open.pop_back();
        if (!node->isExpanded() && node != currentItem())
            continue;
        rereadNode(node);
        for (int i = 0; i < node->childCount(); ++i)
            open.push_back(node->child(i));
    }
}

void FolderTree::mousePressEvent(QMouseEvent* event)
{
    m_mouseDown = true;
    // Only a press that selects (and so opens) a folder stands for the
    // opening a double click would make.
    m_openedBySelection = nullptr;
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
