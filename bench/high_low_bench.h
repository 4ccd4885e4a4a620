// The bake from a high mesh through the command: a 1024 x 1024 map at the
// defaults, from the bench pair's 2.56 M-triangle high mesh onto its 25.6k
// low one, start to exit on two threads, with its phases, its peak memory
// and the samples that missed, beside reading the high mesh alone. A command
// without --high keeps the reading and says the bake was skipped.
#pragma once

#include <string>

inline constexpr char kHighToLowHeading[] = "## High-poly to low";

// Writes the pair into WORK, measures, and returns the report's section in
// Markdown, starting with kHighToLowHeading.
std::string MeasureHighToLow(const std::string& dunsmere, const std::string& work);

// Puts SECTION in place of the results file's own section of that heading,
// up to the next section or note, or at the file's end when it has none.
void PutHighToLowSection(const std::string& results, const std::string& section);
