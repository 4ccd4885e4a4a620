#include "app/mesh/run_parts.h"

#include <exception>
#include <system_error>
#include <thread>
#include <vector>

void RunParts(int parts, const std::function<void(int)>& part)
{
    if (parts < 1) return;
    // Each part owns its slot, and joining orders its write before the
    // read below.
    std::vector<std::exception_ptr> failures(static_cast<size_t>(parts));
    auto run = [&](int k) {
        try {
            part(k);
        } catch (...) {
            failures[static_cast<size_t>(k)] = std::current_exception();
        }
    };
    std::vector<std::thread> threads;
    std::vector<int> here;  // the parts left to this thread
    threads.reserve(failures.size());
    here.reserve(failures.size());
    here.push_back(0);
    for (int k = 1; k < parts; ++k) {
        try {
            threads.emplace_back(run, k);
        } catch (const std::system_error&) {
            here.push_back(k);
        }
    }
    for (int k : here) run(k);
    for (std::thread& t : threads) t.join();
    for (const std::exception_ptr& failure : failures)
        if (failure) std::rethrow_exception(failure);
}
