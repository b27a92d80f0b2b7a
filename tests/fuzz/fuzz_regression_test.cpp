// Replays the inputs that once made a file reader crash, hang or allocate absurdly, through the same harnesses the
// fuzz targets run, so that an ordinary test run catches a fault coming back. New findings go into
// tests/fuzz_regressions/<target>/ under any name.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "../../fuzz/fuzz_targets.h"
#include "test_util.h"

namespace {

namespace fs = std::filesystem;

// Besides the kept inputs, the smallest ones reach every reader's first checks: no content at all, and a lone byte.
TEST(FuzzRegression, KeptInputsReadSafely) {
    const fs::path regressions = fs::path(__FILE__).parent_path().parent_path() / "fuzz_regressions";
    for (const auto& target : zoomreel::fuzz::kFuzzTargets) {
        std::vector<std::pair<std::string, std::vector<std::uint8_t>>> inputs = {{"empty", {}}, {"one byte", {0xff}}};
        const fs::path folder = regressions / std::string(target.name);
        if (fs::is_directory(folder)) {
            for (const auto& entry : fs::directory_iterator(folder)) {
                if (entry.is_regular_file()) inputs.emplace_back(entry.path(), zoomreel::test::readBytes(entry));
            }
        }
        std::sort(inputs.begin() + 2, inputs.end());
        for (const auto& [name, bytes] : inputs) {
            SCOPED_TRACE(std::string(target.name) + ": " + name);
            EXPECT_EQ(target.harness(bytes.empty() ? nullptr : bytes.data(), bytes.size()), 0);
        }
    }
}

}  // namespace
