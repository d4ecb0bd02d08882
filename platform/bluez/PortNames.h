// Port names of Bluetooth devices that stay the same from run to run.
//
// A device whose serial link is bound as an RFCOMM terminal (/dev/rfcommN,
// made with `rfcomm bind`) keeps that terminal's name: COMN for N below 10,
// else BTC(N-10), which the serial port opens as /dev/rfcommN. Every other
// device gets a number of its own from 20 up (BTC10, BTC11, ...), recorded in
// `<device root>/bluetooth/ports` ("AA:BB:CC:DD:EE:FF 20" lines) the first
// time the device is seen, so the number survives restarts and re-pairing.
#pragma once

#include <string>

namespace platform::bluez {

inline constexpr int kFirstStablePort = 20;
inline constexpr int kLastStablePort = 255;

// The device's recorded number, or the lowest free one recorded now. When the
// file cannot be written the number still holds for this run.
int StablePortNumber(const std::string& address);

// The RFCOMM terminal number bound to the device, or -1. `ttyClass` is the
// folder of terminal devices (/sys/class/tty), whose rfcommN entries name
// their remote device in an `address` file.
int RfcommBinding(const std::string& address, const std::string& ttyClass = "/sys/class/tty");

// COMn below 10, else BTC(n-10): the naming of virtual port numbers.
std::u16string PortName(int number);

}  // namespace platform::bluez
