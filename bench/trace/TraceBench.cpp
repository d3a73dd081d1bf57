// Prints, per operation: a relaxed atomic load (the baseline), isFlowOn() on a descriptor
// whose trace is off in three states (before any trace setting, class not named, debug
// descriptor), and an enabled entry/exit pair written as lines to a file. Each figure is the
// best of several runs; the ratio of each check to the baseline is the figure of merit
// (goal: at most 3).
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

#include "LogHandler.h"
#include "LogRecord.h"
#include "RAS.h"
#include "RasDescriptor.h"
#include "RasDescriptorSlot.h"
#include "Trace.h"

namespace {

// Keeps the value and makes the compiler forget what it knew about memory, so that every
// iteration loads afresh as a check inside real code would.
inline void keep(bool value) { asm volatile("" : : "r"(value) : "memory"); }

template <class F> double nanosPerOp(F op, long iterations, int runs = 7)
{
    double best = 1e300;
    for (int r = 0; r < runs; ++r) {
        auto start = std::chrono::steady_clock::now();
        for (long i = 0; i < iterations; ++i) {
            op();
        }
        std::chrono::duration<double, std::nano> took = std::chrono::steady_clock::now() - start;
        double perOp = took.count() / static_cast<double>(iterations);
        best = perOp < best ? perOp : best;
    }
    return best;
}

// Writes each record's line to a FILE*, as a trace file handler would.
class FileLineHandler : public LogHandler
{
public:
    explicit FileLineHandler(std::FILE* f) : LogHandler(LogLevel::FINEST), file(f), bytes(0) {}
    void publish(LogRecord& record) override
    {
        std::ostringstream line;
        line << record << "\n";
        const std::string& text = line.str();
        bytes += std::fwrite(text.data(), 1, text.size(), file);
    }
    std::FILE* file;
    unsigned long bytes;
};

std::atomic<int> baselineValue(1);

// The accessor every traced class defines.
const RasDescriptorSlot benchSlot("BenchOff", "com.quillon.velbrix.nativ.common.ZRKNVMessages");

const RasDescriptor& benchRd() { return benchSlot.get(); }

void line(const char* what, double ns, double baseline)
{
    if (baseline > 0) {
        std::printf("%-52s %8.2f ns   %5.2fx baseline (goal <= 3, %s)\n", what, ns, ns / baseline,
                    ns / baseline <= 3 ? "met" : "NOT met");
    } else {
        std::printf("%-52s %8.2f ns\n", what, ns);
    }
}

} // namespace

int main()
{
    if (!std::getenv("ZRK_PROD")) {
        setenv("ZRK_PROD", OSTARA_PRODUCT_ROOT, 1);
    }
    const long N = 200000000;
    const RasDescriptor& off = benchRd();
    RasDescriptor debug("BenchDebug", nullptr);
    RasDescriptor traced("BenchTraced", "com.quillon.velbrix.nativ.common.ZRKNVMessages");

    auto baseline = [] { keep(baselineValue.load(std::memory_order_relaxed) != 0); };
    nanosPerOp(baseline, N, 2);   // warm-up: lets the clock settle
    double base = nanosPerOp(baseline, N);
    double before = nanosPerOp([&] { keep(off.isFlowOn()); }, N);

    std::FILE* file = std::tmpfile();
    FileLineHandler* handler = new FileLineHandler(file);
    RAS::initialize(RASEnvironment::DAEMON, nullptr, nullptr, handler, "com.quillon.velbrix.native");
    RAS::setLevel("com.quillon.velbrix.native.BenchTraced=flow");

    double classOff = nanosPerOp([&] { keep(off.isFlowOn()); }, N);
    double accessor = nanosPerOp([] { keep(benchRd().isFlowOn()); }, N);
    double debugOff = nanosPerOp([&] { keep(debug.isFlowOn()); }, N);
    double base2 = nanosPerOp(baseline, N);
    if (base2 < base) {
        base = base2;
    }

    const long pairs = 200000;
    std::string result = "0";
    double pair = nanosPerOp(
        [&] {
            if (traced.isFlowOn()) {
                Trace::traceMethodEntry(traced, &traced, "run", 2, "first", "second");
            }
            if (traced.isFlowOn()) {
                Trace::traceMethodExit(traced, &traced, "run", &result, "int");
            }
        },
        pairs, 3);
    std::fflush(file);
    unsigned long bytesPerPair = handler->bytes / (3UL * pairs);

    std::printf("Trace check cost (best of 7 runs, %ld operations each)\n", N);
    line("relaxed atomic load (baseline)", base, 0);
    line("isFlowOn, before any trace setting", before, base);
    line("isFlowOn, class not in the trace setting", classOff, base);
    line("isFlowOn through the rd() accessor, class off", accessor, base);
    line("isFlowOn, debug descriptor, debug level OFF", debugOff, base);
    std::printf("goal: every check within 3x of the baseline\n\n");
    std::printf("enabled entry/exit pair written to a file: %.0f ns per pair (%lu bytes)\n", pair, bytesPerPair);

    RAS::shutdown();
    std::fclose(file);
    return 0;
}
