#pragma once

// A failure and what its message says, checked in one assertion for the engine's tests.

#include <gtest/gtest.h>

#include <string>

#include "platform/status.h"

namespace zoomreel::test {

/// Success when `status` is a failure whose message holds each of `texts`.
template <typename... Texts>
::testing::AssertionResult failsSaying(const Status& status, const Texts&... texts) {
    if (status.ok) return ::testing::AssertionFailure() << "no failure";
    for (const std::string& text : {std::string(texts)...}) {
        if (status.message.find(text) == std::string::npos) {
            return ::testing::AssertionFailure() << "\"" << status.message << "\" does not say \"" << text << "\"";
        }
    }
    return ::testing::AssertionSuccess();
}

}  // namespace zoomreel::test
