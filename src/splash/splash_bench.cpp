// Splash costs on the simulation.
//
// Decoding: DecodeSplashBmp for 240 x 320 and 480 x 640 at 1, 4, 8 and 24
// bits, against a plain memcpy of the same pixel bytes. The decoder makes its
// bitmap section itself and the API offers no way to leave that out, so each
// run also makes one section alone (display context, CreateDIBSection,
// DeleteDC, with the same header), timed apart, and its mean is taken off:
// "ratio" is (decode - section) / memcpy; the reported time is the whole
// decode. Section creation here is the simulation's (a filled heap
// block), not a device's.
//
// Configuration: parse of a "CONFIG" text of 10 and of 10000 entries and the
// choice for a 240 x 320 screen.
#include <benchmark/benchmark.h>

#include <malloc.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "sim.h"
#include "bmp_builder.h"
#include "splash/bitmap.h"
#include "splash/config.h"
#include "splash/section.h"
#include "splash/show.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

// The simulation keeps every section until it is reset; reset it this often,
// outside the timed part, so memory stays bounded.
constexpr int64_t kResetEvery = 64;

std::string BitmapFile(int32_t width, int32_t height, uint16_t bitCount) {
    return testsupport::BmpBytes(testsupport::PatternBmp(width, height, bitCount));
}

// A header like the one the decoder hands to CreateDIBSection.
struct SectionHeader {
    std::vector<uint8_t> storage;
    platform::BITMAPINFO* info;
};

SectionHeader MakeSectionHeader(int32_t width, int32_t height, uint16_t bitCount) {
    SectionHeader header{std::vector<uint8_t>(sizeof(platform::BITMAPINFOHEADER) + 4 * 256, 0), nullptr};
    header.info = reinterpret_cast<platform::BITMAPINFO*>(header.storage.data());
    header.info->bmiHeader.biSize = 40;
    header.info->bmiHeader.biWidth = width;
    header.info->bmiHeader.biHeight = height;
    header.info->bmiHeader.biPlanes = 1;
    header.info->bmiHeader.biBitCount = bitCount;
    header.info->bmiHeader.biCompression = platform::BI_RGB;
    return header;
}

// Seconds of making one section as the decoder does: a display context, the section, the context released.
double MakeSection(const SectionHeader& header) {
    Clock::time_point t0 = Clock::now();
    platform::HDC display = platform::CreateDCW(u"DISPLAY", nullptr, nullptr, nullptr);
    void* bits = nullptr;
    platform::HBITMAP bitmap =
        platform::CreateDIBSection(display, header.info, platform::DIB_RGB_COLORS, &bits, nullptr, 0);
    platform::DeleteDC(display);
    Clock::time_point t1 = Clock::now();
    benchmark::DoNotOptimize(bitmap);
    return Seconds(t0, t1);
}

// Mean seconds of one memcpy of the pixel bytes into a buffer already touched.
double MemcpySeconds(const uint8_t* pixels, size_t bytes, int64_t runs) {
    std::vector<uint8_t> target(bytes, 1);
    Clock::time_point t0 = Clock::now();
    for (int64_t i = 0; i < runs; ++i) {
        std::memcpy(target.data(), pixels, bytes);
        benchmark::ClobberMemory();
    }
    Clock::time_point t1 = Clock::now();
    benchmark::DoNotOptimize(target.data());
    return Seconds(t0, t1) / static_cast<double>(runs);
}

