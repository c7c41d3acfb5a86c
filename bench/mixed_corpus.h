// The benchmarks' corpus: the default synthetic drive, keeping per epoch GGA, GSA, the GSV group,
// RMC and VTG (and, when asked, PQXFI with the receive loop's "Dummy" after every sixth line),
// CR LF ended, as a receiver streams them. 600 epochs, or as many as give `lines` lines, cut
// there.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace zntr::bench {

std::vector<std::string> MixedCorpus(bool withPqxfiAndDummy = false, std::size_t lines = 0);

}  // namespace zntr::bench
