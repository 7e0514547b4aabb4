#pragma once

#include <memory>
#include <string>

#include <QString>
#include <QStringList>

#include "app/main_window.h"
#include "support/test_pictures.h"

// What the main window tests share: a window set up in a temporary folder,
// and reviews that close themselves.
namespace main_window_fixture {

// A window started in `dir`, whose tree shows `dir` as its only volume and
// whose errors are collected instead of shown.
std::unique_ptr<MainWindow> makeWindow(const testing_support::TempDir& dir, QStringList* errors,
                                       const std::string& initial = {});

// The window's control of that kind and object name; a missing one ends the
// test run.
template <typename T>
T* child(const MainWindow& window, const char* name)
{
    T* widget = window.findChild<T*>(QString::fromLatin1(name));
    if (!widget)
        qFatal("no control %s", name);
    return widget;
}

// Closes every group the review window shows, so that a search's review walk
// never waits for a person.
void closeReviewsOf(MainWindow& window);

// Notes what every group the review shows ("グループ n / total" and the left
// pane's file) and closes it.
void recordReviewsOf(MainWindow& window, QStringList* shown);

// Three tiny JPEGs: two copies with equal bytes and one of another size.
void writeFixturePictures(const testing_support::TempDir& dir);

} // namespace main_window_fixture
