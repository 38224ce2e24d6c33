// Knot family, Fourier blocks: the block and ideal-record classes, fourier_knot, the readers and the descriptors.
#include "python/knot_py.hpp"
#include "python/paths.hpp"
#include "python/text.hpp"

#include <cstddef>
#include <exception>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include <pybind11/typing.h>

namespace knot_py {

// A method's self as both the C++ object and the Python object, for methods that make other Python
// objects keep their self alive.
template <class T>
struct SelfObject {
    T* value = nullptr;
    py::handle object;
};

}  // namespace knot_py

namespace pybind11::detail {

template <class T>
struct type_caster<knot_py::SelfObject<T>> {
    PYBIND11_TYPE_CASTER(knot_py::SelfObject<T>, make_caster<T>::name);

    bool load(handle src, bool convert) {
        make_caster<T> caster;
        if (!caster.load(src, convert)) return false;
        value.value = &cast_op<T&>(caster);
        value.object = src;
        return true;
    }

    // Only ever an argument.
    static handle cast(const knot_py::SelfObject<T>&, return_value_policy, handle) { return none().release(); }
};

}  // namespace pybind11::detail

namespace knot_py {

namespace {

constexpr const char* kComponentsDoc =
    "The components of the record. An element taken from this list refers into the record: writing its "
    "fields changes the record. Once this field is assigned, an element taken earlier keeps its last values, "
    "detached from the record.";
constexpr const char* kBlocksDoc =
    "The blocks read by loadBlocks. An element taken from this list refers into the object: writing its "
    "fields changes the object. Once this field is assigned or loadBlocks is called, an element taken "
    "earlier keeps its last values, detached from the object.";

// The elements of a vector field, handed to Python by reference. While the owner's vector stands, an
// element taken from it points into it, so that writing its fields changes the owner. Before the vector is
// replaced (the field assigned, loadBlocks), it is moved into the storage object that the elements taken
// from it keep alive: a moved vector keeps its buffer, so those elements go on reading and writing their
// last values, detached from the owner, and the buffer is freed with the last of them.
template <class Owner, class Elem, std::vector<Elem> Owner::*Field>
class HandedOutElements {
public:
    static py::typing::List<Elem> get(SelfObject<Owner> self) {
        Owner& owner = *self.value;
        std::vector<Elem>& elems = owner.*Field;
        py::typing::List<Elem> out(elems.size());
        if (elems.empty()) return out;
        const py::object storage = storage_of(owner, self.object);
        // Taken once: should the vector be replaced while the wrappers are made, it moves into `storage`,
        // which keeps its buffer, so the remaining elements are taken from the values the list began with.
        Elem* const data = elems.data();
        const std::size_t n = elems.size();
        for (std::size_t i = 0; i < n; ++i) {
            py::object element = py::cast(&data[i], py::return_value_policy::reference);
            // py::cast hands back a failed conversion as a null object, with the Python error set.
            if (!element) throw py::error_already_set();
            // A wrapper still alive from an earlier read is returned again and already keeps this storage.
            if (Py_REFCNT(element.ptr()) == 1) py::detail::keep_alive_impl(element, storage);
            PyList_SET_ITEM(out.ptr(), static_cast<Py_ssize_t>(i), element.release().ptr());
        }
        return out;
    }

    static void set(Owner& owner, std::vector<Elem> value) {
        detach(owner);
        owner.*Field = std::move(value);
    }

    // Elements taken so far stop referring into the owner; call before anything replaces its vector.
    static void detach(Owner& owner) {
        const auto it = attached().find(&owner);
        if (it == attached().end()) return;
        Storage* storage = it->second;
        attached().erase(it);
        storage->kept = std::move(owner.*Field);
        storage->owner = nullptr;
        // The caller still holds the owner, so this never destroys it.
        Py_DECREF(std::exchange(storage->owner_object, nullptr));
    }

private:
    struct Storage {
        Owner* owner;            // null once detached
        PyObject* owner_object;  // held while attached: the elements point into its vector
        PyObject* capsule;       // the Python object the elements keep alive (not owned)
        std::vector<Elem> kept;  // the replaced vector, once detached
    };

    // Owners whose vector has elements in Python. Never destroyed: storage objects may outlive the
    // module's static data at interpreter exit.
    static std::unordered_map<const Owner*, Storage*>& attached() {
        static auto* map = new std::unordered_map<const Owner*, Storage*>();
        return *map;
    }

    static py::object storage_of(Owner& owner, py::handle self) {
        const auto it = attached().find(&owner);
        if (it != attached().end()) return py::reinterpret_borrow<py::object>(it->second->capsule);
        auto* storage = new Storage{&owner, self.inc_ref().ptr(), nullptr, {}};
        py::capsule capsule;
        try {
            capsule = py::capsule(storage, &release);
        } catch (...) {
            Py_DECREF(storage->owner_object);
            delete storage;
            throw;
        }
        storage->capsule = capsule.ptr();
        attached().emplace(&owner, storage);
        return std::move(capsule);
    }

