#include "support/scratch_vector.hpp"

#include <cstddef>
#include <utility>

namespace tavrin {

namespace {

constexpr std::size_t kKeptPerThread = 8;
constexpr std::size_t kLargestKept = (std::size_t{1} << 20) / sizeof(double);

// Reserved in full when the thread first takes a vector, so that giving one back never
// allocates (the destructor must not throw).
std::vector<std::vector<double>>& pool() {
    thread_local std::vector<std::vector<double>> vectors = [] {
        std::vector<std::vector<double>> reserved;
        reserved.reserve(kKeptPerThread);
        return reserved;
    }();
    return vectors;
}

}  // namespace

ScratchVector::ScratchVector() : pool_(&pool()) {
    if (!pool_->empty()) {
        vector_ = std::move(pool_->back());
        pool_->pop_back();
    }
}

ScratchVector::~ScratchVector() {
    if (vector_.capacity() <= kLargestKept && pool_->size() < kKeptPerThread) {
        vector_.clear();
        pool_->push_back(std::move(vector_));
    }
}

}  // namespace tavrin
