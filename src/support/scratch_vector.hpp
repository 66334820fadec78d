// Scratch space for short computations: vectors of doubles reused within a thread, so that a
// call that needs a few small buffers allocates nothing after its thread's first calls.
#pragma once

#include <vector>

namespace tavrin {

// An empty vector taken from the thread's pool (its capacity kept from earlier use) and given
// back when it goes out of scope. A few are kept per thread, none above 1 MiB.
class ScratchVector {
public:
    ScratchVector();
    ~ScratchVector();
    ScratchVector(const ScratchVector&) = delete;
    ScratchVector& operator=(const ScratchVector&) = delete;

    std::vector<double>& operator*() { return vector_; }
    std::vector<double>* operator->() { return &vector_; }

private:
    std::vector<std::vector<double>>* pool_;  // the thread's, looked up once
    std::vector<double> vector_;
};

}  // namespace tavrin
