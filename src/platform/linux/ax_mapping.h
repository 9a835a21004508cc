// The one place where AX vocabulary meets AT-SPI: which AT-SPI role is which
// AX role, and which AT-SPI facts answer each AX attribute.
#pragma once

#include <atspi/atspi.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/atspi_facts.h"
#include "platform/linux/atspi_write.h"
#include "platform/value.h"

namespace kelp::platform::linux_x11 {

// ---- decisions on plain facts (no desktop needed) -------------------------------

// What decides the AX role of an object besides its AT-SPI role.
struct RoleContext {
  std::uint64_t states = 0;  // bit n stands for AtspiStateType n
  std::optional<AtspiRole> parentRole;
  bool hasEditableTextChild = false;  // a combo box with an entry
  bool searchSemantics = false;       // the toolkit says it is a search field
};

// The AX role of an object; every existing object has one ("AXGroup" when
// nothing more telling fits).
std::string_view axRoleFor(AtspiRole role, const RoleContext& context);

// Whether an object with AT-SPI role `role` is an item that also stands for
// the submenu it opens, and so is presented a second time as its own AXMenu
// child (see Presentation): GTK's menu items with a submenu, in a menu bar
// or in a menu.
bool holdsSubmenu(AtspiRole role, const RoleContext& context);

// The facts the AX role of an object with AT-SPI role `role` depends on,
// beyond role and states.
bool roleDependsOnParent(AtspiRole role);
bool roleDependsOnChildren(AtspiRole role);
bool roleDependsOnAttributes(AtspiRole role);

// A frame from AT-SPI extents: none where the toolkit says the object has no
// place on screen (a coordinate of INT32_MIN, as hidden menu items report, or
// a negative size). `origin` is where the seam's (0, 0) lies in AT-SPI screen
// coordinates.
struct ScreenFrame {
  Point position;
  Size size;
};
std::optional<ScreenFrame> frameFromExtents(const Extents& extents, Point origin);

// A check box's value: 1 checked, 2 mixed, 0 otherwise.
std::int64_t checkValue(std::uint64_t states);

// Whether an object with these search hints in its attributes ("xml-roles",
// as web engines set it) is a search field.
bool hasSearchSemantics(const std::map<std::string, std::string, std::less<>>& attributes);

// ---- reading attributes ------------------------------------------------------

// What attribute reads draw on.
struct ReadScope {
  FactStore& facts;
  // Where the seam's (0, 0) lies in AT-SPI screen coordinates; asked only
  // by reads of positions.
  std::function<Point()> screenOrigin;
  // The title the window manager shows for an application's window, for
  // windows whose toolkit gives them no accessible name.
  std::function<std::optional<std::string>(const ObjectRef& window)> windowManagerTitle;
};

// Reads attribute `name` of the object `ref` presented `as`; none for
// attributes without an AT-SPI source and for failed reads.
Value readAxAttribute(ReadScope& scope, const ObjectRef& ref, Presentation as, std::string_view name);

// The AX role of `ref`; empty when its role cannot be read.
std::string_view axRoleOf(FactStore& facts, const ObjectRef& ref);

// An application's children that are windows, in its order.
std::vector<ObjectRef> applicationWindows(FactStore& store, const ObjectRef& application);

// ---- writing attributes and performing actions ------------------------------------

// What writes and actions draw on besides the objects' own interfaces: the
// window manager, for windows and applications.
struct WriteScope {
  // A store of its own, never a snapshot's: writes decide on live facts.
  FactStore& facts;
  // As in ReadScope.
  std::function<Point()> screenOrigin;
  // Each of these is true once the request reached the window manager about
  // the X window behind the AT-SPI window (or the application's front
  // window).
  std::function<bool(const ObjectRef& window)> activateWindow;
  std::function<bool(const ObjectRef& application)> activateApplication;
  // Moves and/or resizes a window so that the rectangle the tree reports for
  // it lands at `position` and `size` (AT-SPI screen coordinates).
  std::function<bool(const ObjectRef& window, std::optional<Point> position, std::optional<Size> size)>
      placeWindow;
};

// Writes attribute `name` of `ref` presented `as`; true only when the
// application or the window manager took the request. Attributes without a
// way to write them, and values of the wrong kind, are refused.
bool writeAxAttribute(WriteScope& scope, const ObjectRef& ref, Presentation as, std::string_view name,
                      const Value& value);

// Performs AX action `action` ("AXPress", "AXShowMenu", "AXRaise") on `ref`
// presented `as`; false for other names and where the object offers no way
// to do it.
bool performAxAction(WriteScope& scope, const ObjectRef& ref, Presentation as, std::string_view action);

// Which of the actions an object offers carries out `axAction`: "AXPress",
// "AXShowMenu", or "AXSelected" for selecting the object itself. None when
// no offered action fits.
std::optional<std::size_t> actionFor(std::string_view axAction, const std::vector<OfferedAction>& offered);

// The facts a walk reads of an object of which `facts` is known so far: what
// fetching ahead of a walk asks for. It mirrors the readers below; a wrong
// guess costs time, never a wrong value.
unsigned factsAWalkReads(const Facts& facts);

}  // namespace kelp::platform::linux_x11
