// Pictures of the screen in desktop tests: decoding the JPEG of a reply and
// comparing pictures block by block. Scaling, JPEG and the pointer change
// single pixels; the mean colour of a block of the screen stays put.
#pragma once

#include <glib.h>
#include <turbojpeg.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "desktop/harness.h"

namespace kelp::test {

// 8-bit RGB, rows top to bottom.
struct Picture {
  int width = 0;
  int height = 0;
  std::vector<unsigned char> rgb;
};

inline Picture pictureOf(const DesktopSession::ScreenPixels& screen) { return {screen.width, screen.height, screen.rgb}; }

// None when `base64` is not a JPEG.
inline std::optional<Picture> decodeJpeg(const std::string& base64) {
  gsize length = 0;
  guchar* bytes = g_base64_decode(base64.c_str(), &length);
  tjhandle decompressor = tjInitDecompress();
  std::optional<Picture> picture;
  int width = 0;
  int height = 0;
  int subsampling = 0;
  int colourspace = 0;
  if (decompressor && bytes && length > 0 &&
      tjDecompressHeader3(decompressor, bytes, length, &width, &height, &subsampling, &colourspace) == 0) {
    Picture decoded{width, height, std::vector<unsigned char>(static_cast<std::size_t>(width) * height * 3)};
    if (tjDecompress2(decompressor, bytes, length, decoded.rgb.data(), width, 0, height, TJPF_RGB, 0) == 0) {
      picture = std::move(decoded);
    }
  }
  if (decompressor) tjDestroy(decompressor);
  g_free(bytes);
  return picture;
}

// The picture cut into `columns` x `rows` blocks, each block's mean colour.
class BlockMeans {
 public:
  BlockMeans(const Picture& picture, int columns, int rows)
      : columns_(columns), rows_(rows), sums_(static_cast<std::size_t>(columns) * rows * 3, 0.0) {
    std::vector<double> counts(sums_.size(), 0.0);
    for (int y = 0; y < picture.height; ++y) {
      const int row = y * rows / picture.height;
      for (int x = 0; x < picture.width; ++x) {
        const int column = x * columns / picture.width;
        const unsigned char* pixel = &picture.rgb[(static_cast<std::size_t>(y) * picture.width + x) * 3];
        for (int c = 0; c < 3; ++c) {
          sums_[index(column, row, c)] += pixel[c];
          counts[index(column, row, c)] += 1;
        }
      }
    }
    for (std::size_t i = 0; i < sums_.size(); ++i) sums_[i] /= std::max(counts[i], 1.0);
  }

  int columns() const { return columns_; }
  int rows() const { return rows_; }
  double mean(int column, int row, int channel) const { return sums_[index(column, row, channel)]; }
  // The largest difference of one channel's mean between two blocks.
  static double difference(const BlockMeans& a, int columnA, int rowA, const BlockMeans& b, int columnB, int rowB) {
    double largest = 0;
    for (int c = 0; c < 3; ++c) largest = std::max(largest, std::abs(a.mean(columnA, rowA, c) - b.mean(columnB, rowB, c)));
    return largest;
  }

 private:
  std::size_t index(int column, int row, int channel) const {
    return (static_cast<std::size_t>(row) * columns_ + column) * 3 + channel;
  }
  int columns_;
  int rows_;
  std::vector<double> sums_;
};

}  // namespace kelp::test
