#include "osc/udp/SocketAddress.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <utility>

namespace rozuri::net {

Data bytesOf(const void* address, std::size_t length) {
    const auto* p = static_cast<const std::uint8_t*>(address);
    return Data(p, p + length);
}

Data makeAddress4(in_addr host, std::uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr = host;
    return bytesOf(&a, sizeof a);
}

Data makeAddress6(const in6_addr& host, std::uint16_t port) {
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_port = htons(port);
    a.sin6_addr = host;
    return bytesOf(&a, sizeof a);
}

void setPort(Data& address, std::uint16_t port) {
    const std::uint16_t net = htons(port);
    // sin_port and sin6_port sit at the same offset.
    static_assert(offsetof(sockaddr_in, sin_port) == offsetof(sockaddr_in6, sin6_port));
    if (address.size() < offsetof(sockaddr_in, sin_port) + sizeof net) return;
    std::memcpy(address.data() + offsetof(sockaddr_in, sin_port), &net, sizeof net);
}

std::uint16_t boundPort(int fd) {
    sockaddr_storage ss{};
    socklen_t len = sizeof ss;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&ss), &len) != 0) return 0;
    if (ss.ss_family == AF_INET) return ntohs(reinterpret_cast<sockaddr_in*>(&ss)->sin_port);
    if (ss.ss_family == AF_INET6) return ntohs(reinterpret_cast<sockaddr_in6*>(&ss)->sin6_port);
    return 0;
}

std::string hostFromSockaddr4(const sockaddr_in& address) {
    char text[INET_ADDRSTRLEN] = {};
    if (!::inet_ntop(AF_INET, &address.sin_addr, text, sizeof text)) return {};
    return text;
}

std::string hostFromSockaddr6(const sockaddr_in6& address) {
    char text[INET6_ADDRSTRLEN] = {};
    if (!::inet_ntop(AF_INET6, &address.sin6_addr, text, sizeof text)) return {};
    return text;
}

std::uint16_t portFromSockaddr4(const sockaddr_in& address) {
    return ntohs(address.sin_port);
}

std::uint16_t portFromSockaddr6(const sockaddr_in6& address) {
    return ntohs(address.sin6_port);
}

int addressFamily(const Data& address) {
    if (address.size() < sizeof(sockaddr_in)) return 0;
    sa_family_t family = 0;
    std::memcpy(&family, address.data() + offsetof(sockaddr, sa_family), sizeof family);
    if (family == AF_INET6 && address.size() >= sizeof(sockaddr_in6)) return AF_INET6;
    if (family == AF_INET) return AF_INET;
    return 0;
}

bool readAddress(const Data& address, std::string* host, std::uint16_t* port, int* family) {
    switch (addressFamily(address)) {
        case AF_INET6: {
            sockaddr_in6 a{};
            std::memcpy(&a, address.data(), sizeof a);
            if (host) *host = hostFromSockaddr6(a);
            if (port) *port = portFromSockaddr6(a);
            if (family) *family = AF_INET6;
            return true;
        }
        case AF_INET: {
            sockaddr_in a{};
            std::memcpy(&a, address.data(), sizeof a);
            if (host) *host = hostFromSockaddr4(a);
            if (port) *port = portFromSockaddr4(a);
            if (family) *family = AF_INET;
            return true;
        }
        default:
            return false;
    }
}

bool isIPv4MappedAddress(const Data& address) {
    if (addressFamily(address) != AF_INET6) return false;
    sockaddr_in6 a{};
    std::memcpy(&a, address.data(), sizeof a);
    return IN6_IS_ADDR_V4MAPPED(&a.sin6_addr);
}

Data unmappedAddress(const Data& address) {
    if (!isIPv4MappedAddress(address)) return address;
    sockaddr_in6 a6{};
    std::memcpy(&a6, address.data(), sizeof a6);
    in_addr a4{};
    std::memcpy(&a4, &a6.sin6_addr.s6_addr[12], sizeof a4);
    return makeAddress4(a4, ntohs(a6.sin6_port));
}

int numericHostFamily(const std::string& host) {
    if (host == "localhost" || host == "loopback") return AF_INET;
    if (host.find('\0') != std::string::npos) return 0;
    in_addr a4{};
    if (::inet_pton(AF_INET, host.c_str(), &a4) == 1) return AF_INET;
    in6_addr a6{};
    if (::inet_pton(AF_INET6, host.c_str(), &a6) == 1) {
        return IN6_IS_ADDR_V4MAPPED(&a6) ? AF_INET : AF_INET6;
    }
    return 0;
}

void interfaceAddresses(const std::optional<std::string>& interface, std::uint16_t port,
                        std::optional<Data>* address4, std::optional<Data>* address6) {
    std::optional<Data> a4;
    std::optional<Data> a6;
    if (!interface) {
        in_addr any4{};
        any4.s_addr = htonl(INADDR_ANY);
        a4 = makeAddress4(any4, port);
        a6 = makeAddress6(in6addr_any, port);
    } else if (*interface == "localhost" || *interface == "loopback") {
        in_addr lo4{};
        lo4.s_addr = htonl(INADDR_LOOPBACK);
        a4 = makeAddress4(lo4, port);
        a6 = makeAddress6(in6addr_loopback, port);
    } else if (!interface->empty()) {
        ifaddrs* list = nullptr;
        if (::getifaddrs(&list) == 0) {
            for (ifaddrs* entry = list; entry; entry = entry->ifa_next) {
                // Some entries (e.g. interfaces that are down) carry no address.
                if (!entry->ifa_addr) continue;
                const bool nameMatches = entry->ifa_name && *interface == entry->ifa_name;
                if (entry->ifa_addr->sa_family == AF_INET && !a4) {
                    const auto* sin = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
                    if (nameMatches || hostFromSockaddr4(*sin) == *interface) {
                        a4 = bytesOf(sin, sizeof(sockaddr_in));
                        setPort(*a4, port);
                    }
                } else if (entry->ifa_addr->sa_family == AF_INET6 && !a6) {
                    const auto* sin6 = reinterpret_cast<const sockaddr_in6*>(entry->ifa_addr);
                    if (nameMatches || hostFromSockaddr6(*sin6) == *interface) {
                        a6 = bytesOf(sin6, sizeof(sockaddr_in6));
                        setPort(*a6, port);
                    }
                }
            }
            ::freeifaddrs(list);
        }
    }
    if (address4) *address4 = std::move(a4);
    if (address6) *address6 = std::move(a6);
}

