#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "support/test_pictures.h"

namespace testing_support {

// A file of `size` bytes at `name` below dir (folders made on the way),
// last written at `time`.
inline void makeFile(const TempDir& dir, const std::string& name, std::size_t size, int64_t time = 1'000'000'000)
{
    writeBytes(dir.file(name), std::string(size, 'x'));
    setModificationTime(dir.file(name), time);
}

} // namespace testing_support
