// The persistent cache of canonical bases: one SQLite table of array blobs keyed by spins,
// shared by every process that uses the same cache directory.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "core/error.hpp"
#include "tensor/tensor.hpp"

namespace tavrin {

// Executed on every opening of a connection.
inline constexpr std::string_view kCacheTableStatement =
    "CREATE TABLE IF NOT EXISTS cgbasis (\n"
    "            spins BLOB PRIMARY KEY,\n"
    "            data BLOB NOT NULL\n"
    "        )";

inline constexpr const char* kPoisonedLockMessage =
    "Failed to acquire lock: poisoned lock: another task failed inside";

// The cache key: every doubled spin as a 4-byte little-endian integer, in edge order.
std::vector<std::uint8_t> spin_key(std::span<const std::int32_t> spins);

// The basis stored under the spins, or nothing on a miss. Fails with CacheError.
Result<std::optional<Tensor>> load_cached_basis(std::span<const std::int32_t> spins);

// Inserts the basis under the spins; a row already stored under them is kept. Fails with
// CacheError.
Status store_cached_basis(std::span<const std::int32_t> spins, const Tensor& basis);

// Closes this process's connection, unless an operation is running on it; the next operation
// opens it again. Runs when the process exits, so that the last process to leave folds the
// write-ahead log into the file and removes it, and the next one to open the cache has no log
// to read through.
void close_cache_connection();

// For tests of the lock: runs `body` where an operation's own work runs, with the cache lock held
// and the connection acquired, and fails as an operation would before reaching it.
Status run_inside_cache_operation(const std::function<void()>& body);

}  // namespace tavrin
