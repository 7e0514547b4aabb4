#pragma once

#include <QDialog>

#include "app/search_folder_settings.h"

class QLineEdit;
class QListWidget;
class QPushButton;

// "追加フォルダ": the folders searched with the one picked in the tree and
// the patterns of paths left out, each a list with its own entry line and
// add and remove buttons.
class SearchFoldersDialog : public QDialog {
    Q_OBJECT

public:
    explicit SearchFoldersDialog(const SearchFolderSettings& settings, QWidget* parent = nullptr);

    // What the lists hold now.
    SearchFolderSettings settings() const;

private:
    // One list with its entry line and buttons, added to the dialog's layout.
    struct ListControls {
        QListWidget* list = nullptr;
        QLineEdit* entry = nullptr;
        QPushButton* add = nullptr;
        QPushButton* remove = nullptr;
    };

    ListControls addList(const QString& title, const char* name, const std::vector<std::string>& items);
    void addEntry(const ListControls& controls);
    void chooseFolder();

    ListControls m_folders;
    ListControls m_excludes;
};
