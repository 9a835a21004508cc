// Scaling a picture down in one pass, with pixman.
#include "platform/linux/picture/scale.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

namespace kelp::platform::linux_desktop {
namespace {

// The sizes along one axis that the steps axisTaps describes pass through, `to` last.
std::vector<int> axisSteps(int from, int to) {
  if (from <= to) return {to};
  std::vector<int> steps;
  int size = from;
  while (size >= 2 * to) {
    size = (size + 1) / 2;
    steps.push_back(size);
  }
  if (size != to) {
    steps.push_back(2 * to);
    steps.push_back(to);
  }
  return steps;
}

// ---- scaling in one pass ---------------------------------------------------------

// Fixed point: the rows' weights in 1/256 (source bytes times these sum to
// at most 65280, a 16-bit word), the columns' in 1/16384 (16-bit signed
// words, as SSE2's pmaddwd multiplies them).
constexpr int ROW_WEIGHT_BITS = 8;
constexpr int COLUMN_WEIGHT_BITS = 14;
// The rows' sums are halved to fit signed 16-bit words: 7 fraction bits.
constexpr int ROW_SUM_BITS = ROW_WEIGHT_BITS - 1;

// `taps`' weights rounded to `bits` fraction bits, still summing to one: the
// largest weight takes up what rounding lost.
std::vector<std::int16_t> fixedWeights(const AxisTaps& taps, int bits, std::size_t count) {
  std::vector<std::int16_t> fixed(count, 0);
  const int one = 1 << bits;
  int sum = 0;
  std::size_t largest = 0;
  for (std::size_t k = 0; k < taps.weights.size(); ++k) {
    fixed[k] = static_cast<std::int16_t>(std::lround(taps.weights[k] * one));
    sum += fixed[k];
    if (taps.weights[k] > taps.weights[largest]) largest = k;
  }
  fixed[largest] = static_cast<std::int16_t>(fixed[largest] + one - sum);
  return fixed;
}

}  // namespace

struct ScaleScratch::Plan {
  PixelSize from;
  PixelSize to;
  // Each target row: its first source row, how many, and their weights.
  std::vector<int> rowFirst;
  std::vector<int> rowCount;
  std::vector<std::vector<std::int16_t>> rowWeights;
  // Each target column: its first source column and its weights two by two
  // (an even number of them, the last possibly 0, for the column after),
  // each pair four times over, as the eight words of an SSE2 register.
  std::vector<int> columnFirst;
  int columnPairs = 0;
  std::vector<std::int16_t> columnWeights;  // columnPairs * 8 for each column

