// The children of objects that make them only when asked for: the ones on
// screen, found through the table interface or the visible area, never by
// listing them all.
#include "platform/linux/atspi/facts.h"

#include <algorithm>

namespace kelp::platform::linux_desktop {
namespace {

// LibreOffice's spreadsheet says it has 2^31 cells and makes each one when
// it is asked for, keeping it alive for a while; GetChildren (and
// Collection.GetMatches) over it make them all, and its memory grows for
// good. Any object with more children than this, and one that says it
// manages its descendants without telling how many, lists only the
// children it shows.
constexpr std::int32_t MAX_LISTED_CHILDREN = 1000;
// The most shown children taken: a full screen of the smallest cells.
constexpr std::int32_t MAX_SHOWN_CHILDREN = 2000;
// Items asked for at a time while looking for the end of what shows.
constexpr std::int32_t SCAN_STEP = 64;

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

}  // namespace

bool listsChildrenLazily(const Facts& facts) {
  if (facts.childCount > MAX_LISTED_CHILDREN) return true;
  return facts.hasState(ATSPI_STATE_MANAGES_DESCENDANTS) && facts.childCount < 0;
}

std::vector<ObjectRef> FactStore::shownChildren(const ObjectRef& ref) {
  fetch(ref, entry(ref), EXTENTS);
  const Facts& facts = entry(ref);
  if (!facts.has(EXTENTS) || facts.extents.width <= 0 || facts.extents.height <= 0) return {};
  const Extents area = facts.extents;
  if (std::optional<std::vector<ObjectRef>> cells = shownCells(ref, area)) return *cells;
  return shownItems(ref, area, facts.childCount);
}

std::optional<std::vector<ObjectRef>> FactStore::shownCells(const ObjectRef& table, const Extents& area) {
  // The cells at the area's top left and bottom right corners give the rows
  // and columns on screen.
  CallBatch corners(channels_);
  const std::size_t first = corners.add(table, COMPONENT_INTERFACE, "GetAccessibleAtPoint");
  appendInt32(corners.request(first), area.x + 1);
  appendInt32(corners.request(first), area.y + 1);
  appendUint32(corners.request(first), ATSPI_COORD_TYPE_SCREEN);
  const std::size_t last = corners.add(table, COMPONENT_INTERFACE, "GetAccessibleAtPoint");
  appendInt32(corners.request(last), area.x + area.width - 2);
  appendInt32(corners.request(last), area.y + area.height - 2);
  appendUint32(corners.request(last), ATSPI_COORD_TYPE_SCREEN);
  corners.run();
  const std::optional<ObjectRef> topLeft = objectFrom(corners.reply(first));
  const std::optional<ObjectRef> bottomRight = objectFrom(corners.reply(last));
  if (!topLeft || !bottomRight) return std::nullopt;

  CallBatch indexes(channels_);
  const std::size_t firstIndex = indexes.add(*topLeft, ACCESSIBLE_INTERFACE, "GetIndexInParent");
  const std::size_t lastIndex = indexes.add(*bottomRight, ACCESSIBLE_INTERFACE, "GetIndexInParent");
  indexes.run();
  const std::optional<std::int32_t> from = numberFrom(indexes.reply(firstIndex));
  const std::optional<std::int32_t> to = numberFrom(indexes.reply(lastIndex));
  if (!from || !to || *from < 0 || *to < 0) return std::nullopt;

  CallBatch places(channels_);
  std::size_t calls[4];
  const std::int32_t indexesAsked[4] = {*from, *from, *to, *to};
  const char* methods[4] = {"GetRowAtIndex", "GetColumnAtIndex", "GetRowAtIndex", "GetColumnAtIndex"};
  for (int i = 0; i < 4; ++i) {
    calls[i] = places.add(table, TABLE_INTERFACE, methods[i]);
    appendInt32(places.request(calls[i]), indexesAsked[i]);
  }
  places.run();
  std::optional<std::int32_t> at[4];
  for (int i = 0; i < 4; ++i) at[i] = numberFrom(places.reply(calls[i]));
  if (!at[0] || !at[1] || !at[2] || !at[3] || *at[0] < 0 || *at[1] < 0 || *at[2] < *at[0] || *at[3] < *at[1]) {
    return std::nullopt;
  }
  const std::int32_t columns = *at[3] - *at[1] + 1;
  const std::int32_t rows = std::min(*at[2] - *at[0] + 1, std::max(MAX_SHOWN_CHILDREN / columns, 1));

  CallBatch cells(channels_);
  std::vector<std::size_t> cellCalls;
  for (std::int32_t row = *at[0]; row < *at[0] + rows; ++row) {
    for (std::int32_t column = *at[1]; column < *at[1] + columns && column - *at[1] < MAX_SHOWN_CHILDREN; ++column) {
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
