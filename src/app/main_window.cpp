#include "app/main_window.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>

#include <QCloseEvent>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QTimer>
#include <QToolButton>

#include "app/choice_file.h"
#include "app/folder_listing.h"
#include "app/folder_tree.h"
#include "app/format_choice.h"
#include "app/option_group.h"
#include "app/search_folder_settings.h"
#include "app/search_folders_dialog.h"
#include "app/search_runner.h"
#include "app/settings_file.h"
#include "cache/cache_location.h"
#include "common/folder_path.h"
#include "common/path_text.h"
#include "app/group_list_settings.h"
#include "app/group_list_window.h"
#include "review/error_messages.h"
#include "review/review_session.h"
#include "review/ui/error_box.h"
#include "review/ui/review_window.h"
#include "review/ui/window_look.h"

namespace {

const QString kTitleLine = QStringLiteral("Zelvic Ver 0.9");

// The choice to look for turned and mirrored copies too, kept beside the
// formats: "on" or "off".
constexpr const char* kTurnedChoiceFile = "turned";

template <typename Widget>
Widget* placed(Widget* widget, const char* name, int left, int top, int width, int height)
{
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(left, top, width, height);
    return widget;
}

} // namespace

MainWindow::MainWindow(MainWindowSetup setup, QWidget* parent) : QWidget(parent), m_setup(std::move(setup))
{
    const bool ownReporter = static_cast<bool>(m_setup.reportError);
    if (!m_setup.reportError) {
        m_setup.reportError = [](const QString& message) { showErrorBox(nullptr, message); };
    }
    buildControls();
    m_runner = new SearchRunner(this);
    connect(m_runner, &SearchRunner::progressed, this, &MainWindow::showProgress);
    connect(m_runner, &SearchRunner::finished, this, &MainWindow::onSearchFinished);
    FormCreate();
    // The review window lives as long as the main window, hidden until a
    // group is shown.
    m_review = new ReviewWindow(this);
    m_review->hide();
    // Errors met during a review reach whoever collects the window's own;
    // otherwise the review shows them in boxes over itself.
    if (ownReporter)
        m_review->setErrorSink(m_setup.reportError);
}

MainWindow::~MainWindow()
{
    // The list works on m_last, which goes before the children do.
    delete m_groupList;
    m_groupList = nullptr;
    FormClose();
}

