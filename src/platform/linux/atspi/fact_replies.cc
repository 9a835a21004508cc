// Reading the replies of fact calls into the facts they answer.
#include "platform/linux/atspi/facts.h"

#include <algorithm>

namespace kelp::platform::linux_desktop {
namespace {

std::optional<std::map<std::string, std::string, std::less<>>> attributesFrom(MessageReader& reader) {
  std::optional<MessageReader> entries = reader.enter();
  if (!entries) return std::nullopt;
  std::map<std::string, std::string, std::less<>> attributes;
  while (entries->type() == DBUS_TYPE_DICT_ENTRY) {
    std::optional<MessageReader> entry = entries->enter();
    std::optional<std::string> key = entry->string();
    std::optional<std::string> value = entry->string();
    if (key && value) attributes.insert_or_assign(std::move(*key), std::move(*value));
  }
  return attributes;
}

// The value inside the variant of a Properties.Get reply.
std::optional<MessageReader> propertyValue(DBusMessage* reply) {
  MessageReader reader(reply);
  return reader.enter();
}

void applyGetAll(MessageReader& reader, Facts& facts) {
  std::optional<MessageReader> entries = reader.enter();
  if (!entries) return;
  facts.answered |= GET_ALL_FACTS;
  while (entries->type() == DBUS_TYPE_DICT_ENTRY) {
    std::optional<MessageReader> entry = entries->enter();
    const std::optional<std::string> key = entry->string();
    std::optional<MessageReader> value = entry->enter();
    if (!key || !value) continue;
    if (*key == "Name") {
      facts.name = value->string().value_or("");
    } else if (*key == "Description") {
      facts.description = value->string().value_or("");
    } else if (*key == "ChildCount") {
      facts.childCount = value->int32().value_or(-1);
    } else if (*key == "Parent") {
      facts.parent = value->objectRef();
    } else if (*key == "AccessibleId") {
      facts.accessibleId = value->string().value_or("");
    } else if (*key == "HelpText") {
      facts.helpText = value->string().value_or("");
    } else if (*key == "Attributes") {
      if (auto attributes = attributesFrom(*value)) {
        facts.attributes = std::move(*attributes);
        facts.asked |= ATTRIBUTES;
        facts.answered |= ATTRIBUTES;
      }
    }
  }
}

// The errors bridges answer Properties.Get of a property they do not have
// with: GLib's, libdbus's and Qt's.
bool meansNoSuchProperty(const std::string& error) {
  return error == DBUS_ERROR_UNKNOWN_PROPERTY || error == DBUS_ERROR_INVALID_ARGS || error == DBUS_ERROR_UNKNOWN_INTERFACE;
}

std::vector<ObjectRef> labellingObjects(MessageReader& reader) {
  std::vector<ObjectRef> labels;
  std::optional<MessageReader> relations = reader.enter();
  if (!relations) return labels;
  while (relations->type() == DBUS_TYPE_STRUCT) {
    std::optional<MessageReader> relation = relations->enter();
    const std::optional<std::uint32_t> type = relation->uint32();
    std::optional<std::vector<ObjectRef>> targets = relation->objectRefs();
    if (type && *type == ATSPI_RELATION_LABELLED_BY && targets) {
      labels.insert(labels.end(), targets->begin(), targets->end());
    }
  }
  return labels;
}

}  // namespace

void FactStore::apply(const CallBatch& batch, const std::vector<Read>& reads) {
  for (const Read& read : reads) {
    Facts& facts = *read.facts;
    DBusMessage* reply = batch.reply(read.call);
    MessageReader reader(reply);
    switch (read.kind) {
      case Read::role:
        facts.asked |= ROLE;
        if (auto role = reader.uint32()) {
          facts.role = roleFromWire(*role);
          facts.answered |= ROLE;
        }
        break;
      case Read::states:
        facts.asked |= STATES;
        if (auto states = statesFrom(reader)) {
          facts.states = *states;
          facts.answered |= STATES;
        }
        break;
      case Read::getAll:
        if (!reply) {
          // Refused outright (some toolkits only answer Get): the next round
          // asks property by property. An object that is gone refuses those
          // too, and that ends it.
          facts.getAllRefused = true;
          break;
        }
        facts.asked |= GET_ALL_FACTS;
        applyGetAll(reader, facts);
        // A child count of 0 is the empty children list GetChildren would
        // give, as the toolkit's cache says for the objects it lists.
        if (facts.childCount == 0 && !(facts.asked & CHILDREN)) setChildren(read.ref, facts, {});
        break;
      case Read::name:
        facts.asked |= NAMING;
        if (auto value = propertyValue(reply)) {
          if (auto name = value->string()) {
            facts.name = std::move(*name);
            facts.answered |= NAMING;
          }
        }
        break;
      case Read::description:
        facts.asked |= DESCRIPTION;
        if (auto value = propertyValue(reply)) {
          facts.description = value->string().value_or("");
          facts.answered |= DESCRIPTION;
        }
        break;
      case Read::childCount:
        facts.asked |= CHILD_COUNT;
        if (auto value = propertyValue(reply)) {
          facts.childCount = value->int32().value_or(-1);
          facts.answered |= CHILD_COUNT;
        }
        // As after GetAll: nothing to list.
        if (facts.childCount == 0 && !(facts.asked & CHILDREN)) setChildren(read.ref, facts, {});
        break;
      case Read::parent:
        facts.asked |= PARENT;
        if (auto value = propertyValue(reply)) {
          facts.parent = value->objectRef();
          facts.answered |= PARENT;
        }
        break;
      case Read::accessibleId:
        facts.asked |= IDENTIFIER;
        if (auto value = propertyValue(reply)) {
          facts.accessibleId = value->string().value_or("");
          facts.answered |= IDENTIFIER;
        }
        break;
      case Read::helpText:
        // Older bridges have no such property: no help text.
        facts.asked |= HELP;
        if (auto value = propertyValue(reply)) {
          facts.helpText = value->string().value_or("");
          facts.answered |= HELP;
        }
        break;
      case Read::attributes:
        facts.asked |= ATTRIBUTES;
        if (auto attributes = attributesFrom(reader)) {
          facts.attributes = std::move(*attributes);
          facts.answered |= ATTRIBUTES;
        }
        break;
      case Read::children: {
        facts.asked |= CHILDREN;
        std::optional<std::vector<ObjectRef>> children = reader.objectRefs();
        if (children) setChildren(read.ref, facts, std::move(*children));
        break;
      }
      case Read::relations:
        facts.asked |= RELATIONS;
        if (reply) {
          facts.labelledBy = labellingObjects(reader);
          facts.answered |= RELATIONS;
        }
        break;
      case Read::extents:
        facts.asked |= EXTENTS;
        if (auto box = reader.enter()) {
          auto x = box->int32();
          auto y = box->int32();
          auto width = box->int32();
          auto height = box->int32();
          if (x && y && width && height) {
            facts.extents = {*x, *y, *width, *height};
            facts.answered |= EXTENTS;
          }
        }
        break;
      case Read::text:
        facts.asked |= TEXT;
        if (auto text = reader.string()) {
          facts.text = std::move(*text);
          facts.answered |= TEXT;
        }
        break;
      case Read::value:
        facts.asked |= VALUE;
        if (auto value = propertyValue(reply)) {
          if (auto number = value->number()) {
            facts.value = *number;
            facts.answered |= VALUE;
          }
        }
        break;
      case Read::keyBinding:
        facts.asked |= KEY_BINDING;
        if (auto binding = reader.string()) {
          facts.keyBinding = std::move(*binding);
          facts.answered |= KEY_BINDING;
        }
        break;
      case Read::selected:
        facts.asked |= SELECTED;
        if (reply) {
          std::optional<ObjectRef> child = reader.objectRef();
          if (child && child->path != NULL_PATH) facts.selectedChild = std::move(child);
          facts.answered |= SELECTED;
        }
        break;
    }
  }
  noteLackedProperties(batch, reads);
}

void FactStore::noteLackedProperties(const CallBatch& batch, const std::vector<Read>& reads) {
  for (const Read& read : reads) {
    const char* property = read.kind == Read::accessibleId ? ACCESSIBLE_ID_PROPERTY
                           : read.kind == Read::helpText   ? HELP_TEXT_PROPERTY
                                                           : nullptr;
    if (!property || !meansNoSuchProperty(batch.error(read.call))) continue;
    if (channels_.lacksProperty(read.ref.bus, property)) continue;
    // Qt's bridge answers a call on an object that is gone with the same
    // error as one for a property it lacks: only an object that answered
    // another call of the batch speaks for its bridge.
    const bool alive = std::any_of(reads.begin(), reads.end(), [&](const Read& other) {
      return other.facts == read.facts && batch.reply(other.call) != nullptr;
    });
    if (alive) channels_.markLacksProperty(read.ref.bus, property);
  }
}

}  // namespace kelp::platform::linux_desktop
