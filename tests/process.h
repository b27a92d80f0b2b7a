#pragma once

// Child processes for the tests of the command line and of reliability: started with fork and exec in a folder
// of their own, their output captured in files, stopped by a signal or waited for with a deadline.

#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "keyframes/keyframe_file.h"
#include "test_util.h"

namespace zoomreel::test {

struct ChildResult {
    bool exited = false;   ///< false: ended by a signal (or still running at the deadline, then killed)
    int status = -1;       ///< exit status, or the signal number
    std::string out;
    std::string err;
};

class Child {
public:
    /// Starts `program` with `args` in `folder`; stdout and stderr go to files in `logs`.
    Child(const std::string& program, const std::vector<std::string>& args, const std::filesystem::path& folder,
          const std::filesystem::path& logs)
        : outPath_(logs / "child-out.txt"), errPath_(logs / "child-err.txt") {
        std::vector<std::string> argv{program};
        argv.insert(argv.end(), args.begin(), args.end());
        // Emptied here, not in the child, so that nothing an earlier child wrote is read as this one's.
        writeBytes(outPath_, {});
        writeBytes(errPath_, {});
        pid_ = ::fork();
        if (pid_ != 0) return;
        std::vector<char*> raw;
        for (auto& a : argv) raw.push_back(a.data());
        raw.push_back(nullptr);
        const int out = ::open(outPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = ::open(errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out < 0 || err < 0 || ::chdir(folder.c_str()) != 0) ::_exit(127);
        ::dup2(out, 1);
        ::dup2(err, 2);
        ::signal(SIGINT, SIG_DFL);
        ::execv(program.c_str(), raw.data());
        ::_exit(127);
    }
    ~Child() {
        if (pid_ > 0 && !reaped_) kill();
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    /// A child that could not be started is never signalled: kill(-1) would reach every process.
    void signal(int number) const {
        if (pid_ > 0) ::kill(pid_, number);
    }

    /// True once the child's stdout holds `text`; waits up to `limit`.
    bool waitForOutput(const std::string& text, std::chrono::milliseconds limit) const {
        return pollUntil([&] { return fileText(outPath_).find(text) != std::string::npos; }, limit);
    }

    /// Waits for the child to end; one still running after `limit` is killed and reported as killed.
    ChildResult wait(std::chrono::seconds limit = std::chrono::seconds(60)) {
        ChildResult result;
        if (pid_ <= 0) return result;
        int raw = 0;
        pid_t done = 0;
        if (!pollUntil([&] { return (done = ::waitpid(pid_, &raw, WNOHANG)) != 0; }, limit)) {
            ::kill(pid_, SIGKILL);
            done = ::waitpid(pid_, &raw, 0);
        }
        reaped_ = true;
        if (done < 0) return result;
        result.exited = WIFEXITED(raw);
        result.status = result.exited ? WEXITSTATUS(raw) : WIFSIGNALED(raw) ? WTERMSIG(raw) : -1;
        result.out = fileText(outPath_);
        result.err = fileText(errPath_);
        return result;
    }

    /// SIGKILL now, and reap.
    ChildResult kill() {
        signal(SIGKILL);
        return wait();
    }

private:
    pid_t pid_ = -1;
    bool reaped_ = false;
    std::filesystem::path outPath_;
    std::filesystem::path errPath_;
};

/// Runs zoomreel-cli to its end in `folder`.
inline ChildResult runCli(const std::vector<std::string>& args, const std::filesystem::path& folder,
                          const std::filesystem::path& logs) {
    return Child(ZOOMREEL_CLI_PATH, args, folder, logs).wait();
}

/// Sample maps made in `cwd`/`folder` and converted into keyframes: the small folder every movie test starts from.
inline bool sampleAndConvert(const std::string& folder, const std::filesystem::path& cwd,
                             const std::filesystem::path& logs) {
    return runCli({"sample", folder, "--maps", "6", "--size", "96x54", "--max-iter", "300"}, cwd, logs).status == 0 &&
           runCli({"convert", folder}, cwd, logs).status == 0;
}

/// Hidden temporary files and unfinished movies (".part") in `folder`.
inline int unfinishedFiles(const std::filesystem::path& folder) {
    return static_cast<int>(std::count_if(
        std::filesystem::directory_iterator(folder), {}, [](const std::filesystem::directory_entry& entry) {
            return entry.path().filename().string().find(".tmp-") != std::string::npos ||
                   entry.path().extension() == ".part";
        }));
}

/// True when `file` is a keyframe that reads whole, its size the one its head announces.
inline bool keyframeWhole(const std::filesystem::path& file) {
    KeyframeSummary summary;
    KeyframeLayout layout;
    std::vector<double> map;
    return readKeyframeSummary(file, summary, layout).ok && readFullMap(file, layout, map).ok &&
           std::filesystem::file_size(file) == layout.fileSize() &&
           map.size() == static_cast<std::size_t>(layout.width) * layout.height;
}

}  // namespace zoomreel::test
