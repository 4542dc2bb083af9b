// The cameras lorvexgige serves: the virtual SDK's device file (or its
// built-in devices), plus two keys per device that only the simulator reads:
//   "address":         the IPv4 address it answers on (default 127.0.0.N for
//                      the N-th device, counting from 1)
//   "lostPacketRatio": the share of stream packets dropped, 0 to 1 (default 0)
#pragma once

#include "servedcamera.h"

#include <string>
#include <vector>

namespace gige {

// Empty path: the built-in devices. Returns false and says why on stderr.
bool loadServed(const std::string& path, std::vector<Served>& out);

} // namespace gige
