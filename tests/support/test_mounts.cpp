#include "support/test_mounts.h"

#include <cstdlib>
#include <filesystem>
#include <vector>

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace testing_support {

TmpfsMount::TmpfsMount(const std::string& folder, const std::string& size) : m_folder(folder)
{
    std::filesystem::create_directories(folder);
    const std::string options = "size=" + size + ",mode=0755";
    m_mounted = ::mount("tmpfs", folder.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) == 0;
}

TmpfsMount::~TmpfsMount()
{
    if (m_mounted)
        ::umount2(m_folder.c_str(), MNT_DETACH);
}

BindMount::BindMount(const std::string& from, const std::string& to) : m_to(to)
{
    std::filesystem::create_directories(to);
    m_mounted = ::mount(from.c_str(), to.c_str(), nullptr, MS_BIND, nullptr) == 0;
}

BindMount::~BindMount()
{
    if (m_mounted)
        ::umount2(m_to.c_str(), MNT_DETACH);
}

ReadOnlyFolder::ReadOnlyFolder(const std::string& folder) : m_folder(folder)
{
    if (::geteuid() != 0) {
        m_ok = ::chmod(folder.c_str(), 0555) == 0;
        return;
    }
    if (::mount(folder.c_str(), folder.c_str(), nullptr, MS_BIND, nullptr) != 0)
        return;
    m_bound = true;
    m_ok = ::mount(nullptr, folder.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
}

ReadOnlyFolder::~ReadOnlyFolder()
{
    if (m_bound)
        ::umount2(m_folder.c_str(), MNT_DETACH);
    else if (m_ok)
        ::chmod(m_folder.c_str(), 0755);
}

ScopedEnv::ScopedEnv(const char* name, const char* value) : m_name(name)
{
    const char* old = std::getenv(name);
    m_hadOld = old != nullptr;
    if (m_hadOld)
        m_old = old;
    if (value != nullptr)
        ::setenv(name, value, 1);
    else
        ::unsetenv(name);
}

ScopedEnv::~ScopedEnv()
{
    if (m_hadOld)
        ::setenv(m_name.c_str(), m_old.c_str(), 1);
    else
        ::unsetenv(m_name.c_str());
}

ScopedCurrentFolder::ScopedCurrentFolder(const std::string& folder) : m_old(std::filesystem::current_path().string())
{
    std::filesystem::current_path(folder);
}

ScopedCurrentFolder::~ScopedCurrentFolder()
{
    std::error_code ignored;
    std::filesystem::current_path(m_old, ignored);
}

} // namespace testing_support
