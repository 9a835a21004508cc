#include "platform/linux/atspi_facts.h"

#include <algorithm>

#include "platform/linux/atspi_methods.h"
#include "platform/linux/ax_reads.h"

namespace kelp::platform::linux_x11 {
namespace {

// How far a walk is read ahead: objects in walk order, and rounds of calls
// (each round learns the children, and with them the next objects, of the
// one before).
constexpr int READ_AHEAD_OBJECTS = 512;
constexpr int READ_AHEAD_ROUNDS = 8;
// Bounds the climb to following siblings when an application lists an
// object among its own descendants.
constexpr int READ_AHEAD_CLIMB = 64;

AtspiRole roleFromWire(std::uint32_t number) {
  // A role newer than this libatspi is still some element.
  if (number >= static_cast<std::uint32_t>(ATSPI_ROLE_LAST_DEFINED)) return ATSPI_ROLE_UNKNOWN;
  return static_cast<AtspiRole>(number);
}

std::optional<std::uint64_t> statesFrom(MessageReader& reader) {
  std::optional<MessageReader> words = reader.enter();
  if (!words) return std::nullopt;
  std::uint64_t states = 0;
  for (unsigned word = 0; word < 2 && words->type() == DBUS_TYPE_UINT32; ++word) {
    states |= static_cast<std::uint64_t>(*words->uint32()) << (32 * word);
  }
  return states;
}

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

// What the store knows already, fetching nothing: reads run over it tell
// which facts they would fetch.
class FactStore::KnownFacts final : public FactSource {
 public:
  explicit KnownFacts(FactStore& store) : store_(store) {}

  const Facts& need(const ObjectRef& ref, unsigned wanted) override {
    Facts& facts = store_.entry(ref);
    if (const unsigned missing = wanted & ~facts.asked) {
      auto [found, added] = lacking_.try_emplace(ref, 0u);
      if (added) order_.push_back(ref);
      found->second |= missing;
    }
    return facts;
  }
  // Not a fact: reads that ask it are not fetched ahead.
  std::optional<ObjectRef> firstWithStates(const ObjectRef&, std::uint64_t) override { return std::nullopt; }
  Toolkit toolkitOf(const std::string& bus) override { return store_.toolkitOf(bus); }

  // The objects some read lacked facts of, in the order they were met, and
  // the facts each lacked.
  const std::vector<ObjectRef>& lackingObjects() const { return order_; }
  unsigned lacking(const ObjectRef& ref) const {
    auto found = lacking_.find(ref);
    return found == lacking_.end() ? 0u : found->second;
  }

