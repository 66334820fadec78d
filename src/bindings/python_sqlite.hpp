// The cache's SQLite is the library of Python's own sqlite3 module. POSIX file locks belong to
// the process, and closing any descriptor of a file drops all of them: a second copy of SQLite
// in the process, unaware of the first one's locks, would drop the cache's locks whenever a
// Python connection to the cache closes, and could fold away and delete the write-ahead log
// the cache still writes to.
#pragma once

namespace tavrin::bindings {

// Finds the SQLite functions through the shared object of the _sqlite3 extension (and the
// libraries it links) and hands them to the cache. Where there is none, or it lacks what the
// cache needs, the cache is told why: every cache operation then fails with that reason, which
// the calls report once as a warning while they compute their results all the same. Throws
// PythonErrorSet only for an exception that is not an Exception (KeyboardInterrupt) or memory
// running out. Call with the interpreter lock held.
void use_pythons_sqlite();

}  // namespace tavrin::bindings
