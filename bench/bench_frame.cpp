// One frame's work at 800 x 600 (particle step, painting, normal renderer) per
// force mode: the literal path (the force law through its pointer, then the
// motion step, then the painting) beside the fast path the program takes, on
// this thread alone and on a pool of 2 threads. Beside them the memory floor:
// one pass that reads and writes every particle record and paints it, with no
// arithmetic of the step, which no frame's work can undercut on one thread.
//
// Every benchmark also reports cpu_ms: the process's CPU time per iteration,
// all threads together (a pool thread's polling included), beside the wall
// time. By default only 2,000,000 particles, each frame measured three times;
// the output ends with a summary table of the medians. BENCH_FULL=1 in the
// environment adds 10,000 and 200,000 particles and each phase on its own:
//   frame|step|paint|render / literal|fast|fast+paint / mode / count
// BENCH_MIN_TIME=<seconds> sets the least time of each repeated run (0.25 by
// default), for a profiler to see the frames rather than the set-up.
// "step/fast+paint" is the fast step with its painting; the painting's share
// of the fast frame is that minus "step/fast".
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <string>
#include <vector>

#include "particles/psys-fast.h"
#include "particles/psys-paint.h"
#include "pool/workers.h"
#include "render/render.h"

namespace {

constexpr int WIDTH = 800, HEIGHT = 600;
constexpr int SUMMARY_COUNT = 2000000;
constexpr int SUMMARY_RUNS = 3;

// Creating 2,000,000 particles takes most of a second, so every scene of a count
// starts from a copy of the one set made for it.
const std::vector<particle> &created(int count) {
    static std::map<int, std::vector<particle>> made;
    auto [it, fresh] = made.try_emplace(count);
    if (fresh) {
        psys ps{};
        psys_set_defaults(&ps);
        ps.count = count;
        if (!psys_create_particles(&ps)) abort();
        it->second.assign(ps.particles, ps.particles + count);
        free(ps.particles);
    }
    return it->second;
}

// A started system and an 800 x 600 display in memory with a 32-bit image; its
// frames run on a pool of `threads` threads, or on this thread alone for 1.
struct scene {
    psys ps{};
    gfx g{};
    workers threads_pool;
    workers *pool = nullptr;  // null on one thread
    psys_fast_state fast;
    render_rows rows;
    XImage image{};
    std::vector<unsigned char> cells = std::vector<unsigned char>(WIDTH * HEIGHT);
    std::vector<uint32_t> pixels = std::vector<uint32_t>(WIDTH * HEIGHT);

    scene(const psys_mode &m, int count, int threads) : threads_pool(threads) {
        if (threads > 1) pool = &threads_pool;
        psys_set_defaults(&ps);
        ps.count = count;
        const std::vector<particle> &start = created(count);
        ps.particles = static_cast<particle *>(malloc(start.size() * sizeof(particle)));
        if (ps.particles == nullptr) abort();
        std::memcpy(ps.particles, start.data(), start.size() * sizeof(particle));
        m.set(&ps);
        image.width = WIDTH, image.height = HEIGHT, image.format = ZPixmap;
        image.byte_order = image.bitmap_bit_order = LSBFirst;
        image.bitmap_unit = image.bitmap_pad = 32;
        image.depth = 24, image.bits_per_pixel = 32, image.bytes_per_line = WIDTH * 4;
        image.data = reinterpret_cast<char *>(pixels.data());
        XInitImage(&image);
        for (int i = 0; i < 256; ++i) g.cmap[i] = static_cast<unsigned long>(i) * 0x010101;
        g.width = WIDTH, g.height = HEIGHT, g.image = &image, g.buffer = cells.data();
        // Settle into the running animation: trails in the buffer, particles spread.
        for (int f = 0; f < 3; ++f) frame_fast();
    }
    ~scene() { free(ps.particles); }

