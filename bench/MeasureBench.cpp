// Speed of one area measurement (Calculate, including the picture the area shows) on areas of
// typical sizes, beside the plain reference measurement and a memcpy of the same number of
// bytes, and of each kernel variant on its own. Throughput is counted in bytes of the area.
// "Streams" is the kernels' memory traffic with no tests at all: the floor for a kernel.
// "FrameOf8Areas" measures the areas of a whole frame not in cache, area by area or together;
// "FramePaint" is that frame's whole way into two shown windows, with no areas and with eight.
//
// The source is a piece of a video frame two pixels wider than the area, so its rows are
// padded the way a real piece's are. Two prepared frames alternate: about 10 % of the pixels
// differ strongly between them and about 10 % lie near the target colour.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "AreaMeasure.h"
#include "MeasureKernel.h"
#include "PictureCompose.h"
#include "ReferenceMeasure.h"
#include "StreamRows.h"

namespace ostrel::engine {
namespace {

struct Scene {
    int width = 0;
    int height = 0;
    int bpp = 0;
    std::ptrdiff_t stride = 0;
    std::vector<std::uint8_t> frames[2];
    MeasureSettings settings;

    std::size_t bytes() const { return std::size_t(width) * height * bpp; }
    // The area's piece of frame `i`: one pixel in from the frame's left edge.
    PixelView piece(int i) const {
        return {frames[i].data() + bpp, width, height, stride, bpp};
    }
};

std::unique_ptr<Scene> makeScene(int width, int height, int bpp) {
    auto scene = std::make_unique<Scene>();
    scene->width = width;
    scene->height = height;
    scene->bpp = bpp;
    const int frameWidth = width + 2;
    scene->stride = std::ptrdiff_t(frameWidth) * bpp;

    MeasureSettings& s = scene->settings;
    s.motionSens = 222;  // a channel must move by at least 33
    s.colorSens = 30;
    s.motionThreshold = 50;
    s.colorThreshold = 50;
    s.detRed = 230;
    s.detGreen = 20;
    s.detBlue = 20;

    std::mt19937 rng(42);
    std::uniform_int_distribution<int> percent(0, 99);
    std::uniform_int_distribution<int> noise(-10, 10);
    const int target[3] = {s.detBlue, s.detGreen, s.detRed};
    std::vector<std::uint8_t>& a = scene->frames[0];
    a.resize(std::size_t(scene->stride) * height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < frameWidth; ++x) {
            std::uint8_t* px = a.data() + y * scene->stride + std::size_t(x) * bpp;
            if (percent(rng) < 10) {
                for (int c = 0; c < 3; ++c) px[c] = std::uint8_t(target[c] + noise(rng));
            } else {
                // A smooth picture in 64..127, away from the target colour also after the
                // change below (which moves it to 192..255).
                px[0] = std::uint8_t(64 + (x + y) % 64);
                px[1] = std::uint8_t(64 + (x * 3) % 64);
                px[2] = std::uint8_t(64 + (y * 5) % 64);
            }
            if (bpp == 4) px[3] = 0;
        }
    }
    std::vector<std::uint8_t>& b = scene->frames[1];
    b = a;
    for (std::size_t i = 0; i + bpp <= b.size(); i += bpp) {
        if (percent(rng) < 10) {
            for (int c = 0; c < 3; ++c) b[i + c] ^= 0x80;
        }
    }
    return scene;
}

AreaGeometry wholeFrame(const Scene& scene) {
    AreaGeometry g;
    g.left = 0;
    g.top = 0;
    g.width = 1;
    g.height = 1;
    g.videoWidth = scene.width;
    g.videoHeight = scene.height;
    return g;
}

void setThroughput(benchmark::State& state, const Scene& scene) {
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(scene.bytes()));
}

void benchCalculate(benchmark::State& state, const Scene* scene) {
    AreaMeasure area;
    area.ResizeArea(wholeFrame(*scene), scene->bpp);
    int i = 0;
    for (auto _ : state) {
        area.Calculate(scene->piece(i), scene->settings);
        benchmark::DoNotOptimize(area.MotionPer());
        benchmark::ClobberMemory();
        i ^= 1;
    }
    state.counters["motion%"] = area.MotionPer();
    state.counters["color%"] = area.ColorPer();
    setThroughput(state, *scene);
}

void benchReference(benchmark::State& state, const Scene* scene) {
    reference::ReferenceArea area;
    reference::resize(area, scene->width, scene->height, scene->bpp);
    int i = 0;
    for (auto _ : state) {
        reference::calculate(area, scene->piece(i), scene->settings);
        benchmark::DoNotOptimize(area.motionPer);
        benchmark::ClobberMemory();
        i ^= 1;
    }
    state.counters["motion%"] = area.motionPer;
    state.counters["color%"] = area.colorPer;
    setThroughput(state, *scene);
}

