#pragma once
// Tests' hand on the null-modem bridge that joins the COM ports they use: it
// can pull a port's plug, as a user unplugging the controller's cable would,
// and put it back. The bridge's control socket is named by the environment
// variable FOCUSER_NULLMODEM_CONTROL ("127.0.0.1:PORT"), which the test
// runner sets when a bridge is running.
//
// Each call waits a few seconds at most and returns false on any failure: no
// bridge, no answer, or a refusal.

namespace nullmodem {

// The port ("com3") vanishes: handles open on it fail, and opening it fails,
// until it is plugged again.
bool Unplug(const char* port);
// The port is back, as a fresh device.
bool Plug(const char* port);
// Whether a bridge answers at all; tests that need one skip without it.
bool Available();
// Returns once every byte written on any port before the call has reached the
// far end's receive queue.
bool Drain();

}  // namespace nullmodem
