#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <sstream>
#include <sys/wait.h>

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
    ASSERT_EQ(cli("convert " + folder + " --preview-block 4", scratch).status, 0);
    o = cli("info " + folder, scratch);
    ASSERT_EQ(o.status, 0) << o.err;
    const auto rows = lines(o.out);
    ASSERT_EQ(rows.size(), 3u) << o.out;
    // index, name, minimum, average, maximum, zoom ("%6.3f" "e" "%03d", one number to strtod), divisor.
    char name[16];
    char zoom[3][32];
    double minimum, average, maximum;
    for (int k = 0; k < 3; ++k) {
        ASSERT_EQ(std::sscanf(rows[k].c_str(), "%*d %15s %lf %lf %lf %31s %*d", name, &minimum, &average, &maximum,
                              zoom[k]),
                  5)
            << rows[k];
        EXPECT_LE(minimum, average);
        EXPECT_LE(average, maximum);
    }
    EXPECT_STREQ(name, "00002.qvy");
    const double widest = std::strtod(zoom[0], nullptr);
    EXPECT_NEAR(std::strtod(zoom[2], nullptr), 4.0 * widest, 4e-3 * widest);
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

}  // namespace
}  // namespace zoomreel
