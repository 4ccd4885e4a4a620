// What every fuzz target shares: the libFuzzer entry each defines, and a
// scratch folder in memory-backed storage for the readers that want a path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

// A folder of this process's own under /dev/shm (or TMPDIR where there is
// none), made once and kept for the run.
const std::string& FuzzScratch();

// Writes DATA to PATH in the scratch folder and returns the path.
std::string FuzzFile(const std::string& name, const std::uint8_t* data, std::size_t size);

// Stops the process with a message: a finding.
[[noreturn]] void FuzzFinding(const char* what);
