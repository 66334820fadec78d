/* The least a reader of one cache row must do, in a fresh process: open the database, find the
 * row by key, and copy its blob into fresh memory, either through SELECT and one memcpy or
 * through incremental blob I/O. Prints the microseconds from before the open to after the copy.
 * With a repeat count, the connection is opened once and the median of that many reads is
 * printed instead (the steady state). Built as a shared library too, for first_read_us.
 * Usage: cache_lower_bound DATABASE KEY_HEX select|blob [REPEATS] */
#include <sqlite3.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

static double now_us(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec * 1e6 + (double)t.tv_nsec / 1e3;
}

static int compare(const void* a, const void* b) {
    double x = *(const double*)a, y = *(const double*)b;
    return (x > y) - (x < y);
}

/* One read of the row into fresh memory, freed afterwards; the statement stays prepared. */
static int read_row(sqlite3* db, const unsigned char* key, size_t key_len, int use_blob) {
    static sqlite3_stmt* statement = NULL;
    const char* sql = use_blob ? "SELECT rowid, length(data) FROM cgbasis WHERE spins = ?"
                               : "SELECT data FROM cgbasis WHERE spins = ?";
    if (statement == NULL &&
        sqlite3_prepare_v2(db, sql, -1, &statement, NULL) != SQLITE_OK) return 4;
    sqlite3_bind_blob(statement, 1, key, (int)key_len, SQLITE_STATIC);
    if (sqlite3_step(statement) != SQLITE_ROW) return 5;
    void* out;
    int size;
    if (use_blob) {
        sqlite3_int64 rowid = sqlite3_column_int64(statement, 0);
        size = sqlite3_column_int(statement, 1);
        sqlite3_blob* blob = NULL;
        if (sqlite3_blob_open(db, "main", "cgbasis", "data", rowid, 0, &blob) != SQLITE_OK) return 6;
        out = malloc((size_t)size);
        if (sqlite3_blob_read(blob, out, size, 0) != SQLITE_OK) return 7;
        sqlite3_blob_close(blob);
    } else {
        const void* data = sqlite3_column_blob(statement, 0);
        size = sqlite3_column_bytes(statement, 0);
        out = malloc((size_t)size);
        memcpy(out, data, (size_t)size);
    }
    sqlite3_reset(statement);
    volatile unsigned char sink = ((unsigned char*)out)[size - 1];
    (void)sink;
    free(out);
    return 0;
}

/* The fresh-process measurement as a function, for loading into another process (an
 * interpreter with NumPy, through ctypes): the microseconds of the first read, or a negative
 * status. The connection stays open, as in the program. */
double first_read_us(const char* database, const char* key_hex, int use_blob) {
    unsigned char key[4096];
    size_t key_len = strlen(key_hex) / 2;
    if (key_len > sizeof key) return -2;
    for (size_t i = 0; i < key_len; ++i) sscanf(key_hex + 2 * i, "%2hhx", &key[i]);
    double start = now_us();
    sqlite3* db = NULL;
    if (sqlite3_open_v2(database, &db, SQLITE_OPEN_READWRITE, NULL) != SQLITE_OK) return -3;
    int status = read_row(db, key, key_len, use_blob);
    if (status != 0) return -status;
    return now_us() - start;
}

int main(int argc, char** argv) {
    if (argc != 4 && argc != 5) return 2;
    size_t key_len = strlen(argv[2]) / 2;
    unsigned char key[4096];
    for (size_t i = 0; i < key_len; ++i) sscanf(argv[2] + 2 * i, "%2hhx", &key[i]);
    int use_blob = strcmp(argv[3], "blob") == 0;
    int repeats = argc == 5 ? atoi(argv[4]) : 0;

    double start = now_us();
    sqlite3* db = NULL;
    if (sqlite3_open_v2(argv[1], &db, SQLITE_OPEN_READWRITE, NULL) != SQLITE_OK) return 3;
    int status = read_row(db, key, key_len, use_blob);
    if (status != 0) return status;
    double end = now_us();
    if (repeats > 0) {
        double* times = malloc(sizeof(double) * (size_t)repeats);
        for (int r = 0; r < repeats; ++r) {
            double t = now_us();
            if ((status = read_row(db, key, key_len, use_blob)) != 0) return status;
            times[r] = now_us() - t;
        }
        qsort(times, (size_t)repeats, sizeof(double), compare);
        printf("%.1f\n", times[repeats / 2]);
    } else {
        printf("%.1f\n", end - start);
    }
    sqlite3_close(db);
    return 0;
}
