// What an application and its windows answer: their windows, which one is
// active, the menu bar and the focused element; the readers of those AX
// attributes, beside the others of ax_reads.cc.
#pragma once

#include <optional>
#include <vector>

#include "platform/linux/atspi/ax_reads.h"

namespace kelp::platform::linux_desktop {

// The element for `ref` presented `as`, or none; and the elements for
// `refs`, leaving out those that make none. Shared by every reader.
Value element(const std::optional<ObjectRef>& ref, Presentation as = Presentation::object);
Value elementList(const std::vector<ObjectRef>& refs);

Value readWindows(ReadScope& scope, const ObjectRef& ref);
Value readFocusedWindow(ReadScope& scope, const ObjectRef& ref);
Value readFrontmost(ReadScope& scope, const ObjectRef& ref);
Value readMenuBar(ReadScope& scope, const ObjectRef& ref);
Value readFocusedElement(ReadScope& scope, const ObjectRef& ref);
Value readWindow(ReadScope& scope, const ObjectRef& ref);

}  // namespace kelp::platform::linux_desktop
