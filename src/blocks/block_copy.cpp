#include "blocks/block_copy.hpp"

#include <cstdint>
#include <vector>

namespace tavrin::blocks {

void copy_permuted(const Tensor& block, std::span<const std::size_t> order, std::size_t split,
                   double* destination, std::size_t stride) {
    const Shape& shape = block.shape();
    const std::size_t rank = shape.size();
    if (block.size() == 0) return;
    std::vector<std::uint64_t> source_stride(rank);
    std::uint64_t step = 1;
    for (std::size_t k = rank; k-- > 0;) {
        source_stride[k] = step;
        step *= shape[k];
    }
    // Target axes: lengths, source strides and destination strides.
    std::vector<std::uint64_t> length(rank), from(rank), to(rank);
    std::uint64_t row_step = 1, column_step = 1;
    for (std::size_t j = rank; j-- > 0;) {
        length[j] = shape[order[j]];
        from[j] = source_stride[order[j]];
        if (j >= split) {
            to[j] = column_step;
            column_step *= length[j];
        } else {
            to[j] = row_step * stride;
            row_step *= length[j];
        }
    }
    const double* source = block.data().data();
    const std::size_t last = rank - 1;
    std::vector<std::uint64_t> index(rank, 0);
    std::uint64_t at_source = 0, at_destination = 0;
    while (true) {
        for (std::uint64_t i = 0; i < length[last]; ++i) {
            destination[at_destination + i * to[last]] = source[at_source + i * from[last]];
        }
        std::size_t j = last;
        while (true) {
            if (j == 0) return;
            --j;
            at_source += from[j];
            at_destination += to[j];
            if (++index[j] < length[j]) break;
            at_source -= from[j] * length[j];
            at_destination -= to[j] * length[j];
            index[j] = 0;
        }
    }
}

}  // namespace tavrin::blocks