void MainWindow::buildControls()
{
    QFont font = gothicFont();
    font.setPointSize(9);
    dressWindow(*this, "Form1", font);
    resize(kOuterWidth, kOuterHeight);

    m_tree = placed(new FolderTree(this), "TreeView1", 8, 8, 225, 505);
    m_tree->setDepthSource([this] { return m_radioGroup1->itemIndex(); });

    m_button2 = placed(new QPushButton(QStringLiteral("検索"), this), "Button2", 248, 8, 49, 25);
    m_button3 = placed(new QPushButton(QStringLiteral("中断"), this), "Button3", 312, 8, 49, 25);
    m_button1 = placed(new QPushButton(QStringLiteral("終了"), this), "Button1", 376, 8, 49, 25);
    m_button4 = placed(new QPushButton(QStringLiteral("画像再表示"), this), "Button4", 440, 8, 81, 25);
    // In the free space right of the sub-folder choice, so that nothing else moves.
    m_moreFoldersButton = placed(new QPushButton(QStringLiteral("追加フォルダ…"), this), "MoreFoldersButton", 384, 48,
                                 137, 25);
    m_groupListButton = placed(new QPushButton(QStringLiteral("グループ一覧"), this), "GroupListButton", 384, 256, 97,
                               25);
    m_groupListButton->setEnabled(false);
    for (QPushButton* button : {m_button1, m_button2, m_button3, m_button4, m_moreFoldersButton, m_groupListButton})
        button->setAutoDefault(false);

    m_radioGroup1 = placed(new OptionGroup(QStringLiteral("サブディレクトリ検索"),
                                           {QStringLiteral("検索なし"), QStringLiteral("あり：一階層"),
                                            QStringLiteral("あり：二階層"), QStringLiteral("あり：三階層")},
                                           this),
                           "RadioGroup1", 240, 48, 129, 81);
    m_radioGroup2 = placed(new OptionGroup(QStringLiteral("チェック内容"),
                                           {QStringLiteral("ファイルサイズ"), QStringLiteral("画像サイズ"),
                                            QStringLiteral("一致画像"), QStringLiteral("類似画像")},
                                           this),
                           "RadioGroup2", 240, 136, 129, 81);
    m_radioGroup7 = placed(new OptionGroup(QStringLiteral("チェックレベル"),
                                           {QStringLiteral("厳しい"), QStringLiteral("中間"), QStringLiteral("甘い")},
                                           this),
                           "RadioGroup7", 384, 136, 89, 73);
    m_radioGroup3 = placed(new OptionGroup(QStringLiteral("画面サイズ"),
                                           {QStringLiteral("\u3000８００\u3000Ｘ\u3000\u3000６００"),
                                            QStringLiteral("１０２４\u3000Ｘ\u3000\u3000７６８"),
                                            QStringLiteral("１２８０\u3000Ｘ\u3000１０２４")},
                                           this),
                           "RadioGroup3", 240, 224, 129, 65);
    for (OptionGroup* group : {m_radioGroup1, m_radioGroup2, m_radioGroup7, m_radioGroup3})
        group->setItemIndex(0);
    m_radioGroup7->setVisible(false);

    m_label1 = placed(new QLabel(this), "Label1", 248, 296, 273, 16);
    QFont bold = font;
    bold.setBold(true);
    m_label1->setFont(bold);
    m_edit1 = placed(new QLineEdit(this), "Edit1", 240, 320, 281, 20);
    m_progress = placed(new QProgressBar(this), "ProgressBar1", 240, 344, 281, 16);
    m_progress->setTextVisible(true);
    m_progress->setVisible(false);
    m_label3 = new QLabel(QStringLiteral("表示不可能ファイル"), this);
    m_label3->setObjectName(QStringLiteral("Label3"));
    m_label3->move(248, 368);
    m_label3->adjustSize();
    m_listBox3 = placed(new QListWidget(this), "ListBox3", 240, 384, 281, 129);
    m_listBox1 = placed(new QListWidget(this), "ListBox1", 456, 56, 553, 233);
    m_listBox1->setVisible(false);
    // Below the sub-folder choice, where nothing else is: the original controls stay put.
    m_formatButton = placed(new QToolButton(this), "FormatButton", 384, 104, 89, 25);
    m_formatButton->setText(QStringLiteral("形式"));
    m_formatButton->setPopupMode(QToolButton::InstantPopup);

    connect(m_button1, &QPushButton::clicked, this, &QWidget::close);
    connect(m_button2, &QPushButton::clicked, this, &MainWindow::Button2Click);
    connect(m_button3, &QPushButton::clicked, this, &MainWindow::Button3Click);
    connect(m_button4, &QPushButton::clicked, this, &MainWindow::Button4Click);
    connect(m_groupListButton, &QPushButton::clicked, this, &MainWindow::openGroupList);
    connect(m_radioGroup2, &OptionGroup::clicked, this, &MainWindow::RadioGroup2Click);
    connect(m_moreFoldersButton, &QPushButton::clicked, this, &MainWindow::editSearchFolders);
    showSearchFolders(SearchFolderSettings::read(SearchFolderSettings::defaultPath()));
    // "中断" is the window's cancel button: Esc presses it.
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, m_button3, &QPushButton::click);
    // F5 reads the folders again, as a file manager does.
    auto* reread = new QShortcut(QKeySequence(Qt::Key_F5), this);
    connect(reread, &QShortcut::activated, this, [this] {
        if (!m_busy)
            m_tree->reread();
    });
}

