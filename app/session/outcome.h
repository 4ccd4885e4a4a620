// What a run came to, recorded in one place as the host saw it: the
// standalone host notes the message boxes and cancel queries, its client
// notes whether the output was written. The command's exit status is read
// from here alone.
#pragma once

#include <optional>
#include <string>

namespace dunsmere {

struct RunOutcome {
    // By the message-box convention: a refusal or failure carries the
    // information icon, a completion or elapsed-time message is a plain OK,
    // the one question asks Yes or No.
    bool refused = false;
    bool completed = false;
    bool cancelReached = false;  // a cancel query was answered yes

    // A map counts as written when the bitmap manager wrote the file;
    // vertex colours when the mesh file was written after the completion
    // message of a run that was not cancelled.
    bool written = false;

    // The run's distance and noise size as the user knows them (given, or
    // the panel's), and the power of two, 2^distanceExponent, by which they
    // and the mesh reached the plug-in: the settings the plug-in saves hold
    // the scaled values, not the user's.
    std::optional<float> distance, noiseSize;
    int distanceExponent = 0;
};

}  // namespace dunsmere
