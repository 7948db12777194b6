#include "platform/deploy/side_by_side.h"

#include "platform/win32/win32_handles.h"  // <windows.h> first

#include <cstdlib>

namespace {

struct SharedWork {
    const std::function<void(size_t)>* each;
    size_t count;
};

// The second thread takes the odd indexes.
DWORD WINAPI odd_indexes(void* parameter) {
    const SharedWork& work = *static_cast<const SharedWork*>(parameter);
    for (size_t i = 1; i < work.count; i += 2) (*work.each)(i);
    return 0;
}

}  // namespace

void each_index_side_by_side(size_t count, const std::function<void(size_t)>& each) {
    // No index goes first: the work sets nothing up on first use (see the header).
    SharedWork work{&each, count};
    unique_handle second(count > 1 ? CreateThread(nullptr, 0, odd_indexes, &work, 0, nullptr) : nullptr);
    for (size_t i = 0; i < count; i += second ? 2 : 1) each(i);
    // The thread reads `work` on this stack: never return while it may run.
    if (second && WaitForSingleObject(second.get(), INFINITE) != WAIT_OBJECT_0) abort();
}
