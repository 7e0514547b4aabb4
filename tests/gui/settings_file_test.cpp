#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "app/folder_tree.h"
#include "app/main_window.h"
#include "gui/main_window_test_peer.h"
#include "app/option_group.h"
#include "app/settings_file.h"
#include "app/settings_location.h"
#include "common/integer_text.h"
#include "support/test_mounts.h"
#include "support/test_pictures.h"

using testing_support::TempDir;

namespace {

struct Applied {
    SettingKey key;
    int32_t value;
};

std::vector<Applied> applyAll(const std::string& bytes, SettingsReadResult* result = nullptr)
{
    std::vector<Applied> applied;
    const SettingsReadResult r =
        SettingsFile::apply(bytes, [&](SettingKey key, int32_t value) { applied.push_back({key, value}); });
    if (result)
        *result = r;
    return applied;
}

struct StartedWindow {
    std::unique_ptr<MainWindow> window;
    QStringList errors;

    int32_t index(const char* group) const
    {
        return window->findChild<OptionGroup*>(QString::fromLatin1(group))->itemIndex();
    }
};

// A window started in `startDir`.
std::unique_ptr<StartedWindow> startIn(const std::string& startDir)
{
    auto started = std::make_unique<StartedWindow>();
    MainWindowSetup setup;
    setup.startDir = startDir;
    setup.volumes = std::vector<Volume> {Volume {startDir, VolumeKind::Fixed}};
    QStringList* errors = &started->errors;
    setup.reportError = [errors](const QString& message) { errors->append(message); };
    started->window = std::make_unique<MainWindow>(std::move(setup));
    return started;
}

// A window started in `dir` after Zelvic.ini there was given `contents`.
std::unique_ptr<StartedWindow> startWith(const TempDir& dir, const std::string* contents)
{
    if (contents)
        testing_support::writeBytes(dir.file("Zelvic.ini"), *contents);
    return startIn(dir.str());
}

QByteArray fileBytes(const std::string& path)
{
    QFile file(QString::fromStdString(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

} // namespace

class SettingsFileTest : public QObject {
    Q_OBJECT
    // Each test's windows keep their settings apart from every other test's.
    std::unique_ptr<QTemporaryDir> m_config;

private slots:
    void init()
    {
        m_config = std::make_unique<QTemporaryDir>();
        qputenv("XDG_CONFIG_HOME", m_config->path().toUtf8());
    }
    void linesSplitIntoAtMostThreeFields();
    void integersAreDecimalWithinInt32_data();
    void integersAreDecimalWithinInt32();
    void knownTagsApplyInFileOrderWithCase();
    void badValueStopsTheReadingAfterEarlierLines();
    void writtenFileHasHeaderAndFourLines();

    void optionsComeBackAtStart_data();
    void optionsComeBackAtStart();
    void modeFromFileShowsCheckLevel();
    void missingFileIsAFirstRun();
    void badValueIsReportedAndStartGoesOn();
    void exitWritesTheCurrentOptions();
    void failedWriteIsReportedAndKeepsWhatWasThere();
    void configFolderFollowsXdg();
    void readOnlyStartFolderKeepsSettingsInTheConfigFolder();
    void startFolderWithItsOwnFileKeepsIt();
    void writeReplacesTheFileAndNamesWhatFailed();
};

void SettingsFileTest::linesSplitIntoAtMostThreeFields()
{
    using Lines = std::vector<std::vector<std::string>>;
    QCOMPARE(SettingsFile::splitLines("sl,1\r\ncg,2\r\n"), (Lines {{"sl", "1"}, {"cg", "2"}}));
    // The last line ends with the file, line feed or not.
    QCOMPARE(SettingsFile::splitLines("sl,1\ncg,2"), (Lines {{"sl", "1"}, {"cg", "2"}}));
    // A carriage return is dropped wherever it stands; it does not end a line.
    QCOMPARE(SettingsFile::splitLines("s\rl,3\r\r\n"), (Lines {{"sl", "3"}}));
    QCOMPARE(SettingsFile::splitLines("\n\nx"), (Lines {{""}, {""}, {"x"}}));
    // From the third comma on, everything stays in the third (ignored) slot.
    QCOMPARE(SettingsFile::splitLines("sl,1,x,y,z\n"), (Lines {{"sl", "1", "x,y,z"}}));
    QCOMPARE(SettingsFile::splitLines(""), Lines {});

    const std::string longField(400, 'a');
    const Lines cut = SettingsFile::splitLines(longField + "," + longField + "\nds,2");
    QCOMPARE(cut.size(), std::size_t {2});
    QCOMPARE(cut[0][0].size(), SettingsFile::kMaxField);
    QCOMPARE(cut[0][1].size(), SettingsFile::kMaxField);
    QCOMPARE(cut[1], (std::vector<std::string> {"ds", "2"}));
}

void SettingsFileTest::integersAreDecimalWithinInt32_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("value");
    QTest::newRow("plain") << "3" << true << 3;
    QTest::newRow("minus one") << "-1" << true << -1;
    QTest::newRow("plus") << "+2" << true << 2;
    QTest::newRow("leading blanks") << "  7" << true << 7;
    QTest::newRow("leading zeros") << "0002" << true << 2;
    QTest::newRow("lowest") << "-2147483648" << true << INT32_MIN;
    QTest::newRow("highest") << "2147483647" << true << INT32_MAX;
    QTest::newRow("too high") << "2147483648" << false << 0;
    QTest::newRow("far too long") << QString(300, '9') << false << 0;
    QTest::newRow("empty") << "" << false << 0;
    QTest::newRow("sign only") << "-" << false << 0;
    QTest::newRow("trailing blank") << "3 " << false << 0;
    QTest::newRow("letters") << "x" << false << 0;
    QTest::newRow("decimal point") << "1.0" << false << 0;
}

void SettingsFileTest::integersAreDecimalWithinInt32()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(int, value);
    const std::optional<int32_t> parsed = parseDecimalInt32(text.toStdString());
    QCOMPARE(parsed.has_value(), valid);
    if (valid)
        QCOMPARE(*parsed, value);
}

void SettingsFileTest::knownTagsApplyInFileOrderWithCase()
{
    const std::vector<Applied> applied =
        applyAll("tag,contents\r\nds,1\r\nSL,3\r\nxx,zz\r\nsl,1,x\r\ncg,2\r\nsl , 2\r\ncl,9\r\ncg,0");
    const std::vector<std::pair<SettingKey, int32_t>> expected {
        {SettingKey::Screen, 1}, {SettingKey::Depth, 1}, {SettingKey::Mode, 2}, {SettingKey::Level, 9},
        {SettingKey::Mode, 0}};
    QCOMPARE(applied.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        QCOMPARE(applied[i].key, expected[i].first);
        QCOMPARE(applied[i].value, expected[i].second);
    }
}

void SettingsFileTest::badValueStopsTheReadingAfterEarlierLines()
{
    SettingsReadResult result;
    std::vector<Applied> applied = applyAll("sl,2\r\ncg,three\r\nds,1\r\n", &result);
    QVERIFY(!result.ok);
    QCOMPARE(result.badValue, std::string("three"));
    QCOMPARE(applied.size(), std::size_t {1});
    QCOMPARE(applied[0].key, SettingKey::Depth);

    // A known tag without a value is a bad value too; an unknown one is not.
    applied = applyAll("zz\r\ncl\r\nsl,1\r\n", &result);
    QVERIFY(!result.ok);
    QCOMPARE(result.badValue, std::string());
    QVERIFY(applied.empty());
}

void SettingsFileTest::writtenFileHasHeaderAndFourLines()
{
    const std::string text = SettingsFile::format(SettingValues {3, 2, -1, 1});
    QCOMPARE(text, std::string("tag,contents\r\nsl,3\r\ncg,2\r\ncl,-1\r\nds,1\r\n"));
    // What is written reads back to the same values; the header is passed over.
    const std::vector<Applied> applied = applyAll(text);
    QCOMPARE(applied.size(), std::size_t {4});
    QCOMPARE(applied[2].value, -1);
}

void SettingsFileTest::optionsComeBackAtStart_data()
{
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<QList<int>>("indices"); // RadioGroup1, 2, 7, 3
    QTest::newRow("written order") << QByteArray("h\r\nsl,3\r\ncg,3\r\ncl,1\r\nds,1\r\n") << QList<int> {3, 3, 1, 1};
    QTest::newRow("other order, other tags between")
        << QByteArray("ds,1\r\nzz,5\r\ncl,1\r\ncg,3\r\n\r\nsl,3\r\n") << QList<int> {3, 3, 1, 1};
    QTest::newRow("sl,7 takes the last depth") << QByteArray("sl,7\r\n") << QList<int> {3, 0, 0, 0};
    QTest::newRow("below -1 gives no item") << QByteArray("sl,-5\r\nds,-1\r\n") << QList<int> {-1, 0, 0, -1};
    QTest::newRow("upper-case tag has no effect") << QByteArray("SL,1\r\nCG,2\r\n") << QList<int> {0, 0, 0, 0};
    QTest::newRow("third field ignored") << QByteArray("sl,1,x\r\n") << QList<int> {1, 0, 0, 0};
    QTest::newRow("last line without line feed") << QByteArray("sl,2\r\nds,2") << QList<int> {2, 0, 0, 2};
    QTest::newRow("last value wins") << QByteArray("cl,2\r\ncl,1\r\n") << QList<int> {0, 0, 1, 0};
    QTest::newRow("400-character field")
        << (QByteArray(400, 'h') + ',' + QByteArray(400, 'v') + "\r\nsl,1," + QByteArray(400, 'x') + "\r\nds,2\r\n")
        << QList<int> {1, 0, 0, 2};
}

void SettingsFileTest::optionsComeBackAtStart()
{
    QFETCH(QByteArray, contents);
    QFETCH(QList<int>, indices);
    TempDir dir;
    const std::string bytes = contents.toStdString();
    auto started = startWith(dir, &bytes);
    QVERIFY2(started->errors.isEmpty(), qPrintable(started->errors.join('\n')));
    QCOMPARE(started->index("RadioGroup1"), indices[0]);
    QCOMPARE(started->index("RadioGroup2"), indices[1]);
    QCOMPARE(started->index("RadioGroup7"), indices[2]);
    QCOMPARE(started->index("RadioGroup3"), indices[3]);
    QCOMPARE(MainWindowTestPeer(*started->window).checkMode(), indices[1]);
}

void SettingsFileTest::modeFromFileShowsCheckLevel()
{
    TempDir dir;
    const std::string contents = "cg,3\r\n";
    auto started = startWith(dir, &contents);
    started->window->show();
    QCOMPARE(MainWindowTestPeer(*started->window).checkMode(), 3);
    QVERIFY(started->window->findChild<QWidget*>(QStringLiteral("RadioGroup7"))->isVisible());

    TempDir other;
    const std::string unchanged = "cg,0\r\n";
    auto plain = startWith(other, &unchanged);
    plain->window->show();
    QCOMPARE(MainWindowTestPeer(*plain->window).checkMode(), 0);
    QVERIFY(!plain->window->findChild<QWidget*>(QStringLiteral("RadioGroup7"))->isVisible());
}

void SettingsFileTest::missingFileIsAFirstRun()
{
    TempDir dir;
    auto started = startWith(dir, nullptr);
    QVERIFY(started->errors.isEmpty());
    QVERIFY(started->window->windowTitle().startsWith(QStringLiteral("Zelvic Ver 0.9")));
    // The start went on to the tree: the start folder's volume is selected.
    QCOMPARE(MainWindowTestPeer(*started->window).searchFolder(), dir.str());
    started->window.reset();
    // With none in the start folder, the settings go to the user's own folder.
    QCOMPARE(fileBytes(dir.str() + "/Zelvic.ini"), QByteArray("<missing>"));
    QCOMPARE(fileBytes(qgetenv("XDG_CONFIG_HOME").toStdString() + "/zelvic/Zelvic.ini"),
             QByteArray("tag,contents\r\nsl,0\r\ncg,0\r\ncl,0\r\nds,0\r\n"));
}

void SettingsFileTest::badValueIsReportedAndStartGoesOn()
{
    TempDir dir;
    const std::string contents = "sl,2\r\ncg,1.5\r\nds,2\r\n";
    auto started = startWith(dir, &contents);
    QCOMPARE(started->errors, QStringList {QStringLiteral("'1.5' は整数ではありません")});
    QCOMPARE(started->index("RadioGroup1"), 2);
    QCOMPARE(started->index("RadioGroup2"), 0);
    QCOMPARE(started->index("RadioGroup3"), 0);
    QVERIFY(started->window->windowTitle().startsWith(QStringLiteral("Zelvic Ver 0.9")));
    QCOMPARE(MainWindowTestPeer(*started->window).searchFolder(), dir.str());
}

void SettingsFileTest::exitWritesTheCurrentOptions()
{
    TempDir dir;
    const std::string contents = "sl,1\r\ncg,2\r\n";
    auto started = startWith(dir, &contents);
    started->window->findChild<OptionGroup*>(QStringLiteral("RadioGroup7"))->setItemIndex(2);
    started->window->findChild<OptionGroup*>(QStringLiteral("RadioGroup3"))->setItemIndex(-1);
    started->window.reset();
    QVERIFY(started->errors.isEmpty());
    QCOMPARE(fileBytes(dir.str() + "/Zelvic.ini"), QByteArray("tag,contents\r\nsl,1\r\ncg,2\r\ncl,2\r\nds,-1\r\n"));
    // No stray temporary file is left beside it.
    QCOMPARE(QDir(QString::fromStdString(dir.str())).entryList(QDir::Files), QStringList {"Zelvic.ini"});
}

void SettingsFileTest::failedWriteIsReportedAndKeepsWhatWasThere()
{
    TempDir dir;
    // A folder in the settings file's place cannot be replaced by a file,
    // even by root.
    QVERIFY(QDir().mkpath(QString::fromStdString(dir.str() + "/Zelvic.ini/keep")));
    auto started = startWith(dir, nullptr);
    QCOMPARE(started->errors.size(), 1); // reading a folder fails too
    started->window.reset();
    QCOMPARE(started->errors.size(), 2);
    QVERIFY(started->errors.last().contains(QStringLiteral("Zelvic.ini")));
    QVERIFY(QDir(QString::fromStdString(dir.str() + "/Zelvic.ini/keep")).exists());
    QCOMPARE(QDir(QString::fromStdString(dir.str())).entryList(QDir::Files), QStringList {});

    // A folder that is not there is reported, not passed over.
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, SettingsFile::write(dir.str() + "/no/such/folder/Zelvic.ini", "x"));
}

