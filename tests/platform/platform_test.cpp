#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "platform/atomic_file.h"
#include "platform/worker_pool.h"
#include "test_util.h"
#include "status_check.h"

namespace zoomreel {
namespace {

using test::readBytes;
using test::TempDir;

TEST(AtomicFileWriter, TheTargetIsEitherOldOrNewAndNoTemporaryStays) {
    TempDir dir;
    const auto target = dir / "palette.qvs";
    test::writeBytes(target, {9, 9});
    {
        AtomicFileWriter abandoned(target);
        abandoned.write("partial", 7);
    }  // destroyed before commit, as by an exception or an early return
    EXPECT_EQ(readBytes(target), (std::vector<std::uint8_t>{9, 9}));

    AtomicFileWriter out(target);
    const std::uint32_t value = 0x04030201;
    out.writeValue(value);
    out.write("xy", 2);
    ASSERT_TRUE(out.commit().ok);
    EXPECT_EQ(readBytes(target), (std::vector<std::uint8_t>{1, 2, 3, 4, 'x', 'y'}));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(AtomicFileWriter, FailureNamesTheFileAndTheReason) {
    TempDir dir;
    AtomicFileWriter out(dir / "missing" / "speed.qvs");
    out.write("a", 1);
    const Status status = out.commit();
    EXPECT_TRUE(test::failsSaying(status, "speed.qvs", "No such file or directory"));
}

TEST(WorkerPool, EveryWorkerRunsEachJobOnceAndRunWaitsForAll) {
    for (int workers : {1, 2, 7}) {
        WorkerPool pool(workers);
        ASSERT_EQ(pool.workerCount(), workers);
        std::vector<int> rows(1000, 0);
        for (int round = 0; round < 50; ++round) {
            pool.run([&](int worker, int count) {
                for (int r = worker; r < static_cast<int>(rows.size()); r += count) rows[r] += 1;
            });
        }
        for (int v : rows) ASSERT_EQ(v, 50) << workers << " workers";
    }
}

}  // namespace
}  // namespace zoomreel
