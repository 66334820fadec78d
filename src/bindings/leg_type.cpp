// The Python class Leg.
#include <string>

#include "bindings/arguments.hpp"
#include "bindings/block_docstrings.hpp"
#include "bindings/classes.hpp"
#include "bindings/convert.hpp"
#include "bindings/created_once.hpp"
#include "bindings/docstrings.hpp"
#include "bindings/pickling.hpp"
#include "bindings/slots.hpp"
#include "blocks/leg.hpp"
#include "support/bytes_and_text.hpp"

namespace tavrin::bindings {

namespace {

using blocks::Leg;

PyRef new_leg(PyTypeObject* type, Direction direction, PyObject* sectors) {
    auto leg = Leg::create(direction, convert_argument("sectors", sectors, to_sectors));
    return new_value_object(type, take(std::move(leg)));
}

PyObject* leg_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
    return guarded_object([&] {
        const auto [direction, sectors] =
            bind_arguments<2>(args, kwargs, "Leg", {"direction", "sectors"});
        return new_leg(type, convert_argument("direction", direction, to_direction), sectors);
    });
}

template <Direction (*Make)()>
PyObject* leg_with_direction(PyObject*, PyObject* args, PyObject* kwargs) noexcept {
    return guarded_object([&] {
        const auto [sectors] = bind_arguments<1>(
            args, kwargs, Make().is_incoming() ? "incoming" : "outgoing", {"sectors"});
        return new_leg(leg_type(), Make(), sectors);
    });
}

PyObject* leg_multiplicity(PyObject* self, PyObject* args, PyObject* kwargs) noexcept {
    return guarded_object([&] {
        const auto [two_j] = bind_arguments<1>(args, kwargs, "multiplicity", {"two_j"});
        const Leg& leg = value_of<Leg>(self);
        const auto at = leg.find(convert_argument("two_j", two_j, to_int32));
        return to_python(at ? leg.multiplicity(*at) : std::uint64_t{0});
    });
}

PyRef sector_list(const Leg& leg) {
    PyRef list = checked(PyList_New(0));
    for (const blocks::Sector& sector : leg.sectors()) {
        PyRef pair = checked(PyTuple_Pack(2, to_python(sector.twice_j).get(),
                                          to_python(sector.multiplicity).get()));
        checked_status(PyList_Append(list.get(), pair.get()));
    }
    return list;
}

PyObject* leg_sectors(PyObject* self, void*) noexcept {
    return guarded_object([&] { return sector_list(value_of<Leg>(self)); });
}

PyObject* leg_direction(PyObject* self, void*) noexcept {
    return guarded_object([&] { return to_python(value_of<Leg>(self).direction()); });
}

PyObject* leg_flipped(PyObject* self, PyObject*) noexcept {
    return guarded_object([&] { return to_python(value_of<Leg>(self).flipped()); });
}

std::string leg_repr(const Leg& leg) {
    std::string text = leg.direction().is_incoming() ? "Leg.incoming({" : "Leg.outgoing({";
    for (std::size_t i = 0; i < leg.sector_count(); ++i) {
        text += (i > 0 ? ", " : "") + std::to_string(leg.twice_j(i)) + ": " +
                std::to_string(leg.multiplicity(i));
    }
    return text + "})";
}

// The direction code, then 2j and the multiplicity of each sector, all 8-byte little-endian.
Py_hash_t leg_hash(const Leg& leg) {
    std::vector<std::uint8_t> bytes;
    append_little_endian(bytes, leg.direction().code(), 8);
    for (const blocks::Sector& sector : leg.sectors()) {
        append_little_endian(bytes, static_cast<std::uint32_t>(sector.twice_j), 8);
        append_little_endian(bytes, sector.multiplicity, 8);
    }
    return siphash_python_hash(bytes);
}

// (sign of the direction, [(2j, multiplicity), ...])
PyRef leg_state(const Leg& leg) {
    PyRef sign = to_python(leg.direction().sign());
    PyRef sectors = sector_list(leg);
    return checked(PyTuple_Pack(2, sign.get(), sectors.get()));
}

PyMethodDef leg_methods[] = {
    {"incoming", as_method(leg_with_direction<Direction::incoming>),
     METH_VARARGS | METH_KEYWORDS | METH_STATIC, docs::leg_incoming},
    {"outgoing", as_method(leg_with_direction<Direction::outgoing>),
     METH_VARARGS | METH_KEYWORDS | METH_STATIC, docs::leg_outgoing},
    {"dense_dimension", read_method<Leg, &Leg::dense_dimension>, METH_NOARGS,
     docs::leg_dense_dimension},
    {"multiplicity", as_method(leg_multiplicity), METH_VARARGS | METH_KEYWORDS,
     docs::leg_multiplicity},
    {"flipped", as_method(leg_flipped), METH_NOARGS, docs::leg_flipped},
    {"__reduce__", reduce_method<Leg, leg_state>, METH_NOARGS, docs::reduce},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef leg_properties[] = {
    {"direction", leg_direction, nullptr, docs::leg_direction, nullptr},
    {"sectors", leg_sectors, nullptr, docs::leg_sectors, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot leg_slots[] = {
    {Py_tp_doc, const_cast<char*>(docs::leg_class)},
    {Py_tp_new, as_slot(leg_new)},
    {Py_tp_dealloc, as_slot(dealloc_value_object<Leg>)},
    {Py_tp_repr, as_slot(text_slot<Leg, leg_repr>)},
    {Py_tp_str, as_slot(text_slot<Leg, leg_repr>)},
    {Py_tp_hash, as_slot(hash_slot<Leg, leg_hash>)},
    {Py_tp_richcompare, as_slot(richcompare_slot<Leg, false>)},
    {Py_tp_methods, leg_methods},
    {Py_tp_getset, leg_properties},
    {0, nullptr},
};

PyType_Spec leg_spec = {"builtins.Leg", value_object_size<Leg>(), 0, value_type_flags,
                        leg_slots};

}  // namespace

PyTypeObject* leg_type() {
    static CreatedOnce<PyTypeObject*> type;
    return type.get([] { return new_heap_type(leg_spec); });
}

PyRef to_python(const blocks::Leg& leg) { return new_value_object(leg_type(), leg); }

}  // namespace tavrin::bindings
