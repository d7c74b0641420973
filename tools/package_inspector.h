// Tells what a firmware package holds: every image's header, stored and
// computed checksums and validation result, then what the loader makes of it.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace talvo::fwtools {

// Writes the report for `size` bytes at `bytes` to `out`. True when the
// package is valid: the loader fills at least one slot, every image it takes
// validates, and no byte of the package is left over or ignored.
bool InspectPackage(const std::uint8_t* bytes, std::uint32_t size, std::ostream& out);

// talvo-package-inspect FILE: exit 0 for a valid package, 1 for an invalid
// one, 2 for bad arguments or a file that cannot be read.
int RunPackageInspect(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace talvo::fwtools
