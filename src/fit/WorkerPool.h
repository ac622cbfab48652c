#pragma once
// A few parked helper threads that share the goal function's independent parts (the
// blocks of wavelengths) on large data sets.

#include <functional>

namespace lumora {

/// Runs part(0) .. part(n - 1) and returns when all are done, on the calling thread
/// and up to n - 1 helper threads (started at the first call, parked between calls),
/// each part on whichever is free first. While another thread is using the helpers,
/// every part runs on the caller, one after the other. The parts must not throw.
void RunParts(int n, const std::function<void(int)>& part);

} // namespace lumora
