#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "osc/core/AnyOSCValue.h"
#include "osc/core/OSCAddressPattern.h"
#include "osc/core/OSCMessage.h"
#include "platform/dispatch/Queue.h"
#include "platform/foundation/UUID.h"

namespace rozuri {

// The receiving side's directory of OSC methods: a tree of address components whose method
// nodes hold a block. Dispatching a message runs every method its pattern matches, each block
// as its own work item on the address space's queue, and reports which methods matched.
// Thread-safe: the tree is guarded by a mutex; blocks run outside it.
class OSCAddressSpace {
  public:
    // Called with the message's values, the sender's host and port. Must be safe to call from
    // any thread; several may run at once on a concurrent queue.
    using MethodBlock =
        std::function<void(std::vector<AnyOSCValue> values, std::string host, std::uint16_t port)>;

    struct MethodID {
        foundation::UUID uuid;
        friend bool operator==(const MethodID&, const MethodID&) = default;
    };

    class Node {
      public:
        enum class NodeType { container, method };

        Node(std::string_view name, NodeType nodeType, MethodBlock block = {})
            : nodeType(nodeType), name(name), block(std::move(block)) {}

        NodeType nodeType;
        const MethodID id{};
        const std::string name;
        MethodBlock block;
        std::vector<std::shared_ptr<Node>> children;

        friend bool operator==(const Node& a, const Node& b) { return a.id == b.id; }
    };

    // Blocks run on `queue` (the global default queue when none is given).
    static std::shared_ptr<OSCAddressSpace> create(
        std::shared_ptr<dispatch::Queue> queue = nullptr);

    // Adds the method, or replaces the block of the one already there (keeping its ID). An
    // address without components ("", "/") stores nothing and gives an ID that refers to
    // nothing. The address goes through the pattern's ASCII conversion; wildcard characters in
    // it are plain name characters.
    MethodID registerMethod(std::string_view localAddress, MethodBlock block);
    // The same for a path given as components, taken unchanged.
    MethodID registerMethod(const std::vector<std::string>& localAddressPathComponents,
                            MethodBlock block);

    // True when a method stood there. A method with children becomes a container.
    bool unregisterMethod(std::string_view localAddress);
    bool unregisterMethod(const std::vector<std::string>& localAddressPathComponents);
    bool unregisterMethod(const MethodID& id);
    void unregisterAllMethods();

    // The methods the pattern matches, in tree order; runs nothing.
    std::vector<MethodID> methodIDs(const OSCAddressPattern& pattern) const;

    // Starts the block of every matched method and returns their IDs without waiting.
    std::vector<MethodID> dispatchMessage(const OSCMessage& message, const std::string& host = {},
                                          std::uint16_t port = 0);

    const std::shared_ptr<dispatch::Queue>& queue() const { return queue_; }

    OSCAddressSpace(const OSCAddressSpace&) = delete;
    OSCAddressSpace& operator=(const OSCAddressSpace&) = delete;

  private:
    explicit OSCAddressSpace(std::shared_ptr<dispatch::Queue> queue);

    MethodID createMethodNode(const std::vector<std::string_view>& components, MethodBlock block);
    std::vector<std::shared_ptr<Node>> nodePath(
        const std::vector<std::string_view>& components) const;
    std::vector<std::shared_ptr<Node>> nodePath(const MethodID& id) const;
    bool removeMethodNode(const std::vector<std::shared_ptr<Node>>& path);
    std::vector<std::shared_ptr<Node>> methodsMatching(const OSCAddressPattern& pattern) const;

    mutable std::mutex mutex_;
    std::shared_ptr<Node> root_;
    std::shared_ptr<dispatch::Queue> queue_;
};

}  // namespace rozuri

template <>
struct std::hash<rozuri::OSCAddressSpace::MethodID> {
    std::size_t operator()(const rozuri::OSCAddressSpace::MethodID& id) const noexcept {
        return std::hash<foundation::UUID>{}(id.uuid);
    }
};
