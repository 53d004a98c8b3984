// Holds the engine's measurement and each of its kernels against the plain reference
// measurement, on random pieces of many sizes, over several frames so the previous frame
// matters.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "AreaMeasure.h"
#include "MeasureKernel.h"
#include "PictureCompose.h"
#include "ReferenceMeasure.h"

namespace ostrel::engine {
namespace {

using Rng = std::mt19937;

int uniform(Rng& rng, int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); }
bool chance(Rng& rng, int percent) { return uniform(rng, 0, 99) < percent; }
std::uint8_t clampByte(int v) { return std::uint8_t(std::clamp(v, 0, 255)); }

std::vector<std::uint8_t> randomScene(std::size_t bytes, Rng& rng) {
    std::vector<std::uint8_t> scene(bytes);
    for (auto& b : scene) b = std::uint8_t(uniform(rng, 0, 255));
    return scene;
}

// A video frame with the area's piece at its bottom-right corner and junk around it. The
// allocation ends with the piece's last byte, so reading past the piece leaves the buffer
// (AddressSanitizer reports it), and reading the junk instead of the piece shows in the results.
// Left and top padding and extra bytes per row are random.
struct PaddedFrame {
    int width, height, bpp;
    std::ptrdiff_t stride = 0;
    std::size_t offset = 0;
    std::vector<std::uint8_t> bytes;

