// Reading a walk ahead: the facts a walk will ask for, fetched in rounds of
// pipelined calls before it asks.
#include "platform/linux/atspi/facts.h"

#include <algorithm>

#include "platform/linux/atspi/ax_reads.h"

namespace kelp::platform::linux_desktop {
namespace {

// How far a walk is read ahead: objects in walk order, and rounds of calls
// (each round learns the children, and with them the next objects, of the
// one before).
constexpr int READ_AHEAD_OBJECTS = 512;
constexpr int READ_AHEAD_ROUNDS = 8;
// Bounds the climb to following siblings when an application lists an
// object among its own descendants.
constexpr int READ_AHEAD_CLIMB = 64;

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

void FactStore::fetchAhead(const ObjectRef& start) {
  for (int round = 0; round < READ_AHEAD_ROUNDS; ++round) {
    KnownFacts known(*this);
    // A window's title and place come from the window manager's window of
    // the same rectangle and name: those are fetched with the rest, not
    // alone when the walk gets there.
    const auto windowFacts = [&known](const ObjectRef& window) {
      known.need(window, EXTENTS | NAMING);
      return std::nullopt;
    };
    ReadScope scope{known, {}, windowFacts, windowFacts};
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

    CallBatch batch(channels_);
    std::vector<Read> reads;
    for (const ObjectRef& ref : known.lackingObjects()) {
      Facts& facts = entry(ref);
      unsigned wanted = known.lacking(ref);
      // The child count that comes with the naming may tell there are no
      // children at all; the list waits for the count where both are due.
      if ((wanted & NAMING) && !(facts.asked & NAMING)) wanted &= ~CHILDREN;
      plan(batch, reads, ref, facts, wanted);
    }
    if (reads.empty() && lazy_.empty()) break;
    batch.run();
    apply(batch, reads);
    listLazyChildren();
  }
}

}  // namespace kelp::platform::linux_desktop
