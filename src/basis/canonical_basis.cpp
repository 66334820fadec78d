#include "basis/canonical_basis.hpp"

#include <array>
#include <optional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "basis/basis_builder.hpp"
#include "basis/fusion_tree.hpp"
#include "basis/basis_store.hpp"
#include "cache/basis_cache.hpp"
#include "cache/cache_path.hpp"
#include "support/assertion.hpp"
#include "support/bytes_and_text.hpp"

namespace tavrin {

namespace {

// Applies X'[..., i, ...] = (-1)^(s - i) X[..., s - i, ...] on the axis of every edge whose
// direction differs from the canonical pattern. Slices are multiplied by +1.0 or -1.0 as a
// whole, so zeros of a negated slice become -0.0.
void apply_direction_phases(Tensor& basis, const std::vector<Edge>& edges) {
    const std::size_t n = edges.size();
    for (std::size_t k = 0; k < n; ++k) {
        const bool canonical_incoming = k + 1 < n;
        if (edges[k].is_incoming() == canonical_incoming) {
            continue;
        }
        const std::int32_t s = edges[k].j.twice();
        basis.reverse_axis(k);
        for (std::int64_t i = 0; i <= s; ++i) {
            basis.scale_slice(k, static_cast<std::uint64_t>(i), (s - i) % 2 == 0 ? 1.0 : -1.0);
        }
    }
}

// The database this call's cache operations use: the one its context names, or the default.
const std::string& database_of(CallContext& context) {
    if (!context.cache_database()) context.set_cache_database(resolve_cache_database(std::nullopt));
    return *context.cache_database();
}

// The cache only ever costs speed: what goes wrong with it becomes a warning for the caller,
// and the basis is built (and returned) all the same.
void warn_cache_failure(CallContext& context, const std::string& cause,
                        const std::string& consequence) {
    const std::string& path = database_of(context);
    context.warn(Warning{cause, path,
                         "tavrin basis cache " + path + ": " + cause + "; " + consequence});
}

constexpr const char* kBuiltInstead = "the basis was computed instead";
constexpr const char* kNotStored = "the basis was computed but not stored";

// A basis and whether the in-process store may keep it: only when the database holds it as it
// is, so that a cache that failed is asked again (and warns again, and receives the row once it
// works) on the next request; or when the process can never have a database, for want of an
// SQLite library, and the store is all the caching there is.
struct FetchedBasis {
    Tensor basis;
    bool keepable;
};

// The canonical-pattern basis from the cache, or built and stored on a miss.
Result<FetchedBasis> load_or_build(std::span<const std::int32_t> spins, std::size_t om_dimension,
                                   CallContext& context) {
    const std::string& database = database_of(context);
    const Shape expected = basis_shape(spins, om_dimension);
    auto cached = load_cached_basis(database, spins, &expected);
    bool store = true;
    if (!cached) {
        warn_cache_failure(context, cached.error().text(), kBuiltInstead);
    } else if (cached->basis) {
        return FetchedBasis{std::move(*cached->basis), true};
    } else if (cached->unusable) {
        warn_cache_failure(context, *cached->unusable, kBuiltInstead);
        store = false;  // the row stays as it is
    }
    auto built = build_canonical_basis({spins.begin(), spins.end()}, context);
    if (!built) return fail(std::move(built.error()));
    if (!store) return FetchedBasis{std::move(*built), false};
    // Writing a large basis takes as long as building it: a caller who asked to stop meanwhile
    // does not wait for it.
    if (context.should_stop()) {
        return fail(TavrinError::interrupted());
    }
    auto stored = store_cached_basis(database, spins, *built);
    if (!stored) {
        warn_cache_failure(context, stored.error().text(), kNotStored);
    }
    return FetchedBasis{std::move(*built), stored.has_value() || !basis_cache_has_sqlite()};
}

Status check_edge_count(const CGSpec& spec) {
    const std::size_t n = spec.num_external();
    if (n < 2) {
        return fail(too_few_edges_for_basis(n));
    }
    return {};
}

// A copy for the caller: from the store, or loaded or built. The store keeps a copy of its own
// from the second request on, so that a basis asked for once costs no second copy, in time or
// in memory.
Result<Tensor> owned_canonical_pattern_basis(const CGSpec& spec, CallContext& context) {
    BasisStore& store = process_basis_store();
    const std::string& path = database_of(context);
    const std::vector<std::int32_t> spins = spec.spins();
    if (SharedBasis kept = store.find(path, spins)) {
        return *kept;
    }
    auto fetched = load_or_build(spins, spec.om_dimension(), context);
    if (!fetched) {
        return fail(std::move(fetched.error()));
    }
    if (fetched->keepable && store.has_room_for(fetched->basis) &&
        store.requested_before(path, spins)) {
        store.insert(path, spins, std::make_shared<const Tensor>(fetched->basis));
    }
    return std::move(fetched->basis);
}

constexpr std::size_t kFewEdges = 32;

// The doubled spins of a specification: in `few` for up to kFewEdges edges (a hit in the store
// then allocates nothing), in `many` otherwise.
std::span<const std::int32_t> spins_of(const CGSpec& spec,
                                       std::array<std::int32_t, kFewEdges>& few,
                                       std::vector<std::int32_t>& many) {
    const std::size_t n = spec.num_external();
    if (n > few.size()) {
        many = spec.spins();
        return many;
    }
    for (std::size_t k = 0; k < n; ++k) {
        few[k] = spec.edges()[k].j.twice();
    }
    return std::span(few).first(n);
}

Result<SharedBasis> shared_basis(const CGSpec& spec, BasisStore& store, const std::string& path,
                                 CallContext& context) {
    if (auto counted = check_edge_count(spec); !counted) {
        return fail(std::move(counted.error()));
    }
    std::array<std::int32_t, kFewEdges> few;
    std::vector<std::int32_t> many;
    const std::span<const std::int32_t> spins = spins_of(spec, few, many);
    if (SharedBasis kept = store.find(path, spins)) {
        return kept;
    }
    auto fetched = load_or_build(spins, spec.om_dimension(), context);
    if (!fetched) {
        return fail(std::move(fetched.error()));
    }
    auto shared = std::make_shared<const Tensor>(std::move(fetched->basis));
    if (fetched->keepable) {
        store.insert(path, spins, shared);
    }
    return shared;
}

}  // namespace

Result<SharedBasis> shared_canonical_pattern_basis(const CGSpec& spec, CallContext& context) {
    return shared_basis(spec, process_basis_store(), database_of(context), context);
}

Status shared_canonical_pattern_bases(std::span<const CGSpec* const> specs,
                                      std::span<SharedBasis> bases, CallContext& context) {
    check_invariant(specs.size() == bases.size(), "one basis for each specification");
    BasisStore& store = process_basis_store();
    const std::string& path = database_of(context);
    for (std::size_t k = 0; k < specs.size(); ++k) {
        auto basis = shared_basis(*specs[k], store, path, context);
        if (!basis) {
            return fail(std::move(basis.error()));
        }
        bases[k] = std::move(*basis);
    }
    return {};
}

bool touch_stored_canonical_pattern_bases(std::span<const CGSpec* const> specs,
                                          CallContext& context, BasisStore::Found* found) {
    std::array<std::array<std::int32_t, kFewEdges>, BasisStore::kMaxTouched> few;
    std::array<std::span<const std::int32_t>, BasisStore::kMaxTouched> spins;
    if (specs.size() > spins.size()) return false;
    for (std::size_t k = 0; k < specs.size(); ++k) {
        const CGSpec& spec = *specs[k];
        const std::size_t n = spec.num_external();
        if (n < 2 || n > kFewEdges) return false;  // an error, or too long for the stack
        for (std::size_t e = 0; e < n; ++e) few[k][e] = spec.edges()[e].j.twice();
        spins[k] = std::span<const std::int32_t>(few[k]).first(n);
    }
    return process_basis_store().touch_all(database_of(context),
                                           std::span(spins).first(specs.size()), found);
}

Result<Tensor> canonical_basis(const CGSpec& spec, CallContext& context) {
    if (auto counted = check_edge_count(spec); !counted) {
        return fail(std::move(counted.error()));
    }
    auto basis = owned_canonical_pattern_basis(spec, context);
    if (!basis) {
        return basis;
    }
    apply_direction_phases(*basis, spec.edges());
    return basis;
}

}  // namespace tavrin