 private:
  FactStore& store_;
  std::unordered_map<ObjectRef, unsigned, RefHash> lacking_;
  std::vector<ObjectRef> order_;
};

Facts& FactStore::entry(const ObjectRef& ref) {
  auto found = facts_.find(ref);
  if (found != facts_.end()) return found->second;
  return facts_.emplace(ref, Facts{}).first->second;
}

const Facts& FactStore::need(const ObjectRef& ref, unsigned wanted) {
  // The first look at a browser's application in this process wakes its
  // content, before anything of it is fetched.
  if (ref.isApplicationRoot() && !channels_.woken(ref.bus) && toolkitOf(ref.bus).isChromium()) {
    channels_.markWoken(ref.bus);
    wakeWebContent(*this, ref);
  }
  Facts& facts = entry(ref);
  if (plan_ && (facts.asked & wanted) != wanted) {
    seedFromCache(ref.bus);
    // Walks start at an application and go on through children lists, so
    // only objects reached that way are read ahead of; an object reached
    // through its parent or a hit test gets what is asked for and no more.
    if ((facts.asked & wanted) != wanted && !facts.readAhead && (facts.listedBy || ref.isApplicationRoot())) {
      fetchAhead(ref);
    }
  }
  fetch(ref, facts, wanted);
  return facts;
}

std::optional<ObjectRef> FactStore::firstWithStates(const ObjectRef& root, std::uint64_t states) {
  return firstMatchWithStates(*this, root, states);
}

void FactStore::fetch(const ObjectRef& ref, Facts& facts, unsigned wanted) {
  // The second and third rounds only ask again what a toolkit refused to
  // tell in the combined call.
  for (int round = 0; round < 3 && (facts.asked & wanted) != wanted; ++round) {
    CallBatch batch(channels_, silent_);
    std::vector<Read> reads;
    plan(batch, reads, ref, facts, wanted);
    if (reads.empty()) break;
    batch.run();
    apply(batch, reads);
  }
  facts.asked |= wanted;
}

void FactStore::plan(CallBatch& batch, std::vector<Read>& reads, const ObjectRef& ref, Facts& facts,
                     unsigned wanted) {
  const unsigned missing = wanted & ~facts.asked;
  if (!missing) return;
  auto add = [&](const char* interface, const char* method, Read::Kind kind) {
    const std::size_t call = batch.add(ref, interface, method);
    reads.push_back({ref, &facts, call, kind});
    return batch.request(call);
  };
  auto addGet = [&](const char* interface, const char* property, Read::Kind kind) {
    DBusMessage* request = add(PROPERTIES_INTERFACE, "Get", kind);
    appendString(request, interface);
    appendString(request, property);
  };

  if (missing & ROLE) add(ACCESSIBLE_INTERFACE, "GetRole", Read::role);
  if (missing & STATES) add(ACCESSIBLE_INTERFACE, "GetState", Read::states);
  unsigned single = missing;
  if ((missing & NAMING) && !facts.getAllRefused && !toolkitOf(ref.bus).refusesGetAll()) {
    appendString(add(PROPERTIES_INTERFACE, "GetAll", Read::getAll), ACCESSIBLE_INTERFACE);
    // Attributes come with it where the bridge includes them; otherwise
    // they are asked for in the next round.
    single &= ~(GET_ALL_FACTS | ATTRIBUTES);
  }
  if (single & NAMING) {
    addGet(ACCESSIBLE_INTERFACE, "Name", Read::name);
    addGet(ACCESSIBLE_INTERFACE, "Description", Read::description);
    addGet(ACCESSIBLE_INTERFACE, "ChildCount", Read::childCount);
  }
  if (single & PARENT) addGet(ACCESSIBLE_INTERFACE, "Parent", Read::parent);
  if (single & IDENTIFIER) addGet(ACCESSIBLE_INTERFACE, "AccessibleId", Read::accessibleId);
  if (single & HELP) addGet(ACCESSIBLE_INTERFACE, "HelpText", Read::helpText);
  if (single & ATTRIBUTES) add(ACCESSIBLE_INTERFACE, "GetAttributes", Read::attributes);
  if (missing & CHILDREN) add(ACCESSIBLE_INTERFACE, "GetChildren", Read::children);
  if (missing & RELATIONS) add(ACCESSIBLE_INTERFACE, "GetRelationSet", Read::relations);
  if (missing & EXTENTS)
    appendUint32(add(COMPONENT_INTERFACE, "GetExtents", Read::extents), ATSPI_COORD_TYPE_SCREEN);
  if (missing & TEXT) {
    DBusMessage* request = add(TEXT_INTERFACE, "GetText", Read::text);
    appendInt32(request, 0);
    appendInt32(request, -1);
  }
  if (missing & VALUE) addGet(VALUE_INTERFACE, "CurrentValue", Read::value);
  // Asked by index, not from the list of actions: GTK lists no actions for
  // an insensitive menu item but still tells its shortcut this way.
  if (missing & KEY_BINDING) appendInt32(add(ACTION_INTERFACE, "GetKeyBinding", Read::keyBinding), 0);
}

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
        if (auto value = propertyValue(reply)) facts.description = value->string().value_or("");
        break;
      case Read::childCount:
        if (auto value = propertyValue(reply)) facts.childCount = value->int32().value_or(-1);
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
    }
  }
}

void FactStore::setChildren(const ObjectRef& lister, Facts& facts, std::vector<ObjectRef> children) {
  if (children.size() > static_cast<std::size_t>(MAX_CHILDREN)) children.resize(MAX_CHILDREN);
  facts.children = std::move(children);
  facts.asked |= CHILDREN;
  facts.answered |= CHILDREN;
  // entry() may add objects; the facts of the others stay where they are.
  for (const ObjectRef& child : facts.children) {
    Facts& childFacts = entry(child);
    if (!childFacts.listedBy) childFacts.listedBy = lister;
  }
}

