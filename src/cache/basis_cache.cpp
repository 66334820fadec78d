// The rows of the cache: finding one and decoding it (straight into the tensor's storage when
// it is in this library's own layout), and inserting one in a transaction of its own.
#include "cache/basis_cache.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <expected>
#include <string>
#include <utility>

#include "cache/npy_blob.hpp"
#include "cache/sqlite_handles.hpp"
#include "cache/sqlite_library.hpp"
#include "cache/write_ahead_log.hpp"
#include "support/bytes_and_text.hpp"

namespace tavrin {
namespace {

// rowid and length let a large blob be read straight into the tensor (typeof and length do not
// load it); a small one comes with the row, sparing the opening of a blob handle.
constexpr std::string_view kFindStatement =
    "SELECT rowid, typeof(data), length(data), "
    "CASE WHEN length(data) <= 16384 THEN data END FROM cgbasis WHERE spins = ?1";
// A row that exists is never replaced: two writers of one key store the same bytes.
constexpr std::string_view kInsertStatement =
    "INSERT OR IGNORE INTO cgbasis (spins, data) VALUES (?1, zeroblob(?2))";

// Enough for the header of every basis up to a few dozen edges; longer ones are read twice.
constexpr std::size_t kHeaderGuess = 256;

// The statement kept in `slot`, prepared on first use.
std::expected<sqlite3_stmt*, SqliteFailure> prepared(sqlite3* connection, Statement& slot,
                                                     std::string_view sql) {
    if (!slot) {
        auto statement = prepare(connection, sql);
        if (!statement) return std::unexpected(std::move(statement.error()));
        slot = std::move(*statement);
    }
    return slot.get();
}

std::string column_type_name(std::string_view sql_type) {
    if (sql_type == "integer") return "Integer";
    if (sql_type == "real") return "Real";
    if (sql_type == "text") return "Text";
    return "Null";
}

// The bytes of one stored row, read piece by piece.
class RowBytes {
public:
    virtual ~RowBytes() = default;
    virtual SqliteResult read(void* out, std::size_t size, std::size_t offset) const = 0;
};

// A small row that came with the query's result.
class InlineRow final : public RowBytes {
public:
    explicit InlineRow(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    SqliteResult read(void* out, std::size_t size, std::size_t offset) const override {
        if (size > 0) std::memcpy(out, bytes_.data() + offset, size);
        return {};
    }

private:
    std::span<const std::uint8_t> bytes_;
};

// Incremental blob I/O on one row's data, closed when the use ends.
class BlobHandle final : public RowBytes {
public:
    BlobHandle(const BlobHandle&) = delete;
    BlobHandle& operator=(const BlobHandle&) = delete;
    ~BlobHandle() override { sqlite().blob_close(blob_); }

    static std::expected<BlobHandle, SqliteFailure> open(sqlite3* connection,
                                                         sqlite3_int64 rowid, bool write) {
        sqlite3_blob* blob = nullptr;
        if (sqlite().blob_open(connection, "main", "cgbasis", "data", rowid, write ? 1 : 0,
                               &blob) != SQLITE_OK) {
            sqlite().blob_close(blob);
            return std::unexpected(last_failure(connection));
        }
        return BlobHandle(connection, blob);
    }
    BlobHandle(BlobHandle&& other) noexcept
        : connection_(other.connection_), blob_(std::exchange(other.blob_, nullptr)) {}

