// The review window's keyboard: keys that do what the buttons do, the zoom
// field's own keys, Enter and Esc, tool tips and the digit keys.

#include <cstdint>
#include <vector>

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "gui/review_window_scene.h"
#include "gui/review_window_test_peer.h"
#include "review/ui/review_keys.h"
#include "review/ui/review_window.h"

using namespace review_scene;

class ReviewWindowKeysTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void keysStepZoomAndPanAsTheButtons();
    void keysDeleteAndMoveAsTheButtons();
    void zoomFieldKeepsItsKeysAndEscLeavesIt();
    void enterAndEscCloseLikeOkAndAbort();
    void toolTipsNameTheKeys();
    void digitKeysKnownByTheirPlace();

private:
    QTemporaryDir m_data;
};

void ReviewWindowKeysTest::initTestCase()
{
    QVERIFY(m_data.isValid());
    qputenv("XDG_DATA_HOME", m_data.path().toUtf8());
}

void ReviewWindowKeysTest::keysStepZoomAndPanAsTheButtons()
{
    Scene scene;
    scene.add("x/a.jpg", 1000, 800);
    scene.add("x/b.jpg", 1000, 600);
    for (int i = 0; i < 3; ++i)
        scene.add("x/" + std::to_string(i) + ".jpg", 40, 30);
    ReviewWindow window;
    QVERIFY(ReviewWindowTestPeer::openGroup(window, scene.session, scene.group));
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    // Not in a zoom field at open, so the keys are the review's.
    QVERIFY(qobject_cast<QLineEdit*>(QApplication::focusWidget()) == nullptr);

    press(window, Qt::Key_Minus);
    QCOMPARE(imageRect(window, 1), QRect(0, 0, 260, 208));
    QCOMPARE(child<QLineEdit>(window, "Edit1")->text(), QStringLiteral("26"));
    press(window, Qt::Key_Plus);
    QCOMPARE(imageRect(window, 1), QRect(-65, 0, 520, 416));
    press(window, Qt::Key_Plus, Qt::ShiftModifier); // "+" is shifted on many layouts
    QCOMPARE(imageRect(window, 1), QRect(-325, -104, 1040, 832));

    press(window, Qt::Key_0);
    QCOMPARE(imageRect(window, 2), QRect(-305, -92, 1000, 600));
    QList<int> lefts;
    for (int i = 0; i < 3; ++i) {
        press(window, Qt::Key_Left, Qt::ShiftModifier);
        lefts << imageRect(window, 2).x();
    }
    QCOMPARE(lefts, (QList<int>{-175, -45, 0}));
    press(window, Qt::Key_0);
    press(window, Qt::Key_Right, Qt::ShiftModifier);
    QCOMPARE(imageRect(window, 2).x(), -435);
    press(window, Qt::Key_Up, Qt::ShiftModifier);
    QCOMPARE(imageRect(window, 2).y(), 0);
    press(window, Qt::Key_Down, Qt::ShiftModifier);
    QCOMPARE(imageRect(window, 2).y(), -138);
    press(window, Qt::Key_Down); // plain up and down are nobody's
    QCOMPARE(imageRect(window, 2).y(), -138);

    // Arrows step as "Prev" and "Next", and stop where the buttons are off.
    press(window, Qt::Key_Left);
    QCOMPARE(text(window, "Label2"), QStringLiteral("開始：1"));
    for (int i = 0; i < 5; ++i)
        press(window, Qt::Key_Right);
    QCOMPARE(text(window, "Label2"), QStringLiteral("開始：4"));
    QCOMPARE(text(window, "Label3"), QStringLiteral("終了：5"));
    press(window, Qt::Key_Left);
    QCOMPARE(text(window, "Label2"), QStringLiteral("開始：3"));

    // Still the review's keys with a memo holding the focus.
    child<QPlainTextEdit>(window, "Memo1")->setFocus();
    press(window, Qt::Key_Right);
    QCOMPARE(text(window, "Label2"), QStringLiteral("開始：4"));
}

