// The thread pool hands every part of a job out exactly once, on as many
// threads as asked, and reads VORBLES_THREADS strictly.
#include "pool/workers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>

namespace {

TEST(Workers, EveryPartRunsOnceOnItsOwnThread) {
    workers pool(4);
    ASSERT_EQ(pool.count(), 4);
    for (int parts = 1; parts <= 6; ++parts) {
        for (int round = 0; round < 50; ++round) {
            std::atomic<int> ran[4] = {};
            std::thread::id who[4];
            pool.run(parts, [&](int part, int n) {
                EXPECT_EQ(n, parts < 4 ? parts : 4);
                ran[part] += 1;
                who[part] = std::this_thread::get_id();
            });
            const int used = parts < 4 ? parts : 4;
            std::set<std::thread::id> threads;
            for (int k = 0; k < 4; ++k) EXPECT_EQ(ran[k].load(), k < used ? 1 : 0) << parts << " parts, part " << k;
            for (int k = 0; k < used; ++k) threads.insert(who[k]);
            EXPECT_EQ(static_cast<int>(threads.size()), used);
            EXPECT_EQ(who[0], std::this_thread::get_id());  // part 0 on the caller
        }
    }
}

TEST(Workers, ThreadCountFromTheEnvironmentIsAWholeNumberInRange) {
    EXPECT_EQ(workers_parse("1"), 1);
    EXPECT_EQ(workers_parse("7"), 7);
    EXPECT_EQ(workers_parse("64"), WORKERS_MAX);
    for (const char *bad : {"", "0", "65", "-2", "+2", " 2", "2 ", "2x", "0x2", "99999999999"})
        EXPECT_EQ(workers_parse(bad), 0) << '"' << bad << '"';
    EXPECT_EQ(workers_parse(nullptr), 0);
    EXPECT_EQ(workers(0).count(), 1);
    EXPECT_EQ(workers(1000).count(), WORKERS_MAX);
}

}  // namespace
