#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Support shared by the fuzz targets. Each target defines
// LLVMFuzzerTestOneInput; built with ZELVIC_FUZZ it is a libFuzzer program,
// otherwise replay_main.cpp runs it once over every file of its corpus.
namespace fuzz_input {

// Writes the input to `name` in a folder of this process (under /dev/shm when
// there is one, so that no disk is touched) and returns its path: the picture
// code reads files by path only.
std::string writeInput(const std::string& name, const uint8_t* data, std::size_t size);

// Stops the process with a message on stderr, as a failed check: libFuzzer
// keeps the input that caused it.
[[noreturn]] void fail(const std::string& what);

// Splits the input at NUL bytes into words (command-line arguments).
std::vector<std::string> words(std::string_view data);

} // namespace fuzz_input

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size);
