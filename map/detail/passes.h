// The two neighbourhood passes that clean a map's evaluated values: the
// speckle repair, then the growth of the values past the coverage (the
// padding). They run on a whole map's grids, or on a window of rows of a
// supersampled map, where the same rules give the same values on every row
// the window holds with its halo (see PassHalo).
//
// User-interface thread, once the workers that wrote the values are done;
// a whole map's pass may share its columns out over threads it is lent.
#pragma once

#include <cstdint>
#include <vector>

#include "geom/geom.h"
#include "map/run_state.h"

namespace dunsmere {

// A window of a map's rows as the passes see it: row by row, each row left
// to right, `width` texels each.
struct PassWindow {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::vector<std::int32_t> faces;  // the covering face; -1 for none
    std::vector<float> values;
    // Set by DilateCoverage: 1 where a face covers the texel or a round set it.
    std::vector<std::uint8_t> reached;
};

// Lifts a covered texel holding at most 0.1 to the brightest value of at
// least 0.8 among its 3 x 3 neighbours of the same face. A lifted texel never
// serves as a bright neighbour in the same pass. A whole map's pass may run
// on the threads `helpers` lends; the values are the same on any number.
void RepairSpeckles(MapRunState& state, const BuildHelpers& helpers = {});
void RepairSpeckles(PassWindow& window);

// Grows the map's values past its coverage in `rounds` rounds (none for 0).
// A texel is set when a face covers it or an earlier round gave it a value.
// In round k each texel not yet set takes the brightest value (at least 0)
// among the texels of its clipped 3 x 3 block set before round k, if there
// are any; so round k reaches the texels k away from coverage. One round is
// the map's specified one-texel edge.
//
// With `reached`, that is sized to the grid and gets 1 for every texel
// covered or set, in the grid's own order (column by column).
inline constexpr int kMaxDilateRounds = 65534;
void DilateCoverage(MapRunState& state, int rounds = 1, std::vector<std::uint8_t>* reached = nullptr,
                    const BuildHelpers& helpers = {});
void DilateCoverage(PassWindow& window, int rounds);

// The rows each side of a row that decide its value after both passes: one
// for the speckle repair's block, one per round of growth.
inline std::uint32_t PassHalo(int rounds) { return 1u + static_cast<std::uint32_t>(rounds > 0 ? rounds : 0); }

}  // namespace dunsmere
