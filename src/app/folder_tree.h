#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <QPersistentModelIndex>
#include <QTreeWidget>

#include "app/volume_list.h"

// TreeView1: the mounted volumes and their folders, read lazily as nodes are
// selected. Selecting a node sets SearchFolder.
class FolderTree : public QTreeWidget {
    Q_OBJECT
public:
    explicit FolderTree(QWidget* parent);

    // Where the sub-folder depth option (RadioGroup1's item index) is read.
    void setDepthSource(std::function<int32_t()> depth) { m_depth = std::move(depth); }

    // Builds the volume nodes and selects the volume holding `currentDir`, or,
    // when `initialFolder` is given and lies on a volume, that folder.
    void start(const std::vector<Volume>& volumes, const std::string& currentDir,
               const std::string& initialFolder = {});

    // Expands the tree down to `folder` (absolute, normal) and selects it, or
    // the deepest shown folder on the way. False when no volume holds it.
    bool selectFolder(const std::string& folder);

    // The selected folder: no trailing "/" except the root; empty until the
    // first selection.
    const std::string& searchFolder() const { return m_searchFolder; }

    // The folder path of a node.
    std::string pathOf(const QTreeWidgetItem* node) const;

    // Adds a child for each shown sub-folder of `path`; with levels > 1, also
    // below each new child, levels - 1 deep.
    void BuildTree(QTreeWidgetItem* node, const std::string& path, int32_t levels);

    QTreeWidgetItem* prevNode() const { return m_prevNode; }

    // Reads again every folder whose sub-folders are on show (F5): folders
    // made since appear, folders gone leave (the selection moves up to what
    // is left of its path).
    void reread();

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void TreeChange(QTreeWidgetItem* node);
    void foldLeftNode(QTreeWidgetItem* node);
    void foldPendingNodes();
    // Brings a read node's children in line with its folder's sub-folders.
    void rereadNode(QTreeWidgetItem* node);
    void removeNode(QTreeWidgetItem* node);
    void nodeCollapsed(QTreeWidgetItem* node);
    QTreeWidgetItem* addVolumeNode(const Volume& volume);
    static QTreeWidgetItem* childNamed(QTreeWidgetItem* node, const std::string& name);
    static bool isChangeableVolume(const QTreeWidgetItem* node);

    std::function<int32_t()> m_depth;
    std::vector<Volume> m_volumes;
    QTreeWidgetItem* m_prevNode = nullptr;
    std::string m_searchFolder;
    // While a mouse button is down, the folders left are folded only on its
    // release: folding rows above the pointer mid-click would move another
    // row under it, and the view would select that one.
    bool m_mouseDown = false;
    std::vector<QPersistentModelIndex> m_pendingFolds;
    bool m_scrolledAtStart = false;
    // The node a click has just selected and thereby opened: the double
    // click that follows must not close it again.
    QTreeWidgetItem* m_openedBySelection = nullptr;
    bool m_building = false; // the tree itself is opening nodes it has just read
};