void benchMemcpy(benchmark::State& state, const Scene* scene) {
    std::vector<std::uint8_t> from(scene->bytes(), 1);
    std::vector<std::uint8_t> to(scene->bytes(), 0);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), to.size());
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    setThroughput(state, *scene);
}

// The kernels' memory traffic without their tests: read the piece, write the shown picture,
// read and write the samples (4 bytes for every fourth pixel). The floor for a kernel.
void benchStreams(benchmark::State& state, const Scene* scene) {
    const std::size_t samplesBytes = prevBytes(std::size_t(scene->width) * scene->height);
    std::vector<std::uint8_t> prev[2] = {std::vector<std::uint8_t>(samplesBytes, 1),
                                         std::vector<std::uint8_t>(samplesBytes, 0)};
    std::vector<std::uint8_t> display(scene->bytes(), 0);
    const std::size_t rowBytes = std::size_t(scene->width) * scene->bpp;
    int i = 0;
    for (auto _ : state) {
        const PixelView piece = scene->piece(i);
        for (int y = 0; y < piece.height; ++y) {
            std::memcpy(display.data() + std::size_t(y) * rowBytes, piece.row(y), rowBytes);
        }
        std::memcpy(prev[i ^ 1].data(), prev[i].data(), samplesBytes);
        benchmark::DoNotOptimize(display.data());
        benchmark::ClobberMemory();
        i ^= 1;
    }
    setThroughput(state, *scene);
}

using KernelFn = KernelCounts (*)(const PixelView&, const KernelBuffers&, const KernelParams&);

void benchKernel(benchmark::State& state, const Scene* scene, KernelFn kernel) {
    std::vector<std::uint8_t> cur(scene->bytes(), 0);
    std::vector<std::uint8_t> prev(prevBytes(std::size_t(scene->width) * scene->height), 0);
    std::vector<std::uint8_t> display(scene->bytes(), 0);
    std::vector<std::uint8_t> markBits(markBitsBytes(std::size_t(scene->width) * scene->height));
    const MeasureSettings& s = scene->settings;
    const KernelParams params = kernelParamsFor(s, false);
    int i = 0;
    KernelCounts counts;
    for (auto _ : state) {
        counts = kernel(scene->piece(i), {cur.data(), prev.data(), display.data(), markBits.data()},
                        params);
        benchmark::DoNotOptimize(counts);
        benchmark::ClobberMemory();
        i ^= 1;
    }
    state.counters["motion"] = double(counts.motion);
    setThroughput(state, *scene);
}

// A 1920 x 1080 frame of 4-byte pixels and eight areas covering it (two columns, four rows),
// with two frames to alternate and a buffer to push them out of the cache before each pass,
// as a frame just converted on another core is.
struct FrameOfAreas {
    static constexpr int kWidth = 1920, kHeight = 1080, kBpp = 4;
    std::vector<std::uint8_t> frames[2];
    std::vector<AreaMeasure> areas = std::vector<AreaMeasure>(8);
    std::vector<std::uint8_t> evictor = std::vector<std::uint8_t>(64 << 20, 1);

    FrameOfAreas() {
        for (int f = 0; f < 2; ++f) {
            frames[f].resize(std::size_t(kWidth) * kHeight * kBpp);
            std::mt19937 rng(f + 1);
            for (std::uint8_t& b : frames[f])
                b = std::uint8_t(rng() & 0xF0);
        }
        for (int i = 0; i < 8; ++i) {
            AreaGeometry g;
            g.left = (i % 2) / 2.0;
            g.top = (i / 2) / 4.0;
            g.width = 0.5;
            g.height = 0.25;
            g.videoWidth = kWidth;
            g.videoHeight = kHeight;
            areas[i].ResizeArea(g, kBpp);
        }
    }
    PixelView frame(int f) const {
        return {frames[f].data(), kWidth, kHeight, std::ptrdiff_t(kWidth) * kBpp, kBpp};
    }
    void evict() {
        for (std::size_t i = 0; i < evictor.size(); i += 64)
            evictor[i]++;
    }
    // Measures frame `f` with the frame kept: area by area, or together in the frame's order.
    void measure(int f, bool together) {
        const FrameKeeper keeper(&frames[f], [](const void*) {});
        const MeasureSettings settings;
        std::vector<AreaMeasure*> started;
        for (AreaMeasure& area : areas) {
            const PixelRect& r = area.pixelRect();
            const PixelView piece = frame(f).sub(r.left, r.top, r.width, r.height);
            if (together) {
                area.startCalculate(piece, settings, keeper);
                started.push_back(&area);
            } else {
                area.Calculate(piece, settings, keeper);
            }
        }
        if (together) {
            measureTogether(started);
            for (AreaMeasure* area : started)
                area->finishCalculate();
        }
    }
};

