// Facts seeded from the Cache interface of toolkits that list their objects
// in bulk, in place of one read per object.
#include "platform/linux/atspi/facts.h"
#include "platform/linux/atspi/unanswering.h"

namespace kelp::platform::linux_desktop {

void FactStore::seedFromCache(const std::string& bus) {
  if (bus == REGISTRY_BUS_NAME || unansweringApplications().holds(bus) || channels_.refusesBulk(bus) ||
      !seeded_.insert(bus).second) {
    return;
  }
  CallBatch batch(channels_);
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
    // What the listing tells, of each fact nothing fetched first.
    const auto seed = [&facts](unsigned fact, const auto& set) {
      if (facts.asked & fact) return;
      set();
      facts.asked |= fact;
      facts.answered |= fact;
    };
    seed(ROLE, [&] { facts.role = roleFromWire(*role); });
    seed(STATES, [&] { facts.states = *states; });
    seed(NAMING, [&] { facts.name = std::move(*name); });
    seed(CHILD_COUNT, [&] { facts.childCount = count; });
    seed(DESCRIPTION, [&] { facts.description = std::move(*description); });
    // The same toolkit call as the Parent property answers.
    seed(PARENT, [&] {
      if (parent && parent->path != NULL_PATH) facts.parent = *parent;
    });
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

}  // namespace kelp::platform::linux_desktop
