#include "app/mesh/run_parts.h"

#include <exception>
#include <vector>

#include "geom/geom.h"
#include "host/threads.h"

namespace dunsmere {

void RunParts(int parts, const std::function<void(int)>& part)
{
    if (parts < 1) return;
    // The tree's one parallel loop, which takes only std::bad_alloc back:
    // every other failure is kept in its part's slot, and the loop's join
    // orders that write before the read below.
    std::vector<std::exception_ptr> failures(static_cast<std::size_t>(parts));
    ParallelFor(BuildHelpers(&DefaultThreadStarter(), parts), failures.size(), [&](std::size_t k) {
        try {
            part(static_cast<int>(k));
        } catch (...) {
            failures[k] = std::current_exception();
        }
    });
    for (const std::exception_ptr& failure : failures)
        if (failure) std::rethrow_exception(failure);
}

}  // namespace dunsmere