void SettingsFileTest::writeReplacesTheFileAndNamesWhatFailed()
{
    TempDir dir;
    const std::string path = dir.str() + "/Zelvic.ini";
    testing_support::writeBytes(path, "a much longer file than what replaces it\r\n");
    SettingsFile::write(path, "tag,contents\r\n");
    QCOMPARE(fileBytes(path), QByteArray("tag,contents\r\n"));
    QCOMPARE(QDir(QString::fromStdString(dir.str())).entryList(QDir::Files), QStringList {"Zelvic.ini"});

    // The message names the cause the way the rest of the program does, then the file.
    const std::string missing = dir.str() + "/no/such/folder/Zelvic.ini";
    try {
        SettingsFile::write(missing, "x");
        QFAIL("a write into a missing folder succeeded");
    } catch (const std::runtime_error& e) {
        QCOMPARE(QString::fromStdString(e.what()), QString::fromStdString("ファイルが見つかりません\n" + missing));
    }
}

void SettingsFileTest::configFolderFollowsXdg()
{
    using settings_location::configFolder;
    QCOMPARE(configFolder("/x/conf", "/home/u"), std::string("/x/conf/zelvic"));
    // Unset, empty or relative: the default under home.
    QCOMPARE(configFolder(nullptr, "/home/u"), std::string("/home/u/.config/zelvic"));
    QCOMPARE(configFolder("", "/home/u"), std::string("/home/u/.config/zelvic"));
    QCOMPARE(configFolder("conf", "/home/u"), std::string("/home/u/.config/zelvic"));
}

