// The platform interface both modules are written against: values, instances
// and modules, completion callbacks, message loops and worker threads, UDP
// sockets, host resolution, network addresses, result codes and the wall clock.
#pragma once

#include "platform/backend.h"
#include "platform/completion_callback.h"
#include "platform/instance.h"
#include "platform/message_loop.h"
#include "platform/net_address.h"
#include "platform/pp_errors.h"
#include "platform/udp_socket.h"
#include "platform/var.h"