void ReviewWindowKeysTest::keysDeleteAndMoveAsTheButtons()
{
    Scene scene;
    scene.add("x/a.jpg", 60, 40);
    scene.add("x/b.jpg", 60, 40);
    scene.add("y/c.jpg", 60, 40);
    scene.add("z/d.jpg", 60, 40);
    scene.add("w/e.jpg", 60, 40);
    ReviewWindow window;
    QVERIFY(ReviewWindowTestPeer::openGroup(window, scene.session, scene.group));
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));

    // Same folder: the move buttons are hidden, and so Shift+1 does nothing.
    press(window, Qt::Key_1, Qt::ShiftModifier);
    press(window, Qt::Key_Exclam);
    QCOMPARE(scene.group.size(), std::size_t{5});
    QVERIFY(exists(scene.files[0].path));

    // A held key's repeats delete nothing.
    QTest::keyPress(QApplication::focusWidget(), Qt::Key_2, Qt::NoModifier);
    QKeyEvent repeat(QEvent::KeyPress, Qt::Key_2, Qt::NoModifier, QStringLiteral("2"), true);
    QApplication::sendEvent(QApplication::focusWidget(), &repeat);
    QTest::keyRelease(QApplication::focusWidget(), Qt::Key_2, Qt::NoModifier);
    QCOMPARE(scene.group, (std::vector<int32_t>{0, 2, 3, 4})); // "削除２": x/b.jpg, once
    QVERIFY(!exists(scene.files[1].path));
    QCOMPARE(scene.files[1].skip, 1);
    QVERIFY(exists(m_data.path().toStdString() + "/Trash/files/b.jpg"));
    QVERIFY(exists(scene.files[2].path));

    // x/a.jpg and y/c.jpg: Shift+1 as "!" moves pane 1's file into y.
    press(window, Qt::Key_Exclam);
    QCOMPARE(scene.files[0].path, scene.dir.str() + "/y/a.jpg");
    QVERIFY(exists(scene.files[0].path));

    press(window, Qt::Key_1); // "削除１": y/a.jpg, the moved one
    QVERIFY(!exists(scene.dir.str() + "/y/a.jpg"));
    QCOMPARE(scene.group, (std::vector<int32_t>{2, 3, 4}));

    // y/c.jpg and z/d.jpg: Shift+2 by key code, then as '"' and as '@'.
    press(window, Qt::Key_2, Qt::ShiftModifier);
    QCOMPARE(scene.files[3].path, scene.dir.str() + "/y/d.jpg");
    QVERIFY(!child<QPushButton>(window, "Button8")->isVisible());
    press(window, Qt::Key_Right);
    QCOMPARE(text(window, "Label2"), QStringLiteral("開始：2"));
    press(window, Qt::Key_QuoteDbl); // y/d.jpg and w/e.jpg: e into y
    QCOMPARE(scene.files[4].path, scene.dir.str() + "/y/e.jpg");
    QVERIFY(exists(scene.files[4].path));
    press(window, Qt::Key_At); // hidden again: nothing
    QCOMPARE(scene.files[3].path, scene.dir.str() + "/y/d.jpg");

    press(window, Qt::Key_2);
    QCOMPARE(scene.group, (std::vector<int32_t>{2, 3}));
    press(window, Qt::Key_2); // down to one member: closes as "OK"
    QVERIFY(!window.isVisible());
    QCOMPARE(window.result(), 1);
}

void ReviewWindowKeysTest::zoomFieldKeepsItsKeysAndEscLeavesIt()
{
    Scene scene;
    scene.addAll({"x/a.jpg", "x/b.jpg", "x/c.jpg"}, 1000, 800);
    ReviewWindow window;
    QStringList errors;
    collectErrors(window, errors);
    QVERIFY(ReviewWindowTestPeer::openGroup(window, scene.session, scene.group));
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QLineEdit* edit = child<QLineEdit>(window, "Edit1");
    QTest::mouseClick(edit, Qt::LeftButton);
    QCOMPARE(QApplication::focusWidget(), edit);
    edit->selectAll();
    press(window, Qt::Key_1); // typed, not "削除１"
    press(window, Qt::Key_2);
    press(window, Qt::Key_0); // typed, not "1:1"
    QCOMPARE(edit->text(), QStringLiteral("120"));
    QVERIFY(exists(scene.files[0].path));
    QVERIFY(exists(scene.files[1].path));
    press(window, Qt::Key_Right); // the field's cursor, not "Next"
    QCOMPARE(text(window, "Label2"), QStringLiteral("開始：1"));
    press(window, Qt::Key_Left, Qt::ShiftModifier);
    QCOMPARE(imageRect(window, 1), QRect(-65, 0, 520, 416));
    press(window, Qt::Key_Return); // applies the typed scale and stays open
    QVERIFY(window.isVisible());
    QCOMPARE(imageRect(window, 1), QRect(-65, 0, 1200, 960));
    QVERIFY(errors.isEmpty());

    // Esc while typing leaves the field with the scale it had; the review
    // stays open. Only an Esc outside a field is "中断".
    QTest::mouseClick(edit, Qt::LeftButton);
    QCOMPARE(QApplication::focusWidget(), edit);
    edit->selectAll();
    press(window, Qt::Key_5);
    press(window, Qt::Key_0);
    QCOMPARE(edit->text(), QStringLiteral("50"));
    press(window, Qt::Key_Escape);
    QVERIFY(window.isVisible());
    QVERIFY(QApplication::focusWidget() != edit);
    QCOMPARE(edit->text(), QStringLiteral("120"));
    QCOMPARE(window.model()->zoom(1), 120);
    QCOMPARE(imageRect(window, 1), QRect(-65, 0, 1200, 960));
    press(window, Qt::Key_Escape);
    QVERIFY(!window.isVisible());
    QCOMPARE(window.result(), 3);
}

