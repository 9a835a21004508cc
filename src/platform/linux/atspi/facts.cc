// The fact store: answering reads from fetched facts, fetching what is missing.
#include "platform/linux/atspi/facts.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "platform/linux/atspi/methods.h"

namespace kelp::platform::linux_desktop {

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
  if (toolkitOf(root.bus).collectionsUnbounded()) return std::nullopt;
  return firstMatchWithStates(*this, root, states);
}

void FactStore::fetch(const ObjectRef& ref, Facts& facts, unsigned wanted) {
  // Later rounds ask again what a toolkit refused to tell in the combined
  // call, and for the children once it is known whether they may be listed.
  for (int round = 0; round < 5 && (facts.asked & wanted) != wanted; ++round) {
    CallBatch batch(channels_);
    std::vector<Read> reads;
    plan(batch, reads, ref, facts, wanted);
    if (reads.empty() && lazy_.empty()) break;
    batch.run();
    apply(batch, reads);
    listLazyChildren();
  }
  facts.asked |= wanted;
}

void FactStore::plan(CallBatch& batch, std::vector<Read>& reads, const ObjectRef& ref, Facts& facts,
                     unsigned wanted) {
  unsigned missing = wanted & ~facts.asked;
  if (!missing) return;
  // Whether the children may be listed at all depends on the states and the
  // child count: those first, the list in a later round.
  constexpr unsigned LISTING = STATES | CHILD_COUNT;
  const bool childrenWait = (missing & CHILDREN) && (facts.asked & LISTING) != LISTING;
  if (childrenWait) missing |= LISTING & ~facts.asked;
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
  if ((missing & (NAMING | DESCRIPTION | CHILD_COUNT)) && !facts.getAllRefused && !toolkitOf(ref.bus).refusesGetAll()) {
    appendString(add(PROPERTIES_INTERFACE, "GetAll", Read::getAll), ACCESSIBLE_INTERFACE);
    // Attributes come with it where the bridge includes them; otherwise
    // they are asked for in the next round.
    single &= ~(GET_ALL_FACTS | ATTRIBUTES);
  }
  if (single & NAMING) addGet(ACCESSIBLE_INTERFACE, "Name", Read::name);
  if (single & CHILD_COUNT) addGet(ACCESSIBLE_INTERFACE, "ChildCount", Read::childCount);
  if (single & DESCRIPTION) addGet(ACCESSIBLE_INTERFACE, "Description", Read::description);
  if (single & PARENT) addGet(ACCESSIBLE_INTERFACE, "Parent", Read::parent);
  // What the bridge said it lacks, or never has, counts as asked, and untold.
  for (const auto& [fact, property] : {std::pair{IDENTIFIER, ACCESSIBLE_ID_PROPERTY}, std::pair{HELP, HELP_TEXT_PROPERTY}}) {
    if (!(single & fact)) continue;
    if ((fact == IDENTIFIER && toolkitOf(ref.bus).givesNoIdentifiers()) || channels_.lacksProperty(ref.bus, property)) {
      single &= ~fact;
      facts.asked |= fact;
    }
  }
  if (single & IDENTIFIER) addGet(ACCESSIBLE_INTERFACE, ACCESSIBLE_ID_PROPERTY, Read::accessibleId);
  if (single & HELP) addGet(ACCESSIBLE_INTERFACE, HELP_TEXT_PROPERTY, Read::helpText);
  if (single & ATTRIBUTES) add(ACCESSIBLE_INTERFACE, "GetAttributes", Read::attributes);
  if ((missing & CHILDREN) && !childrenWait) {
    if (facts.hasState(ATSPI_STATE_MANAGES_DESCENDANTS) && facts.childCount < 0 && !facts.childCountAsked) {
      facts.childCountAsked = true;
      addGet(ACCESSIBLE_INTERFACE, "ChildCount", Read::childCount);
    } else if (listsChildrenLazily(facts)) {
      if (std::find(lazy_.begin(), lazy_.end(), ref) == lazy_.end()) lazy_.push_back(ref);
    } else {
      add(ACCESSIBLE_INTERFACE, "GetChildren", Read::children);
    }
  }
  if (missing & RELATIONS) add(ACCESSIBLE_INTERFACE, "GetRelationSet", Read::relations);
  if (missing & EXTENTS)
    appendUint32(add(COMPONENT_INTERFACE, "GetExtents", Read::extents), ATSPI_COORD_TYPE_SCREEN);
  if (missing & TEXT) {
    DBusMessage* request = add(TEXT_INTERFACE, "GetText", Read::text);
    appendInt32(request, 0);
    // GTK 4 takes -1 for an offset, not for the end, and gives nothing.
    appendInt32(request, channels_.toolkitOf(ref.bus).isGtk4() ? std::numeric_limits<std::int32_t>::max() : -1);
  }
  if (missing & VALUE) addGet(VALUE_INTERFACE, "CurrentValue", Read::value);
  // Asked by index, not from the list of actions: GTK lists no actions for
  // an insensitive menu item but still tells its shortcut this way.
  if (missing & KEY_BINDING) appendInt32(add(ACTION_INTERFACE, "GetKeyBinding", Read::keyBinding), 0);
  if (missing & SELECTED) appendInt32(add(SELECTION_INTERFACE, "GetSelectedChild", Read::selected), 0);
}

void FactStore::listLazyChildren() {
  for (const ObjectRef& ref : std::exchange(lazy_, {})) {
    std::vector<ObjectRef> shown = shownChildren(ref);
    setChildren(ref, entry(ref), std::move(shown));
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

}  // namespace kelp::platform::linux_desktop