void MainWindow::FormCreate()
{
    move(kLeft, kTop);
    m_startDir = m_setup.startDir.empty() ? pathBytes(QDir::currentPath())
                                          : m_setup.startDir;
    RadioGroup2Click();
    const std::string home = pathBytes(QDir::homePath());
    m_configFolder = settings_location::configFolder(std::getenv("XDG_CONFIG_HOME"), home);
    m_settings = settings_location::locate(m_startDir, m_configFolder);
    readSettings();
    m_formats = format_choice::read(m_configFolder);
    m_turned = choice_file::readLine(m_configFolder, kTurnedChoiceFile) == std::optional<std::string>("on");
    buildFormatMenu();
    setWindowTitle(kTitleLine);
    // A person's own pictures are under the home folder: it comes first,
    // before "/" and its system folders.
    m_volumes = m_setup.volumes ? *m_setup.volumes : volume_list::homeFirst(volume_list::mountedVolumes(), home);
    std::string initial;
    if (!m_setup.initialFolder.empty()) {
        initial = absoluteFolder(m_setup.initialFolder, m_startDir);
        // A folder given on the command line may be gone (a card taken out,
        // a typing slip): start at what is left of it and say so.
        const std::string existing = folder_listing::nearestExistingFolder(initial);
        if (existing != initial) {
            std::fprintf(stderr, "zelvic: フォルダ %s が見つかりません。%s から始めます\n", initial.c_str(),
                         existing.c_str());
            initial = existing;
        }
    }
    m_tree->start(m_volumes, m_startDir, initial);
}

void MainWindow::readSettings()
{
    // A missing file is a first run, and a bad line stops only the reading:
    // the window starts either way, with the defaults where nothing applied.
    try {
        const std::optional<std::string> bytes = SettingsFile::read(m_settings.readPath);
        if (!bytes)
            return;
        const SettingsReadResult result = SettingsFile::apply(*bytes, [this](SettingKey key, int32_t value) {
            switch (key) {
            case SettingKey::Depth:
                m_radioGroup1->setItemIndex(value);
                break;
            case SettingKey::Mode:
                m_radioGroup2->setItemIndex(value);
                break;
            case SettingKey::Level:
                m_radioGroup7->setItemIndex(value);
                break;
            case SettingKey::Screen:
                m_radioGroup3->setItemIndex(value);
                break;
            }
        });
        if (!result.ok)
            m_setup.reportError(QString::fromStdString(notAnIntegerText(result.badValue)));
    } catch (const std::exception& e) {
        m_setup.reportError(QString::fromStdString(exceptionText(e)));
    }
}

void MainWindow::FormClose()
{
    // A search still running ends first, so that nothing touches the window
    // after this point.
    m_runner->abortAndWait();
    const SettingValues values {m_radioGroup1->itemIndex(), m_radioGroup2->itemIndex(), m_radioGroup7->itemIndex(),
                                m_radioGroup3->itemIndex()};
    try {
        settings_location::makeFolders(m_settings.folderToMake);
        SettingsFile::write(m_settings.writePath, SettingsFile::format(values));
    } catch (const std::exception& e) {
        m_setup.reportError(QString::fromStdString(exceptionText(e)));
    }
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    // Closing during a search stops it; the destructor waits for the worker
    // and then writes the settings.
    m_runner->abort();
    event->accept();
}

void MainWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!m_outerSizeFitted) {
        m_outerSizeFitted = true;
        QTimer::singleShot(0, this, &MainWindow::fitOuterSize);
    }
}

void MainWindow::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    // Some window managers frame a window only after showing it; the first
    // activation is the latest point at which the frame is known.
    if (event->type() == QEvent::ActivationChange && isActiveWindow() && !m_activatedOnce) {
        m_activatedOnce = true;
        fitOuterSize();
    }
}

void MainWindow::fitOuterSize()
{
    // The size is that of the whole window, frame included; the frame is
    // known only once the window manager has framed the window.
    const QSize frame = frameGeometry().size() - geometry().size();
    const QSize client(kOuterWidth - frame.width(), kOuterHeight - frame.height());
    if (size() != client)
        resize(client);
}

void MainWindow::RadioGroup2Click()
{
    m_checkMode = m_radioGroup2->itemIndex();
    m_radioGroup7->setVisible(m_checkMode > 1);
}

