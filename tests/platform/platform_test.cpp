#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "platform/atomic_file.h"
#include "platform/raster.h"
#include "platform/worker_pool.h"
#include "test_util.h"

namespace zoomreel {
namespace {

using test::readBytes;
using test::TempDir;

int filesIn(const std::filesystem::path& folder) {
    int n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(folder)) ++n;
    return n;
}

TEST(Raster, RowsArePaddedAndStoredBottomUp) {
    Raster r(5, 3);
    EXPECT_EQ(r.strideBytes(), 16);
    EXPECT_EQ(r.sizeBytes(), 48u);
    EXPECT_EQ(r.rowFromTop(0), r.storedRow(2));
    EXPECT_EQ(Raster::strideFor(128), 384);
    EXPECT_TRUE(Raster(-4, 2).empty());
}

TEST(AtomicFileWriter, CommitReplacesTheFileAndLeavesNoTemporary) {
    TempDir dir;
    const auto target = dir / "palette.qvs";
    test::writeBytes(target, {1, 2, 3});
    AtomicFileWriter out(target);
    const std::uint32_t value = 0x04030201;
    out.writeValue(value);
    out.write("xy", 2);
    ASSERT_TRUE(out.commit().ok);
    EXPECT_EQ(readBytes(target), (std::vector<std::uint8_t>{1, 2, 3, 4, 'x', 'y'}));
    EXPECT_EQ(filesIn(dir.path()), 1);
}

TEST(AtomicFileWriter, AbandonedWriteKeepsTheOldFile) {
    TempDir dir;
    const auto target = dir / "00001.qvy";
    test::writeBytes(target, {9, 9});
    {
        AtomicFileWriter out(target);
        out.write("partial", 7);
    }  // destroyed before commit, as by an exception or an early return
    EXPECT_EQ(readBytes(target), (std::vector<std::uint8_t>{9, 9}));
    EXPECT_EQ(filesIn(dir.path()), 1);
}

TEST(AtomicFileWriter, FailureNamesTheFileAndTheReason) {
    TempDir dir;
    AtomicFileWriter out(dir / "missing" / "speed.qvs");
    out.write("a", 1);
    const Status status = out.commit();
    EXPECT_FALSE(status.ok);
    EXPECT_NE(status.message.find("speed.qvs"), std::string::npos) << status.message;
    EXPECT_NE(status.message.find("No such file or directory"), std::string::npos) << status.message;
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

TEST(WorkerPool, DefaultSizeFollowsTheProcessorsWithinTheCap) {
    WorkerPool pool;
    EXPECT_GE(pool.workerCount(), 1);
    EXPECT_LE(pool.workerCount(), WorkerPool::kMaxWorkers);
    EXPECT_EQ(WorkerPool(100).workerCount(), WorkerPool::kMaxWorkers);
}

}  // namespace
}  // namespace zoomreel
