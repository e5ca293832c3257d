// What a psys_fast_state holds: the builds chosen for it, and what its steps
// keep from frame to frame so that a frame allocates only when it needs more
// than the frames before it.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "particles/fast/step.h"

namespace fast {

struct kept {
    const law_build *builds;  // one per law, for the state's instruction set; null: no fast step here
    int min_part;             // the fewest particles a thread of a threaded step gets

    // The buffer index of every particle in one frame. Element `count` lies
    // on a 32-byte boundary, and so does every element a whole chunk of eight
    // starts at (those lie a multiple of eight below it): the eight-lane sweep
    // writes them with streaming stores, which need that.
    std::vector<int> cells;
    int *cells_for(int count) {
        if (cells.size() < static_cast<size_t>(count) + 8) cells.resize(static_cast<size_t>(count) + 8);
        int *p = cells.data();
        while (reinterpret_cast<uintptr_t>(p + count) % 32 != 0) ++p;
        return p;
    }

    // The threaded step's, per part from the top or per thread.
    std::vector<part> parts;
    std::vector<std::vector<deferred>> replaced;       // per part
    std::vector<std::vector<unsigned char>> canvases;  // thread t > 0 paints into canvases[t - 1]
    std::vector<std::atomic<bool>> swept;              // per part: its sweep is done
    std::vector<std::atomic<bool>> painted;            // per part: a thread has taken it to paint
};

}  // namespace fast
