// How a symbol is computed.
#pragma once

namespace tavrin {

enum class SymbolMethod {
    // Contractions of canonical bases over magnetic indices (bases from the basis cache).
    Dense,
    // Fusion-tree moves (6j symbols and phases); no magnetic sums, no basis fetched or stored.
    Recoupling,
};

}  // namespace tavrin
