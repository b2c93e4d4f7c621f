#pragma once

#include <netinet/in.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "osc/core/Data.h"
#include "platform/foundation/Error.h"

// Socket-address helpers shared by the UDP and TCP sockets. Addresses are whole socket
// addresses as bytes: a sockaddr_in (16 bytes) or a sockaddr_in6 (28 bytes); the family is read
// from sa_family (Linux has no length byte).
namespace rozuri::net {

Data bytesOf(const void* address, std::size_t length);
Data makeAddress4(in_addr host, std::uint16_t port);
Data makeAddress6(const in6_addr& host, std::uint16_t port);
// Sets the port of an IPv4 or IPv6 address in place.
void setPort(Data& address, std::uint16_t port);
// The local port a descriptor is bound to; 0 when it is not.
std::uint16_t boundPort(int fd);

std::string hostFromSockaddr4(const sockaddr_in& address);
std::string hostFromSockaddr6(const sockaddr_in6& address);
std::uint16_t portFromSockaddr4(const sockaddr_in& address);
std::uint16_t portFromSockaddr6(const sockaddr_in6& address);

// AF_INET or AF_INET6 for a buffer long enough for its family's address, else 0.
int addressFamily(const Data& address);
// Reads an IPv4 or IPv6 address; false (outputs untouched) for anything else.
bool readAddress(const Data& address, std::string* host, std::uint16_t* port, int* family);

// An IPv4-mapped IPv6 address (::ffff:a.b.c.d) as the IPv4 address it stands for, with the same
// port; every other address unchanged. The IPv6 sockets are IPv6 only, so a mapped address is
// reached, and heard from, over IPv4.
Data unmappedAddress(const Data& address);
bool isIPv4MappedAddress(const Data& address);
// The family a numeric host text ("localhost", "loopback", an IPv4 or IPv6 address) is sent on
// when both families can be used: AF_INET for IPv4, IPv4-mapped and the loopback names (their
// first address is 127.0.0.1), AF_INET6 for other IPv6 addresses, 0 for a name that needs a
// lookup. Allocates nothing.
int numericHostFamily(const std::string& host);

// The addresses of an interface description with `port`: none = any address of both families;
// "localhost"/"loopback"; an interface name ("lo", "eth0") or a printed address of one of this
// host's interfaces. A family the description does not name stays none.
void interfaceAddresses(const std::optional<std::string>& interface, std::uint16_t port,
                        std::optional<Data>* address4, std::optional<Data>* address6);

// A non-blocking, close-on-exec socket of `type` (SOCK_DGRAM, SOCK_STREAM); IPv6 sockets are
// IPv6 only, so both families can hold the same port. -1 with a POSIX error on failure.
int createSocket(int family, int type, foundation::Error* error);
// The error of a socket() call that failed because this host has no IPv6.
bool isFamilyUnavailable(const foundation::Error& error);

// Host lookup. A text that cannot name a host at all (empty, an embedded NUL, longer than a DNS
// name, characters outside letters, digits, '-', '.', '_', or ':' outside a numeric IPv6
// address, e.g. "[::1]" or "h:5000") is refused before any lookup, so that it never reaches a
// resolver (c_str() would cut a name at its NUL).
bool isPlausibleHostName(const std::string& host);
// "localhost"/"loopback" (127.0.0.1, then ::1) and numeric addresses, answered without a
// resolver; none when the host needs one.
std::optional<std::vector<Data>> numericHostAddresses(const std::string& host, std::uint16_t port);
// Looks `host` up for `socketType` (blocking: run it off the socket queue). The IPv4 and IPv6
// results in resolver order with `port` set; on failure none and a resolver-domain error
// (EAI_NONAME for a refused text, EAI_FAIL when no IPv4 or IPv6 address came back).
std::vector<Data> resolveHost(const std::string& host, std::uint16_t port, int socketType,
                              foundation::Error* error);

}  // namespace rozuri::net
