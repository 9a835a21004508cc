// What is known about remote AT-SPI objects during one burst of reads, and
// how it is fetched.
//
// Every attribute read is answered from the facts of the objects involved;
// facts are fetched on first need and kept until the store goes. A store
// made for a single read is thrown away after it, so that read sees live
// state. A store kept for a snapshot (a walk) also fetches ahead: the
// application's whole list of objects from its toolkit bridge in one call
// (org.a11y.atspi.Cache.GetItems: role, states, name, description and child
// count of every object it knows), and the facts a walk will read of the
// next few hundred objects in walk order, in batches. Which facts those are
// is learnt by running the attribute readers over what is known so far.
// Fetching ahead changes when a fact is read, never how: both kinds of
// store decode the same calls with the same code, so a snapshot read equals
// a direct read made at the same moment.
#pragma once

#include <atspi/atspi.h>

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/linux/atspi/calls.h"
#include "platform/linux/atspi/tree.h"
#include "platform/platform.h"

namespace kelp::platform::linux_desktop {

// The facts of an object, each fetched as a whole.
enum Fact : unsigned {
  ROLE = 1u << 0,          // Accessible.GetRole
  STATES = 1u << 1,        // Accessible.GetState
  NAMING = 1u << 2,        // the Name property
  PARENT = 1u << 3,        // the Parent property
  IDENTIFIER = 1u << 4,    // the AccessibleId property
  HELP = 1u << 5,          // the HelpText property (AT-SPI 2.52 and later)
  ATTRIBUTES = 1u << 6,    // object attributes
  CHILDREN = 1u << 7,      // Accessible.GetChildren
  RELATIONS = 1u << 8,     // the objects that label it
  EXTENTS = 1u << 9,       // Component.GetExtents in screen coordinates
  TEXT = 1u << 10,         // Text.GetText of the whole text
  VALUE = 1u << 11,        // Value.CurrentValue
  KEY_BINDING = 1u << 12,  // Action.GetKeyBinding of the first action
  SELECTED = 1u << 13,     // Selection.GetSelectedChild of the first selected child
  // The Description property. Apart from the naming because toolkits that
  // answer only single properties would be asked it of every object, where
  // only a nameless record needs it.
  DESCRIPTION = 1u << 14,
  // The ChildCount property: whether the children may be listed, and
  // whether there are any to list.
  CHILD_COUNT = 1u << 15,
};

// Properties.GetAll of the Accessible interface answers these at once; it
// is asked only where the naming is missing (objects the toolkit's cache did
// not list), as single properties cost the application less.
inline constexpr unsigned GET_ALL_FACTS = NAMING | DESCRIPTION | CHILD_COUNT | PARENT | IDENTIFIER | HELP;

// An object's rectangle as AT-SPI reports it.
struct Extents {
  std::int32_t x = 0;
  std::int32_t y = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
};

struct Facts {
  unsigned asked = 0;     // facts fetched, whether or not the object answered
  unsigned answered = 0;  // facts the object answered
  AtspiRole role = ATSPI_ROLE_INVALID;
  std::uint64_t states = 0;  // bit n stands for AtspiStateType n
  std::string name;
  std::string description;
  std::int32_t childCount = -1;  // -1: not told
  std::optional<ObjectRef> parent;
  std::string accessibleId;
  std::string helpText;
  std::map<std::string, std::string, std::less<>> attributes;
  std::vector<ObjectRef> children;
  std::vector<ObjectRef> labelledBy;
  Extents extents;
  std::string text;
  double value = 0;
  std::string keyBinding;
  std::optional<ObjectRef> selectedChild;  // none: it holds none

  // Bookkeeping of the store.
  bool getAllRefused = false;         // Properties.GetAll failed: ask property by property
  bool childCountAsked = false;       // the ChildCount property, where the naming left it untold
  std::optional<ObjectRef> listedBy;  // the object whose children list holds it
  bool readAhead = false;             // everything a walk reads of it is fetched

