// What a psys_fast_state holds: the builds chosen for it, and what its steps
// keep from frame to frame so that a frame allocates only when it needs more
// than the frames before it.
#pragma once

#include <atomic>
#include <cstddef>
#include <vector>

#include "particles/fast/step.h"

namespace fast {

struct kept {
    const law_build *builds;  // one per law, for the state's instruction set; null: no fast step here
    int min_part;             // the fewest particles a thread of a threaded step gets

    // The threaded step's, per part from the top or per thread.
    std::vector<part> parts;
    std::vector<std::vector<deferred>> replaced;       // per part
    std::vector<std::vector<unsigned char>> canvases;  // thread t > 0 paints into canvases[t - 1]
    std::vector<std::atomic<bool>> swept;              // per part: its sweep is done
};

}  // namespace fast
