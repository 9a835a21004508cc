#include "platform/linux/x_capture.h"

#include <X11/extensions/Xfixes.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <mutex>
#include <utility>

#include "platform/linux/handles.h"
#include "platform/linux/x_display.h"

namespace kelp::platform::linux_x11 {
namespace {

// A capture stuck in a call to a hung X server holds the connection; later
// captures give up after this instead of piling up behind it.
constexpr std::chrono::seconds LOCK_WAIT{10};

// Far beyond any picture the core asks for.
constexpr std::int64_t MAX_PICTURE_PIXELS = std::int64_t{1} << 24;

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

// Picture memory in 32-bit words, as pixman wants its rows aligned.
using Pixels = std::vector<std::uint32_t>;

PixmanImageOwner wrap(pixman_format_code_t format, PixelSize size, void* bits, int strideBytes) {
  return PixmanImageOwner(
      pixman_image_create_bits(format, size.width, size.height, static_cast<std::uint32_t*>(bits), strideBytes));
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

std::optional<RootRect> intersection(const RootRect& a, const RootRect& b) {
  const int left = std::max(a.x, b.x);
  const int top = std::max(a.y, b.y);
  const int right = std::min(a.x + a.width, b.x + b.width);
  const int bottom = std::min(a.y + a.height, b.y + b.height);
  if (right <= left || bottom <= top) return std::nullopt;
  return RootRect{left, top, right - left, bottom - top};
}

std::optional<RootRect> rootRect(Display* display, Window root) {
  Window unused = None;
  int x = 0;
  int y = 0;
  unsigned width = 0;
  unsigned height = 0;
  unsigned border = 0;
  unsigned depth = 0;
  if (!XGetGeometry(display, root, &unused, &x, &y, &width, &height, &border, &depth)) return std::nullopt;
  return RootRect{0, 0, static_cast<int>(width), static_cast<int>(height)};
}

}  // namespace

// ---- decisions without a display ---------------------------------------------

std::vector<CaptureDisplay> captureDisplaysFrom(const std::vector<MonitorRect>& monitors) {
  const Point origin = accessibilityOrigin(monitors);
  std::vector<CaptureDisplay> displays;
  for (std::size_t i = 0; i < monitors.size(); ++i) {
    const MonitorRect& m = monitors[i];
    displays.push_back({static_cast<std::uint32_t>(i + 1), m.width, m.height, m.x - origin.x, m.y - origin.y});
  }
  return displays;
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
    PixmanImageOwner target = wrap(PIXMAN_x8r8g8b8, from, converted.data(), from.width * 4);
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

std::optional<pixman_format_code_t> pixelFormatOf(int bitsPerPixel, int depth, unsigned long redMask,
                                                  unsigned long greenMask, unsigned long blueMask) {
  struct Layout {
    int bitsPerPixel;
    int depth;  // 0: any
    unsigned long red;
    unsigned long green;
    unsigned long blue;
    pixman_format_code_t format;
  };
  // A 32-bit root's fourth byte is padding or an alpha nobody sets for the
  // screen: it is ignored either way.
  static constexpr Layout LAYOUTS[] = {
      {32, 24, 0xff0000, 0xff00, 0xff, PIXMAN_x8r8g8b8},
      {32, 32, 0xff0000, 0xff00, 0xff, PIXMAN_x8r8g8b8},
      {32, 24, 0xff, 0xff00, 0xff0000, PIXMAN_x8b8g8r8},
      {32, 32, 0xff, 0xff00, 0xff0000, PIXMAN_x8b8g8r8},
      {32, 30, 0x3ff00000, 0xffc00, 0x3ff, PIXMAN_x2r10g10b10},
      {32, 30, 0x3ff, 0xffc00, 0x3ff00000, PIXMAN_x2b10g10r10},
      {24, 24, 0xff0000, 0xff00, 0xff, PIXMAN_r8g8b8},
      {24, 24, 0xff, 0xff00, 0xff0000, PIXMAN_b8g8r8},
      {16, 16, 0xf800, 0x7e0, 0x1f, PIXMAN_r5g6b5},
      {16, 16, 0x1f, 0x7e0, 0xf800, PIXMAN_b5g6r5},
      {16, 15, 0x7c00, 0x3e0, 0x1f, PIXMAN_x1r5g5b5},
      {16, 15, 0x1f, 0x3e0, 0x7c00, PIXMAN_x1b5g5r5},
  };
  for (const Layout& layout : LAYOUTS) {
    if (layout.bitsPerPixel == bitsPerPixel && layout.depth == depth && layout.red == redMask &&
        layout.green == greenMask && layout.blue == blueMask) {
      return layout.format;
    }
  }
  return std::nullopt;
}

std::optional<int> jpegQuality(double quality) {
  if (!std::isfinite(quality)) return std::nullopt;
  return static_cast<int>(std::clamp(std::round(quality * 100), 1.0, 100.0));
}

// ---- the connection ------------------------------------------------------------

struct XScreenCapture::Connection {
  XDisplay x;
  // What the server offers, learnt once for each connection (`known`).
  Display* known = nullptr;
  bool sharedMemory = false;  // MIT-SHM offered and not refused yet
  bool cursorImages = false;  // XFixes 1 or later
  // Declared after `x`: it goes first, while the connection still exists.
  std::unique_ptr<SharedSegment> segment;
  // Kept between captures: fresh memory costs a page fault per page.
  ScaleScratch scaling;
  Pixels padding;

  // The connection to use now, opened anew when the last one broke.
  Display* display() {
    if (x.lost()) {
      if (segment) segment->serverGone();
      segment.reset();
      known = nullptr;
    }
    Display* display = x.handle();
    if (display && display != known) learn(display);
    return display;
  }

  void learn(Display* display) {
    known = display;
    segment.reset();
    sharedMemory = XShmQueryExtension(display) != False;
    int eventBase = 0;
    int errorBase = 0;
    int major = 0;
    int minor = 0;
    // XFixes answers only clients that said which version they speak.
    cursorImages = XFixesQueryExtension(display, &eventBase, &errorBase) &&
                   XFixesQueryVersion(display, &major, &minor) && major >= 1;
  }

  // `area` of the root window, as the server sends it.
  struct Read {
    XImageOwner own;         // from GetImage, with its pixels
    SharedImageOwner view;   // over the shared segment
    XImage* image() const { return own ? own.get() : view.get(); }
  };

  Read read(Display* display, Window root, const RootRect& area) {
    Read read;
    if (sharedMemory) {
      read.view = readShared(display, root, area);
      if (read.view) return read;
    }
    read.own.reset(XGetImage(display, root, area.x, area.y, static_cast<unsigned>(area.width),
                             static_cast<unsigned>(area.height), AllPlanes, ZPixmap));
    return read;
  }

  SharedImageOwner readShared(Display* display, Window root, const RootRect& area) {
    const int screen = DefaultScreen(display);
    SharedImageOwner image(XShmCreateImage(display, DefaultVisual(display, screen), DefaultDepth(display, screen),
                                           ZPixmap, nullptr, nullptr, static_cast<unsigned>(area.width),
                                           static_cast<unsigned>(area.height)));
    if (!image) return nullptr;
    const std::size_t size = static_cast<std::size_t>(image->bytes_per_line) * static_cast<std::size_t>(area.height);
    if (!segment || segment->size() < size) {
      segment.reset();
      segment = SharedSegment::attach(display, size);
      if (!segment) {
        sharedMemory = false;
        return nullptr;
      }
    }
    image->obdata = reinterpret_cast<char*>(segment->info());
    image->data = segment->info()->shmaddr;
    if (!XShmGetImage(display, root, image.get(), area.x, area.y, AllPlanes)) {
      // The server could not attach the segment (a connection from another
      // machine): GetImage from now on.
      segment.reset();
      sharedMemory = false;
      return nullptr;
    }
    return image;
  }

  // Draws the pointer over `picture`, whose top left lies at `origin` on the
  // root window.
  void drawPointer(Display* display, pixman_image_t* picture, const RootRect& origin) {
    if (!cursorImages) return;
    XMemory<XFixesCursorImage> cursor(XFixesGetCursorImage(display));
    if (!cursor || cursor->width == 0 || cursor->height == 0) return;
    const PixelSize size{cursor->width, cursor->height};
    // Premultiplied ARGB in the low 32 bits of each long.
    Pixels argb(static_cast<std::size_t>(size.width) * static_cast<std::size_t>(size.height));
    std::transform(cursor->pixels, cursor->pixels + argb.size(), argb.begin(),
                   [](unsigned long pixel) { return static_cast<std::uint32_t>(pixel); });
    PixmanImageOwner image = wrap(PIXMAN_a8r8g8b8, size, argb.data(), size.width * 4);
    if (!image) return;
    pixman_image_composite32(PIXMAN_OP_OVER, image.get(), nullptr, picture, 0, 0, 0, 0,
                             cursor->x - cursor->xhot - origin.x, cursor->y - cursor->yhot - origin.y, size.width,
                             size.height);
  }

  std::optional<Image> capture(Display* display, const MonitorRect& monitor, PixelSize size) {
    const Window root = DefaultRootWindow(display);
    const RootRect wanted{monitor.x, monitor.y, monitor.width, monitor.height};
    const std::optional<RootRect> screen = rootRect(display, root);
    if (!screen) return std::nullopt;
    // A monitor may reach past the screen; only the part on it can be read.
    const std::optional<RootRect> area = intersection(wanted, *screen);
    if (!area) return std::nullopt;
    Read read = this->read(display, root, *area);
    XImage* image = read.image();
    if (!image) return std::nullopt;
    const std::optional<pixman_format_code_t> format =
        pixelFormatOf(image->bits_per_pixel, image->depth, image->red_mask, image->green_mask, image->blue_mask);
    const int hostOrder = std::endian::native == std::endian::little ? LSBFirst : MSBFirst;
    if (!format || image->byte_order != hostOrder || image->bytes_per_line % 4 != 0) return std::nullopt;

    const PixelSize full{monitor.width, monitor.height};
    PixmanImageOwner source = wrap(*format, {area->width, area->height}, image->data, image->bytes_per_line);
    if (!source) return std::nullopt;
    if (!(*area == wanted)) {
      // Off-screen parts stay black.
      Pixels& whole = padding;
      whole.assign(static_cast<std::size_t>(full.width) * static_cast<std::size_t>(full.height), 0);
      PixmanImageOwner padded = wrap(PIXMAN_x8r8g8b8, full, whole.data(), full.width * 4);
      if (!padded) return std::nullopt;
      pixman_image_composite32(PIXMAN_OP_SRC, source.get(), nullptr, padded.get(), 0, 0, 0, 0, area->x - wanted.x,
                               area->y - wanted.y, area->width, area->height);
      source = std::move(padded);
    }
    drawPointer(display, source.get(), wanted);
    return scaledPicture(source.get(), full, size, scaling);
  }
};

// ---- the service ---------------------------------------------------------------

struct XScreenCapture::State {
  std::timed_mutex mutex;
  std::unique_ptr<Connection> connection;  // opened by the first call

  // Null without a display. Called with `mutex` held.
  Connection* open() {
    if (!connection) connection = std::make_unique<Connection>();
    return connection->display() ? connection.get() : nullptr;
  }
};

XScreenCapture::XScreenCapture() : state_(std::make_shared<State>()) {}
XScreenCapture::~XScreenCapture() = default;

std::optional<std::vector<CaptureDisplay>> XScreenCapture::displays() {
  const std::shared_ptr<State> state = state_;
  std::unique_lock lock(state->mutex, LOCK_WAIT);
  if (!lock) return std::nullopt;
  Connection* connection = state->open();
  if (!connection) return std::nullopt;
  const std::optional<std::vector<MonitorRect>> monitors = connection->x.monitors();
  if (!monitors) return std::nullopt;
  return captureDisplaysFrom(*monitors);
}

std::optional<Image> XScreenCapture::captureDisplay(std::uint32_t displayId, int width, int height) {
  if (width <= 0 || height <= 0 ||
      static_cast<std::int64_t>(width) * static_cast<std::int64_t>(height) > MAX_PICTURE_PIXELS) {
    return std::nullopt;
  }
  const std::shared_ptr<State> state = state_;
  std::unique_lock lock(state->mutex, LOCK_WAIT);
  if (!lock) return std::nullopt;
  Connection* connection = state->open();
  if (!connection) return std::nullopt;
  const std::optional<std::vector<MonitorRect>> monitors = connection->x.monitors();
  if (!monitors || displayId == 0 || displayId > monitors->size()) return std::nullopt;
  const MonitorRect& monitor = (*monitors)[displayId - 1];
  if (monitor.width <= 0 || monitor.height <= 0) return std::nullopt;
  Display* display = connection->display();
  if (!display) return std::nullopt;
  return connection->capture(display, monitor, {width, height});
}

std::optional<Jpeg> XScreenCapture::encodeJpeg(const Image& image, double quality) {
  const std::optional<int> level = jpegQuality(quality);
  if (!level || image.width <= 0 || image.height <= 0 ||
      image.rgb.size() != static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height) * 3) {
    return std::nullopt;
  }
  // A compressor of its own for each call: encoding may overlap a capture
  // that the core stopped waiting for, and making one costs microseconds.
  TurboJpegOwner compressor(tjInitCompress());
  if (!compressor) return std::nullopt;
  unsigned char* bytes = nullptr;
  unsigned long length = 0;
  const int failed = tjCompress2(compressor.get(), image.rgb.data(), image.width, 0, image.height, TJPF_RGB, &bytes,
                                 &length, TJSAMP_420, *level, 0);
  TurboJpegBufferOwner owned(bytes);
  if (failed || !owned || length == 0) return std::nullopt;
  GCharOwner text(g_base64_encode(owned.get(), length));
  if (!text) return std::nullopt;
  return Jpeg{std::string(text.get()), image.width, image.height};
}

}  // namespace kelp::platform::linux_x11