  bool has(unsigned fact) const { return (answered & fact) == fact; }
  bool hasState(AtspiStateType state) const { return (states >> static_cast<unsigned>(state)) & 1u; }
};

// Whether an object's children are too many to list, or made only when
// asked for, so that it gives only those it shows (shown_children.cc).
bool listsChildrenLazily(const Facts& facts);

// Where attribute reads get the facts of objects: the bus (FactStore), what
// a store knows already (its read-ahead), or facts a test prepared.
class FactSource {
 public:
  virtual ~FactSource() = default;
  // The facts of `ref`, with every fact in `wanted` asked for; what the
  // object did not tell is not `has`. The reference stays valid as long as
  // the source.
  virtual const Facts& need(const ObjectRef& ref, unsigned wanted) = 0;
  // The first descendant of `root`, in tree order, that has all of
  // `states` (bit n for AtspiStateType n), where the toolkit answers that in
  // one question; none where it does not.
  virtual std::optional<ObjectRef> firstWithStates(const ObjectRef& root, std::uint64_t states) = 0;
  // The toolkit of the application at `bus`.
  virtual Toolkit toolkitOf(const std::string& bus) = 0;
  // How many reads so far lacked a fact that was not yet fetched; always 0
  // for sources that fetch what they lack.
  virtual std::uint64_t lackedReads() const { return 0; }
};

class FactStore final : public FactSource {
 public:
  // A store for one read or one write, fetching what is asked and no more.
  explicit FactStore(AtspiChannels& channels) : channels_(channels) {}
  // A store for a burst of reads: it keeps facts for the whole burst and
  // fetches ahead of a walk what `plan` will read.
  FactStore(AtspiChannels& channels, ReadPlan plan) : channels_(channels), plan_(std::move(plan)) {}
  FactStore(const FactStore&) = delete;
  FactStore& operator=(const FactStore&) = delete;

  const Facts& need(const ObjectRef& ref, unsigned wanted) override;
  std::optional<ObjectRef> firstWithStates(const ObjectRef& root, std::uint64_t states) override;
  Toolkit toolkitOf(const std::string& bus) override { return channels_.toolkitOf(bus); }

  // For calls the facts do not cover.
  AtspiChannels& channels() { return channels_; }

 private:
  struct Read {
    ObjectRef ref;
    Facts* facts;
    std::size_t call;
    enum Kind {
      role,
      states,
      getAll,
      name,
      description,
      childCount,
      parent,
      accessibleId,
      helpText,
      attributes,
      children,
      relations,
      extents,
      text,
      value,
      keyBinding,
      selected
    } kind;
  };

  struct RefHash {
    std::size_t operator()(const ObjectRef& ref) const {
      return std::hash<std::string>{}(ref.path) * 31 + std::hash<std::string>{}(ref.bus);
    }
  };

  Facts& entry(const ObjectRef& ref);
  // Adds the calls that fetch what `wanted` still lacks; each fact is
  // fetched by one call, or by two in a row where a toolkit refuses the
  // combined one.
  void plan(CallBatch& batch, std::vector<Read>& reads, const ObjectRef& ref, Facts& facts, unsigned wanted);
  void apply(const CallBatch& batch, const std::vector<Read>& reads);
  // Remembers the properties the application's bridge said it lacks.
  void noteLackedProperties(const CallBatch& batch, const std::vector<Read>& reads);
  void fetch(const ObjectRef& ref, Facts& facts, unsigned wanted);
  // Records `children` as the children of `lister`, and `lister` as the
  // object each of them was found under.
  void setChildren(const ObjectRef& lister, Facts& facts, std::vector<ObjectRef> children);

  // Gives the objects that list their children lazily, met by the last
  // plans, the children they show.
  void listLazyChildren();
  std::vector<ObjectRef> shownChildren(const ObjectRef& ref);
  // A table's cells in the rows and columns on screen; none where it is no
  // table that says so.
  std::optional<std::vector<ObjectRef>> shownCells(const ObjectRef& table, const Extents& area);
  // The items of a list that stand inside its area, found by their order.
  std::vector<ObjectRef> shownItems(const ObjectRef& list, const Extents& area, std::int32_t count);

  void seedFromCache(const std::string& bus);
  void fetchAhead(const ObjectRef& start);
  class KnownFacts;

  AtspiChannels& channels_;
  std::optional<ReadPlan> plan_;  // none: no fetching ahead
  std::set<std::string> seeded_;
  // Objects of recorded roles whose facts were all read ahead.
  std::int64_t recordedAhead_ = 0;
  std::vector<ObjectRef> lazy_;  // objects whose shown children are due
  std::unordered_map<ObjectRef, Facts, RefHash> facts_;
};

}  // namespace kelp::platform::linux_desktop
