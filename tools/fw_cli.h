// The command-line tools as functions, so that tests run them in-process:
// each takes the arguments after the program name and writes its report to
// `out` and its errors to `err`; the return value is the exit code.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "tools/fw_image_builder.h"

namespace talvo::fwtools {

// Exit codes shared by the tools.
inline constexpr int kExitOk = 0;
inline constexpr int kExitInvalid = 1;  // the input is not what it should be
inline constexpr int kExitUsage = 2;    // bad arguments, or a file that cannot be read or written

// talvo-fwimage: builds one image.
int RunFwImage(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
// talvo-fwpack: joins images into a package.
int RunFwPack(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// Whole-file read and write; `error` gets a message on failure.
std::optional<Bytes> ReadWholeFile(const std::string& path, std::string& error);
bool WriteWholeFile(const std::string& path, const Bytes& bytes, std::string& error);

}  // namespace talvo::fwtools
