#pragma once

#include <string>
#include <vector>

#include "platform/status.h"

namespace zoomreel {

/// Starts `program` with `arguments` and does not wait for it: the program runs on its own after this process
/// ends, and leaves no zombie behind. No shell is involved, so spaces, quotes and other characters in the program
/// path or the arguments reach the program as they are. A program named without a folder is looked up in PATH.
/// Returns once the program has been started, or with the reason it could not be.
Status startDetachedProgram(const std::string& program, const std::vector<std::string>& arguments);

}  // namespace zoomreel