  static std::unique_ptr<Plan> make(PixelSize from, PixelSize to) {
    const std::vector<AxisTaps> columns = axisTaps(from.width, to.width);
    const std::vector<AxisTaps> rows = axisTaps(from.height, to.height);
    if (columns.empty() || rows.empty()) return nullptr;
    auto plan = std::make_unique<Plan>();
    plan->from = from;
    plan->to = to;
    for (const AxisTaps& row : rows) {
      plan->rowFirst.push_back(row.first);
      plan->rowCount.push_back(static_cast<int>(row.weights.size()));
      plan->rowWeights.push_back(fixedWeights(row, ROW_WEIGHT_BITS, row.weights.size()));
    }
    std::size_t widest = 1;
    for (const AxisTaps& column : columns) widest = std::max(widest, column.weights.size());
    plan->columnPairs = static_cast<int>((widest + 1) / 2);
    for (const AxisTaps& column : columns) {
      plan->columnFirst.push_back(column.first);
      const std::vector<std::int16_t> fixed =
          fixedWeights(column, COLUMN_WEIGHT_BITS, static_cast<std::size_t>(plan->columnPairs) * 2);
      for (int pair = 0; pair < plan->columnPairs; ++pair) {
        for (int copy = 0; copy < 4; ++copy) {
          plan->columnWeights.push_back(fixed[static_cast<std::size_t>(2 * pair)]);
          plan->columnWeights.push_back(fixed[static_cast<std::size_t>(2 * pair + 1)]);
        }
      }
    }
    return plan;
  }
};

ScaleScratch::ScaleScratch() = default;
ScaleScratch::~ScaleScratch() = default;
ScaleScratch::ScaleScratch(ScaleScratch&&) noexcept = default;
ScaleScratch& ScaleScratch::operator=(ScaleScratch&&) noexcept = default;

namespace {

// Adds `TAPS` source rows times their weights to `out` (`words` of them),
// or sets it from them (`FIRST`); halves the sums at the end (`LAST`): 7
// fraction bits.
template <int TAPS, bool FIRST, bool LAST>
void sumSomeRows(const std::uint8_t* const* rows, const std::uint16_t* factors, std::uint16_t* out,
                 std::size_t words) {
  std::size_t i = 0;
#if defined(__SSE2__)
  __m128i weight[TAPS];
  for (int k = 0; k < TAPS; ++k) weight[k] = _mm_set1_epi16(static_cast<short>(factors[k]));
  const __m128i zero = _mm_setzero_si128();
  for (; i + 16 <= words; i += 16) {
    __m128i* target = reinterpret_cast<__m128i*>(out + i);
    __m128i low = FIRST ? zero : _mm_loadu_si128(target);
    __m128i high = FIRST ? zero : _mm_loadu_si128(target + 1);
#pragma GCC unroll 4
    for (int k = 0; k < TAPS; ++k) {
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[k] + i));
      low = _mm_add_epi16(low, _mm_mullo_epi16(_mm_unpacklo_epi8(bytes, zero), weight[k]));
      high = _mm_add_epi16(high, _mm_mullo_epi16(_mm_unpackhi_epi8(bytes, zero), weight[k]));
    }
    _mm_storeu_si128(target, LAST ? _mm_srli_epi16(low, 1) : low);
    _mm_storeu_si128(target + 1, LAST ? _mm_srli_epi16(high, 1) : high);
  }
#endif
  for (; i < words; ++i) {
    unsigned sum = FIRST ? 0 : out[i];
    for (int k = 0; k < TAPS; ++k) sum += unsigned{factors[k]} * rows[k][i];
    out[i] = static_cast<std::uint16_t>(LAST ? sum >> 1 : sum);
  }
}

template <int TAPS>
void sumSomeRows(const std::uint8_t* const* rows, const std::uint16_t* factors, std::uint16_t* out, std::size_t words,
                 bool first, bool last) {
  if (first && last) return sumSomeRows<TAPS, true, true>(rows, factors, out, words);
  if (first) return sumSomeRows<TAPS, true, false>(rows, factors, out, words);
  if (last) return sumSomeRows<TAPS, false, true>(rows, factors, out, words);
  sumSomeRows<TAPS, false, false>(rows, factors, out, words);
}

// `out` = the weighted sum of the source rows the plan gives target row
// `y`, up to four rows at a time through the registers.
void sumRows(const ScaleScratch::Plan& plan, int y, const std::uint8_t* pixels, std::size_t stride,
             std::uint16_t* out, std::size_t words) {
  constexpr int AT_ONCE = 4;
  const int first = plan.rowFirst[static_cast<std::size_t>(y)];
  const int count = plan.rowCount[static_cast<std::size_t>(y)];
  const std::vector<std::int16_t>& weights = plan.rowWeights[static_cast<std::size_t>(y)];
  for (int start = 0; start < count; start += AT_ONCE) {
    const int taps = std::min(AT_ONCE, count - start);
    const std::uint8_t* rows[AT_ONCE] = {};
    std::uint16_t factors[AT_ONCE] = {};
    for (int k = 0; k < taps; ++k) {
      rows[k] = pixels + static_cast<std::size_t>(first + start + k) * stride;
      factors[k] = static_cast<std::uint16_t>(weights[static_cast<std::size_t>(start + k)]);
    }
    const bool firstTaps = start == 0;
    const bool lastTaps = start + taps == count;
    switch (taps) {
      case 1: sumSomeRows<1>(rows, factors, out, words, firstTaps, lastTaps); break;
      case 2: sumSomeRows<2>(rows, factors, out, words, firstTaps, lastTaps); break;
      case 3: sumSomeRows<3>(rows, factors, out, words, firstTaps, lastTaps); break;
      default: sumSomeRows<4>(rows, factors, out, words, firstTaps, lastTaps); break;
    }
  }
}

