// Cost of the message index writers in folders of 1,000, 10,000 and 100,000
// messages, next to the copy floor: copying the three files ("bbs3.idx",
// "bbs4.idx", "bbs5.idx") that a reply has to rewrite, once in large blocks and
// once a record at a time.
//
// Each folder is written straight to disk as threads of ten messages (a root
// and nine replies to it), checked once with the consistency checker, and then
// changed by the operation measured; successive iterations touch different
// threads, so no iteration finds its thread already at the front.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "config/sysinfo.h"
#include "store/index_consistency.h"
#include "store/message_index.h"
#include "util/bytes.h"

namespace {

constexpr long kFolder = 1;
constexpr int kThreadSize = 10;

class ScratchFolder {
public:
    explicit ScratchFolder(int messages) {
        char pattern[] = "/tmp/wbbs-bench-XXXXXX";
        const char* made = mkdtemp(pattern);
        if (made == nullptr) std::abort();
        root_ = std::string(made) + "/";
        copy_field(SYSINFO.DATA_FILE_PATH, root_.c_str());
        dir_ = root_ + std::to_string(kFolder) + "/";
        ::mkdir(dir_.c_str(), 0700);
        build(messages);
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }
    std::string file(const char* name) const { return dir_ + name; }
    int threads() const { return threads_; }

private:
    static BBS_IDX message(int sel_no, int root) {
        BBS_IDX r{};
        r.FOLDER_NO = kFolder;
        r.SEL_NO = sel_no;
        r.UP_NO = sel_no == root ? 0 : root;
        r.BBS_G_NO = root;
        r.CLASS = sel_no == root ? 0 : 1;
        copy_field(r.WRITE_DATE, "2024/06/11 12:00");
        copy_field(r.WRITER_ID, "writer");
        copy_field(r.WRITER_NAME, "A Writer");
        snprintf(r.WRITE_TITLE, sizeof r.WRITE_TITLE, "Message number %d", sel_no);
        return r;
    }

    void put(const char* name, const std::vector<BBS_IDX>& records) const {
        FILE* out = std::fopen(file(name).c_str(), "wb");
        if (out == nullptr) std::abort();
        std::fwrite(records.data(), sizeof(BBS_IDX), records.size(), out);
        std::fclose(out);
    }

    void build(int messages) {
        threads_ = messages / kThreadSize;
        std::vector<BBS_IDX> all, roots, active_roots, active_all;
        for (int t = 0; t < threads_; ++t) {
            const int root = t * kThreadSize + 1;
            for (int i = 0; i < kThreadSize; ++i) all.push_back(message(root + i, root));
            BBS_IDX r = all[static_cast<std::size_t>(root - 1)];
            r.RES_COUNT = kThreadSize - 1;
            roots.push_back(r);
        }
        // Latest activity first: the last posted thread first.
        for (int t = threads_ - 1; t >= 0; --t) {
            active_roots.push_back(roots[static_cast<std::size_t>(t)]);
            for (int i = 0; i < kThreadSize; ++i) {
                active_all.push_back(all[static_cast<std::size_t>(t * kThreadSize + i)]);
            }
        }
        put("bbs1.idx", all);
        put("bbs2.idx", roots);
        put("bbs3.idx", active_roots);
        put("bbs4.idx", all);  // replies to the root only: tree order is posting order
        put("bbs5.idx", active_all);
        std::vector<std::string> problems;
        if (check_message_index(kFolder, problems) != 0 || !problems.empty()) {
            std::fprintf(stderr, "generated folder is inconsistent: %s\n",
                         problems.empty() ? "unreadable" : problems[0].c_str());
            std::abort();
        }
    }