void MainWindow::Button3Click()
{
    m_runner->abort();
}

void MainWindow::setBusy(bool busy)
{
    m_busy = busy;
    for (QWidget* input : std::initializer_list<QWidget*> {m_button2, m_button4, m_tree, m_radioGroup1, m_radioGroup2,
                                                            m_radioGroup7, m_radioGroup3, m_moreFoldersButton,
                                                            m_formatButton})
        input->setEnabled(!busy);
}

void MainWindow::editSearchFolders()
{
    if (m_busy)
        return;
    const std::string path = SearchFolderSettings::defaultPath();
    auto* dialog = new SearchFoldersDialog(SearchFolderSettings::read(path), this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QDialog::accepted, this, [this, dialog, path] {
        const SearchFolderSettings settings = dialog->settings();
        if (!settings.write(path))
            m_setup.reportError(QStringLiteral("追加フォルダを書き込めません\n") + pathText(path));
        showSearchFolders(settings);
    });
    dialog->open();
}

void MainWindow::showSearchFolders(const SearchFolderSettings& settings)
{
    // Every search uses them: the button says that there are some, and
    // which they are when the pointer rests on it.
    const std::size_t count = settings.moreFolders.size() + settings.excludes.size();
    m_moreFoldersButton->setText(count == 0 ? QStringLiteral("追加フォルダ…")
                                            : QStringLiteral("追加フォルダ… (%1)").arg(count));
    QStringList lines;
    for (const std::string& folder : settings.moreFolders)
        lines.append(QStringLiteral("＋ ") + pathText(folder));
    for (const std::string& pattern : settings.excludes)
        lines.append(QStringLiteral("－ ") + pathText(pattern));
    m_moreFoldersButton->setToolTip(lines.join(QLatin1Char('\n')));
}

void MainWindow::buildFormatMenu()
{
    auto* menu = new QMenu(m_formatButton);
    menu->setToolTipsVisible(true);
    for (int i = 0; i < kPictureFormatCount; ++i) {
        const auto format = static_cast<PictureFormat>(i);
        if (!formatDecodable(format))
            continue;
        QAction* action = menu->addAction(QString::fromUtf8(formatWord(format).data(),
                                                            static_cast<qsizetype>(formatWord(format).size())));
        action->setObjectName(QStringLiteral("format_") + action->text());
        action->setCheckable(true);
        action->setChecked(m_formats.has(format));
        connect(action, &QAction::toggled, this, [this, format, action](bool on) { formatToggled(format, action, on); });
    }
    // Slower, and only the picture modes use it: a choice of its own, off
    // until chosen.
    menu->addSeparator();
    QAction* turned = menu->addAction(QStringLiteral("回転・反転も探す"));
    turned->setObjectName(QStringLiteral("turnedChoice"));
    turned->setCheckable(true);
    turned->setChecked(m_turned);
    turned->setToolTip(QStringLiteral("一致画像・類似画像で、90°・180°・270° 回転した画像と左右反転した画像も探します"));
    connect(turned, &QAction::toggled, this, &MainWindow::turnedToggled);
    m_formatButton->setMenu(menu);
}

void MainWindow::formatToggled(PictureFormat format, QAction* action, bool on)
{
    PictureFormats next = m_formats;
    if (on)
        next.add(format);
    else
        next.remove(format);
    if (next.empty()) {
        // A search of no format would find nothing: the last one stays on.
        action->setChecked(true);
        return;
    }
    if (next == m_formats)
        return;
    m_formats = next;
    if (!format_choice::write(m_configFolder, m_formats))
        std::fprintf(stderr, "zelvic: the choice of formats could not be kept in %s\n", m_configFolder.c_str());
}

void MainWindow::turnedToggled(bool on)
{
    if (on == m_turned)
        return;
    m_turned = on;
    if (!choice_file::writeLine(m_configFolder, kTurnedChoiceFile, on ? "on" : "off"))
        std::fprintf(stderr, "zelvic: the choice of turned copies could not be kept in %s\n", m_configFolder.c_str());
}