// How the four channels of a pixel, as a 32-bit word of bytes in memory
// order, become red, green and blue in memory order.
enum class Order {
  BLUE_FIRST_LITTLE,  // blue, green, red in memory, on a little-endian host
  RED_FIRST_LITTLE,   // red, green, blue in memory, on a little-endian host
  ANY,                // `red`, `green` and `blue` say which byte is which
};

// Target row of RGB from the summed row (four words a pixel): for each
// column, its weights over the pixels from its first on. `red`, `green` and
// `blue` are the words' places in a pixel. `PAIRS` is the plan's
// columnPairs, 0 for any. Writes one byte past the row's last pixel.
template <int PAIRS, Order ORDER>
void sumColumns(const ScaleScratch::Plan& plan, const std::uint16_t* row, std::uint8_t* rgb, int red, int green,
                int blue) {
  constexpr int SHIFT = ROW_SUM_BITS + COLUMN_WEIGHT_BITS;
  const std::int16_t* weights = plan.columnWeights.data();
  const int pairs = PAIRS > 0 ? PAIRS : plan.columnPairs;
  const int* first = plan.columnFirst.data();
  for (int x = 0; x < plan.to.width; ++x) {
    const std::uint16_t* pixel = row + static_cast<std::size_t>(first[x]) * 4;
#if defined(__SSE2__)
    __m128i sum = _mm_set1_epi32(1 << (SHIFT - 1));
    for (int pair = 0; pair < pairs; ++pair) {
      // Two pixels, their words interleaved, times their two weights.
      const __m128i two = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixel + 8 * pair));
      const __m128i interleaved = _mm_unpacklo_epi16(two, _mm_srli_si128(two, 8));
      const __m128i both = _mm_loadu_si128(reinterpret_cast<const __m128i*>(weights + 8 * pair));
      sum = _mm_add_epi32(sum, _mm_madd_epi16(interleaved, both));
    }
    const __m128i words = _mm_packs_epi32(_mm_srai_epi32(sum, SHIFT), _mm_setzero_si128());
    const auto bytes = static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(words, words)));
#else
    std::int32_t channel[4] = {1 << (SHIFT - 1), 1 << (SHIFT - 1), 1 << (SHIFT - 1), 1 << (SHIFT - 1)};
    for (int pair = 0; pair < pairs; ++pair) {
      for (int c = 0; c < 4; ++c) {
        channel[c] += std::int32_t{weights[8 * pair]} * std::int32_t{pixel[8 * pair + c]} +
                      std::int32_t{weights[8 * pair + 1]} * std::int32_t{pixel[8 * pair + 4 + c]};
      }
    }
    std::uint32_t bytes = 0;
    for (int c = 0; c < 4; ++c) bytes |= static_cast<std::uint32_t>(channel[c] >> SHIFT) << (8 * c);
#endif
    // Four bytes written, the fourth overwritten by the next pixel.
    std::uint32_t out = bytes;
    if constexpr (ORDER == Order::BLUE_FIRST_LITTLE) out = __builtin_bswap32(bytes) >> 8;
    if constexpr (ORDER == Order::ANY) {
      const std::uint8_t channels[4] = {static_cast<std::uint8_t>(bytes >> (8 * red)),
                                        static_cast<std::uint8_t>(bytes >> (8 * green)),
                                        static_cast<std::uint8_t>(bytes >> (8 * blue)), 0};
      std::memcpy(&out, channels, sizeof out);
    }
    std::memcpy(rgb, &out, sizeof out);
    rgb += 3;
    weights += 8 * pairs;
  }
}

