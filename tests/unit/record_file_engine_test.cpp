#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <vector>

#include "store/record_file_engine.h"
#include "unit/test_support.h"

using namespace test_support;

namespace {

struct Pair {
    int32_t key;
    int32_t value;
};

class RecordFileEngineTest : public ::testing::Test {
protected:
    void put(const std::vector<Pair>& pairs) {
        write_file(data, std::string(reinterpret_cast<const char*>(pairs.data()),
                                     pairs.size() * sizeof(Pair)));
    }
    std::vector<Pair> all() {
        std::vector<Pair> pairs;
        result = scan_records(lock.c_str(), data.c_str(), sizeof(Pair), [&](long, void* record) {
            pairs.push_back(*static_cast<Pair*>(record));
            return true;
        });
        return pairs;
    }
    TempDir dir;
    FakeClock clock;
    std::string lock = dir.file("bbs.chk");
    std::string data = dir.file("bbs1.idx");
    int result = 0;
};

TEST_F(RecordFileEngineTest, ScanSeesWholeRecordsOnly) {
    put({{1, 10}, {2, 20}});
    write_file(data, read_file(data) + "xyz");  // a torn tail is not a record
    const auto pairs = all();
    ASSERT_EQ(pairs.size(), 2u);
    EXPECT_EQ(pairs[1].value, 20);
    write_file(lock, "");
    all();
    EXPECT_EQ(result, STORE_LOCK_BUSY);
}

TEST_F(RecordFileEngineTest, ScanReportsAReadThatFails) {
    // A FIFO opens for reading and writing but refuses positioned reads.
    ASSERT_EQ(::mkfifo(data.c_str(), 0600), 0);
    all();
    EXPECT_EQ(result, STORE_CANNOT_OPEN);
}

TEST_F(RecordFileEngineTest, RewriteChangesDropsAndAppends) {
    put({{1, 10}, {2, 20}, {3, 30}});
    const int got = rewrite_records(
        lock.c_str(), data.c_str(), sizeof(Pair),
        [](long, void* record, RecordOutput&) {
            Pair* pair = static_cast<Pair*>(record);
            if (pair->key == 2) return RecordVerdict::drop;
            pair->value += 1;
            return RecordVerdict::keep;
        },
        [](RecordOutput& out) {
            const Pair last{4, 40};
            out.write(&last);
            return STORE_OK;
        });
    ASSERT_EQ(got, STORE_OK);
    const auto pairs = all();
    ASSERT_EQ(pairs.size(), 3u);
    EXPECT_EQ(pairs[0].value, 11);
    EXPECT_EQ(pairs[1].key, 3);
    EXPECT_EQ(pairs[2].key, 4);
    EXPECT_FALSE(exists(data + ".tmp"));
    EXPECT_FALSE(exists(lock));
}

TEST_F(RecordFileEngineTest, FailedRewriteKeepsTheFile) {
    put({{1, 10}});
    const int got = rewrite_records(
        lock.c_str(), data.c_str(), sizeof(Pair),
        [](long, void*, RecordOutput&) { return RecordVerdict::drop; },
        [](RecordOutput&) { return STORE_NOTHING_TO_CHANGE; });
    EXPECT_EQ(got, STORE_NOTHING_TO_CHANGE);
    EXPECT_EQ(all().size(), 1u);
    EXPECT_FALSE(exists(data + ".tmp"));
}

TEST_F(RecordFileEngineTest, PositionedReadsAndWrites) {
    RecordFile file;
    ASSERT_TRUE(file.open(data.c_str(), true));
    const Pair a{1, 10}, b{2, 20};
    ASSERT_TRUE(file.write_at(1, &b, sizeof b));
    ASSERT_TRUE(file.write_at(0, &a, sizeof a));
    EXPECT_EQ(file.count(sizeof(Pair)), 2);
    Pair got{};
    ASSERT_TRUE(file.read_at(1, &got, sizeof got));
    EXPECT_EQ(got.value, 20);
    EXPECT_FALSE(file.read_at(2, &got, sizeof got));
    EXPECT_FALSE(file.read_at(-1, &got, sizeof got));
    ASSERT_TRUE(file.truncate_to(1, sizeof(Pair)));
    EXPECT_EQ(file.count(sizeof(Pair)), 1);
}

}  // namespace

namespace {

TEST_F(RecordFileEngineTest, LargeFilesRewriteAcrossBlocks) {
    std::vector<Pair> pairs;
    for (int i = 0; i < 1000; ++i) pairs.push_back({i, i * 10});
    put(pairs);
    const int got = rewrite_records(
        lock.c_str(), data.c_str(), sizeof(Pair),
        [](long k, void* record, RecordOutput&) {
            static_cast<Pair*>(record)->value += 1;
            return k % 3 == 0 ? RecordVerdict::drop : RecordVerdict::keep;
        },
        [](RecordOutput& out) {
            const Pair last{-1, -1};
            out.write(&last);
            return STORE_OK;
        });
    ASSERT_EQ(got, STORE_OK);
    const auto after = all();
    ASSERT_EQ(after.size(), 667u);
    for (std::size_t i = 0; i + 1 < after.size(); ++i) {
        const int key = static_cast<int>(i / 2 * 3 + 1 + i % 2);
        ASSERT_EQ(after[i].key, key);
        ASSERT_EQ(after[i].value, key * 10 + 1);
    }
    EXPECT_EQ(after.back().key, -1);
}

// A writer that takes the lock while a long walk visits its first block: the
// walk reads no further block while the lock is held.
TEST_F(RecordFileEngineTest, BlockWalkReadsNoBlockWhileAWriterHoldsTheLock) {
    std::vector<Pair> pairs;
    for (int i = 0; i < 10; ++i) pairs.push_back({i, i});
    put(pairs);
    std::vector<long> firsts;
    const int got = scan_record_blocks(lock.c_str(), data.c_str(), sizeof(Pair), 4 * sizeof(Pair),
                                       [&](long first, const void*, long) {
                                           firsts.push_back(first);
                                           write_file(lock, "");
                                           return true;
                                       });
    EXPECT_EQ(got, STORE_LOCK_BUSY);
    EXPECT_EQ(firsts, (std::vector<long>{0}));
}

}  // namespace
