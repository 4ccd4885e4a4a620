// Whole bakes through the command, for the goals on threads and on the time
// a bake takes from start to exit: 1 thread against 2 side by side, the
// large maps with their peak memory, and a 12-triangle box with the split of
// its few milliseconds.
#pragma once

#include <string>

// Measures and returns the report's section in Markdown. `mesh100k` is the
// bench's 100k mesh; `work` a folder on the working disk.
std::string MeasureCommandBakes(const std::string& dunsmere, const std::string& mesh100k, const std::string& work);
