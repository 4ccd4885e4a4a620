// An image call's outcome as a value, so that a test asserts both that a
// call failed and what its message names.
#pragma once

#include <string>

#include "app/image/image_files.h"

namespace dunsmere {

struct ImageAttempt {
    bool ok = false;
    std::string error;  // the ImageFileError's message
};

template <class Call>
ImageAttempt Attempt(Call&& call)
{
    try {
        call();
        return {true, {}};
    } catch (const ImageFileError& e) {
        return {false, e.what()};
    }
}

}  // namespace dunsmere