// The eight areas of a frame not in cache, measured with the frame kept (their pictures are put
// together only where they are shown): area by area, or together in the frame's order.
void benchFrameOfAreas(benchmark::State& state, bool together) {
    FrameOfAreas scene;
    int f = 0;
    for (auto _ : state) {
        state.PauseTiming();
        scene.evict();
        state.ResumeTiming();
        scene.measure(f, together);
        benchmark::DoNotOptimize(scene.areas[0].MotionPer());
        f ^= 1;
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * scene.frames[0].size());
}

// A frame's way to two shown windows, from a frame not in cache: with no areas the main picture
// and the Video window each copy the frame into their window surface; with eight, the areas are
// measured and put their pictures together into the main surface one after the other, as the
// windows paint them (each area where no later one covers it, the uncovered strip from the
// frame), and the Video window copies the frame. The difference is what the areas add.
void benchFramePaint(benchmark::State& state, int areaCount) {
    FrameOfAreas scene;
    const std::size_t surfaceBytes = scene.frames[0].size();
    std::vector<std::uint8_t> mainSurface(surfaceBytes), videoSurface(surfaceBytes);
    const std::ptrdiff_t stride = std::ptrdiff_t(FrameOfAreas::kWidth) * FrameOfAreas::kBpp;
    int f = 0;
    for (auto _ : state) {
        state.PauseTiming();
        scene.evict();
        state.ResumeTiming();
        const PixelView frame = scene.frame(f);
        if (areaCount == 0) {
            streamRows(frame, mainSurface.data(), stride);
        } else {
            scene.measure(f, true);
            int covered = 0;
            for (int i = 0; i < 8; ++i) {
                const PixelRect& r = scene.areas[i].pixelRect();
                const int shown =
                    i % 2 == 0 ? scene.areas[i + 1].pixelRect().left - r.left : r.width;
                std::uint8_t* at =
                    mainSurface.data() + r.top * stride + r.left * FrameOfAreas::kBpp;
                composePicture(*scene.areas[i].pictureParts(), {0, 0, shown, r.height}, at, stride,
                               true);
                covered = std::max(covered, r.left + r.width);
            }
            streamRows(frame.sub(covered, 0, FrameOfAreas::kWidth - covered, frame.height),
                       mainSurface.data() + covered * FrameOfAreas::kBpp, stride);
        }
        streamRows(frame, videoSurface.data(), stride);
        benchmark::DoNotOptimize(mainSurface.data());
        benchmark::DoNotOptimize(videoSurface.data());
        benchmark::ClobberMemory();
        f ^= 1;
    }
    if (areaCount > 0) {
        state.counters["motion%"] = scene.areas[0].MotionPer();
        state.counters["color%"] = scene.areas[0].ColorPer();
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(surfaceBytes));
}

}  // namespace
}  // namespace ostrel::engine

int main(int argc, char** argv) {
    using namespace ostrel::engine;
    struct Size {
        int width, height;
    };
    std::vector<std::unique_ptr<Scene>> scenes;
    for (Size size : {Size{638, 480}, Size{1918, 1080}}) {
        for (int bpp : {3, 4}) {
            scenes.push_back(makeScene(size.width, size.height, bpp));
            const Scene* scene = scenes.back().get();
            const std::string tag = std::to_string(size.width) + "x" +
                                    std::to_string(size.height) + "x" + std::to_string(bpp);
            benchmark::RegisterBenchmark(("Calculate/" + tag).c_str(), benchCalculate, scene);
            benchmark::RegisterBenchmark(("Reference/" + tag).c_str(), benchReference, scene);
            benchmark::RegisterBenchmark(("Memcpy/" + tag).c_str(), benchMemcpy, scene);
            benchmark::RegisterBenchmark(("Streams/" + tag).c_str(), benchStreams, scene);
            benchmark::RegisterBenchmark(("Kernel/dispatched/" + tag).c_str(), benchKernel, scene,
                                         &measureArea);
            benchmark::RegisterBenchmark(("Kernel/scalar/" + tag).c_str(), benchKernel, scene,
                                         &measureAreaScalar);
#if defined(__x86_64__)
            benchmark::RegisterBenchmark(("Kernel/sse2/" + tag).c_str(), benchKernel, scene,
                                         &measureAreaSse2);
            if (__builtin_cpu_supports("avx2")) {
                benchmark::RegisterBenchmark(("Kernel/avx2/" + tag).c_str(), benchKernel, scene,
                                             &measureAreaAvx2);
            }
#endif
        }
    }
    benchmark::RegisterBenchmark("FrameOf8Areas/area-by-area", benchFrameOfAreas, false);
    benchmark::RegisterBenchmark("FrameOf8Areas/together", benchFrameOfAreas, true);
    benchmark::RegisterBenchmark("FramePaint/no-areas", benchFramePaint, 0);
    benchmark::RegisterBenchmark("FramePaint/8-areas", benchFramePaint, 8);
    benchmark::AddCustomContext("measure kernel", measureAreaVariant());
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
