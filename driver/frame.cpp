#include "driver/frame.h"

int frame_sleep_us(int64_t elapsed_us) {
    // Formed in single precision as the frame pacing always has; exact for
    // every elapsed time within one period.
    const float left = static_cast<float>(FRAME_PERIOD_US) - static_cast<float>(elapsed_us);
    return left > 0 ? static_cast<int>(left) : 0;
}