    void frame_literal() {
        psys_automovep(&ps);
        psys_paint_particles(&ps, g.buffer, g.width, g.height, 50);
        render_blurred_buffer(&g, pool, &rows);
    }
    void frame_fast() {
        psys_step_and_paint(&ps, &fast, g.buffer, g.width, g.height, 50, pool);
        render_blurred_buffer(&g, pool, &rows);
    }
    // Reads and writes each whole record (its velocity's halves swapped, which
    // leaves the positions as they are) and paints it as psys_paint_particles does.
    void memory_floor() {
        const double wspan = g.width - 3, hspan = g.height - 3;
        particle *p = ps.particles;
        for (int i = 0, n = ps.count; i < n; ++i) {
            const double vx = p[i].vx;
            p[i].vx = p[i].vy;
            p[i].vy = vx;
            unsigned char &cell =
                cells[static_cast<int>(hspan * p[i].y + 2.0) * WIDTH + static_cast<int>(wspan * p[i].x + 1.0)];
            const unsigned sum = cell + 50u;
            cell = static_cast<unsigned char>(sum > 255 ? 255 : sum);
        }
    }
};

using work_fn = void (*)(scene &);

// The CPU time of every thread of the process so far, in ms.
double process_cpu_ms() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec * 1e-6;
}

void measure(benchmark::State &state, const psys_mode *m, int count, int threads, work_fn work) {
    scene s(*m, count, threads);
    const double cpu_start = process_cpu_ms();
    for (auto _ : state) {
        work(s);
        benchmark::ClobberMemory();
    }
    const double cpu = process_cpu_ms() - cpu_start;
    state.counters["cpu_ms"] = state.iterations() > 0 ? cpu / static_cast<double>(state.iterations()) : 0;
    state.SetItemsProcessed(state.iterations() * count);
}

std::string name_of(const std::string &kind, const psys_mode &m, int count) {
    return kind + "/" + m.name + "/" + std::to_string(count);
}

double min_time() {
    const char *v = getenv("BENCH_MIN_TIME");
    const double t = v ? std::atof(v) : 0;
    return t > 0 ? t : 0.25;
}

void add(const std::string &kind, const psys_mode *m, int count, work_fn work, int runs = 1, int threads = 1) {
    auto *b = benchmark::RegisterBenchmark(name_of(kind, *m, count).c_str(), measure, m, count, threads, work)
                  ->Unit(benchmark::kMillisecond)
                  ->UseRealTime();
    if (runs > 1) b->Repetitions(runs)->MinTime(min_time());
}

// Passes every single run, and of repeated ones only the median, on to the
// usual console output, and keeps the times (in ms) for the summary.
class summary_reporter : public benchmark::BenchmarkReporter {
public:
    explicit summary_reporter(benchmark::BenchmarkReporter *display) : display_(display) {}

    bool ReportContext(const Context &context) override { return display_->ReportContext(context); }

    void ReportRuns(const std::vector<Run> &runs) override {
        std::vector<Run> shown;
        for (const Run &r : runs) {
            const bool single = r.run_type == Run::RT_Iteration && r.repetitions <= 1;
            const bool median = r.run_type == Run::RT_Aggregate && r.aggregate_name == "median";
            if (!single && !median) continue;
            shown.push_back(r);
            if (r.error_occurred) continue;
            ms_[r.run_name.function_name] = r.GetAdjustedRealTime();
            if (auto c = r.counters.find("cpu_ms"); c != r.counters.end())
                cpu_ms_[r.run_name.function_name] = c->second.value;
        }
        if (!shown.empty()) display_->ReportRuns(shown);
    }

    void Finalize() override {
        display_->Finalize();
        print_summary();
    }

private:
    static double find_in(const std::map<std::string, double> &in, const std::string &name) {
        auto it = in.find(name);
        return it == in.end() ? 0 : it->second;
    }
    double find(const std::string &name) const { return find_in(ms_, name); }
    double cpu(const std::string &name) const { return find_in(cpu_ms_, name); }

