// The Python class BlockTensor: its constructors, blocks, dense form, arithmetic and the
// operations on its legs. The block loops run with the interpreter lock released.
#include <climits>
#include <cmath>
#include <optional>
#include <string>

#include "bindings/arguments.hpp"
#include "bindings/array_conversion.hpp"
#include "bindings/block_docstrings.hpp"
#include "bindings/block_tensor_type.hpp"
#include "bindings/classes.hpp"
#include "bindings/computation.hpp"
#include "bindings/convert.hpp"
#include "bindings/created_once.hpp"
#include "bindings/docstrings.hpp"
#include "bindings/fastcall_arguments.hpp"
#include "bindings/float_arrays.hpp"
#include "bindings/pickling.hpp"
#include "bindings/slots.hpp"
#include "blocks/block_arithmetic.hpp"
#include "blocks/block_factorisation.hpp"
#include "blocks/block_permutation.hpp"
#include "blocks/dense_projection.hpp"
#include "blocks/leg_fusion.hpp"

namespace tavrin::bindings {

namespace {

using blocks::BlockTensor;

const BlockTensor& self_tensor(PyObject* self) { return value_of<BlockTensor>(self); }

PyRef tensor_object(BlockTensor tensor) {
    return new_value_object(block_tensor_type(), std::move(tensor));
}

// Runs a block operation that returns a tensor with the interpreter lock released.
template <class Operation>
PyRef computed_tensor(Operation&& operation) {
    return tensor_object(run_computation(std::forward<Operation>(operation)));
}

// --- construction -------------------------------------------------------------------------

PyObject* block_tensor_zeros(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames) noexcept {
    return guarded_object([&] {
        const auto [legs] = bind_fastcall_arguments<1>(args, nargs, kwnames, "zeros", {"legs"});
        std::vector<blocks::Leg> leg_list = convert_argument("legs", legs, to_leg_list);
        return computed_tensor([&](CallContext& context) {
            return BlockTensor::zeros(std::move(leg_list), context);
        });
    });
}

PyObject* block_tensor_random(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames) noexcept {
    return guarded_object([&] {
        const auto [legs, seed] =
            bind_fastcall_arguments<2>(args, nargs, kwnames, "random", {"legs", "seed"}, 1);
        std::vector<blocks::Leg> leg_list = convert_argument("legs", legs, to_leg_list);
        const std::uint64_t seed_value =
            seed == nullptr ? 0 : convert_argument("seed", seed, to_seed);
        return computed_tensor([&](CallContext& context) {
            return BlockTensor::random(std::move(leg_list), seed_value, context);
        });
    });
}

PyObject* block_tensor_from_dense(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                  PyObject* kwnames) noexcept {
    return guarded_object([&] {
        const auto [legs, array] =
            bind_fastcall_arguments<2>(args, nargs, kwnames, "from_dense", {"legs", "array"});
        std::vector<blocks::Leg> leg_list = convert_argument("legs", legs, to_leg_list);
        const Tensor dense = convert_argument("array", array, to_float64_tensor);
        return computed_tensor([&](CallContext& context) {
            return blocks::from_dense(std::move(leg_list), dense, context);
        });
    });
}

[[noreturn]] void raise_no_sectors(PyObject* key) {
    PyRef text = checked(PyObject_Repr(key));
    const char* utf8 = PyUnicode_AsUTF8AndSize(text.get(), nullptr);
    if (utf8 == nullptr) throw_python_error();
    raise_value_error(std::string("blocks[") + utf8 +
                      "]: the legs have no sectors of these spins, a sector of each leg in order");
}

// The sector positions of a key of doubled spins, one per leg.
blocks::SectorTuple sectors_of_key(const std::vector<blocks::Leg>& legs, PyObject* key) {
    std::vector<std::uint64_t> spins;
    try {
        spins = to_uint64_list(key);
    } catch (const ArgumentValueError&) {
        raise_no_sectors(key);  // a negative spin
    }
    if (spins.size() != legs.size()) raise_no_sectors(key);
    blocks::SectorTuple sectors;
    for (std::size_t k = 0; k < spins.size(); ++k) {
        const auto at = spins[k] <= static_cast<std::uint64_t>(INT32_MAX)
                            ? legs[k].find(static_cast<std::int32_t>(spins[k]))
                            : std::nullopt;
        if (!at) raise_no_sectors(key);
        sectors.push_back(static_cast<std::uint32_t>(*at));
    }
    return sectors;
}

}  // namespace

PyRef tensor_from_blocks(PyObject* legs, PyObject* blocks_object) {
    std::vector<blocks::Leg> leg_list = convert_argument("legs", legs, to_leg_list);
    if (!PyDict_Check(blocks_object)) {
        PyErr_SetString(PyExc_TypeError, "argument 'blocks': expected a dict");
        throw_python_error();
    }
    // A list of the items: converting an array may run Python code that changes the dict.
    PyRef items = checked(PyDict_Items(blocks_object));
    std::vector<blocks::Block> given;
    for (Py_ssize_t i = 0; i < PyList_Size(items.get()); ++i) {
        PyObject* item = PyList_GetItem(items.get(), i);  // borrowed from the list we own
        blocks::SectorTuple sectors =
            convert_argument("blocks", PyTuple_GetItem(item, 0),
                             [&](PyObject* key) { return sectors_of_key(leg_list, key); });
        given.push_back({std::move(sectors), convert_argument("blocks", PyTuple_GetItem(item, 1),
                                                              to_float64_tensor)});
    }
    return computed_tensor([&](CallContext& context) {
        return BlockTensor::from_blocks(std::move(leg_list), std::move(given), context);
    });
}

namespace {

PyObject* block_tensor_from_blocks(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                   PyObject* kwnames) noexcept {
    return guarded_object([&] {
        const auto [legs, blocks_object] =
            bind_fastcall_arguments<2>(args, nargs, kwnames, "from_blocks", {"legs", "blocks"});
        return tensor_from_blocks(legs, blocks_object);
    });
}

// --- reading --------------------------------------------------------------------------------

PyObject* block_tensor_legs(PyObject* self, void*) noexcept {
    return guarded_object([&] { return to_python(self_tensor(self).legs()); });
}

// The blocks as a new dict from the tuple of each block's doubled spins to a copy of its array.
PyRef blocks_dict(const BlockTensor& t) {
    PyRef dict = checked(PyDict_New());
    for (const blocks::Block& block : t.blocks()) {
        const std::vector<std::int32_t> spins = t.spins_of(block.sectors);
        PyRef key = checked(PyTuple_New(static_cast<Py_ssize_t>(spins.size())));
        for (std::size_t k = 0; k < spins.size(); ++k) {
            checked_status(PyTuple_SetItem(key.get(), static_cast<Py_ssize_t>(k),
                                           to_python(spins[k]).release()));
        }
        PyRef array = to_numpy_array(block.data);
        checked_status(PyDict_SetItem(dict.get(), key.get(), array.get()));
    }
    return dict;
}

PyObject* block_tensor_blocks(PyObject* self, void*) noexcept {
    return guarded_object([&] { return blocks_dict(self_tensor(self)); });
}

// (legs, blocks): what from_blocks takes.
PyRef block_tensor_state(const BlockTensor& t) {
    PyRef legs = to_python(t.legs());
    PyRef blocks = blocks_dict(t);
    return checked(PyTuple_Pack(2, legs.get(), blocks.get()));
}

PyObject* block_tensor_to_dense(PyObject* self, PyObject*) noexcept {
    return guarded_object([&] {
        const BlockTensor& t = self_tensor(self);
        return to_numpy_array(run_computation(
            [&](CallContext& context) { return blocks::to_dense(t, context); }));
    });
}

PyObject* block_tensor_copy(PyObject* self, PyObject*) noexcept {
    return guarded_object([&] { return tensor_object(self_tensor(self)); });
}

std::string block_tensor_repr(const BlockTensor& t) {
    std::string text = "BlockTensor([";
    for (std::size_t k = 0; k < t.rank(); ++k) {
        const blocks::Leg& leg = t.legs()[k];
        text += k > 0 ? ", " : "";
        text += leg.direction().is_incoming() ? "Leg.incoming({" : "Leg.outgoing({";
        for (std::size_t i = 0; i < leg.sector_count(); ++i) {
            text += (i > 0 ? ", " : "") + std::to_string(leg.twice_j(i)) + ": " +
                    std::to_string(leg.multiplicity(i));
        }
        text += "})";
    }
    return text + "], blocks=" + std::to_string(t.blocks().size()) + ")";
}

// --- comparison and arithmetic ---------------------------------------------------------------

double default_tolerance(const BlockTensor& t) {
    double largest = 1.0;
    for (const blocks::Block& block : t.blocks()) {
        for (const double x : block.data.data()) largest = std::max(largest, std::abs(x));
    }
    return 1e-12 * largest;
}

PyObject* block_tensor_richcompare(PyObject* self, PyObject* other, int op) noexcept {
    return guarded_object([&] {
        if ((op != Py_EQ && op != Py_NE) || !PyObject_TypeCheck(other, block_tensor_type())) {
            return PyRef::borrow(Py_NotImplemented);
        }
        const BlockTensor& a = self_tensor(self);
        const BlockTensor& b = self_tensor(other);
        const bool equal = blocks::all_close(a, b, 0.0,
                                             std::max(default_tolerance(a), default_tolerance(b)));
        return to_python(equal == (op == Py_EQ));
    });
}

PyObject* block_tensor_allclose(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                PyObject* kwnames) noexcept {
    return guarded_object([&] {
        const auto [other, rtol, atol] = bind_fastcall_arguments<3>(
            args, nargs, kwnames, "allclose", {"other", "rtol", "atol"}, 1);
        const BlockTensor& b = convert_argument("other", other, to_block_tensor);
        const auto number = [](const char* name, PyObject* value, double otherwise) {
            return value == nullptr ? otherwise
                                    : convert_argument(name, value, to_non_negative_float);
        };
        return to_python(blocks::all_close(self_tensor(self), b, number("rtol", rtol, 1e-12),
                                           number("atol", atol, 1e-12)));
    });
}

// A Python number, or nothing for anything else.
std::optional<double> as_scalar(PyObject* object) {
    if (!PyFloat_Check(object) && !PyLong_Check(object) && !PyIndex_Check(object)) {
        PyRef as_float = PyRef::steal(PyNumber_Float(object));
        if (!as_float) {
            PyErr_Clear();
            return std::nullopt;
        }
        return PyFloat_AsDouble(as_float.get());
    }
    const double x = PyFloat_AsDouble(object);
    if (x == -1.0 && PyErr_Occurred()) throw_python_error();
    return x;
}

template <double Sign>
PyObject* block_tensor_sum(PyObject* left, PyObject* right) noexcept {
    return guarded_object([&] {
        if (!PyObject_TypeCheck(left, block_tensor_type()) ||
            !PyObject_TypeCheck(right, block_tensor_type())) {
            return PyRef::borrow(Py_NotImplemented);
        }
        const BlockTensor& a = self_tensor(left);
        const BlockTensor& b = self_tensor(right);
        return computed_tensor(
            [&](CallContext&) { return blocks::linear_combination(1.0, a, Sign, b); });
    });
}

PyObject* block_tensor_multiply(PyObject* left, PyObject* right) noexcept {
    return guarded_object([&] {
        const bool tensor_left = PyObject_TypeCheck(left, block_tensor_type());
        const std::optional<double> factor = as_scalar(tensor_left ? right : left);
        if (!factor) return PyRef::borrow(Py_NotImplemented);
        const BlockTensor& t = self_tensor(tensor_left ? left : right);
        return computed_tensor(
            [&](CallContext&) { return Result<BlockTensor>(blocks::scaled(t, *factor)); });
    });
}

PyObject* block_tensor_divide(PyObject* left, PyObject* right) noexcept {
    return guarded_object([&] {
        const std::optional<double> divisor =
            PyObject_TypeCheck(left, block_tensor_type()) ? as_scalar(right) : std::nullopt;
        if (!divisor) return PyRef::borrow(Py_NotImplemented);
        if (*divisor == 0.0) {
            PyErr_SetString(PyExc_ZeroDivisionError, "division of a block tensor by zero");
            throw_python_error();
        }
        const BlockTensor& t = self_tensor(left);
        return computed_tensor(
            [&](CallContext&) { return Result<BlockTensor>(blocks::scaled(t, 1.0 / *divisor)); });
    });
}

PyObject* block_tensor_negative(PyObject* self) noexcept {
    return guarded_object([&] { return tensor_object(blocks::scaled(self_tensor(self), -1.0)); });
}

PyObject* block_tensor_inner(PyObject* self, PyObject* args, PyObject* kwargs) noexcept {
    return guarded_object([&] {
        const auto [other] = bind_arguments<1>(args, kwargs, "inner", {"other"});
        const BlockTensor& b = convert_argument("other", other, to_block_tensor);
        const BlockTensor& a = self_tensor(self);
        return to_python(run_computation([&](CallContext&) { return blocks::inner(a, b); }));
    });
}

PyObject* block_tensor_norm(PyObject* self, PyObject*) noexcept {
    return guarded_object([&] {
        const BlockTensor& a = self_tensor(self);
        return to_python(
            run_computation([&](CallContext&) { return Result<double>(blocks::norm(a)); }));
    });
}

// --- legs ---------------------------------------------------------------------------------------

PyObject* block_tensor_conj(PyObject* self, PyObject*) noexcept {
    return guarded_object([&] { return tensor_object(blocks::conjugate(self_tensor(self))); });
}

PyObject* block_tensor_flip(PyObject* self, PyObject* args, PyObject* kwargs) noexcept {
    return guarded_object([&] {
        const auto [leg] = bind_arguments<1>(args, kwargs, "flip", {"leg"});
        const std::size_t position = convert_argument("leg", leg, to_position);
        return tensor_object(take(blocks::flip_leg(self_tensor(self), position)));
    });
}

PyObject* block_tensor_permute(PyObject* self, PyObject* args, PyObject* kwargs) noexcept {
    return guarded_object([&] {
        const auto [permutation] =
            bind_arguments<1>(args, kwargs, "permute", {"permutation"});
        const std::vector<std::size_t> order =
            convert_argument("permutation", permutation, to_position_list);
        const BlockTensor& t = self_tensor(self);
        return computed_tensor(
            [&](CallContext& context) { return blocks::permute(t, order, context); });
    });
}

PyObject* block_tensor_fuse(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames) noexcept {
    return guarded_object([&] {
        const auto [first, count, direction] = bind_fastcall_arguments<3>(
            args, nargs, kwnames, "fuse", {"first", "count", "direction"}, 2);
        const std::size_t at = convert_argument("first", first, to_position);
        const std::size_t how_many = convert_argument("count", count, to_position);
        const BlockTensor& t = self_tensor(self);
        const Direction fused =
            direction != nullptr && direction != Py_None
                ? convert_argument("direction", direction, to_direction)
                : (at < t.rank() ? t.legs()[at].direction() : Direction::incoming());
        return computed_tensor([&](CallContext& context) {
            return blocks::fuse(t, at, how_many, fused, context);
        });
    });
}

PyObject* block_tensor_split(PyObject* self, PyObject* args, PyObject* kwargs) noexcept {
    return guarded_object([&] {
        const auto [position, legs] =
            bind_arguments<2>(args, kwargs, "split", {"position", "legs"});
        const std::size_t at = convert_argument("position", position, to_position);
        std::vector<blocks::Leg> parts = convert_argument("legs", legs, to_leg_list);
        const BlockTensor& t = self_tensor(self);
        return computed_tensor([&](CallContext& context) {
            return blocks::split(t, at, std::move(parts), context);
        });
    });
}

// --- factorisations -----------------------------------------------------------------------------

PyRef spin_values_dict(const std::vector<blocks::SpinValues>& values) {
    PyRef dict = checked(PyDict_New());
    for (const blocks::SpinValues& spin : values) {
        Tensor array = *Tensor::from_row_major({spin.values.size()}, spin.values);
        checked_status(PyDict_SetItem(dict.get(), to_python(spin.twice_k).get(),
                                      to_numpy_array(std::move(array)).get()));
    }
    return dict;
}

PyObject* block_tensor_svd(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                           PyObject* kwnames) noexcept {
    return guarded_object([&] {
        const auto [cut, max_multiplets, max_discarded_weight] = bind_fastcall_arguments<3>(
            args, nargs, kwnames, "svd", {"cut", "max_multiplets", "max_discarded_weight"}, 1);
        const std::size_t position = convert_argument("cut", cut, to_position);
        blocks::Truncation truncation;
        if (max_multiplets != nullptr && max_multiplets != Py_None) {
            truncation.max_multiplets =
                convert_argument("max_multiplets", max_multiplets, to_count);
        }
        if (max_discarded_weight != nullptr && max_discarded_weight != Py_None) {
            truncation.max_discarded_weight = convert_argument(
                "max_discarded_weight", max_discarded_weight, to_non_negative_float);
        }
        const BlockTensor& t = self_tensor(self);
        blocks::SingularValueFactors f = run_computation([&](CallContext&) {
            return blocks::singular_value_decomposition(t, position, truncation);
        });
        PyRef u = tensor_object(std::move(f.u));
        PyRef s = tensor_object(std::move(f.s));
        PyRef v = tensor_object(std::move(f.v));
        PyRef weight = to_python(f.discarded_weight);
        return checked(PyTuple_Pack(4, u.get(), s.get(), v.get(), weight.get()));
    });
}

PyObject* block_tensor_qr(PyObject* self, PyObject* args, PyObject* kwargs) noexcept {
    return guarded_object([&] {
        const auto [cut] = bind_arguments<1>(args, kwargs, "qr", {"cut"});
        const std::size_t position = convert_argument("cut", cut, to_position);
        const BlockTensor& t = self_tensor(self);
        blocks::QrFactors f = run_computation(
            [&](CallContext&) { return blocks::qr_decomposition(t, position); });
        PyRef q = tensor_object(std::move(f.q));
        PyRef r = tensor_object(std::move(f.r));
        return checked(PyTuple_Pack(2, q.get(), r.get()));
    });
}

PyObject* block_tensor_eigh(PyObject* self, PyObject*) noexcept {
    return guarded_object([&] {
        const BlockTensor& t = self_tensor(self);
        blocks::Eigensystem system = run_computation(
            [&](CallContext& context) { return blocks::hermitian_eigensystem(t, context); });
        PyRef values = spin_values_dict(system.eigenvalues);
        PyRef vectors = tensor_object(std::move(system.vectors));
        return checked(PyTuple_Pack(2, values.get(), vectors.get()));
    });
}

PyObject* block_tensor_singular_values(PyObject* self, PyObject*) noexcept {
    return guarded_object([&] {
        // The diagonal of a tensor S of svd: its blocks' diagonals over sqrt(2k + 1).
        const BlockTensor& s = self_tensor(self);
        if (s.rank() != 2 || s.legs()[1] != s.legs()[0].flipped() ||
            !s.legs()[0].direction().is_incoming()) {
            raise_value_error("singular_values is for the diagonal s of svd, of legs (bond "
                              "incoming, bond outgoing); got a tensor of " +
                              std::to_string(s.rank()) + (s.rank() == 1 ? " leg" : " legs") +
                              (s.rank() == 2 ? " that are not such a pair" : ""));
        }
        std::vector<blocks::SpinValues> values;
        for (const blocks::Block& block : s.blocks()) {
            const std::int32_t twice_k = s.legs()[0].twice_j(block.sectors[0]);
            const std::uint64_t n = block.data.shape()[0];
            blocks::SpinValues spin{twice_k, {}};
            for (std::uint64_t i = 0; i < n && i < block.data.shape()[1]; ++i) {
                spin.values.push_back(block.data.data()[i * block.data.shape()[1] + i] /
                                      std::sqrt(twice_k + 1.0));
            }
            values.push_back(std::move(spin));
        }
        return spin_values_dict(values);
    });
}

PyMethodDef block_tensor_methods[] = {
    {"zeros", as_method(block_tensor_zeros), METH_FASTCALL | METH_KEYWORDS | METH_STATIC,
     docs::block_tensor_zeros},
    {"random", as_method(block_tensor_random), METH_FASTCALL | METH_KEYWORDS | METH_STATIC,
     docs::block_tensor_random},
    {"from_dense", as_method(block_tensor_from_dense),
     METH_FASTCALL | METH_KEYWORDS | METH_STATIC, docs::block_tensor_from_dense},
    {"from_blocks", as_method(block_tensor_from_blocks),
     METH_FASTCALL | METH_KEYWORDS | METH_STATIC, docs::block_tensor_from_blocks},
    {"to_dense", as_method(block_tensor_to_dense), METH_NOARGS, docs::block_tensor_to_dense},
    {"copy", as_method(block_tensor_copy), METH_NOARGS, docs::block_tensor_copy},
    {"__reduce__", reduce_method<BlockTensor, block_tensor_state>, METH_NOARGS, docs::reduce},
    {"allclose", as_method(block_tensor_allclose), METH_FASTCALL | METH_KEYWORDS,
     docs::block_tensor_allclose},
    {"inner", as_method(block_tensor_inner), METH_VARARGS | METH_KEYWORDS,
     docs::block_tensor_inner},
    {"norm", as_method(block_tensor_norm), METH_NOARGS, docs::block_tensor_norm},
    {"conj", as_method(block_tensor_conj), METH_NOARGS, docs::block_tensor_conj},
    {"flip", as_method(block_tensor_flip), METH_VARARGS | METH_KEYWORDS,
     docs::block_tensor_flip},
    {"permute", as_method(block_tensor_permute), METH_VARARGS | METH_KEYWORDS,
     docs::block_tensor_permute},
    {"fuse", as_method(block_tensor_fuse), METH_FASTCALL | METH_KEYWORDS,
     docs::block_tensor_fuse},
    {"split", as_method(block_tensor_split), METH_VARARGS | METH_KEYWORDS,
     docs::block_tensor_split},
    {"svd", as_method(block_tensor_svd), METH_FASTCALL | METH_KEYWORDS, docs::block_tensor_svd},
    {"qr", as_method(block_tensor_qr), METH_VARARGS | METH_KEYWORDS, docs::block_tensor_qr},
    {"eigh", as_method(block_tensor_eigh), METH_NOARGS, docs::block_tensor_eigh},
    {"singular_values", as_method(block_tensor_singular_values), METH_NOARGS,
     docs::block_tensor_singular_values},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef block_tensor_properties[] = {
    {"legs", block_tensor_legs, nullptr, docs::block_tensor_legs, nullptr},
    {"blocks", block_tensor_blocks, nullptr, docs::block_tensor_blocks, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot block_tensor_slots[] = {
    {Py_tp_doc, const_cast<char*>(docs::block_tensor_class)},
    {Py_tp_dealloc, as_slot(dealloc_value_object<BlockTensor>)},
    {Py_tp_repr, as_slot(text_slot<BlockTensor, block_tensor_repr>)},
    {Py_tp_str, as_slot(text_slot<BlockTensor, block_tensor_repr>)},
    {Py_tp_hash, as_slot(PyObject_HashNotImplemented)},
    {Py_tp_richcompare, as_slot(block_tensor_richcompare)},
    {Py_nb_add, as_slot(block_tensor_sum<1.0>)},
    {Py_nb_subtract, as_slot(block_tensor_sum<-1.0>)},
    {Py_nb_multiply, as_slot(block_tensor_multiply)},
    {Py_nb_true_divide, as_slot(block_tensor_divide)},
    {Py_nb_negative, as_slot(block_tensor_negative)},
    {Py_tp_methods, block_tensor_methods},
    {Py_tp_getset, block_tensor_properties},
    {0, nullptr},
};

PyType_Spec block_tensor_spec = {"builtins.BlockTensor", value_object_size<BlockTensor>(), 0,
                                 value_type_flags_without_constructor, block_tensor_slots};

}  // namespace

PyTypeObject* block_tensor_type() {
    static CreatedOnce<PyTypeObject*> type;
    return type.get([] { return new_heap_type(block_tensor_spec); });
}

PyRef to_python(blocks::BlockTensor&& tensor) { return tensor_object(std::move(tensor)); }

}  // namespace tavrin::bindings
