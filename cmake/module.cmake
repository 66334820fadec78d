# The extension module: stable ABI (3.11), one exported symbol.

find_package(Python 3.11 REQUIRED COMPONENTS Interpreter Development.SABIModule)

set(TAVRIN_MODULE_SOURCES
  src/module/module.cpp
  src/bindings/arguments.cpp
  src/bindings/array_conversion.cpp
  src/bindings/basis_functions.cpp
  src/bindings/block_functions.cpp
  src/bindings/block_tensor_type.cpp
  src/bindings/boundary.cpp
  src/bindings/cache_functions.cpp
  src/bindings/call_environment.cpp
  src/bindings/cg_spec_type.cpp
  src/bindings/coefficient_functions.cpp
  src/bindings/contraction_type.cpp
  src/bindings/convert.cpp
  src/bindings/created_once.cpp
  src/bindings/direction_type.cpp
  src/bindings/edge_type.cpp
  src/bindings/fastcall_arguments.cpp
  src/bindings/float_arrays.cpp
  src/bindings/integer_arrays.cpp
  src/bindings/internal_fault.cpp
  src/bindings/leg_type.cpp
  src/bindings/memo_functions.cpp
  src/bindings/module_members.cpp
  src/bindings/numpy_api.cpp
  src/bindings/phase_functions.cpp
  src/bindings/pickling.cpp
  src/bindings/python_error.cpp
  src/bindings/python_sqlite.cpp
  src/bindings/slice_container.cpp
  src/bindings/spin_type.cpp
  src/bindings/symbol_functions.cpp
  src/bindings/warnings.cpp
)

Python_add_library(tavrin MODULE USE_SABI 3.11 WITH_SOABI ${TAVRIN_MODULE_SOURCES})
target_include_directories(tavrin PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/src)
# dlopen and dlsym (in libdl before glibc 2.34) reach the SQLite of Python's sqlite3 module.
target_link_libraries(tavrin PRIVATE tavrin_lib ${CMAKE_DL_LIBS})
target_link_options(tavrin PRIVATE
  "LINKER:--version-script=${CMAKE_CURRENT_SOURCE_DIR}/cmake/exports.map")
set_target_properties(tavrin PROPERTIES LINK_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/cmake/exports.map)

# The C++ runtime goes into the module (hidden behind the export map), so the wheel needs
# neither a recent libstdc++ nor its symbol versions on the user's system.
target_link_options(tavrin PRIVATE -static-libstdc++ "LINKER:--gc-sections")

# tavrin.__version__: the one version of pyproject.toml, as scikit-build-core passes it on;
# read from the file itself when CMake runs on its own.
if(DEFINED SKBUILD_PROJECT_VERSION_FULL)
  set(TAVRIN_VERSION "${SKBUILD_PROJECT_VERSION_FULL}")
else()
  file(STRINGS "${CMAKE_CURRENT_SOURCE_DIR}/pyproject.toml" TAVRIN_VERSION_LINE
       REGEX "^version = \"[^\"]+\"$" LIMIT_COUNT 1)
  string(REGEX REPLACE "^version = \"([^\"]+)\"$" "\\1" TAVRIN_VERSION "${TAVRIN_VERSION_LINE}")
endif()
set_property(SOURCE src/module/module.cpp APPEND PROPERTY
  COMPILE_DEFINITIONS "TAVRIN_VERSION=\"${TAVRIN_VERSION}\"")

install(TARGETS tavrin LIBRARY DESTINATION .)

# Type information: a stub-only package beside the module, found by type checkers and IDEs.
install(FILES stubs/tavrin-stubs/__init__.pyi DESTINATION tavrin-stubs)
