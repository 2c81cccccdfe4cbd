#pragma once
// The pages of the simulated site, built from scenario values. Pure
// functions: the server picks the auction and the time, these write the
// bytes (UTF-8, CR LF line ends) in the layout of sim/PAGES.md.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "sim/auction_sim.h"

namespace sim::pages {

constexpr std::int64_t kClockDealId = 3333333;

// 0 running, 1 not started, 2 over; an override wins.
int StatusAt(const Auction& a, std::int64_t nowMs);

// The highest bid (the earliest of equal ones), or null when nobody has bid.
const Bid* Highest(const Auction& a);

// The highest bid, or the start price while nobody has bid.
std::int64_t CurrentPrice(const Auction& a);

// A time as the 13 digits every cut expects (zero-padded, never negative).
std::string Millis(std::int64_t ms);
// Whole yuan as the site writes money: "1999.00".
std::string Yuan(std::int64_t yuan);
std::string HtmlEscape(std::string_view text);
std::string JsonEscape(std::string_view text);

// The stand-in for auction 3333333 when the scenario lacks it: an ended
// auction without bids, so its page carries the clock and nothing can be won.
Auction ClockAuction(std::int64_t nowMs);

std::string DetailPage(const Auction& a, std::int64_t nowMs);
std::string NotFoundPage();
std::string ServerErrorPage();

// Bid records of `a` (null: an unknown auction, no records).
std::string BidRecords(const Auction* a, std::int64_t nowMs);

// The answer to a bid: 200 is success, anything else a refusal with a message.
std::string BidAnswer(int code);

// One listing page holding `deals` (already cut to the page).
std::string ListingPage(const std::vector<const Auction*>& deals, std::int64_t nowMs);

std::string HomePage(std::int64_t nowMs);
std::string DefaultUpdatePage(const std::string& baseUrl);

}  // namespace sim::pages
