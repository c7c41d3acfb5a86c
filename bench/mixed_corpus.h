// The benchmarks' corpus: 600 epochs of the default synthetic drive, keeping per epoch GGA, GSA,
// the GSV group, RMC and VTG (and, when asked, PQXFI with the receive loop's "Dummy" after
// every sixth line), CR LF ended, as a receiver streams them.
#pragma once

#include <string>
#include <vector>

namespace zntr::bench {

std::vector<std::string> MixedCorpus(bool withPqxfiAndDummy = false);

}  // namespace zntr::bench
