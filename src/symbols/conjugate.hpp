// Conjugation of a specification and Frobenius-Schur phases.
#pragma once

#include "specs/cg_spec.hpp"
#include "core/error.hpp"
#include "core/spin.hpp"

namespace tavrin {

struct Conjugate {
    double phase;  // +1.0 or -1.0
    CGSpec conj_spec;
};

// Every direction reversed; the phase is the product of the Frobenius-Schur phases of the
// conjugate's edges that differ from the pattern (edges 0 ... n-2 outgoing, edge n-1 incoming).
Result<Conjugate> compute_conjugate(const CGSpec& spec);

// (-1)^(2j): +1.0 for integer spins, -1.0 for half-integer spins.
double fs_phase_for_spin(Spin spin);

}  // namespace tavrin