template <int PAIRS>
void sumColumns(const ScaleScratch::Plan& plan, const std::uint16_t* row, std::uint8_t* rgb, int red, int green,
                int blue) {
  const bool little = std::endian::native == std::endian::little;
  if (little && red == 2 && green == 1 && blue == 0) {
    return sumColumns<PAIRS, Order::BLUE_FIRST_LITTLE>(plan, row, rgb, red, green, blue);
  }
  if (little && red == 0 && green == 1 && blue == 2) {
    return sumColumns<PAIRS, Order::RED_FIRST_LITTLE>(plan, row, rgb, red, green, blue);
  }
  sumColumns<PAIRS, Order::ANY>(plan, row, rgb, red, green, blue);
}

void sumColumns(const ScaleScratch::Plan& plan, const std::uint16_t* row, std::uint8_t* rgb, int red, int green,
                int blue) {
  switch (plan.columnPairs) {
    case 1: return sumColumns<1>(plan, row, rgb, red, green, blue);
    case 2: return sumColumns<2>(plan, row, rgb, red, green, blue);
    default: return sumColumns<0>(plan, row, rgb, red, green, blue);
  }
}

// The byte of a 32-bit pixel in memory that holds the bits from `shift` on.
int byteAt(int shift) { return std::endian::native == std::endian::little ? shift / 8 : 3 - shift / 8; }

}  // namespace

PixmanImageOwner wrapPixels(pixman_format_code_t format, PixelSize size, void* bits, int strideBytes) {
  return PixmanImageOwner(
      pixman_image_create_bits(format, size.width, size.height, static_cast<std::uint32_t*>(bits), strideBytes));
}

std::vector<PixelSize> scaleSteps(PixelSize from, PixelSize to) {
  if (from.width <= 0 || from.height <= 0 || to.width <= 0 || to.height <= 0) return {};
  std::vector<int> across = axisSteps(from.width, to.width);
  std::vector<int> down = axisSteps(from.height, to.height);
  // The axis with fewer steps keeps its size through the first ones.
  if (across.size() < down.size()) across.insert(across.begin(), down.size() - across.size(), from.width);
  if (down.size() < across.size()) down.insert(down.begin(), across.size() - down.size(), from.height);
  std::vector<PixelSize> steps;
  for (std::size_t i = 0; i < across.size(); ++i) steps.push_back({across[i], down[i]});
  return steps;
}

std::vector<AxisTaps> axisTaps(int from, int to) {
  if (from <= 0 || to <= 0) return {};
  // Each source pixel alone, then each step's bilinear mix of the last.
  std::vector<AxisTaps> current(static_cast<std::size_t>(from));
  for (int i = 0; i < from; ++i) current[static_cast<std::size_t>(i)] = {i, {1.0}};
  int size = from;
  for (const int step : axisSteps(from, to)) {
    std::vector<AxisTaps> next(static_cast<std::size_t>(step));
    for (int j = 0; j < step; ++j) {
      // Where target pixel j's centre falls on the source, in pixels.
      const double at = step == size ? j : (j + 0.5) * size / step - 0.5;
      const double left = std::floor(at);
      const double right = at - left;
      const int near = static_cast<int>(left);
      const std::pair<int, double> parts[] = {{std::clamp(near, 0, size - 1), 1.0 - right},
                                              {std::clamp(near + 1, 0, size - 1), right}};
      int first = std::numeric_limits<int>::max();
      int last = -1;
      for (const auto& [i, weight] : parts) {
        if (weight <= 0) continue;
        const AxisTaps& earlier = current[static_cast<std::size_t>(i)];
        first = std::min(first, earlier.first);
        last = std::max(last, earlier.first + static_cast<int>(earlier.weights.size()) - 1);
      }
      AxisTaps taps{first, std::vector<double>(static_cast<std::size_t>(last - first + 1), 0.0)};
      for (const auto& [i, weight] : parts) {
        if (weight <= 0) continue;
        const AxisTaps& earlier = current[static_cast<std::size_t>(i)];
        for (std::size_t k = 0; k < earlier.weights.size(); ++k) {
          taps.weights[static_cast<std::size_t>(earlier.first - first) + k] += weight * earlier.weights[k];
        }
      }
      next[static_cast<std::size_t>(j)] = std::move(taps);
    }
    current = std::move(next);
    size = step;
  }
  return current;
}

