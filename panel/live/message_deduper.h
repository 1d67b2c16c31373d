#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <unordered_set>

namespace tessaly {

// Remembers the most recent distinct message ids and refuses repeats of them.
// The window is counted in accepted distinct ids, not in time or in calls: an
// id is refused until `capacity` newer distinct ids have been accepted after
// it, and forgotten (so accepted again) from then on.
//
// No lock of its own: the panel's event callback calls accept() while it holds
// the AppContext's dedupe_mutex, which guards the whole object.
class MessageDeduper {
 public:
  // An empty deduper that remembers at most `max_ids` ids (the panel uses
  // 20000). With 0 it refuses every id.
  explicit MessageDeduper(std::size_t max_ids);

  // True if `id` is not among the remembered ids: the message is to be
  // processed, and `id` is now remembered as the newest (the oldest id is
  // forgotten if that exceeds the capacity). False for a remembered id (its
  // age is not refreshed) and for the empty id, which is never recorded.
  // Throws only on memory exhaustion, with the remembered ids still
  // consistent (the oldest may be forgotten without the new one recorded).
  bool accept(const std::string& id);

  // Takes back an accepted id whose message could not be handled, so that a
  // redelivery of it is accepted. An id that an accept pushed out of the
  // window to make room stays forgotten. Nothing for an id not remembered.
  // Never throws.
  void forget(const std::string& id) noexcept;

  // How many ids are remembered now (never more than the capacity).
  std::size_t size() const noexcept { return order.size(); }

 private:
  std::size_t capacity;  // fixed at construction
  // The remembered ids, oldest at the front. Holds the same ids as `seen`,
  // each once, and never more than `capacity` of them.
  std::deque<std::string> order;
  std::unordered_set<std::string> seen;
};

}  // namespace tessaly
