#pragma once

#include <cstddef>
#include <functional>

// Work on many files shared by two threads: while one waits on a file
// operation (under Wine, on the single-threaded server), the other goes on.
// each(i) is called once for every i below `count`, in no set order, and must
// touch only what belongs to index i. Both threads start at once, so the work
// must set nothing up on first use: no function-local static that needs code
// to run (this toolchain's threads cannot wait for one another's static
// initialisation; tests/release/test_binary.py finds any such static in the
// objects the work runs). Returns when every index is done; with no second
// thread to be had, this thread does them all.
void each_index_side_by_side(size_t count, const std::function<void(size_t)>& each);
