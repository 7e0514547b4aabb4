#include "app/search_folders_dialog.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "common/folder_path.h"
#include "common/path_text.h"

namespace {

std::vector<std::string> itemsOf(const QListWidget& list)
{
    std::vector<std::string> items;
    for (int row = 0; row < list.count(); ++row)
        items.push_back(pathBytes(list.item(row)->text()));
    return items;
}

} // namespace

SearchFoldersDialog::SearchFoldersDialog(const SearchFolderSettings& settings, QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("SearchFoldersDialog"));
    setWindowTitle(QStringLiteral("追加フォルダ"));
    auto* layout = new QVBoxLayout(this);
    m_folders = addList(QStringLiteral("一緒に検索するフォルダ"), "Folders", settings.moreFolders);
    m_excludes = addList(QStringLiteral("除外するパス（*/.thumbnails/* など）"), "Excludes", settings.excludes);
    // Only absolute folders: a relative one would hang on where the
    // program happened to start.
    m_folders.entry->setPlaceholderText(QStringLiteral("/home/…"));
    auto* choose = new QPushButton(QStringLiteral("参照…"), this);
    choose->setObjectName(QStringLiteral("ChooseFolder"));
    choose->setAutoDefault(false);
    m_folders.add->parentWidget()->layout()->addWidget(choose);
    connect(choose, &QPushButton::clicked, this, &SearchFoldersDialog::chooseFolder);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->setObjectName(QStringLiteral("Buttons"));
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

SearchFolderSettings SearchFoldersDialog::settings() const
{
    return SearchFolderSettings {itemsOf(*m_folders.list), itemsOf(*m_excludes.list)};
}

SearchFoldersDialog::ListControls SearchFoldersDialog::addList(const QString& title, const char* name,
                                                               const std::vector<std::string>& items)
{
    const QString base = QString::fromLatin1(name);
    auto* box = new QGroupBox(title, this);
    auto* column = new QVBoxLayout(box);
    ListControls controls;
    controls.list = new QListWidget(box);
    controls.list->setObjectName(base + QStringLiteral("List"));
    for (const std::string& item : items)
        controls.list->addItem(pathText(item));
    column->addWidget(controls.list);
    auto* row = new QWidget(box);
    auto* rowLayout = new QHBoxLayout(row);
    rowLayout->setContentsMargins(0, 0, 0, 0);
    controls.entry = new QLineEdit(row);
    controls.entry->setObjectName(base + QStringLiteral("Entry"));
    controls.add = new QPushButton(QStringLiteral("追加"), row);
    controls.add->setObjectName(base + QStringLiteral("Add"));
    controls.remove = new QPushButton(QStringLiteral("削除"), row);
    controls.remove->setObjectName(base + QStringLiteral("Remove"));
    for (QPushButton* button : {controls.add, controls.remove})
        button->setAutoDefault(false);
    rowLayout->addWidget(controls.entry);
    rowLayout->addWidget(controls.add);
    rowLayout->addWidget(controls.remove);
    column->addWidget(row);
    static_cast<QVBoxLayout*>(layout())->addWidget(box);

    connect(controls.add, &QPushButton::clicked, this, [this, controls] { addEntry(controls); });
    connect(controls.entry, &QLineEdit::returnPressed, this, [this, controls] { addEntry(controls); });
    connect(controls.remove, &QPushButton::clicked, this, [controls] { qDeleteAll(controls.list->selectedItems()); });
    return controls;
}

void SearchFoldersDialog::addEntry(const ListControls& controls)
{
    std::string text = pathBytes(controls.entry->text());
    if (text.empty())
        return;
    if (controls.list == m_folders.list) {
        if (text.front() != '/')
            return; // stays in the entry line to be put right
        text = absoluteFolder(text, "/");
    }
    const QString shown = pathText(text);
    if (controls.list->findItems(shown, Qt::MatchExactly).isEmpty())
        controls.list->addItem(shown);
    controls.entry->clear();
}

void SearchFoldersDialog::chooseFolder()
{
    const QString folder = QFileDialog::getExistingDirectory(this, QStringLiteral("追加フォルダ"));
    if (folder.isEmpty())
        return;
    m_folders.entry->setText(folder);
    addEntry(m_folders);
}