    void print_summary() const {
        std::printf("\nOne frame at %dx%d with 2,000,000 particles (step, painting, blur; median of %d runs):\n\n",
                    WIDTH, HEIGHT, SUMMARY_RUNS);
        std::printf(
            "| Force mode    | Literal path | Fast path | Speed-up | Fast, 2 threads | Memory floor "
            "| CPU, 1 thread | CPU, 2 threads | CPU/floor (1, 2) | Literal/CPU (1, 2) |\n");
        std::printf(
            "|---------------|-------------:|----------:|---------:|----------------:|-------------:"
            "|--------------:|---------------:|-----------------:|-------------------:|\n");
        auto ms = [](double t) {
            char text[32] = "-";
            if (t > 0) std::snprintf(text, sizeof text, "%.1f ms", t);
            return std::string(text);
        };
        auto ratio = [](double a, double b) {
            char text[32] = "-";
            if (a > 0 && b > 0) std::snprintf(text, sizeof text, "%.2fx", a / b);
            return std::string(text);
        };
        for (const psys_mode &m : PSYS_MODES) {
            const double literal = find(name_of("frame/literal", m, SUMMARY_COUNT));
            const double fast = find(name_of("frame/fast", m, SUMMARY_COUNT));
            const double fast2 = find(name_of("frame/fast-2-threads", m, SUMMARY_COUNT));
            const double floor = find(name_of("floor/memory", m, SUMMARY_COUNT));
            // CPU time, all threads together; the literal path and the floor run on one thread.
            const double literal_cpu = cpu(name_of("frame/literal", m, SUMMARY_COUNT));
            const double floor_cpu = cpu(name_of("floor/memory", m, SUMMARY_COUNT));
            const double cpu1 = cpu(name_of("frame/fast", m, SUMMARY_COUNT));
            const double cpu2 = cpu(name_of("frame/fast-2-threads", m, SUMMARY_COUNT));
            const std::string per_floor = ratio(cpu1, floor_cpu) + ", " + ratio(cpu2, floor_cpu);
            const std::string per_literal = ratio(literal_cpu, cpu1) + ", " + ratio(literal_cpu, cpu2);
            std::printf("| %-13s | %12s | %9s | %8s | %15s | %12s | %13s | %14s | %16s | %18s |\n", m.name,
                        ms(literal).c_str(), ms(fast).c_str(), ratio(literal, fast).c_str(), ms(fast2).c_str(),
                        ms(floor).c_str(), ms(cpu1).c_str(), ms(cpu2).c_str(), per_floor.c_str(), per_literal.c_str());
        }
        std::printf(
            "\nWall times, but for the CPU columns: the process's CPU time per frame, all threads\n"
            "together. Fast, 2 threads: the fast path on a pool of 2 threads. Memory floor: one\n"
            "pass that reads and writes every particle record and paints it, on one thread.\n"
            "CPU/floor: the fast frame's CPU time over the floor's; Literal/CPU: the literal\n"
            "frame's CPU time over the fast frame's (on 1 and 2 threads).\n");
        std::fflush(stdout);
    }

    benchmark::BenchmarkReporter *display_;  // the library's own, kept for the whole run
    std::map<std::string, double> ms_;
    std::map<std::string, double> cpu_ms_;  // the cpu_ms counters
};

bool full_sweep() {
    const char *v = getenv("BENCH_FULL");
    return v && *v && std::strcmp(v, "0") != 0;
}

}  // namespace

int main(int argc, char **argv) {
    const bool full = full_sweep();
    std::vector<int> counts = {SUMMARY_COUNT};
    if (full) counts = {10000, 200000, SUMMARY_COUNT};
    for (int count : counts) {
        const int runs = count == SUMMARY_COUNT ? SUMMARY_RUNS : 1;
        for (const psys_mode &m : PSYS_MODES) {
            // clang-format off
            add("frame/literal", &m, count, [](scene &s) { s.frame_literal(); }, runs);
            add("frame/fast", &m, count, [](scene &s) { s.frame_fast(); }, runs);
            add("frame/fast-2-threads", &m, count, [](scene &s) { s.frame_fast(); }, runs, 2);
            add("floor/memory", &m, count, [](scene &s) { s.memory_floor(); }, runs);
            // clang-format on
            if (!full) continue;
            add("step/literal", &m, count, [](scene &s) { psys_automovep(&s.ps); });
            add("step/fast", &m, count, [](scene &s) { psys_automovep_fast(&s.ps, &s.fast, s.pool); });
            add("step/fast+paint", &m, count,
                [](scene &s) { psys_step_and_paint(&s.ps, &s.fast, s.g.buffer, s.g.width, s.g.height, 50, s.pool); });
        }
        if (full)
            add("paint/literal", &PSYS_MODES[3], count,
                [](scene &s) { psys_paint_particles(&s.ps, s.g.buffer, s.g.width, s.g.height, 50); });
    }
    if (full)
        add("render/normal", &PSYS_MODES[3], 10000, [](scene &s) { render_blurred_buffer(&s.g, s.pool, &s.rows); });

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    summary_reporter reporter(benchmark::CreateDefaultDisplayReporter());
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
