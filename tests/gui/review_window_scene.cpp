#include "gui/review_window_scene.h"

#include <fstream>

#include <QApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <sys/stat.h>

#include "gui/review_window_test_peer.h"
#include "review/ui/picture_view.h"

namespace review_scene {

Scene::Scene(CheckMode mode)
{
    session.files = &files;
    session.pairs = &pairs;
    session.mode = mode;
    session.pane = PaneSize{390, 416};
}

int32_t Scene::add(const std::string& relative, int32_t width, int32_t height)
{
    const std::string path = dir.file(relative);
    testing_support::writeJpeg(path, testing_support::photoLikePicture(width, height, 7 + files.size()), 80);
    File_rec f;
    f.path = path;
    f.stamp = "2024/05/06 07/08/10";
    struct stat st {};
    ::stat(path.c_str(), &st);
    f.size = st.st_size;
    files.push_back(f);
    group.push_back(static_cast<int32_t>(files.size() - 1));
    return static_cast<int32_t>(files.size() - 1);
}

int32_t Scene::addBitmap(const std::string& relative, int32_t width, int32_t height, bool topDown)
{
    const int32_t f = add(relative, width, height);
    testing_support::writeBmp24(files[f].path, testing_support::photoLikePicture(width, height, 3));
    if (topDown) {
        std::fstream file(files[f].path, std::ios::in | std::ios::out | std::ios::binary);
        const int32_t negative = -height;
        const char bytes[4] = {static_cast<char>(negative), static_cast<char>(negative >> 8),
                               static_cast<char>(negative >> 16), static_cast<char>(negative >> 24)};
        file.seekp(22);
        file.write(bytes, 4);
    }
    struct stat st {};
    ::stat(files[f].path.c_str(), &st);
    files[f].size = st.st_size;
    return f;
}

void Scene::addAll(std::initializer_list<const char*> relatives, int32_t width, int32_t height)
{
    for (const char* relative : relatives)
        add(relative, width, height);
}

void collectErrors(ReviewWindow& window, QStringList& errors)
{
    window.setErrorSink([&errors](const QString& message) { errors << message; });
}

bool exists(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

QString text(ReviewWindow& window, const char* label)
{
    return child<QLabel>(window, label)->text();
}

QRect imageRect(ReviewWindow& window, int pane)
{
    return child<PictureView>(window, QByteArray("Image" + QByteArray::number(pane)).constData())->geometry();
}

bool settled(ReviewWindow& window)
{
    return QTest::qWaitFor([&window] { return ReviewWindowTestPeer::pairSettled(window); });
}

void whenSettled(ReviewWindow& window, std::function<void()> act)
{
    auto* timer = new QTimer(&window);
    QObject::connect(timer, &QTimer::timeout, &window, [&window, timer, act] {
        if (!ReviewWindowTestPeer::pairSettled(window))
            return;
        timer->stop();
        timer->deleteLater();
        act();
    });
    timer->start(5);
}

void click(ReviewWindow& window, const char* button)
{
    QVERIFY(settled(window));
    QPushButton* b = child<QPushButton>(window, button);
    QVERIFY2(b->isEnabled(), button);
    b->click();
}

void press(ReviewWindow& window, int key, Qt::KeyboardModifiers modifiers)
{
    QVERIFY(settled(window));
    QWidget* target = QApplication::focusWidget() != nullptr ? QApplication::focusWidget() : &window;
    QTest::keyClick(target, static_cast<Qt::Key>(key), modifiers);
}

void sendMouse(QWidget* widget, QEvent::Type type, QPoint local, Qt::MouseButton button, Qt::MouseButtons buttons)
{
    QMouseEvent event(type, QPointF(local), QPointF(widget->mapToGlobal(local)), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

} // namespace review_scene
