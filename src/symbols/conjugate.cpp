#include "symbols/conjugate.hpp"

#include <vector>

namespace tavrin {

Result<Conjugate> compute_conjugate(const CGSpec& spec) {
    std::vector<Edge> edges;
    edges.reserve(spec.num_external());
    for (const Edge& edge : spec.edges()) {
        edges.push_back(edge.flipped());
    }
    auto conj_spec = CGSpec::from_edges(std::move(edges));
    if (!conj_spec) {
        return fail(std::move(conj_spec.error()));
    }
    const std::size_t n = conj_spec->num_external();
    double phase = 1.0;
    for (std::size_t i = 0; i < n; ++i) {
        const Edge& edge = conj_spec->edges()[i];
        const bool expected_outgoing = i + 1 < n;
        if (edge.is_outgoing() != expected_outgoing && edge.j.is_half_integer()) {
            phase = -phase;
        }
    }
    return Conjugate{phase, std::move(*conj_spec)};
}

double fs_phase_for_spin(Spin spin) { return spin.is_integer() ? 1.0 : -1.0; }

}  // namespace tavrin