    SqliteResult read(void* out, std::size_t size, std::size_t offset) const override {
        if (size == 0) return {};
        if (sqlite().blob_read(blob_, out, static_cast<int>(size), static_cast<int>(offset)) !=
            SQLITE_OK) {
            return std::unexpected(last_failure(connection_));
        }
        return {};
    }
    SqliteResult write(const void* data, std::size_t size, std::size_t offset) const {
        if (size == 0) return {};
        if (sqlite().blob_write(blob_, data, static_cast<int>(size), static_cast<int>(offset)) !=
            SQLITE_OK) {
            return std::unexpected(last_failure(connection_));
        }
        return {};
    }

private:
    BlobHandle(sqlite3* connection, sqlite3_blob* blob) : connection_(connection), blob_(blob) {}
    sqlite3* connection_;
    sqlite3_blob* blob_;
};

CacheLookup unusable(std::string reason) { return CacheLookup{std::nullopt, std::move(reason)}; }

TavrinError undecodable(const std::string& message) {
    return TavrinError::cache_error("Failed to deserialize array: " + message);
}

CacheLookup wrong_shape(const Shape& stored, const Shape& expected) {
    return unusable("Stored basis has shape " + bracketed_list(stored) +
                    " but the spins require " + bracketed_list(expected) +
                    "; the row was not written by this library");
}

TavrinError query_failed(const SqliteFailure& failure) {
    return TavrinError::cache_error("Query failed: " + failure.message);
}

// Any blob in full, through the general reader, its shape checked before the tensor is made.
Result<CacheLookup> decode_whole(const RowBytes& row, std::size_t size, const Shape* expected) {
    std::vector<std::uint8_t> bytes(size);
    if (auto read = row.read(bytes.data(), size, 0); !read) return fail(query_failed(read.error()));
    auto shape = npy_blob_shape(bytes);
    if (!shape) return fail(undecodable(shape.error()));
    if (expected != nullptr && *shape != *expected) return wrong_shape(*shape, *expected);
    auto tensor = read_npy_blob(bytes);
    if (!tensor) return fail(undecodable(tensor.error()));
    return CacheLookup{std::move(*tensor), std::nullopt};
}

// The one way a stored row becomes a tensor. A row in this library's own layout goes straight
// into the tensor's storage; any other is read whole and decoded by the general reader. Either
// way the shape is known, checked and its element count found to fit before anything is
// allocated for it.
Result<CacheLookup> decode_row(const RowBytes& row, std::size_t size, const Shape* expected) {
    std::vector<std::uint8_t> header(std::min(size, kHeaderGuess));
    if (auto read = row.read(header.data(), header.size(), 0); !read) {
        return fail(query_failed(read.error()));
    }
    const auto header_size = npy_header_size(header);
    if (!header_size || *header_size > size) return decode_whole(row, size, expected);
    const auto header_bytes = static_cast<std::size_t>(*header_size);
    if (header_bytes > header.size()) {
        header.resize(header_bytes);
        if (auto read = row.read(header.data(), header.size(), 0); !read) {
            return fail(query_failed(read.error()));
        }
    }
    auto shape = shape_of_own_npy_header({header.data(), header_bytes});
    if (!shape) return decode_whole(row, size, expected);
    if (expected != nullptr && *shape != *expected) return wrong_shape(*shape, *expected);
    const auto count = npy_element_count(*shape);
    const std::size_t data_bytes = size - header_bytes;
    if (!count || data_bytes % sizeof(double) != 0 || data_bytes / sizeof(double) != *count) {
        return decode_whole(row, size, expected);  // for its message
    }
    Tensor tensor = Tensor::uninitialised(std::move(*shape));
    const std::span<double> values = tensor.data();
    if (auto read = row.read(values.data(), values.size_bytes(), header_bytes); !read) {
        return fail(query_failed(read.error()));
    }
    little_endian_to_native(values);
    return CacheLookup{std::move(tensor), std::nullopt};
}

Result<CacheLookup> find_and_read(OpenCache& cache, std::span<const std::uint8_t> key,
                                  const Shape* expected) {
    sqlite3* connection = cache.connection.get();
    auto find = prepared(connection, cache.find, kFindStatement);
    if (!find) {
        return fail(TavrinError::cache_error("Failed to prepare query: " + find.error().message));
    }
    // The statement stays active while the blob is read, so both see one snapshot.
    const StatementUse use(*find);
    if (auto bound = bind_all(connection, use.get(), {key}); !bound) {
        return fail(query_failed(bound.error()));
    }
    const int code = sqlite().step(use.get());
    if (code == SQLITE_DONE) return CacheLookup{};
    if (code != SQLITE_ROW) return fail(query_failed(last_failure(connection)));
    const auto* type = reinterpret_cast<const char*>(sqlite().column_text(use.get(), 1));
    const std::string_view sql_type = type != nullptr ? type : "null";
    if (sql_type != "blob") {
        return fail(TavrinError::cache_error("Query failed: Invalid column type " +
                                             column_type_name(sql_type) + " at index: 0, name: data"));
    }
    const sqlite3_int64 rowid = sqlite().column_int64(use.get(), 0);
    const auto size = static_cast<std::size_t>(sqlite().column_int64(use.get(), 2));
    if (size == 0 || sqlite().column_type(use.get(), 3) == SQLITE_BLOB) {
        const auto* data =
            static_cast<const std::uint8_t*>(sqlite().column_blob(use.get(), 3));
        return decode_row(InlineRow({data, size}), size, expected);
    }
    auto blob = BlobHandle::open(connection, rowid, false);
    if (!blob) return fail(query_failed(blob.error()));
    return decode_row(*blob, size, expected);
}

// Writes the blob of the new row `rowid` straight from the tensor's storage.
SqliteResult write_row(sqlite3* connection, sqlite3_int64 rowid,
                       std::span<const std::uint8_t> header, const Tensor& basis) {
    auto blob = BlobHandle::open(connection, rowid, true);
    if (!blob) return std::unexpected(std::move(blob.error()));
    if (auto written = blob->write(header.data(), header.size(), 0); !written) return written;
    const std::span<const double> values = basis.data();
    if constexpr (std::endian::native == std::endian::little) {
        return blob->write(values.data(), values.size_bytes(), header.size());
    } else {
        std::vector<double> chunk;
        constexpr std::size_t kChunk = 1 << 16;
        for (std::size_t at = 0; at < values.size(); at += kChunk) {
            const auto part = values.subspan(at, std::min(kChunk, values.size() - at));
            chunk.assign(part.begin(), part.end());
            little_endian_to_native(chunk);  // the same swap in the other direction
            auto written = blob->write(chunk.data(), chunk.size() * sizeof(double),
                                       header.size() + at * sizeof(double));
            if (!written) return written;
        }
        return {};
    }
}

SqliteResult run(sqlite3* connection, Statement& slot, std::string_view sql) {
    auto statement = prepared(connection, slot, sql);
    if (!statement) return std::unexpected(std::move(statement.error()));
    const StatementUse use(*statement);
    return step_to_done(connection, use.get());
}

// Inserts the row in one transaction, or leaves the table as it was.
SqliteResult insert_in_transaction(OpenCache& cache, std::span<const std::uint8_t> key,
                                   std::span<const std::uint8_t> header, const Tensor& basis) {
    sqlite3* connection = cache.connection.get();
    if (!cache.journal_chosen) {
        choose_journal_for_writing(connection, cache.database);
        cache.journal_chosen = true;
    }
    if (auto begun = run(connection, cache.begin, "BEGIN IMMEDIATE"); !begun) return begun;
    auto inserted = [&]() -> SqliteResult {
        auto insert = prepared(connection, cache.insert, kInsertStatement);
        if (!insert) return std::unexpected(std::move(insert.error()));
        const StatementUse use(*insert);
        if (sqlite().bind_parameter_count(use.get()) != 2) {
            return std::unexpected(SqliteFailure{"Wrong number of parameters"});
        }
        const auto size = static_cast<sqlite3_int64>(header.size() + basis.data().size_bytes());
        if (sqlite().bind_blob(use.get(), 1, key.data(), static_cast<int>(key.size()),
                               SQLITE_TRANSIENT) != SQLITE_OK ||
            sqlite().bind_int64(use.get(), 2, size) != SQLITE_OK) {
            return std::unexpected(last_failure(connection));
        }
        if (auto done = step_to_done(connection, use.get()); !done) return done;
        if (sqlite().changes(connection) == 0) return {};  // stored by someone else already
        return write_row(connection, sqlite().last_insert_rowid(connection), header, basis);
    }();
    if (inserted) inserted = run(connection, cache.commit, "COMMIT");
    if (inserted) fold_log_after_large_row(connection, header.size() + basis.data().size_bytes());
    if (!inserted && !sqlite().get_autocommit(connection)) {
        (void)run(connection, cache.rollback, "ROLLBACK");
    }
    if (!inserted) cache.insert.reset();
    return inserted;
}

Status insert_basis(std::optional<OpenCache>& state, std::span<const std::uint8_t> key,
                    const Tensor& basis) {
    const auto header = npy_header(basis.shape());
    if (!header) {
        return fail(TavrinError::cache_error("Failed to serialize array: " + header.error()));
    }
    const std::string database = state->database;
    if (file_was_replaced(*state)) {
        if (auto reopened = reopen_cache(state, database); !reopened) return reopened;
    }
    auto inserted = insert_in_transaction(*state, key, *header, basis);
    if (!inserted &&
        (inserted.error().code == SQLITE_READONLY_DBMOVED || file_was_replaced(*state))) {
        // Removed or replaced while this write ran: one more try on the file now there.
        if (auto reopened = reopen_cache(state, database); !reopened) return reopened;
        inserted = insert_in_transaction(*state, key, *header, basis);
    }
    if (!inserted) {
        return fail(TavrinError::cache_error("Failed to insert data: " + inserted.error().message));
    }
    return {};
}

}  // namespace

std::vector<std::uint8_t> spin_key(std::span<const std::int32_t> spins) {
    std::vector<std::uint8_t> key;
    key.reserve(4 * spins.size());
    for (const std::int32_t spin : spins) {
        append_little_endian(key, static_cast<std::uint32_t>(spin), 4);
    }
    return key;
}

Result<CacheLookup> load_cached_basis(const std::string& database,
                                      std::span<const std::int32_t> spins,
                                      const Shape* expected) {
    Result<CacheLookup> found = CacheLookup{};
    const Status done = with_open_cache(database, [&](std::optional<OpenCache>& state) -> Status {
        found = find_and_read(*state, spin_key(spins), expected);
        // Prepared afresh next time: a statement that failed may refer to a schema that is gone.
        if (!found) state->find.reset();
        return {};
    });
    if (!done) return fail(std::move(done.error()));
    return found;
}

Status store_cached_basis(const std::string& database, std::span<const std::int32_t> spins,
                          const Tensor& basis) {
    return with_open_cache(database, [&](std::optional<OpenCache>& state) {
        return insert_basis(state, spin_key(spins), basis);
    });
}

bool basis_cache_has_sqlite() { return sqlite_library().has_value(); }

Status run_inside_cache_operation(const std::string& database,
                                  const std::function<void()>& body) {
    return with_open_cache(database, [&](std::optional<OpenCache>&) -> Status {
        body();
        return {};
    });
}

}  // namespace tavrin
