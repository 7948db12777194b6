#include "platform/deploy/side_by_side.h"

// One thread, last index first: work that leans on the order of its indexes
// shows in the host tests.
void each_index_side_by_side(size_t count, const std::function<void(size_t)>& each) {
    for (size_t i = count; i-- > 0;) each(i);
}
