// The networking middleware in one include: set-up, arrays, values, socket
// layer, contexts and connections, framing, heartbeat and circuits.
#pragma once

#include "net/array.h"
#include "net/codec.h"
#include "net/conn.h"
#include "net/core.h"
#include "net/framing.h"
#include "net/osdep.h"
#include "net/task.h"
#include "net/tcp.h"
#include "net/vec.h"
