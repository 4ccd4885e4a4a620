// A file's bytes, for tests that compare what was written; "" for a file
// that cannot be read.
#pragma once

#include <fstream>
#include <sstream>
#include <string>

namespace dunsmere {

inline std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace dunsmere