std::optional<Image> scaledPicture(pixman_image_t* source, PixelSize from, PixelSize to, ScaleScratch& scratch) {
  if (!source || from.width <= 0 || from.height <= 0 || to.width <= 0 || to.height <= 0 ||
      pixman_image_get_width(source) != from.width || pixman_image_get_height(source) != from.height) {
    return std::nullopt;
  }
  if (!scratch.plan || !(scratch.plan->from == from) || !(scratch.plan->to == to)) {
    scratch.plan = ScaleScratch::Plan::make(from, to);
    if (!scratch.plan) return std::nullopt;
  }
  // Pixels of four 8-bit channels as they are, anything else converted.
  const pixman_format_code_t format = pixman_image_get_format(source);
  int redShift = 16;
  int blueShift = 0;
  const std::uint8_t* pixels = nullptr;
  std::size_t stride = 0;
  if (format == PIXMAN_x8r8g8b8 || format == PIXMAN_a8r8g8b8 || format == PIXMAN_x8b8g8r8 ||
      format == PIXMAN_a8b8g8r8) {
    if (format == PIXMAN_x8b8g8r8 || format == PIXMAN_a8b8g8r8) std::swap(redShift, blueShift);
    pixels = reinterpret_cast<const std::uint8_t*>(pixman_image_get_data(source));
    stride = static_cast<std::size_t>(pixman_image_get_stride(source));
  } else {
    Pixels& converted = scratch.converted;
    converted.resize(static_cast<std::size_t>(from.width) * static_cast<std::size_t>(from.height));
    PixmanImageOwner target = wrapPixels(PIXMAN_x8r8g8b8, from, converted.data(), from.width * 4);
    if (!target) return std::nullopt;
    pixman_image_set_transform(source, nullptr);
    pixman_image_set_filter(source, PIXMAN_FILTER_NEAREST, nullptr, 0);
    pixman_image_composite32(PIXMAN_OP_SRC, source, nullptr, target.get(), 0, 0, 0, 0, 0, 0, from.width,
                             from.height);
    pixels = reinterpret_cast<const std::uint8_t*>(converted.data());
    stride = static_cast<std::size_t>(from.width) * 4;
  }
  if (!pixels) return std::nullopt;

  const ScaleScratch::Plan& plan = *scratch.plan;
  // The columns' last pair may reach a pixel past the edge (with weight 0).
  const std::size_t words = static_cast<std::size_t>(from.width) * 4;
  scratch.row.assign(words + static_cast<std::size_t>(plan.columnPairs) * 8, 0);
  Image image{to.width, to.height,
              std::vector<std::uint8_t>(static_cast<std::size_t>(to.width) * static_cast<std::size_t>(to.height) * 3 + 1)};
  const int red = byteAt(redShift);
  const int green = byteAt(8);
  const int blue = byteAt(blueShift);
  for (int y = 0; y < to.height; ++y) {
    sumRows(plan, y, pixels, stride, scratch.row.data(), words);
    sumColumns(plan, scratch.row.data(), image.rgb.data() + static_cast<std::size_t>(y) * to.width * 3, red, green,
               blue);
  }
  image.rgb.pop_back();  // the byte after the last pixel
  return image;
}

}  // namespace kelp::platform::linux_desktop
