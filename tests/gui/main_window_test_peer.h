#pragma once

#include <string>

#include "app/folder_tree.h"
#include "app/main_window.h"
#include "app/search_runner.h"

// What the window tests look at inside the main window.
class MainWindowTestPeer {
public:
    explicit MainWindowTestPeer(const MainWindow& window) : m_window(window) {}

    int32_t checkMode() const { return m_window.m_checkMode; }
    bool abortRequested() const { return m_window.m_runner->abortRequested(); }
    bool isBusy() const { return m_window.m_busy; }
    const std::string& startDir() const { return m_window.m_startDir; }
    std::string searchFolder() const { return m_window.m_tree->searchFolder(); }
    const std::string& settingsReadPath() const { return m_window.m_settings.readPath; }
    const std::string& settingsWritePath() const { return m_window.m_settings.writePath; }
    const SearchOutcome& lastOutcome() const { return m_window.m_last; }
    FolderTree* folderTree() const { return m_window.m_tree; }
    ReviewWindow* reviewWindow() const { return m_window.m_review; }

private:
    const MainWindow& m_window;
};