void ReviewWindowKeysTest::enterAndEscCloseLikeOkAndAbort()
{
    Scene scene;
    scene.addAll({"r/a.jpg", "r/b.jpg"}, 60, 40);
    ReviewWindow window;
    whenSettled(window, [&window] { press(window, Qt::Key_Return); });
    QCOMPARE(window.CheckFile(scene.session, scene.group), ReviewResult::Ok);
    QTimer::singleShot(0, &window, [&window] { press(window, Qt::Key_Escape); });
    QCOMPARE(window.CheckFile(scene.session, scene.group), ReviewResult::Abort);
    whenSettled(window, [&window] { press(window, Qt::Key_Enter, Qt::KeypadModifier); });
    QCOMPARE(window.CheckFile(scene.session, scene.group), ReviewResult::Ok);
}

void ReviewWindowKeysTest::toolTipsNameTheKeys()
{
    ReviewWindow window;
    const std::pair<const char*, const char*> keys[] = {
        {"Button1", "(Enter)"}, {"Button3", "(Esc)"},   {"BitBtn1", "(←)"},       {"BitBtn2", "(→)"},
        {"BitBtn3", "(-)"},     {"BitBtn4", "(+)"},     {"BitBtn5", "(0)"},       {"Button4", "(1)"},
        {"Button5", "(2)"},     {"Button7", "(Shift+1)"}, {"Button8", "(Shift+2)"}, {"BitBtn7", "(Shift+↑)"},
        {"BitBtn9", "(Shift+←)"}, {"BitBtn10", "(Shift+→)"}, {"BitBtn12", "(Shift+↓)"},
    };
    for (const auto& [button, key] : keys)
        QVERIFY2(child<QPushButton>(window, button)->toolTip().endsWith(QString::fromUtf8(key)), button);
}

void ReviewWindowKeysTest::digitKeysKnownByTheirPlace()
{
    auto keyOf = [](int key, Qt::KeyboardModifiers modifiers, quint32 scanCode) {
        const QKeyEvent event(QEvent::KeyPress, key, modifiers, scanCode, 0, 0);
        return reviewKeyOf(event);
    };
    // Japanese layout: Shift+2 makes '"'; US: '@'; French: "1" itself needs
    // Shift and the plain key makes '&'. The key's place decides.
    QCOMPARE(keyOf(Qt::Key_QuoteDbl, Qt::ShiftModifier, 11), ReviewKey::Move2);
    QCOMPARE(keyOf(Qt::Key_At, Qt::ShiftModifier, 11), ReviewKey::Move2);
    QCOMPARE(keyOf(Qt::Key_Exclam, Qt::ShiftModifier, 10), ReviewKey::Move1);
    QCOMPARE(keyOf(Qt::Key_Ampersand, Qt::NoModifier, 10), ReviewKey::Delete1);
    QCOMPARE(keyOf(Qt::Key_1, Qt::ShiftModifier, 10), ReviewKey::Move1);
    // Shift+' on a US keyboard makes '"' too, from another place: no move.
    QCOMPARE(keyOf(Qt::Key_QuoteDbl, Qt::ShiftModifier, 48), ReviewKey::None);
    // The keypad's digits (their own places) delete.
    QCOMPARE(keyOf(Qt::Key_2, Qt::KeypadModifier, 88), ReviewKey::Delete2);
    // Control and Alt combinations are left alone.
    QCOMPARE(keyOf(Qt::Key_1, Qt::ControlModifier, 10), ReviewKey::None);
    QCOMPARE(keyOf(Qt::Key_Right, Qt::AltModifier, 114), ReviewKey::None);
    QCOMPARE(keyOf(Qt::Key_Right, Qt::ShiftModifier, 114), ReviewKey::PanRight);
    QCOMPARE(keyOf(Qt::Key_Up, Qt::NoModifier, 111), ReviewKey::None);
}

QTEST_MAIN(ReviewWindowKeysTest)
#include "review_window_keys_test.moc"
