#pragma once

#include <string>
#include <utility>

namespace zoomreel {

/// Outcome of an engine operation. `message` is one complete sentence, ready to be shown to the user.
struct Status {
    bool ok = true;
    std::string message;

    static Status success() { return {}; }
    static Status failure(std::string text) { return {false, std::move(text)}; }
    explicit operator bool() const { return ok; }
};

}  // namespace zoomreel
