// Replays the inputs that once made a file reader crash, hang or allocate absurdly, through the same harnesses the
// fuzz targets run, so that an ordinary test run catches a fault coming back. New findings go into
// tests/fuzz_regressions/<target>/ under any name.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "../../fuzz/fuzz_targets.h"

namespace {

namespace fs = std::filesystem;

fs::path regressionsFolder() { return fs::path(__FILE__).parent_path().parent_path() / "fuzz_regressions"; }

std::vector<std::uint8_t> readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

int run(zoomreel::fuzz::FuzzHarness harness, const std::vector<std::uint8_t>& bytes) {
    return harness(bytes.empty() ? nullptr : bytes.data(), bytes.size());
}

TEST(FuzzRegression, KeptInputsReadSafely) {
    for (const auto& target : zoomreel::fuzz::kFuzzTargets) {
        const fs::path folder = regressionsFolder() / std::string(target.name);
        std::error_code error;
        if (!fs::is_directory(folder, error)) continue;
        std::vector<fs::path> inputs;
        for (const auto& entry : fs::directory_iterator(folder)) {
            if (entry.is_regular_file()) inputs.push_back(entry.path());
        }
        std::sort(inputs.begin(), inputs.end());
        for (const fs::path& input : inputs) {
            SCOPED_TRACE(input.string());
            EXPECT_EQ(run(target.harness, readAll(input)), 0);
        }
    }
}

// The smallest inputs reach every reader's first checks: no file content at all, and a lone byte.
TEST(FuzzRegression, EmptyAndOneByteInputs) {
    for (const auto& target : zoomreel::fuzz::kFuzzTargets) {
        SCOPED_TRACE(std::string(target.name));
        EXPECT_EQ(run(target.harness, {}), 0);
        EXPECT_EQ(run(target.harness, {0xff}), 0);
    }
}

}  // namespace
