// How long the command takes to end after a Ctrl-C in the middle of a
// large map: the 4096 x 4096 map at supersample 8, whose bands are the
// slowest to stop, against the same map at 1.
#pragma once

#include <string>

// Measures and returns the report's section in Markdown. `mesh` is baked
// (the crate: its rasterizing is over well before the signal); `work` a
// folder on the working disk.
std::string MeasureCancelLatency(const std::string& dunsmere, const std::string& mesh, const std::string& work);