int createSocket(int family, int type, foundation::Error* error) {
    const int fd = ::socket(family, type | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        const int err = errno;
        foundation::setError(error, foundation::Error::posix(err, "Error in socket() function"));
        return -1;
    }
    // Without it the IPv6 socket would also claim the IPv4 port and the IPv4 bind would fail.
    const int one = 1;
    if (family == AF_INET6 && ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one) != 0) {
        const int err = errno;
        ::close(fd);
        foundation::setError(
            error, foundation::Error::posix(err, "Error enabling IPv6 only (setsockopt)"));
        return -1;
    }
    return fd;
}

bool isFamilyUnavailable(const foundation::Error& error) {
    return error.domain == foundation::Error::kPOSIXDomain &&
           (error.code == EAFNOSUPPORT || error.code == EPROTONOSUPPORT);
}

namespace {

// The longest DNS name in its text form.
constexpr std::size_t kLongestHostName = 253;

bool isNumericIPv6(const std::string& host) {
    const std::string address = host.substr(0, host.find('%'));
    in6_addr a{};
    return ::inet_pton(AF_INET6, address.c_str(), &a) == 1;
}

}  // namespace

bool isPlausibleHostName(const std::string& host) {
    if (host.empty() || host.size() > kLongestHostName) return false;
    if (host.find(':') != std::string::npos) {
        return host.find('\0') == std::string::npos && isNumericIPv6(host);
    }
    for (const char c : host) {
        const auto u = static_cast<unsigned char>(c);
        if (!(std::isalnum(u) || c == '-' || c == '.' || c == '_')) return false;
    }
    return true;
}

std::optional<std::vector<Data>> numericHostAddresses(const std::string& host, std::uint16_t port) {
    if (host == "localhost" || host == "loopback") {
        in_addr lo4{};
        lo4.s_addr = htonl(INADDR_LOOPBACK);
        return std::vector<Data>{makeAddress4(lo4, port), makeAddress6(in6addr_loopback, port)};
    }
    if (host.find('\0') != std::string::npos) return std::nullopt;
    in_addr a4{};
    if (::inet_pton(AF_INET, host.c_str(), &a4) == 1) {
        return std::vector<Data>{makeAddress4(a4, port)};
    }
    in6_addr a6{};
    if (::inet_pton(AF_INET6, host.c_str(), &a6) == 1) {
        return std::vector<Data>{makeAddress6(a6, port)};
    }
    if (host.find('%') == std::string::npos || !isNumericIPv6(host)) return std::nullopt;
    // A scoped IPv6 address ("fe80::1%eth0"): the resolver reads the scope without a lookup.
    addrinfo hints{};
    hints.ai_flags = AI_NUMERICHOST;
    hints.ai_family = AF_INET6;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* list = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &list) != 0) return std::nullopt;
    std::vector<Data> out;
    for (addrinfo* ai = list; ai; ai = ai->ai_next) {
        if (ai->ai_family != AF_INET6 || ai->ai_addrlen < sizeof(sockaddr_in6)) continue;
        out.push_back(bytesOf(ai->ai_addr, sizeof(sockaddr_in6)));
        setPort(out.back(), port);
    }
    ::freeaddrinfo(list);
    if (out.empty()) return std::nullopt;
    return out;
}

std::vector<Data> resolveHost(const std::string& host, std::uint16_t port, int socketType,
                              foundation::Error* error) {
    if (auto numeric = numericHostAddresses(host, port)) return std::move(*numeric);
    if (!isPlausibleHostName(host)) {
        foundation::setError(error, foundation::Error::gai(EAI_NONAME));
        return {};
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = socketType;
    addrinfo* list = nullptr;
    const std::string service = std::to_string(port);
    const int code = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &list);
    if (code != 0) {
        foundation::setError(error, foundation::Error::gai(code));
        return {};
    }
    std::vector<Data> out;
    for (addrinfo* ai = list; ai; ai = ai->ai_next) {
        if (ai->ai_family == AF_INET6 && ai->ai_addrlen >= sizeof(sockaddr_in6)) {
            out.push_back(bytesOf(ai->ai_addr, sizeof(sockaddr_in6)));
        } else if (ai->ai_family == AF_INET && ai->ai_addrlen >= sizeof(sockaddr_in)) {
            out.push_back(bytesOf(ai->ai_addr, sizeof(sockaddr_in)));
        } else {
            continue;
        }
        setPort(out.back(), port);
    }
    ::freeaddrinfo(list);
    if (out.empty()) foundation::setError(error, foundation::Error::gai(EAI_FAIL));
    return out;
}

}  // namespace rozuri::net
