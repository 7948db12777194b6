#pragma once

#include <cstddef>
#include <functional>

// Work on many files shared by two threads: while one waits on a file
// operation (under Wine, on the single-threaded server), the other goes on.
// each(i) is called once for every i below `count`, in no set order, and must
// touch only what belongs to index i. Index 0 runs alone first, so that
// whatever the work sets up once (a function-local static) is set up before
// a second thread can reach it: this toolchain's threads cannot wait for one
// another's static initialisation. Returns when every index is done; with no
// second thread to be had, this thread does them all.
void each_index_side_by_side(size_t count, const std::function<void(size_t)>& each);
