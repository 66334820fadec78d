// The persistent cache of canonical bases: one SQLite table of array blobs keyed by spins,
// shared by every process that uses the same cache database. Each operation names the database
// (see resolve_cache_database) and runs on the process's connection to it.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cache/cache_connection.hpp"
#include "core/error.hpp"
#include "tensor/tensor.hpp"

namespace tavrin {

// Executed on every opening of a connection.
inline constexpr std::string_view kCacheTableStatement =
    "CREATE TABLE IF NOT EXISTS cgbasis (\n"
    "            spins BLOB PRIMARY KEY,\n"
    "            data BLOB NOT NULL\n"
    "        )";

// The cache key: every doubled spin as a 4-byte little-endian integer, in edge order.
std::vector<std::uint8_t> spin_key(std::span<const std::int32_t> spins);

// What a lookup found: nothing (a miss), the basis, or a row of another shape than the spins
// require, with the reason (it is left as it is).
struct CacheLookup {
    std::optional<Tensor> basis;
    std::optional<std::string> unusable;
};

// The basis stored under the spins. A row whose shape is not `expected` (when given) is
// unusable, found so before anything is allocated for it. Fails with CacheError when the
// database cannot be opened or read, or the row does not decode.
Result<CacheLookup> load_cached_basis(const std::string& database,
                                      std::span<const std::int32_t> spins,
                                      const Shape* expected);

// Inserts the basis under the spins; a row already stored under them is kept. Fails with
// CacheError.
Status store_cached_basis(const std::string& database, std::span<const std::int32_t> spins,
                          const Tensor& basis);

// False when the process has no SQLite library for the cache: every operation fails, for good.
bool basis_cache_has_sqlite();

// For tests of the lock: runs `body` where an operation's own work runs, with the cache lock held
// and the connection acquired, and fails as an operation would before reaching it.
Status run_inside_cache_operation(const std::string& database,
                                  const std::function<void()>& body);

}  // namespace tavrin
