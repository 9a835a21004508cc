// The children of objects that make them only when asked for: the ones on
// screen, found through the table interface or the visible area, never by
// listing them all.
#include "platform/linux/atspi/facts.h"

#include <algorithm>
#include <string_view>

namespace kelp::platform::linux_desktop {
namespace {

// LibreOffice's spreadsheet says it has 2^31 cells and makes each one when
// it is asked for, never letting one go; GetChildren (and
// Collection.GetMatches) over it make them all, and its memory grows for
// good. Any object with more children than this, and one that says it
// manages its descendants without telling how many, lists only the
// children it shows.
constexpr std::int32_t MAX_LISTED_CHILDREN = 1000;
// The most shown children taken: a full screen of the smallest cells.
constexpr std::int32_t MAX_SHOWN_CHILDREN = 2000;
// Items asked for at a time while looking for the end of what shows.
constexpr std::int32_t SCAN_STEP = 64;
// Points tried down from a table's top left corner (and up from its
// bottom right) for the first (last) cell on screen.
constexpr int CORNER_STEPS = 8;
constexpr std::int32_t CORNER_STEP_PIXELS = 10;
// How far up a list's shown area is cut to its containers' (a scrolled
// window's viewport); the window lies within it.
constexpr int CLIP_LEVELS = 8;

// The part of `a` inside `b`; empty (zero size) where they do not meet.
Extents intersection(const Extents& a, const Extents& b) {
  const std::int32_t left = std::max(a.x, b.x);
  const std::int32_t top = std::max(a.y, b.y);
  const std::int32_t right = std::min(a.x + a.width, b.x + b.width);
  const std::int32_t bottom = std::min(a.y + a.height, b.y + b.height);
  return {left, top, std::max(right - left, 0), std::max(bottom - top, 0)};
}

bool within(const Extents& inner, const Extents& outer) {
  return inner.width > 0 && inner.height > 0 && inner.y < outer.y + outer.height &&
         inner.y + inner.height > outer.y && inner.x < outer.x + outer.width && inner.x + inner.width > outer.x;
}

std::optional<Extents> extentsFrom(DBusMessage* reply) {
  MessageReader reader(reply);
  std::optional<MessageReader> box = reader.enter();
  if (!box) return std::nullopt;
  auto x = box->int32();
  auto y = box->int32();
  auto width = box->int32();
  auto height = box->int32();
  if (!x || !y || !width || !height) return std::nullopt;
  return Extents{*x, *y, *width, *height};
}

std::optional<ObjectRef> objectFrom(DBusMessage* reply) {
  MessageReader reader(reply);
  std::optional<ObjectRef> ref = reader.objectRef();
  if (!ref || ref->path == NULL_PATH) return std::nullopt;
  return ref;
}

std::optional<std::int32_t> numberFrom(DBusMessage* reply) {
  MessageReader reader(reply);
  return reader.int32();
}

bool offersInterface(AtspiChannels& channels, const ObjectRef& ref, std::string_view interface) {
  CallBatch batch(channels);
  const std::size_t call = batch.add(ref, ACCESSIBLE_INTERFACE, "GetInterfaces");
  batch.run();
  MessageReader reader(batch.reply(call));
  std::optional<MessageReader> names = reader.enter();
  if (!names) return false;
  while (std::optional<std::string> name = names->string()) {
    if (*name == interface) return true;
  }
  return false;
}

}  // namespace

bool listsChildrenLazily(const Facts& facts) {
  if (facts.childCount > MAX_LISTED_CHILDREN) return true;
  return facts.hasState(ATSPI_STATE_MANAGES_DESCENDANTS) && facts.childCount < 0;
}

std::vector<ObjectRef> FactStore::shownChildren(const ObjectRef& ref) {
  fetch(ref, entry(ref), EXTENTS | PARENT);
  const Facts& facts = entry(ref);
  if (!facts.has(EXTENTS) || facts.extents.width <= 0 || facts.extents.height <= 0) return {};
  // Some toolkits give a scrolled list the size of all its rows (GTK 3's
  // tree view): what shows is what its containers show of it.
  Extents area = facts.extents;
  std::optional<ObjectRef> container = facts.parent;
  for (int level = 0; level < CLIP_LEVELS && container && container->path != NULL_PATH; ++level) {
    Facts& outer = entry(*container);
    fetch(*container, outer, ROLE | EXTENTS | PARENT);
    if (outer.has(ROLE) && outer.role == ATSPI_ROLE_APPLICATION) break;
    if (outer.has(EXTENTS) && outer.extents.width > 0 && outer.extents.height > 0) {
      area = intersection(area, outer.extents);
    }
    container = outer.parent;
  }
  if (area.width <= 0 || area.height <= 0) return {};
  // Only a table places its cells by row and column. Probing any other
  // container costs three waits a probe and makes Chromium log a failed
  // assertion for each.
  if (offersInterface(channels_, ref, TABLE_INTERFACE)) {
    if (std::optional<std::vector<ObjectRef>> cells = shownCells(ref, area)) return *cells;
  }
  return shownItems(ref, area, facts.childCount);
}

std::optional<std::vector<ObjectRef>> FactStore::shownCells(const ObjectRef& table, const Extents& area) {
  // The row and column of the cell at a point; none where the point holds
  // no cell of a row (a column header, or past the last row).
  const auto cellAt = [&](std::int32_t x, std::int32_t y) -> std::optional<std::pair<std::int32_t, std::int32_t>> {
    CallBatch hit(channels_);
    const std::size_t call = hit.add(table, COMPONENT_INTERFACE, "GetAccessibleAtPoint");
    appendInt32(hit.request(call), x);
    appendInt32(hit.request(call), y);
    appendUint32(hit.request(call), ATSPI_COORD_TYPE_SCREEN);
    hit.run();
    const std::optional<ObjectRef> cell = objectFrom(hit.reply(call));
    if (!cell) return std::nullopt;
    CallBatch index(channels_);
    const std::size_t indexCall = index.add(*cell, ACCESSIBLE_INTERFACE, "GetIndexInParent");
    index.run();
    const std::optional<std::int32_t> at = numberFrom(index.reply(indexCall));
    if (!at || *at < 0) return std::nullopt;
    CallBatch place(channels_);
    const std::size_t row = place.add(table, TABLE_INTERFACE, "GetRowAtIndex");
    appendInt32(place.request(row), *at);
    const std::size_t column = place.add(table, TABLE_INTERFACE, "GetColumnAtIndex");
    appendInt32(place.request(column), *at);
    place.run();
    const std::optional<std::int32_t> rowAt = numberFrom(place.reply(row));
    const std::optional<std::int32_t> columnAt = numberFrom(place.reply(column));
    if (!rowAt || !columnAt || *rowAt < 0 || *columnAt < 0) return std::nullopt;
    return std::pair{*rowAt, *columnAt};
  };
  // The first cell down from the top left corner (below a header), and the
  // last up from the bottom right (above the empty space after the last
  // row), a few steps at most.
  std::optional<std::pair<std::int32_t, std::int32_t>> first;
  std::optional<std::pair<std::int32_t, std::int32_t>> last;
  for (int step = 0; step < CORNER_STEPS && !first; ++step) {
    first = cellAt(area.x + 1, area.y + 1 + step * CORNER_STEP_PIXELS);
  }
  for (int step = 0; step < CORNER_STEPS && first && !last; ++step) {
    last = cellAt(area.x + area.width - 2, area.y + area.height - 2 - step * CORNER_STEP_PIXELS);
  }
  if (!first || !last || last->first < first->first || last->second < first->second) return std::nullopt;
  const auto [firstRow, firstColumn] = *first;
  const std::int32_t columns = last->second - firstColumn + 1;
  const std::int32_t rows = std::min(last->first - firstRow + 1, std::max(MAX_SHOWN_CHILDREN / columns, 1));

  // The headers of the columns shown come first, as a table lists them.
  CallBatch cells(channels_);
  std::vector<std::size_t> cellCalls;
  for (std::int32_t column = firstColumn; column < firstColumn + std::min(columns, MAX_SHOWN_CHILDREN); ++column) {
    cellCalls.push_back(cells.add(table, TABLE_INTERFACE, "GetColumnHeader"));
    appendInt32(cells.request(cellCalls.back()), column);
  }
  for (std::int32_t row = firstRow; row < firstRow + rows; ++row) {
    for (std::int32_t column = firstColumn; column < firstColumn + std::min(columns, MAX_SHOWN_CHILDREN); ++column) {
      const std::size_t call = cells.add(table, TABLE_INTERFACE, "GetAccessibleAt");
      appendInt32(cells.request(call), row);
      appendInt32(cells.request(call), column);
      cellCalls.push_back(call);
    }
  }
  cells.run();
  std::vector<ObjectRef> shown;
  for (const std::size_t call : cellCalls) {
    if (std::optional<ObjectRef> cell = objectFrom(cells.reply(call))) shown.push_back(std::move(*cell));
  }
  return shown;
}

std::vector<ObjectRef> FactStore::shownItems(const ObjectRef& list, const Extents& area, std::int32_t count) {
  // The child at `index` and its extents: two rounds, as the second call
  // needs the first one's answer.
  const auto childAt = [&](std::int32_t index) -> std::optional<std::pair<ObjectRef, Extents>> {
    CallBatch child(channels_);
    const std::size_t call = child.add(list, ACCESSIBLE_INTERFACE, "GetChildAtIndex");
    appendInt32(child.request(call), index);
    child.run();
    std::optional<ObjectRef> found = objectFrom(child.reply(call));
    if (!found) return std::nullopt;
    CallBatch place(channels_);
    const std::size_t extents = place.add(*found, COMPONENT_INTERFACE, "GetExtents");
    appendUint32(place.request(extents), ATSPI_COORD_TYPE_SCREEN);
    place.run();
    std::optional<Extents> box = extentsFrom(place.reply(extents));
    if (!box) return std::nullopt;
    return std::pair{std::move(*found), *box};
  };
  if (count <= 0) return {};
  // Items stand in order down the list: the first shown one is the first
  // whose bottom is below the area's top.
  std::int32_t low = 0;
  std::int32_t high = count;
  while (low < high) {
    const std::int32_t middle = low + (high - low) / 2;
    const auto probe = childAt(middle);
    if (!probe) return {};
    if (probe->second.y + probe->second.height <= area.y) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  std::vector<ObjectRef> shown;
  for (std::int32_t start = low; start < count && static_cast<std::int32_t>(shown.size()) < MAX_SHOWN_CHILDREN;
       start += SCAN_STEP) {
    const std::int32_t end = std::min(count, start + SCAN_STEP);
    CallBatch children(channels_);
    std::vector<std::size_t> childCalls;
    for (std::int32_t index = start; index < end; ++index) {
      childCalls.push_back(children.add(list, ACCESSIBLE_INTERFACE, "GetChildAtIndex"));
      appendInt32(children.request(childCalls.back()), index);
    }
    children.run();
    std::vector<ObjectRef> found;
    for (const std::size_t call : childCalls) {
      if (std::optional<ObjectRef> child = objectFrom(children.reply(call))) found.push_back(std::move(*child));
    }
    CallBatch places(channels_);
    std::vector<std::size_t> placeCalls;
    for (const ObjectRef& child : found) {
      placeCalls.push_back(places.add(child, COMPONENT_INTERFACE, "GetExtents"));
      appendUint32(places.request(placeCalls.back()), ATSPI_COORD_TYPE_SCREEN);
    }
    places.run();
    for (std::size_t i = 0; i < found.size(); ++i) {
      const std::optional<Extents> box = extentsFrom(places.reply(placeCalls[i]));
      if (!box || box->y >= area.y + area.height) return shown;
      if (within(*box, area)) shown.push_back(found[i]);
    }
  }
  return shown;
}

}  // namespace kelp::platform::linux_desktop