    PaddedFrame(int w, int h, int bytesPerPixel, Rng& rng) : width(w), height(h), bpp(bytesPerPixel) {
        const int padLeft = uniform(rng, 0, 3);
        stride = std::ptrdiff_t(w + padLeft) * bpp + uniform(rng, 0, 9);
        offset = std::size_t(uniform(rng, 0, 2)) * stride + std::size_t(padLeft) * bpp;
        bytes = randomScene(offset + std::size_t(h - 1) * stride + std::size_t(w) * bpp, rng);
    }
    // Writes a packed picture of the piece's size into the piece.
    void load(const std::vector<std::uint8_t>& packed) {
        const std::size_t rowBytes = std::size_t(width) * bpp;
        for (int y = 0; y < height; ++y) {
            std::memcpy(bytes.data() + offset + y * stride, packed.data() + y * rowBytes, rowBytes);
        }
    }
    PixelView piece() const { return {bytes.data() + offset, width, height, stride, bpp}; }
};

// Settings with a bias towards the values where byte arithmetic goes wrong: limits 0 and 255,
// tolerances 0 and 255, measurements and the picture switched off. `wideRange` also allows
// sensitivities outside 0..255, which only the kernels (not the area's setters) can see.
MeasureSettings randomSettings(Rng& rng, bool wideRange) {
    auto sensitivity = [&] {
        const int r = uniform(rng, 0, 99);
        if (r < 15) return 0;
        if (r < 30) return 255;
        if (r < 36) return uniform(rng, 0, 1) == 0 ? 1 : 254;
        if (wideRange && r < 44) return uniform(rng, 0, 1) == 0 ? uniform(rng, -300, -1)
                                                                : uniform(rng, 256, 600);
        return uniform(rng, 0, 255);
    };
    MeasureSettings s;
    s.motionSens = sensitivity();
    s.colorSens = sensitivity();
    s.motionThreshold = chance(rng, 70) ? uniform(rng, 0, 20) : uniform(rng, 0, 100);
    s.colorThreshold = chance(rng, 70) ? uniform(rng, 0, 20) : uniform(rng, 0, 100);
    s.motionActive = chance(rng, 80);
    s.colorActive = chance(rng, 80);
    s.motionEvent = chance(rng, 70);
    s.colorEvent = chance(rng, 70);
    s.detRed = std::uint8_t(uniform(rng, 0, 255));
    s.detGreen = std::uint8_t(uniform(rng, 0, 255));
    s.detBlue = std::uint8_t(uniform(rng, 0, 255));
    s.showPicture = chance(rng, 75);
    s.showFrame = chance(rng, 50);
    s.frameColor = std::uint32_t(uniform(rng, 0, 0xFFFFFF));
    return s;
}

// Small changes to the settings between two frames, as a user makes them.
void nudgeSettings(MeasureSettings& s, Rng& rng) {
    if (chance(rng, 15)) s.motionActive = !s.motionActive;
    if (chance(rng, 15)) s.colorActive = !s.colorActive;
    if (chance(rng, 10)) s.showPicture = !s.showPicture;
    if (chance(rng, 10)) s.showFrame = !s.showFrame;
    if (chance(rng, 10)) s.motionThreshold = uniform(rng, 0, 100);
    if (chance(rng, 10)) s.motionEvent = !s.motionEvent;
    if (chance(rng, 10)) s.colorEvent = !s.colorEvent;
}

// The next picture of a packed piece: some pixels jump strongly (among them black/white
// flips, which is what a limit of 255 needs), some land near the target colour, some change
// by about the motion limit, some drift a little; the rest stay.
void nextScene(std::vector<std::uint8_t>& scene, int bpp, const MeasureSettings& s, Rng& rng) {
    const int limit = std::clamp(255 - s.motionSens, 0, 255);
    const int sens = std::clamp(s.colorSens, 0, 255);
    const int target[3] = {s.detBlue, s.detGreen, s.detRed};
    for (std::size_t i = 0; i + bpp <= scene.size(); i += bpp) {
        std::uint8_t* px = scene.data() + i;
        const int r = uniform(rng, 0, 99);
        if (r < 6) {
            const std::uint8_t flipped = px[0] < 128 ? 255 : 0;
            px[0] = px[1] = px[2] = flipped;
        } else if (r < 14) {
            for (int c = 0; c < 3; ++c) px[c] = std::uint8_t(uniform(rng, 0, 255));
        } else if (r < 26) {
            const bool edge = chance(rng, 40);
            for (int c = 0; c < 3; ++c) {
                const int delta = edge ? (sens + uniform(rng, -1, 1)) * (chance(rng, 50) ? 1 : -1)
                                       : uniform(rng, -sens - 2, sens + 2);
                px[c] = clampByte(target[c] + delta);
            }
        } else if (r < 36) {
            for (int c = 0; c < 3; ++c) {
                const int step = std::max(0, limit + uniform(rng, -1, 1));
                const int up = px[c] + step;
                px[c] = up <= 255 && chance(rng, 50) ? std::uint8_t(up) : clampByte(px[c] - step);
            }
        } else if (r < 50) {
            for (int c = 0; c < 3; ++c) px[c] = clampByte(px[c] + uniform(rng, -3, 3));
        }
        if (bpp == 4) {
            px[3] = std::uint8_t(uniform(rng, 0, 255));
        }
    }
}

// Where two buffers first differ, as pixel (or sample) and byte, `unit` bytes to each.
::testing::AssertionResult sameBytes(const char* what, const std::uint8_t* actual,
                                     std::size_t actualSize,
                                     const std::vector<std::uint8_t>& expected, int unit) {
    if (actualSize != expected.size()) {
        return ::testing::AssertionFailure() << what << " holds " << actualSize << " bytes";
    }
    const auto at = std::mismatch(expected.begin(), expected.end(), actual);
    if (at.first == expected.end()) {
        return ::testing::AssertionSuccess();
    }
    const std::size_t i = std::size_t(at.first - expected.begin());
    return ::testing::AssertionFailure() << what << " differs at " << i / unit << ", byte "
                                         << i % unit << ": " << int(*at.second) << " instead of "
                                         << int(*at.first);
}

// The reference keeps the previous frame's samples in place in a piece-sized buffer; the
// kernels keep only the samples, 4 bytes each (blue, green, red, 0).
std::vector<std::uint8_t> samplesOf(const std::vector<std::uint8_t>& prev, int bpp) {
    std::vector<std::uint8_t> samples(prevBytes(prev.size() / bpp), 0);
    for (std::size_t k = 0; 4 * k * bpp < prev.size(); ++k) {
        std::copy_n(prev.data() + 4 * k * bpp, 3, samples.data() + 4 * k);
    }
    return samples;
}

using RowsFn = void (*)(const PixelView&, const KernelBuffers&, const KernelParams&, int,
                        KernelCursor&);

struct Variant {
    std::string name;
    RowsFn run;
};
std::vector<Variant> availableVariants() {
    std::vector<Variant> variants{{"scalar", measureAreaRowsScalar},
                                  {"dispatched", measureAreaRows}};
#if defined(__x86_64__)
    variants.push_back({"sse2", measureAreaRowsSse2});
    if (__builtin_cpu_supports("avx2")) {
        variants.push_back({"avx2", measureAreaRowsAvx2});
    }
#endif
    return variants;
}

// A measurement in random steps of rows, empty ones among them, as the areas of one frame are
// measured together; now and then in one step.
KernelCounts measureInSteps(RowsFn run, const PixelView& piece, const KernelBuffers& buffers,
                            const KernelParams& params, Rng& rng) {
    KernelCursor cursor;
    int row = 0;
    do {
        row = chance(rng, 25) ? piece.height : std::min(piece.height, row + uniform(rng, 0, 3));
        run(piece, buffers, params, row, cursor);
    } while (row < piece.height);
    return cursor.counts;
}

// The picture put together from `parts` must be `expected`, whole and in a random part written
// into a wider buffer, whose other bytes stay as they were; streamed or not, at random.
::testing::AssertionResult composesTo(const PictureParts& parts,
                                      const std::vector<std::uint8_t>& expected, Rng& rng) {
    const PixelView& piece = parts.piece;
    const std::size_t rowBytes = std::size_t(piece.width) * piece.bytesPerPixel;
    std::vector<std::uint8_t> whole(expected.size());
    composePicture(parts, {0, 0, piece.width, piece.height}, whole.data(), std::ptrdiff_t(rowBytes),
                   chance(rng, 50));
    if (::testing::AssertionResult same =
            sameBytes("composed", whole.data(), whole.size(), expected, piece.bytesPerPixel);
        !same) {
        return same;
    }
    const int x = uniform(rng, 0, piece.width - 1);
    const int y = uniform(rng, 0, piece.height - 1);
    const PixelRect part{x, y, uniform(rng, 1, piece.width - x), uniform(rng, 1, piece.height - y)};
    const std::ptrdiff_t stride = std::ptrdiff_t(rowBytes) + uniform(rng, 0, 9);
    std::vector<std::uint8_t> target(std::size_t(stride) * piece.height + rowBytes + 16, 0xA5);
    const std::size_t offset = std::size_t(uniform(rng, 0, 16));  // any alignment of the rows
    composePicture(parts, part, target.data() + offset, stride, chance(rng, 50));
    const std::size_t partBytes = std::size_t(part.width) * piece.bytesPerPixel;
    for (std::size_t i = 0; i < target.size(); ++i) {
        const std::ptrdiff_t r = (std::ptrdiff_t(i) - std::ptrdiff_t(offset)) / stride;
        const std::size_t c = std::size_t(std::ptrdiff_t(i) - std::ptrdiff_t(offset) - r * stride);
        const bool inside = i >= offset && r < part.height && c < partBytes;
        const std::uint8_t want = inside
                                      ? expected[std::size_t(part.top + r) * rowBytes +
                                                 std::size_t(part.left) * piece.bytesPerPixel + c]
                                      : std::uint8_t(0xA5);
        if (target[i] != want) {
            return ::testing::AssertionFailure()
                   << "part " << part.left << "," << part.top << " " << part.width << "x"
                   << part.height << ": byte " << c << " of its row " << r << " is "
                   << int(target[i]) << " instead of " << int(want);
        }
    }
    return ::testing::AssertionSuccess();
}

// Totals over a run, to make sure the comparisons were not all between empty results.
struct Coverage {
    std::int64_t motion = 0;
    std::int64_t color = 0;
    int statusFlips = 0;
};

constexpr int kFramesPerArea = 5;

// Runs one piece through the reference and every kernel variant (each with buffers of its own),
// frame after frame. As an area (4k+2 by at least 22 pixels) it goes through AreaMeasure as
// well, with the settings an area allows, and is cleared and read now and then; otherwise the
// settings include sensitivities outside 0..255, which only the kernels can see.
void checkPiece(int width, int height, int bpp, Rng& rng, Coverage& coverage, bool isArea = false) {
    SCOPED_TRACE("piece " + std::to_string(width) + "x" + std::to_string(height) + " at " +
                 std::to_string(bpp) + " bytes per pixel" + (isArea ? " as an area" : ""));
    const std::size_t bytes = std::size_t(width) * height * bpp;
    PaddedFrame frame(width, height, bpp, rng);
    const std::vector<Variant> variants = availableVariants();
    struct Buffers {
        std::vector<std::uint8_t> cur, prev, display, markBits;
    };
    const std::size_t pixels = std::size_t(width) * height;
    std::vector<Buffers> buffers(
        variants.size(),
        Buffers{std::vector<std::uint8_t>(bytes), std::vector<std::uint8_t>(prevBytes(pixels)),
                std::vector<std::uint8_t>(bytes),
                std::vector<std::uint8_t>(markBitsBytes(pixels))});
    reference::ReferenceArea ref;
    reference::resize(ref, width, height, bpp);
    AreaMeasure area;
    if (isArea) {
        area.ResizeArea({0, 0, 1, 1, width, height}, bpp);
        ASSERT_EQ(area.pixelRect(), (PixelRect{0, 0, width, height}));
    }

    MeasureSettings settings = randomSettings(rng, !isArea);
    std::vector<std::uint8_t> scene = randomScene(bytes, rng);
    for (int f = 0; f < kFramesPerArea; ++f) {
        SCOPED_TRACE("frame " + std::to_string(f));
        if (f > 0) {
            nudgeSettings(settings, rng);
            nextScene(scene, bpp, settings, rng);
            if (isArea && chance(rng, 10)) {  // the area is cleared
                area.setFirstFrame();
                ref.firstFrame = true;
            }
            if (isArea && chance(rng, 50)) {  // the flags are read and reported
                area.MotionChanged = area.ColorChanged = 0;
                ref.motionChanged = ref.colorChanged = 0;
            }
        }
        settings.showFrame = settings.showFrame && isArea;  // only an area draws its outline
        frame.load(scene);
        KernelParams params = kernelParamsFor(settings, ref.firstFrame);
        params.writePicture = chance(rng, 60);
        const bool motionBefore = ref.motionStatus;
        const bool colorBefore = ref.colorStatus;
        if (isArea) {  // the frame outlives every read of the area below
            FrameKeeper keeper(&frame, [](const void*) {});
            if (chance(rng, 30)) {
                keeper.reset();  // the picture is drawn at once
            }
            if (chance(rng, 50)) {
                area.Calculate(frame.piece(), settings, keeper);
            } else {
                area.startCalculate(frame.piece(), settings, keeper);
                area.measureRows(uniform(rng, 0, height));
                area.finishCalculate();
            }
        }
        reference::calculate(ref, frame.piece(), settings);
        coverage.motion += ref.motionCount;
        coverage.color += ref.colorCount;
        coverage.statusFlips +=
            (motionBefore != ref.motionStatus) + (colorBefore != ref.colorStatus);

        for (std::size_t v = 0; v < variants.size(); ++v) {
            SCOPED_TRACE("kernel " + variants[v].name);
            Buffers& b = buffers[v];
            const Buffers before = b;
            const KernelCounts counts = measureInSteps(
                variants[v].run, frame.piece(),
                {b.cur.data(), b.prev.data(), b.display.data(), b.markBits.data()}, params, rng);
            ASSERT_EQ(counts.motion, ref.motionCount);
            ASSERT_EQ(counts.color, ref.colorCount);
            ASSERT_TRUE(sameBytes("prev", b.prev.data(), b.prev.size(),
                                  samplesOf(ref.prevBits, bpp), 4));
            if (!params.writePicture) {
                ASSERT_TRUE(b.cur == before.cur && b.display == before.display)
                    << "a picture that is not drawn leaves the buffers alone";
                const PictureParts parts{frame.piece(), settings.showPicture,
                                         params.visitSamples ? b.markBits.data() : nullptr,
                                         settings.showFrame, settings.frameColor};
                ASSERT_TRUE(composesTo(parts, ref.display, rng));
                continue;
            }
            if (!params.showPicture) {  // else the shown picture holds the piece
                ASSERT_TRUE(sameBytes("cur", b.cur.data(), bytes, ref.curBits, bpp));
            }
            if (!settings.showFrame) {  // the kernels leave the outline to their caller
                ASSERT_TRUE(sameBytes("display", b.display.data(), bytes, ref.display, bpp));
            }
        }
        if (!isArea) {
            continue;
        }
        ASSERT_EQ(std::make_tuple(area.MotionPer(), area.ColorPer(), area.MotionStatus(),
                                  area.ColorStatus(), area.MotionChanged, area.ColorChanged,
                                  area.FirstFrame()),
                  std::make_tuple(ref.motionPer, ref.colorPer, ref.motionStatus, ref.colorStatus,
                                  ref.motionChanged, ref.colorChanged, ref.firstFrame));
        // The picture is put together before or after the piece is read back.
        const bool pictureFirst = chance(rng, 50);
        if (pictureFirst && area.pictureParts()) {
            ASSERT_TRUE(composesTo(*area.pictureParts(), ref.display, rng));
        }
        if (pictureFirst) {
            ASSERT_TRUE(sameBytes("display", area.displayView().data, bytes, ref.display, bpp));
        }
        const std::vector<std::uint8_t>& cur = area.CurBits();
        ASSERT_TRUE(sameBytes("CurBits", cur.data(), cur.size(), ref.curBits, bpp));
        ASSERT_TRUE(sameBytes("PrevBits", area.PrevBits().data(), area.PrevBits().size(),
                              samplesOf(ref.prevBits, bpp), 4));
        if (!pictureFirst && area.pictureParts()) {
            ASSERT_TRUE(composesTo(*area.pictureParts(), ref.display, rng));
        }
        ASSERT_TRUE(sameBytes("display", area.displayView().data, bytes, ref.display, bpp));
        ASSERT_EQ(area.CalcColor(), reference::calcColor(ref));
    }
}

TEST(KernelOracleTest, EveryKernelAndAreaMeasureMatchTheReference) {
    Rng rng(20240611);
    Coverage coverage;
    for (int bpp : {3, 4}) {
        // Small and odd pieces, area-sized ones, long rows.
        for (int width = 1; width <= 45; ++width) {
            for (int height : {1, 2, 3, 5}) {
                ASSERT_NO_FATAL_FAILURE(checkPiece(width, height, bpp, rng, coverage));
            }
        }
        for (int k = 5; k <= 70; k += 2) {
            ASSERT_NO_FATAL_FAILURE(
                checkPiece(4 * k + 2, uniform(rng, 22, 44), bpp, rng, coverage, k % 4 == 1));
        }
        for (int width : {97, 255, 257, 637, 638, 639}) {
            ASSERT_NO_FATAL_FAILURE(checkPiece(width, uniform(rng, 6, 24), bpp, rng, coverage));
        }
        ASSERT_NO_FATAL_FAILURE(checkPiece(638, 48, bpp, rng, coverage, true));
    }
    EXPECT_GT(coverage.motion, 0);
    EXPECT_GT(coverage.color, 0);
    EXPECT_GT(coverage.statusFlips, 0);
}

}  // namespace
}  // namespace ostrel::engine
