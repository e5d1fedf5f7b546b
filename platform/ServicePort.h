#pragma once

// The TCP port of the phone service: $VELLUMO_PORT when it holds a number from 1 to 65535,
// else 6639. The server listens on it and the pairing payload announces it.
inline constexpr int kDefaultServicePort = 6639;
int ServicePort();