void SettingsFileTest::readOnlyStartFolderKeepsSettingsInTheConfigFolder()
{
    const std::string config = qgetenv("XDG_CONFIG_HOME").toStdString() + "/zelvic/Zelvic.ini";
    TempDir dir;
    const std::string shipped = "sl,2\r\n";
    testing_support::writeBytes(dir.file("ro/Zelvic.ini"), shipped);
    testing_support::writeBytes(dir.file("bare/keep"), "x");
    {
        testing_support::ReadOnlyFolder readOnly(dir.str() + "/ro");
        testing_support::ReadOnlyFolder bareReadOnly(dir.str() + "/bare");
        if (!readOnly.ok() || !bareReadOnly.ok())
            QSKIP("cannot make a folder read-only here");

        // No file there: defaults, no error, the settings go to the config folder.
        auto bare = startIn(dir.str() + "/bare");
        bare->window->findChild<OptionGroup*>(QStringLiteral("RadioGroup3"))->setItemIndex(1);
        bare->window.reset();
        QCOMPARE(bare->errors, QStringList {});
        QCOMPARE(fileBytes(config), QByteArray("tag,contents\r\nsl,0\r\ncg,0\r\ncl,0\r\nds,1\r\n"));
        QVERIFY(::unlink(config.c_str()) == 0);

        // A file there that cannot be replaced is read once, and the
        // settings go on in the config folder, which is read from then on.
        auto started = startIn(dir.str() + "/ro");
        QCOMPARE(started->errors, QStringList {});
        QCOMPARE(started->index("RadioGroup1"), 2);
        started->window->findChild<OptionGroup*>(QStringLiteral("RadioGroup1"))->setItemIndex(3);
        started->window.reset();
        QCOMPARE(started->errors, QStringList {});
        QCOMPARE(fileBytes(config), QByteArray("tag,contents\r\nsl,3\r\ncg,0\r\ncl,0\r\nds,0\r\n"));
        QCOMPARE(fileBytes(dir.str() + "/ro/Zelvic.ini"), QByteArray::fromStdString(shipped));
        auto again = startIn(dir.str() + "/ro");
        QCOMPARE(again->index("RadioGroup1"), 3);
    }
}

void SettingsFileTest::startFolderWithItsOwnFileKeepsIt()
{
    const std::string config = qgetenv("XDG_CONFIG_HOME").toStdString() + "/zelvic/Zelvic.ini";
    QVERIFY(QDir().mkpath(qgetenv("XDG_CONFIG_HOME") + "/zelvic"));
    testing_support::writeBytes(config, "sl,1\r\n");
    TempDir dir;
    const std::string contents = "sl,2\r\n";
    auto started = startWith(dir, &contents);
    QCOMPARE(started->index("RadioGroup1"), 2); // the start folder's, not the config folder's
    started->window->findChild<OptionGroup*>(QStringLiteral("RadioGroup2"))->setItemIndex(1);
    started->window.reset();
    QCOMPARE(fileBytes(dir.str() + "/Zelvic.ini"), QByteArray("tag,contents\r\nsl,2\r\ncg,1\r\ncl,0\r\nds,0\r\n"));
    QCOMPARE(fileBytes(config), QByteArray("sl,1\r\n"));
}

QTEST_MAIN(SettingsFileTest)
#include "settings_file_test.moc"
