// The flat view of another application's interface: one Node per element a
// person could act on or read, collected by a bounded depth-first walk.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ax/attributes.h"
#include "platform/platform.h"

namespace kelp::ax {

bool isInteractive(std::string_view role);

inline constexpr std::size_t VALUE_CLIP = 200;
inline constexpr std::size_t TAIL_LENGTH = 80;
inline constexpr int MAX_WALK_DEPTH = 22;

struct Node {
  platform::Element el;
  std::string role;
  std::string label;        // clipped to LABEL_CLIP characters
  std::string value;        // untrimmed, clipped to VALUE_CLIP characters
  std::int64_t valueLen = 0;  // UTF-16 units of the whole value
  std::string valueTail;    // the last TAIL_LENGTH characters of a clipped value
  std::int64_t labelLen = 0;  // UTF-16 units of the whole label; 0 when it is the value
  std::string labelTail;
  std::string identifier;
  bool enabled = true;
  std::string path;         // e.g. /AXWindow[0]/AXGroup[2]/AXButton[1]
  std::optional<Frame> frame;
};

// Keeps one snapshot of the interface open while it lives, so that a burst
// of reads can be fetched in bulk, guided by `plan`, and still reflect the
// live interface.
class Snapshot {
 public:
  Snapshot(platform::Accessibility& ax, const platform::ReadPlan& plan) : ax_(ax) { ax_.beginSnapshot(plan); }
  ~Snapshot() { ax_.endSnapshot(); }
  Snapshot(const Snapshot&) = delete;
  Snapshot& operator=(const Snapshot&) = delete;

 private:
  platform::Accessibility& ax_;
};

// What a walk reads of the elements it meets.
const platform::ReadPlan& walkReadPlan();

struct WalkOptions {
  // Whether the items of menus that are closed are recorded; the "menu"
  // command lists them on its own.
  bool closedMenus = true;
  // Where `root` stands: its own path, which its descendants' paths extend.
  std::string rootPath;
  // Whether the walk reads inside one snapshot, which a backend may fetch
  // ahead of; without, every read asks on its own, as a check of what
  // fetching ahead gives.
  bool snapshot = true;
};

// The records of `root` and its descendants in document order, until the
// list holds `max` records or the walk is deeper than MAX_WALK_DEPTH below
// `root`; paths start at `root`. The walk reads inside one snapshot unless
// `options` say not to.
std::vector<Node> walk(platform::Accessibility& ax, const platform::Element& root, std::int64_t max,
                       const WalkOptions& options = {});

// Whether a menu is closed: none of its first items has a place on screen.
bool menuClosed(platform::Accessibility& ax, const std::vector<platform::Element>& items);

}  // namespace kelp::ax
