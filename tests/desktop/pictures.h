// Pictures of the screen in desktop tests: decoding the JPEG of a reply and
// comparing pictures block by block. Scaling, JPEG and the pointer change
// single pixels; the mean colour of a block of the screen stays put.
#pragma once

#include <glib.h>
#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "desktop/harness.h"
#include "desktop/nodes.h"

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


// ---- pictures of a 16:9 screen -------------------------------------------------

// A 16:9 screen in 60-pixel blocks; its 1024x576 picture in 32-pixel ones.
inline constexpr int COLUMNS = 32;
inline constexpr int ROWS = 18;
// JPEG at quality 62 and scaling move a block's mean by a few levels.
inline constexpr double BLOCK_TOLERANCE = 12;

// A reply fit for a failure message: the pictures as their lengths.
inline std::string brief(Json reply) {
  const auto shorten = [](Json& object) {
    if (object.is_object() && object.contains("jpegBase64") && object["jpegBase64"].is_string()) {
      object["jpegBase64"] = std::to_string(object["jpegBase64"].get<std::string>().size()) + " characters";
    }
  };
  if (reply.is_object() && reply["result"].is_object()) {
    shorten(reply["result"]);
    for (Json& image : reply["result"]["images"]) shorten(image);
  }
  return reply.dump();
}

// Blocks of a display's picture that disagree with the screen's blocks of
// the same place, the display starting `firstScreenColumn` blocks in.
inline std::vector<std::pair<int, int>> disagreeingBlocks(const Picture& picture, const BlockMeans& screen,
                                                   int firstScreenColumn) {
  const BlockMeans shown(picture, COLUMNS, ROWS);
  std::vector<std::pair<int, int>> disagreeing;
  for (int row = 0; row < ROWS; ++row) {
    for (int column = 0; column < COLUMNS; ++column) {
      if (BlockMeans::difference(shown, column, row, screen, firstScreenColumn + column, row) > BLOCK_TOLERANCE)
        disagreeing.emplace_back(column, row);
    }
  }
  return disagreeing;
}

inline std::string listed(const std::vector<std::pair<int, int>>& blocks) {
  std::string text = std::to_string(blocks.size()) + " blocks:";
  for (std::size_t i = 0; i < blocks.size() && i < 8; ++i)
    text += " (" + std::to_string(blocks[i].first) + "," + std::to_string(blocks[i].second) + ")";
  return text + (blocks.size() > 8 ? " ..." : "");
}

// The blocks of `picture` wholly inside `frame` (in screen pixels of a
// screen `screenWidth` wide) stand out from the even background around it.
inline void expectWindowStandsOut(const Picture& picture, int screenWidth, const DesktopSession::WindowGeometry& frame) {
  const BlockMeans shown(picture, COLUMNS, ROWS);
  const int blockSize = screenWidth / COLUMNS;
  std::vector<std::pair<int, int>> inside;
  std::vector<std::pair<int, int>> outside;
  for (int row = 0; row < ROWS; ++row) {
    for (int column = 0; column < COLUMNS; ++column) {
      const int left = column * blockSize;
      const int top = row * blockSize;
      const bool within = left >= frame.x && top >= frame.y && left + blockSize <= frame.x + frame.width &&
                          top + blockSize <= frame.y + frame.height;
      const bool apart = left >= frame.x + frame.width || top >= frame.y + frame.height ||
                         left + blockSize <= frame.x || top + blockSize <= frame.y;
      if (within) inside.emplace_back(column, row);
      if (apart) outside.emplace_back(column, row);
    }
  }
  ASSERT_GT(inside.size(), 20u) << "the window is " << frame.width << "x" << frame.height;
  ASSERT_GT(outside.size(), 20u);
  const auto [backgroundColumn, backgroundRow] = outside.front();
  for (const auto& [column, row] : outside) {
    EXPECT_LE(BlockMeans::difference(shown, column, row, shown, backgroundColumn, backgroundRow), 4)
        << "the background is even, at block (" << column << "," << row << ")";
  }
  std::size_t standingOut = 0;
  for (const auto& [column, row] : inside) {
    if (BlockMeans::difference(shown, column, row, shown, backgroundColumn, backgroundRow) > 40) ++standingOut;
  }
  EXPECT_GT(standingOut, inside.size() * 9 / 10);
}

}  // namespace kelp::test
