#include "fields/slot_alignment.h"

#include <algorithm>

namespace orbse::fields {
namespace {

// The furthest x reached on each diagonal k = x - y after d edits, for k
// from -d to d: the trace the matches are read back from.
using furthest_reach = std::vector<std::int32_t>;

// Myers' forward search over a[0..n) and b[0..m); the reaches after each
// number of edits, or none once more than `most_edits` would be needed.
std::vector<furthest_reach> search(std::span<const std::uint64_t> a, std::span<const std::uint64_t> b,
                                   std::size_t most_edits)
{
    const auto n = static_cast<std::int64_t>(a.size());
    const auto m = static_cast<std::int64_t>(b.size());
    const auto most = static_cast<std::int64_t>(std::min<std::size_t>(most_edits, a.size() + b.size()));
    std::vector<std::int64_t> reach(static_cast<std::size_t>(2 * most + 3), 0);
    const auto at = [&](std::int64_t k) -> std::int64_t& { return reach[static_cast<std::size_t>(k + most + 1)]; };
    std::vector<furthest_reach> trace;
    for (std::int64_t edits = 0; edits <= most; ++edits) {
        for (std::int64_t k = -edits; k <= edits; k += 2) {
            std::int64_t x = (k == -edits || (k != edits && at(k - 1) < at(k + 1))) ? at(k + 1) : at(k - 1) + 1;
            std::int64_t y = x - k;
            while (x < n && y < m && a[static_cast<std::size_t>(x)] == b[static_cast<std::size_t>(y)]) {
                ++x;
                ++y;
            }
            at(k) = x;
        }
        furthest_reach& kept = trace.emplace_back(static_cast<std::size_t>(2 * edits + 1));
        for (std::int64_t k = -edits; k <= edits; ++k) {
            kept[static_cast<std::size_t>(k + edits)] = static_cast<std::int32_t>(at(k));
        }
        if (at(n - m) >= n && n - m >= -edits && n - m <= edits) {
            return trace;
        }
    }
    return {};
}

// The matches, read back from the end through the trace.
std::vector<slot_match> read_back(const std::vector<furthest_reach>& trace, std::int64_t n, std::int64_t m)
{
    std::vector<slot_match> matches;
    std::int64_t x = n;
    std::int64_t y = m;
    const auto diagonal_to = [&](std::int64_t from_x, std::int64_t from_y) {
        while (x > from_x && y > from_y) {
            --x;
            --y;
            matches.push_back({static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y)});
        }
    };
    for (auto edits = static_cast<std::int64_t>(trace.size()) - 1; edits > 0; --edits) {
        const furthest_reach& before = trace[static_cast<std::size_t>(edits - 1)];
        const auto reach_before = [&](std::int64_t k) { return std::int64_t{before[static_cast<std::size_t>(k + edits - 1)]}; };
        const std::int64_t k = x - y;
        const bool down = k == -edits || (k != edits && reach_before(k - 1) < reach_before(k + 1));
        const std::int64_t previous_k = down ? k + 1 : k - 1;
        const std::int64_t previous_x = reach_before(previous_k);
        const std::int64_t previous_y = previous_x - previous_k;
        diagonal_to(down ? previous_x : previous_x + 1, down ? previous_y + 1 : previous_y);
        x = previous_x;
        y = previous_y;
    }
    diagonal_to(0, 0);
    std::reverse(matches.begin(), matches.end());
    return matches;
}

} // namespace

std::vector<slot_match> match_slots(std::span<const std::uint64_t> first, std::span<const std::uint64_t> second,
                                    std::size_t most_edits)
{
    // The common front and back are matched as they stand: a single slot
    // added or removed leaves nothing else to search.
    const std::size_t shorter = std::min(first.size(), second.size());
    std::size_t front = 0;
    while (front < shorter && first[front] == second[front]) {
        ++front;
    }
    std::size_t back = 0;
    while (back < shorter - front && first[first.size() - 1 - back] == second[second.size() - 1 - back]) {
        ++back;
    }
    std::vector<slot_match> matches;
    for (std::size_t at = 0; at < front; ++at) {
        matches.push_back({static_cast<std::uint32_t>(at), static_cast<std::uint32_t>(at)});
    }
    const auto middle_a = first.subspan(front, first.size() - front - back);
    const auto middle_b = second.subspan(front, second.size() - front - back);
    const auto trace = search(middle_a, middle_b, most_edits);
    if (!trace.empty()) {
        for (const auto& match : read_back(trace, static_cast<std::int64_t>(middle_a.size()), static_cast<std::int64_t>(middle_b.size()))) {
            matches.push_back({static_cast<std::uint32_t>(match.first + front), static_cast<std::uint32_t>(match.second + front)});
        }
    } else {
        for (std::size_t at = 0; at < std::min(middle_a.size(), middle_b.size()); ++at) {
            matches.push_back({static_cast<std::uint32_t>(front + at), static_cast<std::uint32_t>(front + at)});
        }
    }
    for (std::size_t at = back; at > 0; --at) {
        matches.push_back({static_cast<std::uint32_t>(first.size() - at), static_cast<std::uint32_t>(second.size() - at)});
    }
    return matches;
}

} // namespace orbse::fields
