// A bake without the command: load the plug-in, add meshes, set the panel's
// options by name, generate, and read the map or the vertex colours back.
#pragma once

#include <stdexcept>
#include <string>

// Why the session cannot go on: the plug-in, an option, a mesh. what()
// names the file or the option.
class SessionError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