void FactStore::seedFromCache(const std::string& bus) {
  if (bus == REGISTRY_BUS_NAME || silent_.contains(bus) || channels_.refusesBulk(bus) ||
      !seeded_.insert(bus).second) {
    return;
  }
  CallBatch batch(channels_, silent_);
  const std::size_t call = batch.add({bus, CACHE_PATH}, CACHE_INTERFACE, "GetItems");
  batch.run();
  MessageReader reply(batch.reply(call));
  std::optional<MessageReader> items = reply.enter();
  if (!items) {
    channels_.markRefusesBulk(bus);
    return;
  }

  struct Claim {
    std::int32_t index;
    ObjectRef child;
  };
  std::unordered_map<ObjectRef, std::vector<Claim>, RefHash> claims;
  std::vector<ObjectRef> seeded;
  while (items->type() == DBUS_TYPE_STRUCT) {
    std::optional<MessageReader> item = items->enter();
    std::optional<ObjectRef> self = item->objectRef();
    if (!self || !item->objectRef()) continue;  // the object, its application
    // No parent may come as a malformed reference.
    const std::optional<ObjectRef> parent = item->objectRef();
    std::int32_t index = -1;
    std::int32_t count = -1;
    std::optional<std::vector<ObjectRef>> listed;
    if (item->type() == DBUS_TYPE_INT32) {
      index = *item->int32();
      count = item->int32().value_or(-1);
    } else {
      // Older bridges list the children themselves.
      listed = item->objectRefs();
      if (!listed) continue;
      count = static_cast<std::int32_t>(listed->size());
    }
    if (!item->enter()) continue;  // interfaces
    std::optional<std::string> name = item->string();
    std::optional<std::uint32_t> role = item->uint32();
    std::optional<std::string> description = item->string();
    std::optional<std::uint64_t> states = statesFrom(*item);
    if (!name || !role || !description || !states) continue;

    Facts& facts = entry(*self);
    if (!(facts.asked & ROLE)) {
      facts.role = roleFromWire(*role);
      facts.asked |= ROLE;
      facts.answered |= ROLE;
    }
    if (!(facts.asked & STATES)) {
      facts.states = *states;
      facts.asked |= STATES;
      facts.answered |= STATES;
    }
    if (!(facts.asked & NAMING)) {
      facts.name = std::move(*name);
      facts.description = std::move(*description);
      facts.childCount = count;
      facts.asked |= NAMING;
      facts.answered |= NAMING;
    }
    if (!(facts.asked & PARENT)) {
      // The same toolkit call as the Parent property answers.
      if (parent && parent->path != NULL_PATH) facts.parent = *parent;
      facts.asked |= PARENT;
      facts.answered |= PARENT;
    }
    if (listed) {
      if (!(facts.asked & CHILDREN)) setChildren(*self, facts, std::move(*listed));
    } else if (parent && parent->path != NULL_PATH) {
      claims[*parent].push_back({index, *self});
    }
    seeded.push_back(std::move(*self));
  }

  // An object's children are known without asking where the objects that
  // name it as their parent are exactly as many as its child count and
  // their indexes fill 0..n-1: that is what GetChildren would list. Where a
  // toolkit's parents and children disagree (a popover's parent is the
  // button it pops from, a menu's items know no index), the list is asked
  // for as usual.
  for (const ObjectRef& ref : seeded) {
    Facts& facts = entry(ref);
    if ((facts.asked & CHILDREN) || facts.childCount < 0) continue;
    auto found = claims.find(ref);
    if (facts.childCount == 0) {
      // GTK 4 lists its application root with no children while its
      // windows name the root as their parent: a count that objects
      // contradict is asked again.
      if (found == claims.end()) setChildren(ref, facts, {});
      continue;
    }
    if (found == claims.end() || found->second.size() != static_cast<std::size_t>(facts.childCount)) continue;
    std::vector<std::optional<ObjectRef>> slots(found->second.size());
    bool complete = true;
    for (Claim& claim : found->second) {
      if (claim.index < 0 || claim.index >= facts.childCount || slots[claim.index]) {
        complete = false;
        break;
      }
      slots[claim.index] = std::move(claim.child);
    }
    if (!complete) continue;
    std::vector<ObjectRef> children;
    children.reserve(slots.size());
    for (std::optional<ObjectRef>& slot : slots) children.push_back(std::move(*slot));
    setChildren(ref, facts, std::move(children));
  }
}

void FactStore::fetchAhead(const ObjectRef& start) {
  for (int round = 0; round < READ_AHEAD_ROUNDS; ++round) {
    KnownFacts known(*this);
    ReadScope scope{known};
    std::vector<ObjectRef> visited;
    // Reads the plan of each element below `top` in walk order, as far as
    // its children are known; false once the budget is spent.
    auto subtree = [&](const ObjectRef& top) {
      std::vector<std::pair<ObjectRef, Presentation>> stack{{top, Presentation::object}};
      while (!stack.empty()) {
        if (static_cast<int>(visited.size()) >= READ_AHEAD_OBJECTS) return false;
        auto [ref, as] = std::move(stack.back());
        stack.pop_back();
        // Of an object read ahead already only the way on is needed.
        std::vector<std::pair<ObjectRef, Presentation>> children =
            entry(ref).readAhead ? childrenOf(scope, ref, as) : readAsPlanned(scope, *plan_, ref, as);
        visited.push_back(std::move(ref));
        for (auto child = children.rbegin(); child != children.rend(); ++child) stack.push_back(std::move(*child));
      }
      return true;
    };
    // Then what follows the start in walk order: the later siblings of it
    // and of each object that lists it.
    bool more = subtree(start);
    const ObjectRef* current = &start;
    for (int climb = 0; more && climb < READ_AHEAD_CLIMB; ++climb) {
      const std::optional<ObjectRef>& lister = entry(*current).listedBy;
      if (!lister) break;
      const std::vector<ObjectRef>& siblings = entry(*lister).children;
      auto after = std::find(siblings.begin(), siblings.end(), *current);
      if (after == siblings.end()) break;
      for (++after; more && after != siblings.end(); ++after) more = subtree(*after);
      current = &*lister;
    }
    for (const ObjectRef& ref : visited) {
      if (!known.lacking(ref)) entry(ref).readAhead = true;
    }

    CallBatch batch(channels_, silent_);
    std::vector<Read> reads;
    for (const ObjectRef& ref : known.lackingObjects()) {
      Facts& facts = entry(ref);
      unsigned wanted = known.lacking(ref);
      // The child count that comes with the naming may tell there are no
      // children at all; the list waits for the count where both are due.
      if ((wanted & NAMING) && !(facts.asked & NAMING)) wanted &= ~CHILDREN;
      plan(batch, reads, ref, facts, wanted);
    }
    if (reads.empty()) break;
    batch.run();
    apply(batch, reads);
  }
}

}  // namespace kelp::platform::linux_x11
