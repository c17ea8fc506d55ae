// The merge of the embedded command line with the user's, and the argument
// scan that follows it (pure: no platform call), for user command lines from
// 64 characters to 1 Mi characters (doubling each step).
//
// The line is a mix a packaged launcher meets: a prefix section of options,
// some with quoted parameters, that the scan has to walk through, then the
// embedded text as the target, then plain and quoted arguments, .kel names
// and options behind it. Each run reports the characters per second (a
// constant rate is linear growth) and the fitted complexity; tests/bench/host.sh
// prints the ratio of times per doubling.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "cmdline/merge.h"
#include "cmdline/scan.h"

namespace {

// Repeats the pieces until the text holds at least length characters, then cuts it there.
std::u16string Fill(const std::u16string* pieces, size_t count, size_t length) {
    std::u16string out;
    for (size_t i = 0; out.size() < length; i = (i + 1) % count) out += pieces[i];
    out.resize(length);
    return out;
}

// A user's command line of exactly length characters: half prefix section, half trailing arguments.
std::u16string UserCommandLine(size_t length) {
    static const std::u16string prefix[] = {u"-h 5 ", u"-t \"a quoted parameter\" ", u"-z ", u"/o out.log ",
                                            u"-Q ", u"-x 'single' "};
    static const std::u16string rest[] = {u"doc.kel ", u"\"\\My Documents\\Game.kel\" ", u"-k ", u"Kel ",
                                          u"/opt value ", u"plain "};
    std::u16string head = u"-+ " + Fill(prefix, 6, length / 2 > 16 ? length / 2 - 16 : 8);
    // The prefix must end on a whole token, so that its end marker is seen.
    head.resize(head.rfind(u' ') + 1);
    head += u"-- ";
    return head + Fill(rest, 6, length > head.size() ? length - head.size() : 0);
}

// The launcher's two command-line rules: the merge with an embedded line, then the scan.
void BM_MergeAndScan(benchmark::State& state) {
    const size_t length = static_cast<size_t>(state.range(0));
    const std::u16string user = UserCommandLine(length);
    const std::string embedded = "app.Main -v";
    for (auto _ : state) {
        char16_t* merged = cmdline::MergeCommandLine(embedded.data(), static_cast<uint32_t>(embedded.size()), user.c_str());
        cmdline::ScanResult scan = cmdline::ScanCommandLine(merged);
        benchmark::DoNotOptimize(scan.target);
        cmdline::FreeScan(&scan);
        std::free(merged);
    }
    state.SetComplexityN(static_cast<int64_t>(length));
    state.counters["chars"] = benchmark::Counter(static_cast<double>(length), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_MergeAndScan)->RangeMultiplier(2)->Range(64, 1 << 20)->Unit(benchmark::kMicrosecond)->Complexity(benchmark::oN);

// The pure scan of a line of the same mix (no merge, no platform call).
void BM_ScanOnly(benchmark::State& state) {
    const size_t length = static_cast<size_t>(state.range(0));
    const std::u16string line = UserCommandLine(length);
    for (auto _ : state) {
        cmdline::ScanResult scan = cmdline::ScanCommandLine(line.c_str());
        benchmark::DoNotOptimize(scan.target);
        cmdline::FreeScan(&scan);
    }
    state.SetComplexityN(static_cast<int64_t>(length));
    state.counters["chars"] = benchmark::Counter(static_cast<double>(length), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_ScanOnly)->RangeMultiplier(2)->Range(64, 1 << 20)->Unit(benchmark::kMicrosecond)->Complexity(benchmark::oN);

}  // namespace
