// The process-wide memos of symbol results: what a call returned, keyed by every argument that
// changes it (the method, the edges of the specifications, the contraction or permutation), so
// that a repeated symbol is a copy. Only results are kept, never an error. One of the
// process-wide stores each; entries are shared and never modified.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "basis/basis_store.hpp"
#include "specs/cg_spec.hpp"
#include "support/process_store.hpp"
#include "symbols/symbol_method.hpp"
#include "tensor/tensor.hpp"

namespace tavrin {

// What a call returned: the specification it derived (C, or the permuted one) and its values;
// and where the in-process store kept the bases a repeat fetched last (used only under the
// store's lock).
struct KnownSymbol {
    CGSpec derived_spec;
    Tensor data;
    mutable BasisStore::Found stored_bases{};
};
using SharedKnownSymbol = std::shared_ptr<const KnownSymbol>;

using SymbolKey = std::vector<std::int64_t>;

// A key built on the stack while it is short, so that a lookup allocates nothing.
class SymbolKeyBuilder {
public:
    void push_back(std::int64_t value) {
        if (size_ < few_.size()) {
            few_[size_++] = value;
            return;
        }
        if (many_.empty()) many_.assign(few_.begin(), few_.end());
        many_.push_back(value);
        ++size_;
    }
    std::span<const std::int64_t> view() const {
        return size_ <= few_.size() ? std::span<const std::int64_t>(few_).first(size_)
                                    : std::span<const std::int64_t>(many_);
    }

private:
    std::array<std::int64_t, 32> few_;
    std::vector<std::int64_t> many_;
    std::size_t size_ = 0;
};

struct SymbolKeyHash {
    using is_transparent = void;
    std::size_t operator()(std::span<const std::int64_t> key) const noexcept;
    std::size_t operator()(const SymbolKey& key) const noexcept {
        return (*this)(std::span<const std::int64_t>(key));
    }
};

struct SymbolKeyEqual {
    using is_transparent = void;
    template <class L, class R>
    bool operator()(const L& left, const R& right) const {
        return std::ranges::equal(std::span<const std::int64_t>(left),
                                  std::span<const std::int64_t>(right));
    }
};

// Its lock is held only for a lookup or an insertion, never while a symbol is computed; a
// result above an eighth of the bound is not kept.
using SymbolResultStore =
    BoundedStore<SymbolKey, SharedKnownSymbol, SymbolKeyHash, SymbolKeyEqual>;

SymbolResultStore& xsymbol_results();
SymbolResultStore& rsymbol_results();

inline constexpr std::uint64_t kDefaultSymbolResultBytes = std::uint64_t{64} << 20;

// The method, first value of every key.
inline std::int64_t method_key(SymbolMethod method) {
    return method == SymbolMethod::Recoupling ? 1 : 0;
}

// Keeps a copy of a result under the key (unless it does not fit).
void keep_symbol_result(SymbolResultStore& store, std::span<const std::int64_t> key,
                        const CGSpec& derived_spec, const Tensor& data);

}  // namespace tavrin
