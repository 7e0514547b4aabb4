#include "fuzz/fuzz_input.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include <fcntl.h>
#include <unistd.h>

namespace fuzz_input {

namespace {

// The process's own folder, removed at exit.
class InputFolder {
public:
    InputFolder()
    {
        const std::filesystem::path base = std::filesystem::is_directory("/dev/shm")
                                               ? std::filesystem::path("/dev/shm")
                                               : std::filesystem::temp_directory_path();
        m_path = (base / ("zelvic-fuzz-" + std::to_string(::getpid()))).string();
        std::filesystem::create_directories(m_path);
    }
    ~InputFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

} // namespace

std::string writeInput(const std::string& name, const uint8_t* data, std::size_t size)
{
    static InputFolder folder;
    const std::string path = folder.path() + "/" + name;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        fail("cannot create " + path);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n <= 0) {
            ::close(fd);
            fail("cannot write " + path);
        }
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
    return path;
}

void fail(const std::string& what)
{
    std::fprintf(stderr, "fuzz check failed: %s\n", what.c_str());
    std::fflush(stderr);
    std::abort();
}

std::vector<std::string> words(std::string_view data)
{
    std::vector<std::string> out;
    std::size_t from = 0;
    while (from <= data.size()) {
        const std::size_t end = std::min(data.find('\0', from), data.size());
        out.emplace_back(data.substr(from, end - from));
        from = end + 1;
    }
    return out;
}

} // namespace fuzz_input
