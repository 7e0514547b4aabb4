#pragma once

#include <string>

namespace testing_support {

// A small tmpfs mounted on `folder` (created if missing) for the object's
// lifetime: a file system of its own, and one that fills up quickly. Needs
// mount rights; ok() says whether it got them.
class TmpfsMount {
public:
    TmpfsMount(const std::string& folder, const std::string& size);
    ~TmpfsMount();
    TmpfsMount(const TmpfsMount&) = delete;
    TmpfsMount& operator=(const TmpfsMount&) = delete;
    bool ok() const { return m_mounted; }

private:
    std::string m_folder;
    bool m_mounted = false;
};

// Shows folder `from` also at `to` (created if missing) for the object's
// lifetime: the same device under a second mount, which rename(2) cannot
// cross. Needs mount rights; ok() says whether it got them.
class BindMount {
public:
    BindMount(const std::string& from, const std::string& to);
    ~BindMount();
    BindMount(const BindMount&) = delete;
    BindMount& operator=(const BindMount&) = delete;
    bool ok() const { return m_mounted; }

private:
    std::string m_to;
    bool m_mounted = false;
};

// Makes a folder read-only for this process for the object's lifetime:
// mode 0555 for an ordinary user, a read-only bind mount for root (whom
// modes do not stop). ok() is false when neither is possible.
class ReadOnlyFolder {
public:
    explicit ReadOnlyFolder(const std::string& folder);
    ~ReadOnlyFolder();
    ReadOnlyFolder(const ReadOnlyFolder&) = delete;
    ReadOnlyFolder& operator=(const ReadOnlyFolder&) = delete;
    bool ok() const { return m_ok; }

private:
    std::string m_folder;
    bool m_ok = false;
    bool m_bound = false;
};

// Sets (or, with nullptr, unsets) an environment variable for the object's
// lifetime.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string m_name;
    std::string m_old;
    bool m_hadOld = false;
};

// Changes the current folder for the object's lifetime.
class ScopedCurrentFolder {
public:
    explicit ScopedCurrentFolder(const std::string& folder);
    ~ScopedCurrentFolder();
    ScopedCurrentFolder(const ScopedCurrentFolder&) = delete;
    ScopedCurrentFolder& operator=(const ScopedCurrentFolder&) = delete;

private:
    std::string m_old;
};

} // namespace testing_support
