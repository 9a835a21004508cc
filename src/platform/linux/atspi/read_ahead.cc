// Reading a walk ahead: the facts a walk will ask for, fetched in rounds of
// pipelined calls before it asks.
#include "platform/linux/atspi/facts.h"

#include <algorithm>
#include <limits>

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
// Read ahead of each fetch at least this many recorded objects, even where
// the walk's limit seems reached: the walk leaves some out (blank texts,
// closed menus), and must not go on one object at a time.
constexpr std::int64_t READ_AHEAD_MIN_RECORDED = 32;

}  // namespace

// What the store knows already, fetching nothing: reads run over it tell
// which facts they would fetch.
class FactStore::KnownFacts final : public FactSource {
 public:
  explicit KnownFacts(FactStore& store) : store_(store) {}

  const Facts& need(const ObjectRef& ref, unsigned wanted) override {
    Facts& facts = store_.entry(ref);
    if (const unsigned missing = wanted & ~facts.asked) {
      ++lackedReads_;
      auto [found, added] = lacking_.try_emplace(ref, 0u);
      if (added) order_.push_back(ref);
      found->second |= missing;
    }
    return facts;
  }
  // Not a fact: reads that ask it are not fetched ahead.
  std::optional<ObjectRef> firstWithStates(const ObjectRef&, std::uint64_t) override { return std::nullopt; }
  Toolkit toolkitOf(const std::string& bus) override { return store_.toolkitOf(bus); }
  std::uint64_t lackedReads() const override { return lackedReads_; }

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
  std::uint64_t lackedReads_ = 0;
};

void FactStore::fetchAhead(const ObjectRef& start) {
  // The records still to come bound what is worth fetching: a walk that
  // stops at its limit would leave the rest unread.
  const std::int64_t recordedBound =
      plan_->recordLimit < 0 ? std::numeric_limits<std::int64_t>::max()
                             : std::max(plan_->recordLimit, recordedAhead_ + READ_AHEAD_MIN_RECORDED);
  for (int round = 0; round < READ_AHEAD_ROUNDS; ++round) {
    // Those of earlier rounds that were fetched in full count already; the
    // others are met again below.
    const std::int64_t recordAllowance = recordedBound - recordedAhead_;
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
    // Of each visited object: read in whole this round, and recorded.
    std::vector<bool> whole;
    std::vector<bool> recorded;
    std::int64_t recordedThisRound = 0;
    // Past an object whose children are still to come, the walk order is not
    // settled: the children go first and may push later objects past the
    // walk's end, so of those only what leads on is fetched, not what a
    // record shows.
    bool settled = true;
    // Reads the plan of each element below `top` in walk order, as far as
    // its children are known; false once the budget is spent.
    auto subtree = [&](const ObjectRef& top) {
      std::vector<std::pair<ObjectRef, Presentation>> stack{{top, Presentation::object}};
      while (!stack.empty()) {
        if (static_cast<int>(visited.size()) >= READ_AHEAD_OBJECTS || recordedThisRound >= recordAllowance) {
          return false;
        }
        auto [ref, as] = std::move(stack.back());
        stack.pop_back();
        // Of an object read ahead already only the way on is needed.
        PlannedRead read;
        const bool readAhead = entry(ref).readAhead;
        if (readAhead) {
          read.children = childrenOf(scope, ref, as);
        } else {
          read = readAsPlanned(scope, *plan_, ref, as, settled ? PlannedReads::all : PlannedReads::wayOn);
          recordedThisRound += read.recorded ? 1 : 0;
        }
        whole.push_back(!readAhead && settled);
        if (known.lacking(ref) & CHILDREN) settled = false;
        std::vector<std::pair<ObjectRef, Presentation>>& children = read.children;
        visited.push_back(std::move(ref));
        recorded.push_back(read.recorded);
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
    for (std::size_t i = 0; i < visited.size(); ++i) {
      Facts& facts = entry(visited[i]);
      if (!whole[i] || facts.readAhead || known.lacking(visited[i])) continue;
      facts.readAhead = true;
      recordedAhead_ += recorded[i] ? 1 : 0;
    }

    CallBatch batch(channels_);
    std::vector<Read> reads;
    for (const ObjectRef& ref : known.lackingObjects()) {
      Facts& facts = entry(ref);
      plan(batch, reads, ref, facts, known.lacking(ref));
    }
    if (reads.empty() && lazy_.empty()) break;
    batch.run();
    apply(batch, reads);
    listLazyChildren();
  }
}

}  // namespace kelp::platform::linux_desktop
