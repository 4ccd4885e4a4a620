// What a run came to, recorded in one place as the host saw it: the
// standalone host notes the message boxes and cancel queries, its client
// notes whether the output was written. The command's exit status is read
// from here alone.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace dunsmere {

// A bake from high-poly sources, as the plug-in reported it: the samples
// projected and missed, the distances in the mesh's units (as it
// reached the plug-in), and the miss map where the client asked for it,
// levels row by row from the top.
struct ProjectionOutcome {
    std::int64_t samples = 0, missed = 0;
    float front = 0.0f, rear = 0.0f;
    int missWidth = 0, missHeight = 0;
    std::vector<std::uint16_t> missLevels;
};

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

    // A bake from high-poly sources, as the plug-in reported it.
    using Projection = ProjectionOutcome;
    std::optional<Projection> projection;
};

}  // namespace dunsmere
