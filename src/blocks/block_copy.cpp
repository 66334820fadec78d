#include "blocks/block_copy.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

namespace tavrin::blocks {

namespace {

// The walk over the target's axes: lengths, source strides and destination strides. Axes of
// length one are dropped and neighbours that are contiguous in both source and destination
// merged, so that the innermost run is as long as it can be.
struct Walk {
    std::uint64_t* length;
    std::uint64_t* from;
    std::uint64_t* to;
    std::uint64_t* index;
    std::size_t axes = 0;

    void push(std::uint64_t n, std::uint64_t source_step, std::uint64_t destination_step) {
        if (n == 1) return;
        // Axes come outermost first; the one pushed last is innermost so far.
        length[axes] = n;
        from[axes] = source_step;
        to[axes] = destination_step;
        ++axes;
    }

    void merge() {
        std::size_t kept = 0;
        for (std::size_t j = 0; j < axes; ++j) {
            if (kept > 0 && from[kept - 1] == from[j] * length[j] &&
                to[kept - 1] == to[j] * length[j]) {
                length[kept - 1] *= length[j];
                from[kept - 1] = from[j];
                to[kept - 1] = to[j];
                continue;
            }
            length[kept] = length[j];
            from[kept] = from[j];
            to[kept] = to[j];
            ++kept;
        }
        axes = kept;
    }
};

void run(const double* source, double* destination, Walk& walk) {
    if (walk.axes == 0) {
        *destination = *source;
        return;
    }
    const std::size_t last = walk.axes - 1;
    const std::uint64_t run_length = walk.length[last], from_step = walk.from[last],
                        to_step = walk.to[last];
    std::fill(walk.index, walk.index + walk.axes, 0);
    std::uint64_t at_source = 0, at_destination = 0;
    while (true) {
        if (from_step == 1 && to_step == 1) {
            std::copy(source + at_source, source + at_source + run_length,
                      destination + at_destination);
        } else {
            for (std::uint64_t i = 0; i < run_length; ++i) {
                destination[at_destination + i * to_step] = source[at_source + i * from_step];
            }
        }
        std::size_t j = last;
        while (true) {
            if (j == 0) return;
            --j;
            at_source += walk.from[j];
            at_destination += walk.to[j];
            if (++walk.index[j] < walk.length[j]) break;
            at_source -= walk.from[j] * walk.length[j];
            at_destination -= walk.to[j] * walk.length[j];
            walk.index[j] = 0;
        }
    }
}

void copy_with(const Tensor& block, std::span<const std::size_t> order, std::size_t split,
               double* destination, std::size_t stride, std::uint64_t* space) {
    const Shape& shape = block.shape();
    const std::size_t rank = shape.size();
    std::uint64_t* source_stride = space;
    std::uint64_t* to_of_axis = space + rank;
    std::uint64_t step = 1;
    for (std::size_t k = rank; k-- > 0;) {
        source_stride[k] = step;
        step *= shape[k];
    }
    std::uint64_t row_step = 1, column_step = 1;
    for (std::size_t j = rank; j-- > 0;) {
        const std::uint64_t length = shape[order[j]];
        if (j >= split) {
            to_of_axis[j] = column_step;
            column_step *= length;
        } else {
            to_of_axis[j] = row_step * stride;
            row_step *= length;
        }
    }
    Walk walk{space + 2 * rank, space + 3 * rank, space + 4 * rank, space + 5 * rank};
    for (std::size_t j = 0; j < rank; ++j) {
        walk.push(shape[order[j]], source_stride[order[j]], to_of_axis[j]);
    }
    walk.merge();
    run(block.data().data(), destination, walk);
}

constexpr std::size_t kArraysPerAxis = 6;
constexpr std::size_t kAxesOnStack = 16;

}  // namespace

void copy_permuted(const Tensor& block, std::span<const std::size_t> order, std::size_t split,
                   double* destination, std::size_t stride) {
    if (block.size() == 0) return;
    const std::size_t rank = block.shape().size();
    if (rank <= kAxesOnStack) {
        std::array<std::uint64_t, kArraysPerAxis * kAxesOnStack> space;
        copy_with(block, order, split, destination, stride, space.data());
    } else {
        std::vector<std::uint64_t> space(kArraysPerAxis * rank);
        copy_with(block, order, split, destination, stride, space.data());
    }
}

}  // namespace tavrin::blocks
