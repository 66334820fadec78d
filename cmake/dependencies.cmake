# System libraries the C++ library links against, and headers it compiles against.

# SQLite: the header alone. The library is the one the process already has, handed to the cache
# at run time (the module's is that of Python's sqlite3 module), so that the process never holds
# two copies whose file locks would not see each other.
find_path(SQLITE3_INCLUDE_DIR sqlite3.h)
if(NOT SQLITE3_INCLUDE_DIR)
  message(FATAL_ERROR
    "tavrin needs the SQLite 3 header (sqlite3.h). "
    "On Debian or Ubuntu: apt-get install libsqlite3-dev")
endif()

# GMP computes Clebsch-Gordan coefficients exactly where double precision is not enough.
find_path(GMP_INCLUDE_DIR gmp.h)
find_library(GMP_LIBRARY gmp)
if(NOT GMP_INCLUDE_DIR OR NOT GMP_LIBRARY)
  message(FATAL_ERROR
    "tavrin needs the GNU MP library and its header (gmp.h). "
    "On Debian or Ubuntu: apt-get install libgmp-dev")
endif()
add_library(tavrin::gmp UNKNOWN IMPORTED)
set_target_properties(tavrin::gmp PROPERTIES
  IMPORTED_LOCATION "${GMP_LIBRARY}"
  INTERFACE_INCLUDE_DIRECTORIES "${GMP_INCLUDE_DIR}")

# Eigen (header-only) does the dense factorisations and products of the block tensors.
find_package(Eigen3 3.3 NO_MODULE)
if(NOT Eigen3_FOUND)
  message(FATAL_ERROR
    "tavrin needs the Eigen 3 headers. On Debian or Ubuntu: apt-get install libeigen3-dev")
endif()
