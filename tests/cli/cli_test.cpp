#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <sstream>
#include <sys/wait.h>

#include "keyframes/iteration_map.h"
#include "keyframes/keyframe_list.h"
#include "test_util.h"

namespace zoomreel {
namespace {

using test::TempDir;

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

/// Runs zoomreel-cli with `args` (already shell-quoted where needed), capturing stdout and stderr.
Outcome cli(const std::string& args, const TempDir& scratch) {
    const auto errPath = scratch / "stderr.txt";
    const std::string command = std::string(ZOOMREEL_CLI_PATH) + " " + args + " 2>" + errPath.string();
    Outcome o;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return o;
    std::array<char, 4096> buffer{};
    std::size_t n;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) o.out.append(buffer.data(), n);
    const int raw = ::pclose(pipe);
    o.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    const auto err = test::readBytes(errPath);
    o.err.assign(err.begin(), err.end());
    return o;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) result.push_back(line);
    return result;
}

TEST(Cli, SampleConvertInfo) {
    TempDir scratch;
    const std::string folder = (scratch / "maps").string();
    Outcome o = cli("sample " + folder + " --maps 3 --size 64x36 --max-iter 300", scratch);
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(listFilesWithExtension(folder, ".qvb").size(), 3u);

    o = cli("convert " + folder + " --preview-block 4", scratch);
    ASSERT_EQ(o.status, 0) << o.err;

    o = cli("info " + folder, scratch);
    ASSERT_EQ(o.status, 0) << o.err;
    const auto rows = lines(o.out);
    ASSERT_EQ(rows.size(), 3u) << o.out;
    // index, name, minimum, average, maximum, zoom, divisor; zoom halves towards keyframe 0.
    char name[16];
    char zoom0[32];
    char zoom1[32];
    double minimum, average, maximum;
    int divisor;
    ASSERT_EQ(std::sscanf(rows[0].c_str(), "%*d %15s %lf %lf %lf %31s %d", name, &minimum, &average, &maximum, zoom0,
                          &divisor),
              6)
        << rows[0];
    EXPECT_STREQ(name, "00000.qvy");
    EXPECT_LE(minimum, average);
    EXPECT_LE(average, maximum);
    ASSERT_EQ(std::sscanf(rows[1].c_str(), "%*d %*s %*f %*f %*f %31s", zoom1), 1) << rows[1];
    // "%6.3f" of the mantissa, "e", "%03d" of the exponent: the whole token reads as one number.
    EXPECT_NEAR(std::strtod(zoom1, nullptr), 2.0 * std::strtod(zoom0, nullptr), 1e-3 * std::strtod(zoom1, nullptr));
    EXPECT_NE(std::string(zoom0).find('e'), std::string::npos);
}

TEST(Cli, ErrorsNameTheProblemWithTheirExitStatus) {
    TempDir scratch;
    std::filesystem::create_directory(scratch / "empty");
    const std::string empty = (scratch / "empty").string();
    struct Case {
        std::string args;
        int status;
        const char* says;
    };
    const Case cases[] = {
        {"convert " + empty, 1, "This folder do not contain any QVB files!"},
        {"info " + empty, 1, "This folder do not contain any QVY files!"},
        {"info " + empty + "/missing", 1, "does not exist"},
        {"convert " + empty + " --preview-block x4", 1, "preview block"},
        {"convert " + empty + " --preview-block 41", 1, "between 2 and 40"},
        {"sample " + empty + " --size 64by36", 1, "WxH"},
        {"convert " + empty + " --bogus 1", 2, "Unknown option"},
        {"convert", 2, "exactly one folder"},
        {"dance", 2, "Unknown command"},
    };
    for (const Case& c : cases) {
        const Outcome o = cli(c.args, scratch);
        EXPECT_EQ(o.status, c.status) << c.args << "\n" << o.err;
        EXPECT_NE(o.err.find(c.says), std::string::npos) << c.args << "\n" << o.err;
    }
}

TEST(Cli, ConversionFailurePrintsTheProgramsMessage) {
    TempDir scratch;
    const std::string folder = (scratch / "maps").string();
    ASSERT_EQ(cli("sample " + folder + " --maps 2 --size 32x18 --max-iter 100", scratch).status, 0);
    const auto names = listFilesWithExtension(folder, ".qvb");
    ASSERT_EQ(names.size(), 2u);
    // A second map of another size: the first keyframe stays.
    IterationMap other;
    other.width = 16;
    other.height = 9;
    other.counts.assign(16 * 9, 3);
    other.fractions.assign(16 * 9, 0.5f);
    other.colorCount = 1;
    other.colors = {1, 2, 3};
    other.iterationLimit = 100;
    ASSERT_TRUE(writeIterationMap(std::filesystem::path(folder) / names[1], other).ok);
    const Outcome o = cli("convert " + folder, scratch);
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(lines(o.err).at(0), "All QVB files have not same size!") << o.err;
    EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(folder) / "00001.qvy"));
}

}  // namespace
}  // namespace zoomreel