    std::string root_;
    std::string dir_;
    int threads_ = 0;
};

// A different thread each iteration, spread over the folder.
int thread_of(long iteration, int threads) { return static_cast<int>((iteration * 7919L + threads / 2) % threads); }

void prepare(int32_t sel_no) {
    std::memset(&sBBS_IDX, 0, sizeof sBBS_IDX);
    sBBS_IDX.FOLDER_NO = kFolder;
    sBBS_IDX.SEL_NO = sel_no;
    copy_field(sBBS_IDX.WRITE_TITLE, "Benchmark");
    copy_field(sBBS_IDX.WRITER_ID, "bench");
}

void must(benchmark::State& state, int result) {
    if (result != 0) state.SkipWithError("index operation failed");
}

void BM_NewTopic(benchmark::State& state) {
    ScratchFolder folder(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        prepare(0);
        must(state, Fio_BBS_IDX(2));
    }
}

void BM_Reply(benchmark::State& state) {
    ScratchFolder folder(static_cast<int>(state.range(0)));
    long i = 0;
    for (auto _ : state) {
        prepare(thread_of(i++, folder.threads()) * kThreadSize + 1);  // answers a root
        must(state, Fio_BBS_IDX(2));
    }
}

void BM_Update(benchmark::State& state) {
    ScratchFolder folder(static_cast<int>(state.range(0)));
    long i = 0;
    for (auto _ : state) {
        const int32_t sel_no = thread_of(i++, folder.threads()) * kThreadSize + 5;  // a reply
        prepare(sel_no);
        must(state, Fio_BBS_IDX(1));
        copy_field(sBBS_IDX.WRITE_TITLE, "Edited");
        must(state, Fio_BBS_IDX(4));
    }
}

void BM_Delete(benchmark::State& state) {
    ScratchFolder folder(static_cast<int>(state.range(0)));
    long i = 0;
    for (auto _ : state) {
        // A reply without replies, not the last message: leaves bbs4 and bbs5.
        prepare(thread_of(i++, folder.threads()) * kThreadSize + 3);
        must(state, Fio_BBS_IDX(3));
    }
}

bool copy_in_blocks(const std::string& from, const std::string& to, std::size_t block) {
    const int in = ::open(from.c_str(), O_RDONLY);
    const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    bool ok = in >= 0 && out >= 0;
    std::vector<char> buffer(block);
    off_t offset = 0;
    while (ok) {
        const ssize_t got = ::pread(in, buffer.data(), block, offset);
        if (got <= 0) break;
        ok = ::pwrite(out, buffer.data(), static_cast<std::size_t>(got), offset) == got;
        offset += got;
    }
    if (in >= 0) ::close(in);
    if (out >= 0) ::close(out);
    return ok && std::rename(to.c_str(), from.c_str()) == 0;
}

// The three files a reply rewrites, copied through a temporary file that
// then replaces each: in 64 KiB blocks (the floor) or a record at a time.
void copy_floor(benchmark::State& state, std::size_t block) {
    ScratchFolder folder(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        for (const char* name : {"bbs3.idx", "bbs4.idx", "bbs5.idx"}) {
            if (!copy_in_blocks(folder.file(name), folder.file(name) + ".tmp", block)) {
                state.SkipWithError("copy failed");
            }
        }
    }
}

void BM_CopyFloor(benchmark::State& state) { copy_floor(state, 65536); }
void BM_CopyByRecord(benchmark::State& state) { copy_floor(state, sizeof(BBS_IDX)); }

// Iterations fixed per size so that the whole run stays within a few minutes
// on a small shared machine.
void register_all() {
    struct Size {
        int messages;
        int iterations;
    };
    const Size sizes[] = {{1000, 100}, {10000, 60}, {100000, 8}};
    struct Case {
        const char* name;
        void (*run)(benchmark::State&);
    };
    const Case cases[] = {{"NewTopic", BM_NewTopic},   {"Reply", BM_Reply},
                          {"Update", BM_Update},       {"Delete", BM_Delete},
                          {"CopyFloor", BM_CopyFloor}, {"CopyByRecord", BM_CopyByRecord}};
    for (const Size& size : sizes) {
        for (const Case& c : cases) {
            benchmark::RegisterBenchmark(c.name, c.run)
                ->Arg(size.messages)
                ->Iterations(size.iterations)
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime();
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    register_all();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
