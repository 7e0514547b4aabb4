#pragma once

#include <QIcon>

// The six 16 x 16 pictures of the folder tree, in their fixed order.
enum class TreeIcon : int {
    ClosedFolder = 0,
    OpenFolder = 1,
    Removable = 2,
    FixedDisk = 3,
    Network = 4,
    Optical = 5,
};

namespace folder_icons {

inline constexpr int kIconSize = 16;

// One of the six pictures, drawn in code.
QPixmap pixmap(TreeIcon which);

// A folder node's icon: the closed folder, and the open one while selected.
QIcon folderIcon();

// A volume node's icon, the same whether selected or not.
QIcon volumeIcon(TreeIcon which);

} // namespace folder_icons
