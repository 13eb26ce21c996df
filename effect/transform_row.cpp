// The final pass produces whole rows, and within a row every pixel has the same displacements:
// plane k samples one fixed source row at the pixel's column plus a fixed offset. So the row is cut
// into a few column segments within which each plane either reads a straight run of its source row
// or keeps the original byte, and each segment is blended in one tight loop. The result is the one
// transformPixel gives column by column, 16-bit wrap-around of columns included.
#include <algorithm>
#include <array>
#include <cstring>

#include "effect/dispersion.h"
#include "effect/row_blend.h"
#include "host/int_math.h"
#include "host/plugin_globals.h"
#include "pipeline/row_cache.h"

namespace vexel {

namespace {

constexpr std::int64_t kWrap16 = 65536;

// Columns [first, end) of the row; column c there corresponds to c + delta in the source row.
struct ColumnRun {
    std::int32_t first = 0;
    std::int32_t end = 0;
    std::int64_t delta = 0;
};

// The column runs of one condition over a row. A condition holds on a range of fewer than 65536
// values separated from its next wrapped copy by a gap, so a row of at most 32767 columns meets at
// most two of its copies.
struct ColumnRuns {
    std::array<ColumnRun, 3> runs{};
    std::size_t count = 0;

    const ColumnRun* find(std::int32_t column) const {
        for (std::size_t i = 0; i < count; ++i)
            if (runs[i].first <= column && column < runs[i].end) return &runs[i];
        return nullptr;
    }
};

// The columns c of [0, columns) with wrap16(c + offset) in [low, high), where [low, high) lies
// inside the 16-bit range: c + offset is in it for exactly one shift by a multiple of 65536.
ColumnRuns wrappedRuns(std::int64_t offset, std::int32_t low, std::int32_t high,
                       std::int32_t columns) {
    ColumnRuns result;
    if (low >= high) return result;
    // |offset| stays below 2 x 65536 (three steps are at most 3 x 2^31 / 65536), so these shifts
    // cover every column the row can have.
    for (std::int64_t turns = -2; turns <= 2; ++turns) {
        const std::int64_t shift = turns * kWrap16;
        const std::int64_t first = std::max<std::int64_t>(low + shift - offset, 0);
        const std::int64_t end = std::min<std::int64_t>(high + shift - offset, columns);
        if (first < end && result.count < result.runs.size())
            result.runs[result.count++] = {static_cast<std::int32_t>(first),
                                           static_cast<std::int32_t>(end), offset - shift};
    }
    return result;
}

// Where one displaced plane of this row reads: its source row (not fetched when that row lies
// outside the grid, missing when the cache lacks it) and the columns whose sample lies inside.
struct PlaneSource {
    bool fetched = false;
    const std::uint8_t* row = nullptr;
    std::int16_t rowIndex = 0;
    ColumnRuns columns;
};

struct RowPlan {
    const std::uint8_t* original = nullptr;
    int planes = 0;      // the effect's
    int pixelPlanes = 0; // of a pixel in the rows: the effect's and any the host has besides
    int sampleBytes = 1;
    int pixelBytes = 0;
    ColumnRuns inside;
    std::array<PlaneSource, kDisplacedPlanes> sources{};
    std::int32_t limit = 0; // columns produced: all of them, or up to the first missing sample
    std::int16_t missingRow = -1;
};

void planDisplacedPlanes(RowPlan& plan, const Effect& effect, std::int16_t columns) {
    const std::int32_t fraction = g.production.posX & 0xFFFF;
    std::int32_t y = g.production.posY;
    const auto displaced = static_cast<std::size_t>(std::min(plan.planes, kDisplacedPlanes));
    for (std::size_t k = 0; k < displaced; ++k) {
        y = addWrap32(y, effect.stepY);
        const std::int32_t row = wholePart(y);
        PlaneSource& source = plan.sources[k];
        if (row < 0 || row >= g.production.gridHeight) continue;
        source.fetched = true;
        source.rowIndex = wrap16(row);
        source.row = pixelAddress(0, source.rowIndex);
        // Column c samples wrap16(c + offset), offset being the floor of the fraction less k + 1
        // steps: the 32-bit position wraps modulo 2^32, which is 65536 whole columns.
        const auto steps = static_cast<std::int64_t>(k + 1);
        const std::int64_t offset = (fraction - steps * std::int64_t{effect.stepX}) >> 16;
        source.columns = wrappedRuns(offset, 0, g.production.gridWidth, columns);
    }
}

// The first column, in production order, whose pixel needs a row the cache lacks, and that row.
void findFirstMissing(RowPlan& plan, std::int16_t columns) {
    plan.limit = columns;
    for (const PlaneSource& source : plan.sources) {
        if (!source.fetched || source.row != kPixelMissing) continue;
        for (std::size_t i = 0; i < source.columns.count; ++i)
            for (std::size_t j = 0; j < plan.inside.count; ++j) {
                const ColumnRun& a = source.columns.runs[i];
                const ColumnRun& b = plan.inside.runs[j];
                const std::int32_t first = std::max(a.first, b.first);
                if (first < std::min(a.end, b.end) && first < plan.limit) plan.limit = first;
            }
    }
    if (plan.limit == columns) return;
    for (const PlaneSource& source : plan.sources) // lowest plane first, as the pixel asks
        if (source.fetched && source.row == kPixelMissing && source.columns.find(plan.limit)) {
            plan.missingRow = source.rowIndex;
            return;
        }
}

// Columns [first, end) inside the rectangle, over which no plane changes its source. A plane that
// is not displaced (CMYK's black, or one past the effect's such as alpha) blends its own sample,
// which leaves it unchanged since the weights sum to 256.
void produceInsideSegment(const RowPlan& plan, const Effect& effect, std::uint8_t* destination,
                          std::int32_t first, std::int32_t end) {
    const std::int32_t at = first * plan.pixelBytes;
    PlaneRuns samples{};
    const auto runs = static_cast<std::size_t>(std::min(plan.pixelPlanes, kMaxPlanes));
    for (std::size_t k = 0; k < runs; ++k) {
        samples[k] = plan.original + at; // outside the grid, a plane keeps its own sample
        if (k >= kDisplacedPlanes || !plan.sources[k].fetched) continue;
        if (const ColumnRun* run = plan.sources[k].columns.find(first))
            samples[k] = plan.sources[k].row + (first + run->delta) * plan.pixelBytes;
    }
    if (plan.sampleBytes == 2)
        blendRun16(plan.pixelPlanes, destination + at, plan.original + at, samples, end - first,
                   effect.mixOriginal, effect.mixEffect);
    else
        blendRun(plan.pixelPlanes, destination + at, plan.original + at, samples, end - first,
                 effect.mixOriginal, effect.mixEffect);
}

void produceRow(const RowPlan& plan, const Effect& effect, std::uint8_t* destination) {
    // Cut the row wherever the rectangle or a plane's valid columns start or end.
    std::array<std::int32_t, 2 + 2 * 3 * (1 + kDisplacedPlanes)> cuts{};
    std::size_t cutCount = 0;
    auto addCuts = [&](const ColumnRuns& runs) {
        for (std::size_t i = 0; i < runs.count; ++i) {
            cuts[cutCount++] = runs.runs[i].first;
            cuts[cutCount++] = runs.runs[i].end;
        }
    };
    cuts[cutCount++] = 0;
    cuts[cutCount++] = plan.limit;
    addCuts(plan.inside);
    for (const PlaneSource& source : plan.sources)
        if (source.fetched && source.row != kPixelMissing) addCuts(source.columns);
    std::sort(cuts.begin(), cuts.begin() + static_cast<std::ptrdiff_t>(cutCount));

    for (std::size_t i = 0; i + 1 < cutCount; ++i) {
        const std::int32_t first = cuts[i];
        const std::int32_t end = std::min(cuts[i + 1], plan.limit);
        if (first >= end) continue;
        if (plan.inside.find(first) != nullptr) {
            produceInsideSegment(plan, effect, destination, first, end);
        } else {
            const std::int32_t at = first * plan.pixelBytes;
            const std::int32_t bytes = (end - first) * plan.pixelBytes; // within one row
            std::memcpy(destination + at, plan.original + at, static_cast<std::size_t>(bytes));
        }
    }
}

} // namespace

std::int16_t transformRow(const Effect& effect, std::uint8_t* destination, std::int16_t columns) {
    if (columns <= 0) return -1;
    g.production.posX = withWholePart(g.production.posX, 0);
    RowPlan plan;
    plan.original = originalPixel();
    if (plan.original == kPixelMissing) return wrap16(wholePart(g.production.posY));
    plan.planes = transformPlanes();
    plan.pixelPlanes = transformPixelPlanes();
    plan.sampleBytes = transformSampleBytes();
    plan.pixelBytes = transformPixelBytes();

    const std::int16_t dy = wrap16(wholePart(g.production.posY) - effect.gridCenterY);
    if (-effect.halfHeight < dy && dy < effect.halfHeight)
        plan.inside = wrappedRuns(-std::int64_t{effect.gridCenterX}, 1 - effect.halfWidth,
                                  effect.halfWidth, columns);
    if (plan.inside.count > 0) {
        planDisplacedPlanes(plan, effect, columns);
        findFirstMissing(plan, columns);
    } else {
        plan.limit = columns;
    }
    produceRow(plan, effect, destination);
    // Leave the position where the column-by-column loop would have stopped.
    g.production.posX =
        withWholePart(g.production.posX, plan.missingRow >= 0 ? plan.limit : columns - 1);
    return plan.missingRow;
}

} // namespace vexel