void MainWindow::Button2Click()
{
    if (m_busy)
        return;
    SearchOptions options;
    options.folder = m_tree->searchFolder();
    if (options.folder.empty()) {
        // Nothing selected yet: the root of the volume holding StartDir.
        options.folder = volume_list::volumeOf(m_volumes, m_startDir);
        if (options.folder.empty())
            options.folder.assign(1, '/'); // GCC 12 warns falsely (-Wrestrict) on assigning "/" here
    }
    options.mode = static_cast<CheckMode>(m_checkMode);
    options.level = m_radioGroup7->itemIndex();
    options.depth = m_radioGroup1->itemIndex();
    options.screen = m_radioGroup3->itemIndex();
    options.cacheFile = m_setup.cacheFile ? *m_setup.cacheFile : defaultCacheFile();
    // "Not the same" marks live beside the signatures the search reads.
    if (!options.cacheFile.empty())
        m_review->setMarksFile(options.cacheFile);
    // Read at each search, so that what the dialog last kept counts.
    SearchFolderSettings more = SearchFolderSettings::read(SearchFolderSettings::defaultPath());
    options.moreFolders = std::move(more.moreFolders);
    options.excludes = std::move(more.excludes);
    options.formats = m_formats;
    options.turned = m_turned;

    // The previous result goes now, as its list is cleared for the scan;
    // the group list works on it and goes first.
    delete m_groupList;
    m_groupList = nullptr;
    m_groupListButton->setEnabled(false);
    m_last = SearchOutcome {};
    m_listBox1->clear();
    m_listBox3->clear();
    m_label1->setText(QStringLiteral("検索中！！"));
    m_progress->setRange(0, 0);
    m_progress->setValue(0);
    m_progress->setFormat(QString());
    m_progress->setVisible(true);
    setBusy(true);
    try {
        m_runner->start(options);
    } catch (const std::exception& e) {
        // No thread to run it on: the search never began.
        m_progress->setVisible(false);
        setBusy(false);
        m_setup.reportError(QString::fromStdString(exceptionText(e)));
    }
}

void MainWindow::showProgress(const SearchProgress& progress)
{
    constexpr int kSteps = 1000;
    QString text;
    switch (progress.phase) {
    case SearchProgress::Phase::Scan:
        text = QStringLiteral("ファイル：%1").arg(progress.done);
        break;
    case SearchProgress::Phase::Load:
        text = QStringLiteral("読込：%1 / %2").arg(progress.done).arg(progress.total);
        if (progress.fromCache > 0)
            text += QStringLiteral(" キャッシュ：%1").arg(progress.fromCache);
        break;
    case SearchProgress::Phase::Pairs:
        text = QStringLiteral("比較：%1 / %2").arg(progress.done).arg(progress.total);
        break;
    }
    // Counts of pairs outgrow int, so the bar runs in steps of a thousandth.
    m_progress->setRange(0, kSteps);
    if (progress.total > 0)
        m_progress->setValue(static_cast<int>(std::clamp<int64_t>(progress.done * kSteps / progress.total, 0, kSteps)));
    else
        m_progress->setValue(kSteps); // the scan's total is not known: a full bar with the count
    m_progress->setFormat(text.replace(QLatin1Char('%'), QStringLiteral("%%")));
}

