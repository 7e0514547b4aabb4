#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include <QEvent>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QStringList>

#include "review/ui/review_window.h"
#include "search/file_table.h"
#include "search/pair_list.h"
#include "search/search_options.h"
#include "support/test_pictures.h"

class QWidget;

// What the review window tests share: a group of pictures written for the
// window, and the ways a person looks at and acts on it.
namespace review_scene {

// One search's worth of files for the window: JPEGs of given sizes written
// into folders of a temporary directory.
struct Scene {
    testing_support::TempDir dir;
    FileTable files;
    std::vector<PairRec> pairs;
    ReviewSession session;
    std::vector<int32_t> group;

    explicit Scene(CheckMode mode = CheckMode::FileSize);

    int32_t add(const std::string& relative, int32_t width, int32_t height);

    // A 24-bit bitmap; a top-down one has its height negated in the header.
    int32_t addBitmap(const std::string& relative, int32_t width, int32_t height, bool topDown);

    // Several files of one size, added in the order given.
    void addAll(std::initializer_list<const char*> relatives, int32_t width, int32_t height);
};

// Routes the window's error messages into `errors` instead of message boxes.
void collectErrors(ReviewWindow& window, QStringList& errors);

bool exists(const std::string& path);

// The window's control of that kind and object name; a missing one ends the
// test run.
template <typename T>
T* child(ReviewWindow& window, const char* name)
{
    T* found = window.findChild<T*>(QString::fromLatin1(name));
    if (found == nullptr)
        qFatal("no control %s", name);
    return found;
}

QString text(ReviewWindow& window, const char* label);

QRect imageRect(ReviewWindow& window, int pane);

// Until the pair on show has been on view a moment, clicks and keys that act
// on it are dropped; a person looks first.
bool settled(ReviewWindow& window);

// Runs `act` inside the window's modal loop once the pair on show takes actions.
void whenSettled(ReviewWindow& window, std::function<void()> act);

void click(ReviewWindow& window, const char* button);

// A key pressed where the keyboard focus is, as a person would press it:
// after looking at the pair on show.
void press(ReviewWindow& window, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier);

void sendMouse(QWidget* widget, QEvent::Type type, QPoint local, Qt::MouseButton button, Qt::MouseButtons buttons);

} // namespace review_scene
