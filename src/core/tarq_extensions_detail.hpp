// Helpers shared by the .fseries file-tool units; not part of the tools' interface.
#pragma once

#include <string>

#include "core/tarq_extensions.hpp"
#include "core/types.hpp"

namespace tarq::tarqext::detail {

// The first block with the most rows of a regular .fseries file; "no blocks parsed from: " + path when
// the file cannot be read or holds no block.
FourierBlock largest_block_of_file(const std::string& path);

// helicity_from_fseries, with argument errors led by `operation`.
HelicityResult helicity_of_file(const char* operation, const std::string& path, int grid_size, double spacing,
                                int interior_margin, int nsamples);

// Rejects grids whose flat indices would leave 32 bits and negative margins, with std::invalid_argument
// led by `operation`.
void check_helicity_grid(const char* operation, int grid_size, int interior_margin);

}  // namespace tarq::tarqext::detail
