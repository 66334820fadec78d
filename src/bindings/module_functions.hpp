// The method definitions of the module functions, for the module's execution step. Each
// is a static table entry that outlives the module.
#pragma once

#include <Python.h>

namespace tavrin::bindings {

PyMethodDef& canonical_basis_definition();
PyMethodDef& compute_xsymbol_definition();
PyMethodDef& compute_rsymbol_definition();
PyMethodDef& compute_conjugate_definition();
PyMethodDef& fs_phase_for_spin_definition();
PyMethodDef& clebsch_gordan_definition();
PyMethodDef& wigner_6j_definition();
PyMethodDef& wigner_3j_definition();
PyMethodDef& wigner_9j_definition();
PyMethodDef& memo_info_definition();
PyMethodDef& clear_memos_definition();
PyMethodDef& set_memo_bound_definition();
PyMethodDef& contract_definition();
PyMethodDef& fusion_isometry_definition();
PyMethodDef& block_timings_definition();
PyMethodDef& lowest_eigenpair_definition();
PyMethodDef& reset_block_timings_definition();

// The record memo_info() returns, a named tuple, as the module's attribute MemoInfo.
void add_memo_info_type(PyObject* module);

// Private: _cache_database_path(), the database file the basis cache would use now (as a call
// would resolve it), for the cache tool (it must follow the library's own rules).
PyMethodDef& cache_database_path_definition();

// Private: _cache_table_statement, the statement that creates the cache's table, so that the
// cache tool creates exactly the table the library does. Throws PythonErrorSet on failure.
void add_cache_table_statement(PyObject* module);

}  // namespace tavrin::bindings
