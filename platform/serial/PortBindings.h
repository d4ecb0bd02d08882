// Ports whose link is a connected socket rather than a device node: the
// platform's Bluetooth stack binds a port name ("BTC10") to a connector, and
// opening that port connects and hands the socket to the port's socket mode.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

namespace platform {

// Returns a connected socket that the caller then owns, or -1 when the link
// cannot be made.
using PortConnector = std::function<int()>;

// Binds `name` (with or without its colon, letter case ignored) for `owner`,
// replacing any earlier binding of that name.
void BindPort(std::u16string_view name, uint64_t owner, PortConnector connector);
// Removes the binding of `name` when `owner` made it.
void UnbindPort(std::u16string_view name, uint64_t owner);
// Removes every binding `owner` made.
void UnbindPorts(uint64_t owner);
// The connector bound to `name`; empty when there is none.
PortConnector BoundPort(std::u16string_view name);
// A fresh owner id.
uint64_t NewPortOwner();

}  // namespace platform
