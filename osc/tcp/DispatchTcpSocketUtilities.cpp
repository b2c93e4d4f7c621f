#include "osc/tcp/DispatchTcpSocket.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <cstddef>
#include <cstring>
#include <utility>

#include "osc/tcp/DispatchTcpSocketInternal.h"

namespace rozuri {

using namespace tcp_detail;

// ---- Host lookup ----

std::optional<std::vector<Data>> DispatchTcpSocket::lookupHost(const std::string& host,
                                                               std::uint16_t port,
                                                               foundation::Error* error) {
    if (host == "localhost" || host == "loopback") {
        in_addr lo4{};
        lo4.s_addr = htonl(INADDR_LOOPBACK);
        if (error) *error = {};
        return std::vector<Data>{net::makeAddress4(lo4, port),
                                 net::makeAddress6(in6addr_loopback, port)};
    }
    // The resolver would read a name with an embedded NUL as a shorter one.
    if (host.find('\0') != std::string::npos) {
        foundation::setError(error, gaiError(EAI_NONAME));
        return std::nullopt;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    const std::string service = std::to_string(port);
    addrinfo* list = nullptr;
    const int status = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &list);
    if (status != 0) {
        foundation::setError(error, gaiError(status));
        return std::nullopt;
    }
    std::vector<Data> addresses;
    for (addrinfo* ai = list; ai; ai = ai->ai_next) {
        if (ai->ai_family == AF_INET6 && ai->ai_addrlen >= sizeof(sockaddr_in6)) {
            Data a = bytesOf(ai->ai_addr, sizeof(sockaddr_in6));
            if (portFromAddress(a) == 0) setPort(a, port);
            addresses.push_back(std::move(a));
        } else if (ai->ai_family == AF_INET && ai->ai_addrlen >= sizeof(sockaddr_in)) {
            addresses.push_back(bytesOf(ai->ai_addr, sizeof(sockaddr_in)));
        }
    }
    ::freeaddrinfo(list);
    if (addresses.empty()) {
        foundation::setError(error, gaiError(EAI_FAIL));
    } else if (error) {
        *error = {};
    }
    return addresses;
}

// ---- Address conversions ----

std::string DispatchTcpSocket::hostFromSockaddr4(const sockaddr_in& address) {
    return net::hostFromSockaddr4(address);
}

std::string DispatchTcpSocket::hostFromSockaddr6(const sockaddr_in6& address) {
    return net::hostFromSockaddr6(address);
}

std::uint16_t DispatchTcpSocket::portFromSockaddr4(const sockaddr_in& address) {
    return net::portFromSockaddr4(address);
}

std::uint16_t DispatchTcpSocket::portFromSockaddr6(const sockaddr_in6& address) {
    return net::portFromSockaddr6(address);
}

std::optional<foundation::URL> DispatchTcpSocket::urlFromSockaddrUN(const sockaddr_un& address,
                                                                    socklen_t length) {
    const std::size_t pathOffset = offsetof(sockaddr_un, sun_path);
    if (length <= pathOffset || address.sun_family != AF_UNIX) return std::nullopt;
    const std::size_t room = std::min<std::size_t>(length - pathOffset, sizeof address.sun_path);
    // An unnamed peer (or an abstract one, which starts with a NUL) has no path.
    const std::size_t n = ::strnlen(address.sun_path, room);
    if (n == 0) return std::nullopt;
    return foundation::URL::fileURL(std::string(address.sun_path, n));
}

std::optional<std::string> DispatchTcpSocket::hostFromAddress(const Data& address) {
    std::string host;
    if (!getHost(&host, nullptr, nullptr, address)) return std::nullopt;
    return host;
}

std::uint16_t DispatchTcpSocket::portFromAddress(const Data& address) {
    std::uint16_t port = 0;
    getHost(nullptr, &port, nullptr, address);
    return port;
}

namespace {
sa_family_t familyByte(const Data& address) {
    sa_family_t family = 0;
    std::memcpy(&family, address.data() + offsetof(sockaddr, sa_family), sizeof family);
    return family;
}
}  // namespace

bool DispatchTcpSocket::isIPv4Address(const Data& address) {
    return address.size() >= sizeof(sockaddr_in) && familyByte(address) == AF_INET;
}

bool DispatchTcpSocket::isIPv6Address(const Data& address) {
    return address.size() >= sizeof(sockaddr_in) && familyByte(address) == AF_INET6;
}

bool DispatchTcpSocket::getHost(std::string* host, std::uint16_t* port, int* family,
                                const Data& address) {
    return net::readAddress(address, host, port, family);
}

bool DispatchTcpSocket::getHost(std::string* host, std::uint16_t* port, const Data& address) {
    return net::readAddress(address, host, port, nullptr);
}

Data DispatchTcpSocket::CRLFData() {
    return {0x0D, 0x0A};
}

Data DispatchTcpSocket::CRData() {
    return {0x0D};
}

Data DispatchTcpSocket::LFData() {
    return {0x0A};
}

Data DispatchTcpSocket::ZeroData() {
    return {0x00};
}

// ---- Interface descriptions ----

namespace {

// Splits "name:port", "[v6]:port" and bare IPv6 literals. `port` is set only when the text
// carries one in 1...65535; anything else after the ':' leaves it 0.
void splitDescription(const std::string& text, std::string* interface, std::uint16_t* port,
                      bool* isIPv6Literal) {
    in6_addr probe{};
    *isIPv6Literal = false;
    *port = 0;
    std::string portText;
    bool hasPort = false;
    if (!text.empty() && text.front() == '[') {
        const auto close = text.find(']');
        if (close != std::string::npos) {
            *interface = text.substr(1, close - 1);
            *isIPv6Literal = ::inet_pton(AF_INET6, interface->c_str(), &probe) == 1;
            const std::string rest = text.substr(close + 1);
            if (!rest.empty() && rest.front() == ':') {
                hasPort = true;
                portText = rest.substr(1);
            } else if (!rest.empty()) {
                // Trailing text after the brackets names nothing.
                *isIPv6Literal = false;
                *interface = text;
            }
        } else {
            *interface = text;
        }
    } else if (::inet_pton(AF_INET6, text.c_str(), &probe) == 1) {
        *interface = text;
        *isIPv6Literal = true;
    } else {
        const auto colon = text.find(':');
        *interface = text.substr(0, colon);
        if (colon != std::string::npos) {
            hasPort = true;
            const auto next = text.find(':', colon + 1);
            portText = text.substr(colon + 1, next == std::string::npos ? next : next - colon - 1);
        }
    }
    if (hasPort && !portText.empty() && portText.size() <= 5 &&
        portText.find_first_not_of("0123456789") == std::string::npos) {
        const unsigned long value = std::stoul(portText);
        if (value >= 1 && value <= 65535) *port = static_cast<std::uint16_t>(value);
    }
}

}  // namespace

void DispatchTcpSocket::getInterfaceAddress(std::optional<Data>* address4,
                                            std::optional<Data>* address6,
                                            const std::optional<std::string>& description,
                                            std::uint16_t port) {
    std::optional<Data> a4;
    std::optional<Data> a6;
    if (!description) {
        net::interfaceAddresses(std::nullopt, port, &a4, &a6);
    } else if (description->find('\0') == std::string::npos) {
        std::string interface;
        std::uint16_t textPort = 0;
        bool ipv6Literal = false;
        splitDescription(*description, &interface, &textPort, &ipv6Literal);
        if (port == 0) port = textPort;
        if (interface.empty()) {
            net::interfaceAddresses(std::nullopt, port, &a4, &a6);
        } else if (ipv6Literal) {
            // An IPv6 literal names that address of this host; "::" is the any-address.
            in6_addr literal{};
            ::inet_pton(AF_INET6, interface.c_str(), &literal);
            if (IN6_IS_ADDR_UNSPECIFIED(&literal)) {
                a6 = net::makeAddress6(in6addr_any, port);
            } else {
                // Compare by the standard text form, whatever spelling the caller used.
                net::interfaceAddresses(net::hostFromSockaddr6([&] {
                                            sockaddr_in6 s{};
                                            s.sin6_family = AF_INET6;
                                            s.sin6_addr = literal;
                                            return s;
                                        }()),
                                        port, nullptr, &a6);
            }
        } else {
            net::interfaceAddresses(interface, port, &a4, &a6);
        }
    }
    if (address4) *address4 = std::move(a4);
    if (address6) *address6 = std::move(a6);
}

std::optional<Data> DispatchTcpSocket::getInterfaceAddressFromUrl(const foundation::URL& url) {
    const std::string path = url.path();
    sockaddr_un a{};
    // The path and its terminating NUL must fit: a longer one would name another file.
    if (path.empty() || path.size() >= sizeof a.sun_path || path.find('\0') != std::string::npos) {
        return std::nullopt;
    }
    a.sun_family = AF_UNIX;
    std::memcpy(a.sun_path, path.data(), path.size());
    return bytesOf(&a, offsetof(sockaddr_un, sun_path) + path.size() + 1);
}

}  // namespace rozuri
