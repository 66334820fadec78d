#include "symbols/symbol_results.hpp"

namespace tavrin {

namespace {

// The key's vector, the shared block of the entry (control block and KnownSymbol), the
// tensor's shape and elements (a copy: no spare capacity) and the derived specification's parts.
std::uint64_t owned_bytes(std::span<const std::int64_t> key, const CGSpec& derived_spec,
                          const Tensor& data) {
    return heap_block_bytes(key.size() * sizeof(std::int64_t)) +
           heap_block_bytes(2 * sizeof(void*) + sizeof(KnownSymbol)) +
           heap_block_bytes(data.rank() * sizeof(std::uint64_t)) +
           heap_block_bytes(data.size() * sizeof(double)) + derived_spec.heap_bytes();
}

constexpr std::uint64_t kLargestResultShare = 8;

}  // namespace

std::size_t SymbolKeyHash::operator()(std::span<const std::int64_t> key) const noexcept {
    std::uint64_t h = 0xcbf29ce484222325ULL;  // FNV-1a over the values
    for (const std::int64_t v : key) {
        h ^= static_cast<std::uint64_t>(v);
        h *= 0x100000001b3ULL;
    }
    return static_cast<std::size_t>(h ^ (h >> 32));
}

SymbolResultStore& xsymbol_results() {
    // Never destroyed: threads may still use it while the process ends.
    static auto* const memo =
        new SymbolResultStore("xsymbol_results", "TAVRIN_XSYMBOL_RESULTS_BYTES",
                              kDefaultSymbolResultBytes, kLargestResultShare);
    return *memo;
}

SymbolResultStore& rsymbol_results() {
    static auto* const memo =
        new SymbolResultStore("rsymbol_results", "TAVRIN_RSYMBOL_RESULTS_BYTES",
                              kDefaultSymbolResultBytes, kLargestResultShare);
    return *memo;
}

namespace {
// Made with the library, so that the memos are listed before their first use.
[[maybe_unused]] const bool made_at_start = (xsymbol_results(), rsymbol_results(), true);
}  // namespace

void keep_symbol_result(SymbolResultStore& store, std::span<const std::int64_t> key,
                        const CGSpec& derived_spec, const Tensor& data) {
    const std::uint64_t bytes = owned_bytes(key, derived_spec, data);
    if (!store.has_room_for(bytes)) return;  // no copy made for nothing
    store.insert(SymbolKey(key.begin(), key.end()),
                 std::make_shared<const KnownSymbol>(KnownSymbol{derived_spec, data}), bytes);
}

}  // namespace tavrin
