// The simulated LAN backend: virtual time, logical loops, simulated UDP over
// an IPv4 /24, per-host wall clocks, injected faults, pages and a trace.
// Start from sim::Lan (lan.h).
#pragma once

#include "platform/sim/address.h"
#include "platform/sim/clock.h"
#include "platform/sim/embedding.h"
#include "platform/sim/faults.h"
#include "platform/sim/host.h"
#include "platform/sim/lan.h"
#include "platform/sim/loop.h"
#include "platform/sim/page.h"
#include "platform/sim/socket.h"
#include "platform/sim/trace.h"