void BM_SplashDecode(benchmark::State& state, int32_t width, int32_t height, uint16_t bitCount) {
    const std::string file = BitmapFile(width, height, bitCount);
    const uint32_t paletteBytes = bitCount <= 8 ? 4u << bitCount : 0;
    const size_t pixelBytes = static_cast<size_t>(splash::SplashStride(bitCount, width)) * height;
    const auto* pixels = reinterpret_cast<const uint8_t*>(file.data()) + splash::kSplashHeaderBytes + paletteBytes;
    if (splash::kSplashHeaderBytes + paletteBytes + pixelBytes != file.size()) {
        state.SkipWithError("the bitmap file is not laid out as expected");
        return;
    }

    // Sections come from the heap and go back to it at each reset; without
    // this, glibc would map and unmap the large ones, and their page faults
    // would swamp both the section's time and the decode's.
    mallopt(M_MMAP_THRESHOLD, 64 << 20);
    mallopt(M_TRIM_THRESHOLD, 512 << 20);
    const SectionHeader header = MakeSectionHeader(width, height, bitCount);

    // Each run makes one section alone, then decodes, so that both see the
    // same state of the heap and of the machine.
    sim::Reset();
    double decode = 0;
    double section = 0;
    int64_t runs = 0;
    for (auto _ : state) {
        if (runs > 0 && runs % kResetEvery == 0) sim::Reset();
        section += MakeSection(header);
        int32_t w = 0;
        int32_t h = 0;
        Clock::time_point t0 = Clock::now();
        platform::HBITMAP bitmap = splash::DecodeSplashBmp(file.data(), static_cast<uint32_t>(file.size()), &w, &h);
        Clock::time_point t1 = Clock::now();
        benchmark::DoNotOptimize(bitmap);
        if (bitmap == nullptr) {
            state.SkipWithError("the decoder refused the bitmap");
            break;
        }
        state.SetIterationTime(Seconds(t0, t1));
        decode += Seconds(t0, t1);
        ++runs;
    }
    sim::Reset();
    if (runs == 0) return;
    decode /= static_cast<double>(runs);
    section /= static_cast<double>(runs);
    int64_t reference = runs < 200 ? 200 : runs;
    double copy = MemcpySeconds(pixels, pixelBytes, reference);
    state.counters["decode_us"] = decode * 1e6;
    state.counters["section_us"] = section * 1e6;
    state.counters["memcpy_us"] = copy * 1e6;
    state.counters["ratio"] = (decode - section) / copy;
    state.SetBytesProcessed(static_cast<int64_t>(pixelBytes) * runs);
}

void RegisterDecodes() {
    static const int32_t kSizes[][2] = {{240, 320}, {480, 640}};
    static const uint16_t kBits[] = {1, 4, 8, 24};
    for (const auto& size : kSizes) {
        for (uint16_t bits : kBits) {
            std::string name = "BM_SplashDecode/" + std::to_string(size[0]) + "x" + std::to_string(size[1]) + "/" +
                               std::to_string(bits) + "bit";
            benchmark::RegisterBenchmark(name.c_str(), BM_SplashDecode, size[0], size[1], bits)
                ->UseManualTime()
                ->Unit(benchmark::kMicrosecond);
        }
    }
}

// A configuration of n entries: splash sizes of every kind, then the title,
// so that the title's search and the choice both walk the whole list.
std::string ConfigText(int n) {
    std::string text;
    for (int i = 0; i < n - 1; ++i) {
        int w = 100 + (i * 37) % 500;
        int h = 100 + (i * 53) % 700;
        text += "SplashScreen=" + std::to_string(w) + "x" + std::to_string(h) + ";Splash" + std::to_string(i) + ".bmp|";
    }
    text += "SplashScreenTitle=The Big Splash Screen";
    return text;
}

void BM_SplashConfig(benchmark::State& state) {
    const int entries = static_cast<int>(state.range(0));
    const std::string text = ConfigText(entries);
    sim::Reset();
    sim::SetScreenSize(240, 320);
    int64_t runs = 0;
    for (auto _ : state) {
        splash::SplashConfig* config = splash::ParseSplashConfig(text.data(), static_cast<uint32_t>(text.size()));
        splash::SplashChoice* choice = splash::ChooseSplash(config);
        benchmark::DoNotOptimize(choice->resourceName);
        std::free(choice);
        splash::FreeSplashConfig(config);
        if (++runs % 4096 == 0) {
            // The simulation logs each screen query; clear it now and then, untimed.
            state.PauseTiming();
            sim::Reset();
            sim::SetScreenSize(240, 320);
            state.ResumeTiming();
        }
    }
    state.counters["entries"] = benchmark::Counter(entries, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_SplashConfig)->Arg(10)->Arg(10000)->Unit(benchmark::kMicrosecond);

const bool kRegistered = (RegisterDecodes(), true);

}  // namespace
