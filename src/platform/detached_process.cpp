#include "platform/detached_process.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

extern char** environ;

namespace zoomreel {
namespace {

/// The file exec would run for `program`: the name itself when it holds a slash, else the first executable of
/// that name along PATH. Resolved before forking, since the child of a threaded process may only make calls that
/// are safe after fork.
std::string resolveProgram(const std::string& program) {
    if (program.find('/') != std::string::npos) return program;
    const char* path = std::getenv("PATH");
    std::string directories = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
    std::size_t begin = 0;
    while (begin <= directories.size()) {
        std::size_t end = directories.find(':', begin);
        if (end == std::string::npos) end = directories.size();
        const std::string folder = end > begin ? directories.substr(begin, end - begin) : ".";
        const std::string candidate = folder + "/" + program;
        if (::access(candidate.c_str(), X_OK) == 0 && !std::filesystem::is_directory(candidate)) return candidate;
        begin = end + 1;
    }
    return {};
}

}  // namespace

Status startDetachedProgram(const std::string& program, const std::vector<std::string>& arguments) {
    auto failure = [&](int error) {
        return Status::failure("Unable to start \"" + program + "\": " + std::strerror(error) + ".");
    };
    if (program.empty()) return failure(ENOENT);
    const std::string file = resolveProgram(program);
    if (file.empty()) return failure(ENOENT);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    // The grandchild reports a failed exec through the pipe; a successful exec closes it unwritten.
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) return failure(errno);
    const pid_t child = ::fork();
    if (child < 0) {
        const int error = errno;
        ::close(report[0]);
        ::close(report[1]);
        return failure(error);
    }
    if (child == 0) {
        // The middle process only starts the program and ends, so that the program is nobody's child here.
        ::setsid();
        const pid_t grandchild = ::fork();
        if (grandchild == 0) {
            ::execve(file.c_str(), argv.data(), environ);
            const int error = errno;
            [[maybe_unused]] const ssize_t wrote = ::write(report[1], &error, sizeof error);
            ::_exit(127);
        }
        if (grandchild < 0) {
            const int error = errno;
            [[maybe_unused]] const ssize_t wrote = ::write(report[1], &error, sizeof error);
        }
        ::_exit(0);
    }
    ::close(report[1]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    int error = 0;
    ssize_t got;
    do {
        got = ::read(report[0], &error, sizeof error);
    } while (got < 0 && errno == EINTR);
    ::close(report[0]);
    if (got == static_cast<ssize_t>(sizeof error)) return failure(error);
    return {};
}

}  // namespace zoomreel
