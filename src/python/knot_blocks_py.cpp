// Knot family, Fourier blocks: the block and ideal-record classes, fourier_knot, the readers and the descriptors.
#include "python/knot_py.hpp"

#include <string>
#include <vector>

namespace knot_py {

namespace {

// Elements read from these lists refer into the record's own storage (writes to their fields go through);
// assigning the list or reloading replaces that storage, so kept elements would refer to freed memory.
constexpr const char* kComponentsDoc =
    "The components of the record. An element taken from this list refers into the record: take it again "
    "after assigning this field, and do not keep it across the assignment.";
constexpr const char* kBlocksDoc =
    "The blocks read by loadBlocks. An element taken from this list refers into the object: take it again "
    "after assigning this field or calling loadBlocks, and do not keep it across either.";

}  // namespace

void bind_fourier_records(py::module_& m) {
    py::class_<FourierBlock>(m, "FourierBlock")
        .def(py::init<>())
        .def_readwrite("header", &FourierBlock::header)
        .def_readwrite("a_x", &FourierBlock::a_x)
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

    py::class_<IdealABBlock>(m, "IdealABBlock")
        .def(py::init<>())
        .def_readwrite("id", &IdealABBlock::id)
        .def_readwrite("conway", &IdealABBlock::conway)
        .def_readwrite("L", &IdealABBlock::L)
        .def_readwrite("D", &IdealABBlock::D)
        .def_readwrite("n", &IdealABBlock::n)
        .def_readwrite("components", &IdealABBlock::components, kComponentsDoc)
        .def_readwrite("fourier", &IdealABBlock::fourier);

    py::class_<FourierKnot>(m, "fourier_knot")
        .def(py::init<>())
        .def_readwrite("points", &FourierKnot::points)
        .def_readwrite("blocks", &FourierKnot::blocks, kBlocksDoc)
        .def_readwrite("activeBlock", &FourierKnot::activeBlock)
        .def("loadBlocks", &FourierKnot::loadBlocks)
        .def("selectMaxHarmonics", &FourierKnot::selectMaxHarmonics)
        .def("reconstruct", &FourierKnot::reconstruct);
}

// Readers, block lookup and the exact descriptors of single blocks.
void bind_block_functions(py::module_& m) {
    m.def("parse_fseries_multi", &FourierKnot::parse_fseries_multi, py::arg("path"),
          "Parse a .fseries file into Fourier blocks.");
    m.def("parse_ideal_txt_multi", &FourierKnot::parse_ideal_txt_multi, py::arg("path"),
          "Parse an ideal.txt-style file into IdealABBlock entries.");
    m.def("parse_ideal_txt_from_string", &FourierKnot::parse_ideal_txt_from_string, py::arg("content"),
          "Parse ideal.txt-style content string into IdealABBlock entries.");
    m.def("index_of_ideal_id", &FourierKnot::index_of_ideal_id, py::arg("blocks"), py::arg("id"),
          "Return index of IdealABBlock with given id, or -1 if not found.");
    m.def("index_of_largest_block", &FourierKnot::index_of_largest_block, py::arg("blocks"),
          "Return index of block with most harmonics.");
    m.def("evaluate_fourier_block", tarq_py::by_record(&FourierKnot::evaluate), py::arg("block"), py::arg("s"),
          "Evaluate r(s) for the given Fourier block.");
    m.def("evaluate_with_derivatives", tarq_py::by_record(&FourierKnot::evaluate_with_derivatives), py::arg("block"), py::arg("s"),
          "Evaluate Fourier block and its first three derivatives at parameter s.");
    m.def("curvature_exact", tarq_py::by_record(&FourierKnot::curvature_exact), py::arg("block"), py::arg("s"), py::arg("eps") = 1e-12,
          "Compute exact curvature from Fourier coefficients at sample parameters.");
    m.def("length_exact", tarq_py::by_record(&FourierKnot::length_exact), py::arg("block"), py::arg("nsamples") = 4096,
          "Compute exact length of Fourier curve by sampling.");
    m.def("bending_energy_exact", tarq_py::by_record(&FourierKnot::bending_energy_exact), py::arg("block"), py::arg("nsamples") = 4096,
          py::arg("eps") = 1e-12, "Compute bending energy integral of Fourier curve.");
    m.def("mode_energies", tarq_py::by_record(&FourierKnot::mode_energies), py::arg("block"),
          "Compute per-mode energy from Fourier coefficients.");
    m.def("min_self_distance_sampled", &FourierKnot::min_self_distance_sampled, py::arg("points"),
          py::arg("exclude_window") = 4, "Compute minimum self-distance of a closed polygonal curve.");
    m.def("min_self_distance_exactish", tarq_py::by_record(&FourierKnot::min_self_distance_exactish), py::arg("block"),
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

    m.def("describe_fourier_block", tarq_py::by_record(&FourierKnot::describe_fourier_block), py::arg("block"), py::arg("nsamples") = 2048, py::arg("exclude_window") = 4,
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
