// The bounds a chaos run is held to once its faults have stopped, derived from
// the protocol's own timings (docs/RELIABILITY.md, "Chaos campaign", gives the
// same derivation in prose). Notation: Q is the start of the quiet phase, T the
// tick (100 ms), D the longest one-way delay of the quiet wire (minimum delay,
// plus jitter, plus the reordering hold when the wire reorders), N the number
// of devices in the group.
//
// 1. Sockets, by S = Q + 31 T. A receiver or sync sender that is missing is
//    made again at its 31-tick re-check; its counter is at most 30 at Q, and
//    every tick after Q comes at most T after the one before. A receive that
//    fails closes the receiver, which the same re-check makes again; a sender
//    whose creation chain stopped at a refused step is made again at its next
//    re-check too. Devices restarted in the fault phase are up again by Q
//    (the plan ends every downtime there) and make both sockets on their 31st
//    tick. Every datagram sent during the fault phase has arrived by S: the
//    longest fault-phase delay is far below 31 T (checked below).
// 2. Parents stop timing out at A = S + T. After S every parent sends a sync
//    packet on each tick and hears it back 20 us later (its count is 1 after
//    the tick and 0 again at once), so the only time-out left to a parent is
//    on its first tick after S, when its count may already stand at 30.
// 3. Who stays parent (checked from P = A + N D + 1 ms). After A a parent
//    gives up its role only when it hears a higher parent's packet. The
//    highest device that is a parent at any moment from P on never hears a
//    higher one (a packet that arrives after P was sent after P - D, and a
//    chain of such yields is at most N - 1 long, so it reaches back no
//    further than A), and so it is the parent at the end. The protocol does
//    NOT make the parent the device with the highest address of the group: a
//    device that comes back from a restart, or that times out later than the
//    others, hears the parent in place and stays a child.
// 4. One parent, by C = Q + 66 T + (N + 3) D. From A + N D on, once the group
//    has a parent it keeps one (the highest never yields and never times out),
//    and every child hears a packet on every tick, so none times out. If the
//    group has no parent then, the first child times out at most 31 ticks
//    after the last packet it heard (at most A + (N + 1) D): at most
//    A + (N + 1) D + 31 T. Children that time out before they hear its first
//    packet (one tick after its time-out, D later at every device) become
//    parents too; each sends within a tick of taking the role, and every
//    lower parent yields on the first packet it hears from a higher one:
//    one parent by 2 T + 2 D after the first time-out. That sums to
//    Q + 65 T + (N + 3) D; a margin of one tick covers actions that fall on
//    the same microsecond as a tick and the set-up chains that finish a few
//    zero-delay steps after the re-check that starts them.
// 5. Sync spread, from C + T + D (every page has then been told a position
//    by the final parent). A page is told the parent's position at the
//    parent's tick s when that tick's packet arrives (a child) or comes back
//    (the parent), and extrapolates it in virtual time:
//    - arrival: the packets of one tick reach the pages between 20 us and D
//      after s: at most D apart;
//    - whole milliseconds: clocks are read in whole ms, so the position of one
//      tick and the next, or a child's position computed from its own clock,
//      are each less than 1 ms off: 2 ms;
//    - drift: pages extrapolate in virtual time while the parent counts in its
//      own wall clock, and a child's own clock runs at its own rate between
//      packets: 2 x (largest |drift|) x 2 T;
//    - another group's datagram (only with more than one group): after any
//      datagram of its sync port a device tells its page its own position as
//      of its last tick or adopted packet, up to one tick old: T;
//    - a new pass: a page ends at the first tick past the length its page
//      last gave it, so a pass lasts longer than the schedule's total, by up
//      to a tick per page and, while a page's lengths and the module's page
//      starts are out of line after the faults, by more. Positions are
//      therefore compared on a straight line, and within T + D of the
//      instant the parent's page was told of a new pass, a position still in
//      the old pass is compared less the parent's jump. With other groups, a
//      child's own clock may have started the new pass up to a tick before or
//      after the parent, which a position told again after another group's
//      datagram shows: T more there.
//
// The derivation needs D < T and a fault-phase delay below 31 T; the plan's
// ranges keep both (D <= 10 ms, fault-phase delay <= 320 ms).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/chaos/plan.h"

namespace chaos {

constexpr int64_t kTickUs = 100 * kMillisecondUs;
// A missing socket is made on every 31st tick; a child without a parent's
// packet for 31 ticks takes the role.
constexpr int64_t kRecheckTicks = 31;
constexpr int64_t kSearchTicks = 31;
// Clocks are read in whole milliseconds, twice on the way to a page.
constexpr int64_t kClockGrainUs = 2 * kMillisecondUs;

struct GroupBounds {
  // Inputs.
  int64_t quiet_from_us = 0;  // Q
  int64_t delay_us = 0;       // D
  size_t devices = 0;         // N
  bool other_groups = false;
  double drift_ppm = 0;  // largest |drift| among the group's devices
  // Derived instants.
  int64_t sockets_by_us = 0;         // S = Q + 31 T
  int64_t no_parent_timeout_us = 0;  // A = S + T
  int64_t order_from_us = 0;         // P = A + N D + 1 ms
  int64_t one_parent_by_us = 0;      // C = Q + 66 T + (N + 3) D
  int64_t spread_from_us = 0;        // C + T + D
  // Spread limits.
  int64_t spread_limit_us = 0;    // D + 2 ms + drift (+ T with other groups)
  int64_t wrap_allowance_us = 0;  // T with other groups, within wrap_window_us of a wrap
  int64_t wrap_window_us = 0;     // T + D
};

// Empty when the derivation applies to the plan, else why it does not.
std::string DerivationPrecondition(const ChaosPlan& plan);

GroupBounds DeriveBounds(const ChaosPlan& plan, size_t group);

// "one parent by Q + 6.74 s (66 ticks + 9 x 4.2 ms)" and the like, for reports.
std::string DescribeBounds(const GroupBounds& bounds);

}  // namespace chaos
