// The one way the standalone host tells a file's kind by its name.
#pragma once

#include <string>
#include <string_view>

namespace dunsmere {

// The extension of PATH's last component, without the dot and in lower
// case (ASCII only); "" when there is none or the name is a hidden file's
// (".name").
inline std::string LowerExtension(std::string_view path)
{
    const size_t slash = path.rfind('/');
    const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    const size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0) return {};
    std::string extension(name.substr(dot + 1));
    for (char& c : extension)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return extension;
}

}  // namespace dunsmere
