// One bake at a time in a process: the plug-in has one utility object and
// one panel, and the host's interfaces are installed process-wide. A bake
// holds its turn from opening the panel (settings applied) to reading what
// the run left; another waits for it.
#pragma once

#include <functional>

namespace dunsmere {

class BakeTurn {
public:
    // Waits for the turn, asking CANCELLED (when given) every few
    // milliseconds while another bake holds it; a true answer ends the wait
    // without the turn.
    explicit BakeTurn(const std::function<bool()>& cancelled);
    ~BakeTurn();
    BakeTurn(const BakeTurn&) = delete;
    BakeTurn& operator=(const BakeTurn&) = delete;

    bool Held() const { return held_; }

private:
    bool held_ = false;
};

}  // namespace dunsmere