void MainWindow::onSearchFinished()
{
    m_progress->setVisible(false);
    std::optional<SearchOutcome> outcome = m_runner->takeOutcome();
    if (outcome && !outcome->cacheWarning.empty())
        std::fprintf(stderr, "zelvic: %s\n", outcome->cacheWarning.c_str()); // the search itself is unharmed
    if (outcome && !outcome->marksWarning.empty())
        std::fprintf(stderr, "zelvic: %s\n", outcome->marksWarning.c_str()); // searched as if no pair were marked
    if (!outcome) {
        // Label1 keeps "検索中！！", as after any search that ended in an error.
        m_setup.reportError(m_runner->errorMessage());
        setBusy(false);
        emit searchFinished();
        return;
    }
    if (outcome->noFiles) {
        m_label1->setText(QString::fromUtf8(searchStatusText(*outcome)));
        setBusy(false);
        emit searchFinished();
        return;
    }
    m_last = std::move(*outcome);
    m_pane = searchPaneSize(m_last.options.screen);
    for (const std::string& path : m_last.unreadable)
        m_listBox3->addItem(pathText(path));
    QStringList lines;
    lines.reserve(static_cast<qsizetype>(m_last.resultLines.size()));
    for (const std::string& line : m_last.resultLines)
        lines.append(QString::fromUtf8(line));
    m_listBox1->addItems(lines);

    m_groupListButton->setEnabled(!m_last.pairList.empty());
    if (!m_last.pairList.empty() && GroupListSettings().openListAfterSearch()) {
        // Chosen in the list: it opens instead of the review walk.
        setBusy(false);
        openGroupList();
    } else {
        runReview(m_last.options.mode,
                  [this](const PlacedGroupReviewer& reviewer) { Graphic_File_Disp(m_last.pairList, reviewer); });
        tellGroupsNotOffered();
    }

    // A warm search never shows the progress line: the summary says how
    // many pictures the signature cache supplied.
    std::string summary = searchSummaryLine(m_last);
    if (m_last.cache)
        summary += " キャッシュ：" + std::to_string(m_last.cache->hits);
    m_edit1->setText(QString::fromUtf8(summary));
    m_label1->setText(QString::fromUtf8(searchStatusText(m_last)));
    setBusy(false);
    emit searchFinished();
}

void MainWindow::runReview(CheckMode mode, const std::function<void(const PlacedGroupReviewer&)>& walk)
{
    ReviewSession session {&m_last.files, &m_last.pairList, mode, m_pane, &m_last.orientations};
    try {
        walk([this, &session](std::vector<int32_t>& group, const GroupPlace& place) {
            return m_review->CheckFile(session, group, 2, place);
        });
    } catch (const std::exception& e) {
        // A group that cannot be shown ends the walk; the search's outcome
        // stays and is still reported.
        m_setup.reportError(QString::fromStdString(exceptionText(e)));
    }
}

void MainWindow::Button4Click()
{
    if (m_busy)
        return;
    m_pane = redisplayPaneSize(m_radioGroup3->itemIndex(), static_cast<CheckMode>(m_checkMode), m_pane);
    setBusy(true);
    runReview(static_cast<CheckMode>(m_checkMode), [this](const PlacedGroupReviewer& reviewer) {
        redisplayGroups(m_last.resultLines, m_last.files, m_last.pairList, reviewer);
    });
    setBusy(false);
    emit searchFinished();
}

void MainWindow::openGroupList()
{
    if (m_busy || m_last.pairList.empty())
        return;
    delete m_groupList;
    GroupListSource source {&m_last.files, &m_last.pairList, &m_last.resultLines, m_last.options.folder,
                            m_last.options.mode, m_pane, &m_last.orientations};
    m_groupList = new GroupListWindow(source, m_review, this);
    m_groupList->show();
    m_groupList->raise();
}

void MainWindow::tellGroupsNotOffered()
{
    // Only a list longer than the walk's limit can leave groups unshown.
    if (static_cast<int64_t>(m_last.pairList.size()) <= kMaxSeed + 1)
        return;
    std::vector<PairRec> every = m_last.pairList;
    std::vector<PairRec> walked = m_last.pairList;
    const std::size_t all = gatherEveryGroup(every).size();
    const std::size_t offered = groupsWhenAllOk(walked).size();
    if (all <= offered)
        return;
    auto* box = new QMessageBox(QMessageBox::Information, windowTitle(),
                                QStringLiteral("%1 グループは表示されませんでした。グループ一覧で開きますか？")
                                    .arg(all - offered),
                                QMessageBox::Yes | QMessageBox::No, this);
    box->setObjectName(QStringLiteral("NotOfferedBox"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    connect(box->button(QMessageBox::Yes), &QAbstractButton::clicked, this, &MainWindow::openGroupList);
    box->open();
}
