#include "platform/linux/ax_mapping.h"

#include <string>

#include "platform/linux/atspi_tree.h"
#include "platform/linux/handles.h"

namespace kelp::platform::linux_x11 {
namespace {

struct RoleRow {
  AtspiRole role;
  std::string_view axRole;
};

// AT-SPI role -> AX role. Roles missing here have no AXRole yet.
constexpr RoleRow ROLES[] = {
    {ATSPI_ROLE_APPLICATION, "AXApplication"},
};

Value readRole(AtspiAccessible* object) {
  GErrorSlot error;
  const AtspiRole role = atspi_accessible_get_role(object, error.out());
  if (error) return {};
  if (auto axRole = axRoleFor(role)) return std::string(*axRole);
  return {};
}

Value readTitle(AtspiAccessible* object) {
  GErrorSlot error;
  GCharOwner name(atspi_accessible_get_name(object, error.out()));
  if (error || !name) return {};
  return std::string(name.get());
}

Value readChildren(AtspiAccessible* object) {
  GErrorSlot countError;
  const gint count = atspi_accessible_get_child_count(object, countError.out());
  if (countError || count < 0) return {};
  ValueList children;
  for (gint i = 0; i < count && i < MAX_CHILDREN; ++i) {
    GErrorSlot childError;
    auto child = GRef<AtspiAccessible>::adopt(atspi_accessible_get_child_at_index(object, i, childError.out()));
    // A child that vanished while being listed is simply not there.
    if (child) children.emplace_back(wrapAccessible(std::move(child)));
  }
  return children;
}

struct AttributeRow {
  std::string_view name;
  Value (*read)(AtspiAccessible*);
};

// AX attribute -> its AT-SPI source. Attributes missing here read as none.
constexpr AttributeRow ATTRIBUTES[] = {
    {"AXRole", readRole},
    {"AXTitle", readTitle},
    {"AXChildren", readChildren},
};

}  // namespace

std::optional<std::string_view> axRoleFor(AtspiRole role) {
  for (const RoleRow& row : ROLES) {
    if (row.role == role) return row.axRole;
  }
  return std::nullopt;
}

Value readAxAttribute(AtspiAccessible* object, std::string_view name) {
  if (!object) return {};
  for (const AttributeRow& row : ATTRIBUTES) {
    if (row.name == name) return row.read(object);
  }
  return {};
}

}  // namespace kelp::platform::linux_x11