    // Runs when the last element taken from this storage is gone.
    static void release(void* p) {
        auto* storage = static_cast<Storage*>(p);
        if (storage->owner != nullptr) {
            attached().erase(storage->owner);
            Py_DECREF(storage->owner_object);
        }
        delete storage;
    }
};

using Blocks = HandedOutElements<FourierKnot, FourierBlock, &FourierKnot::blocks>;
using Components = HandedOutElements<IdealABBlock, IdealABComponent, &IdealABBlock::components>;

}  // namespace

void bind_fourier_records(py::module_& m) {
    py::class_<FourierBlock> block(m, "FourierBlock");
    block.def(py::init<>());
    tarq_py::def_text_field(block, "header", &FourierBlock::header);
    block.def_readwrite("a_x", &FourierBlock::a_x)
        .def_readwrite("b_x", &FourierBlock::b_x)
        .def_readwrite("a_y", &FourierBlock::a_y)
        .def_readwrite("b_y", &FourierBlock::b_y)
        .def_readwrite("a_z", &FourierBlock::a_z)
        .def_readwrite("b_z", &FourierBlock::b_z);

    py::class_<IdealABComponent>(m, "IdealABComponent")
        .def(py::init<>())
        .def_readwrite("component_index", &IdealABComponent::component_index)
        .def_readwrite("A0", &IdealABComponent::A0)
        .def_readwrite("B0", &IdealABComponent::B0)
        .def_readwrite("fourier", &IdealABComponent::fourier);

    py::class_<IdealABBlock> ab(m, "IdealABBlock");
    ab.def(py::init<>());
    tarq_py::def_text_field(ab, "id", &IdealABBlock::id);
    tarq_py::def_text_field(ab, "conway", &IdealABBlock::conway);
    ab.def_readwrite("L", &IdealABBlock::L)
        .def_readwrite("D", &IdealABBlock::D)
        .def_readwrite("n", &IdealABBlock::n)
        .def_property("components", py::cpp_function(&Components::get, py::is_method(ab)),
                      py::cpp_function(&Components::set, py::is_method(ab)), kComponentsDoc)
        .def_readwrite("fourier", &IdealABBlock::fourier);

    py::class_<FourierKnot> knot(m, "fourier_knot");
    knot.def(py::init<>())
        .def_readwrite("points", &FourierKnot::points)
        .def_property("blocks", py::cpp_function(&Blocks::get, py::is_method(knot)),
                      py::cpp_function(&Blocks::set, py::is_method(knot)), kBlocksDoc)
        .def_readwrite("activeBlock", &FourierKnot::activeBlock)
        .def("loadBlocks",
             [](FourierKnot& self, const tarq_py::FsPath& path) {
                 // Loaded aside: an interrupt leaves the object, and the elements taken from it, as they
                 // were. A failed load leaves no blocks, here as in the library.
                 FourierKnot loaded;
                 std::exception_ptr failure;
                 try {
                     loaded.loadBlocks(path.bytes);
                 } catch (const std::exception&) {
                     failure = std::current_exception();
                 }
                 Blocks::detach(self);
                 self.blocks = std::move(loaded.blocks);
                 if (failure) std::rethrow_exception(failure);
             })
        // Both run on copies of what they read and store only what they change (call_copy.hpp); the blocks
        // stay in place for the elements taken from them.
        .def("selectMaxHarmonics",
             [](FourierKnot& self) {
                 FourierKnot work;
                 work.blocks = self.blocks;
                 work.selectMaxHarmonics();
                 self.activeBlock = std::move(work.activeBlock);
             })
        .def("reconstruct", [](FourierKnot& self, std::size_t N) {
            FourierKnot work;
            work.activeBlock = self.activeBlock;
            work.reconstruct(N);
            self.points = std::move(work.points);
        });
}

// Readers, block lookup and the exact descriptors of single blocks.
void bind_block_functions(py::module_& m) {
    m.def("parse_fseries_multi", tarq_py::with_fs_paths(&FourierKnot::parse_fseries_multi), py::arg("path"),
          "Parse a .fseries file into Fourier blocks.");
    m.def("parse_ideal_txt_multi", tarq_py::with_fs_paths(&FourierKnot::parse_ideal_txt_multi), py::arg("path"),
          "Parse an ideal.txt-style file into IdealABBlock entries.");
    m.def(
        "parse_ideal_txt_from_string",
        [](const tarq_py::Text& content) { return FourierKnot::parse_ideal_txt_from_string(content.bytes); },
        py::arg("content"), "Parse ideal.txt-style content string into IdealABBlock entries.");
    m.def(
        "index_of_ideal_id",
        [](const std::vector<IdealABBlock>& blocks, const tarq_py::Text& id) {
            return FourierKnot::index_of_ideal_id(blocks, id.bytes);
        },
        py::arg("blocks"), py::arg("id"), "Return index of IdealABBlock with given id, or -1 if not found.");
    m.def("index_of_largest_block", &FourierKnot::index_of_largest_block, py::arg("blocks"),
          "Return index of block with most harmonics.");
    tarq_py::def_by_record(m, "evaluate_fourier_block", &FourierKnot::evaluate, py::arg("block"), py::arg("s"),
          "Evaluate r(s) for the given Fourier block.");
    tarq_py::def_by_record(m, "evaluate_with_derivatives", &FourierKnot::evaluate_with_derivatives, py::arg("block"), py::arg("s"),
          "Evaluate Fourier block and its first three derivatives at parameter s.");
    tarq_py::def_by_record(m, "curvature_exact", &FourierKnot::curvature_exact, py::arg("block"), py::arg("s"), py::arg("eps") = 1e-12,
          "Compute exact curvature from Fourier coefficients at sample parameters.");
    tarq_py::def_by_record(m, "length_exact", &FourierKnot::length_exact, py::arg("block"), py::arg("nsamples") = 4096,
          "Compute exact length of Fourier curve by sampling.");
    tarq_py::def_by_record(m, "bending_energy_exact", &FourierKnot::bending_energy_exact, py::arg("block"), py::arg("nsamples") = 4096,
          py::arg("eps") = 1e-12, "Compute bending energy integral of Fourier curve.");
    tarq_py::def_by_record(m, "mode_energies", &FourierKnot::mode_energies, py::arg("block"),
          "Compute per-mode energy from Fourier coefficients.");
    m.def("min_self_distance_sampled", &FourierKnot::min_self_distance_sampled, py::arg("points"),
          py::arg("exclude_window") = 4, "Compute minimum self-distance of a closed polygonal curve.");
    tarq_py::def_by_record(m, "min_self_distance_exactish", &FourierKnot::min_self_distance_exactish, py::arg("block"),
          py::arg("nsamples") = 2048, py::arg("exclude_window") = 4,
          "Estimate minimum self-distance of Fourier curve via sampling.");
}

void bind_descriptors(py::module_& m) {
    using GD = FourierKnot::GeometricDescriptors;
    py::class_<GD>(m, "GeometricDescriptors")
        .def_readonly("L", &GD::L)
        .def_readonly("bending_energy", &GD::bending_energy)
        .def_readonly("min_self_distance", &GD::min_self_distance)
        .def_readonly("writhe", &GD::writhe)
        .def_readonly("mode_energy", &GD::mode_energy);

    tarq_py::def_by_record(m, "describe_fourier_block", &FourierKnot::describe_fourier_block, py::arg("block"), py::arg("nsamples") = 2048, py::arg("exclude_window") = 4,
        "Compute geometric descriptors (length, bending energy, self-distance, writhe, mode energies) for a "
        "Fourier block.");

    m.def(
        "fourier_knot_eval",
        [](const CArray& a_x, const CArray& b_x, const CArray& a_y, const CArray& b_y, const CArray& a_z,
           const CArray& b_z, const CArray& s) {
            check_1d_same_len(a_x, b_x, "a_x/b_x");
            check_1d_same_len(a_y, b_y, "a_y/b_y");
            check_1d_same_len(a_z, b_z, "a_z/b_z");
            require(s.ndim() == 1, "fourier_knot_eval: s must be 1D");
            // The block is sized by the x pair; y or z coefficients the caller did not give count as zero.
            const std::size_t n = static_cast<std::size_t>(a_x.shape(0));
            FourierBlock block;
            const CArray* src[6] = {&a_x, &b_x, &a_y, &b_y, &a_z, &b_z};
            std::vector<double>* dst[6] = {&block.a_x, &block.b_x, &block.a_y, &block.b_y, &block.a_z, &block.b_z};
            for (int c = 0; c < 6; ++c) {
                const std::size_t have = static_cast<std::size_t>(src[c]->shape(0));
                const double* p = src[c]->data();
                dst[c]->assign(n, 0.0);
                for (std::size_t k = 0; k < n && k < have; ++k) (*dst[c])[k] = p[k];
            }
            const Polyline pts = FourierKnot::evaluate(block, tarq_py::to_doubles(s));
            const auto len = static_cast<py::ssize_t>(pts.size());
            py::array_t<double> x(len), y(len), z(len);
            auto wx = x.mutable_unchecked<1>();
            auto wy = y.mutable_unchecked<1>();
            auto wz = z.mutable_unchecked<1>();
            for (py::ssize_t i = 0; i < len; ++i) {
                const Vec3& p = pts[static_cast<std::size_t>(i)];
                wx(i) = p[0];
                wy(i) = p[1];
                wz(i) = p[2];
            }
            return py::make_tuple(x, y, z);
        },
        py::arg("a_x"), py::arg("b_x"), py::arg("a_y"), py::arg("b_y"), py::arg("a_z"), py::arg("b_z"), py::arg("s"),
        "NumPy-friendly Fourier evaluation returning (x,y,z)");
}

}  // namespace knot_py
