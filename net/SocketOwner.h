#pragma once
// Whose is a TCP socket on this PC: the kernel's socket table knows the user that created each
// socket, so a server can tell a connection from its own user apart from one made by another
// account on the same machine.

#include <cstdint>

// The uid owning the IPv4 TCP socket whose own end is clientAddress:clientPort and whose other
// end is serverAddress:serverPort (host byte order), or -1 when no such socket is found.
// Asks the kernel's socket-diagnostics interface for that one socket and falls back to reading
// /proc/net/tcp.
int64_t TcpSocketOwner(uint32_t clientAddress, uint16_t clientPort, uint32_t serverAddress,
                       uint16_t serverPort);

// The same, from the text of /proc/net/tcp.
int64_t TcpSocketOwnerFromTable(const char* table, uint32_t clientAddress, uint16_t clientPort,
                                uint32_t serverAddress, uint16_t serverPort);
