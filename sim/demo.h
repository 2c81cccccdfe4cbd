#pragma once
// The demo scenario: running auctions in every category, a history of closed
// ones for the price-history program, and the other bidders' moves.
#include <cstdint>
#include <optional>
#include <random>
#include <vector>

#include "sim/auction_sim.h"

namespace sim::demo {

constexpr std::int64_t kFirstClosedId = 2000001;
constexpr int kRunning = 25;

// Every auction of the scenario, relative to `nowMs`. Closed ones take ids
// from kFirstClosedId (with a few gaps, as on the site); running ones follow
// them, so a history walk meets a running auction after the closed ones.
std::vector<Auction> Scenario(std::int64_t nowMs, std::mt19937& rng);

// One more running auction closing `closesInMs` from now.
Auction RunningLot(std::int64_t id, std::int64_t nowMs, std::int64_t closesInMs, std::mt19937& rng);

// A bid that one of the other bidders could place on `a` now under the
// site's rules, or nullopt when none fits.
std::optional<Bid> OtherBid(const Auction& a, std::int64_t nowMs, std::mt19937& rng);

}  // namespace sim::demo
