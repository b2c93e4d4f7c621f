#include "osc/core/OSCAddressSpace.h"

#include <algorithm>

#include "osc/core/OSCPatternMatching.h"
#include "osc/core/TextUtilities.h"

namespace rozuri {

namespace {

using NodePtr = std::shared_ptr<OSCAddressSpace::Node>;

std::shared_ptr<OSCAddressSpace::Node> makeRoot() {
    return std::make_shared<OSCAddressSpace::Node>("", OSCAddressSpace::Node::NodeType::container);
}

std::vector<std::string_view> views(const std::vector<std::string>& components) {
    return std::vector<std::string_view>(components.begin(), components.end());
}

}  // namespace

OSCAddressSpace::OSCAddressSpace(std::shared_ptr<dispatch::Queue> queue)
    : root_(makeRoot()), queue_(queue ? std::move(queue) : dispatch::Queue::global()) {}

std::shared_ptr<OSCAddressSpace> OSCAddressSpace::create(std::shared_ptr<dispatch::Queue> queue) {
    return std::shared_ptr<OSCAddressSpace>(new OSCAddressSpace(std::move(queue)));
}

OSCAddressSpace::MethodID OSCAddressSpace::createMethodNode(
    const std::vector<std::string_view>& components, MethodBlock block) {
    if (components.empty()) return MethodID{};
    std::lock_guard lock(mutex_);
    NodePtr current = root_;
    for (std::size_t i = 0; i < components.size(); ++i) {
        bool last = i + 1 == components.size();
        auto it = std::find_if(current->children.begin(), current->children.end(),
                               [&](const NodePtr& child) { return child->name == components[i]; });
        if (it != current->children.end()) {
            current = *it;
            if (last) {
                current->nodeType = Node::NodeType::method;
                current->block = std::move(block);
            }
        } else {
            auto node = std::make_shared<Node>(
                components[i], last ? Node::NodeType::method : Node::NodeType::container,
                last ? std::move(block) : MethodBlock{});
            current->children.push_back(node);
            current = std::move(node);
        }
    }
    return current->id;
}

OSCAddressSpace::MethodID OSCAddressSpace::registerMethod(std::string_view localAddress,
                                                          MethodBlock block) {
    OSCAddressPattern address(localAddress);
    return createMethodNode(addressPathComponents(address.rawAddress()), std::move(block));
}

OSCAddressSpace::MethodID OSCAddressSpace::registerMethod(
    const std::vector<std::string>& localAddressPathComponents, MethodBlock block) {
    return createMethodNode(views(localAddressPathComponents), std::move(block));
}

std::vector<NodePtr> OSCAddressSpace::nodePath(
    const std::vector<std::string_view>& components) const {
    std::vector<NodePtr> path{root_};
    for (std::string_view component : components) {
        const auto& children = path.back()->children;
        auto it = std::find_if(children.begin(), children.end(),
                               [&](const NodePtr& child) { return child->name == component; });
        if (it == children.end()) return {};
        path.push_back(*it);
    }
    return path;
}

std::vector<NodePtr> OSCAddressSpace::nodePath(const MethodID& id) const {
    // Depth first, a node before its children, without recursion.
    std::vector<std::pair<NodePtr, std::size_t>> stack{{root_, 0}};
    if (root_->id == id) return {root_};
    while (!stack.empty()) {
        auto& [node, next] = stack.back();
        if (next == node->children.size()) {
            stack.pop_back();
            continue;
        }
        NodePtr child = node->children[next++];
        if (child->id == id) {
            std::vector<NodePtr> path;
            for (auto& entry : stack) path.push_back(entry.first);
            path.push_back(child);
            return path;
        }
        stack.emplace_back(child, 0);
    }
    return {};
}

bool OSCAddressSpace::removeMethodNode(const std::vector<NodePtr>& path) {
    if (path.size() < 2) return false;
    const NodePtr& target = path.back();
    if (target->nodeType != Node::NodeType::method) return false;
    if (!target->children.empty()) {
        target->nodeType = Node::NodeType::container;
        target->block = nullptr;
        return true;
    }
    auto& siblings = path[path.size() - 2]->children;
    std::erase_if(siblings, [&](const NodePtr& n) { return n->id == target->id; });
    return true;
}

bool OSCAddressSpace::unregisterMethod(std::string_view localAddress) {
    OSCAddressPattern address(localAddress);
    std::vector<std::string_view> components = addressPathComponents(address.rawAddress());
    if (components.empty()) return false;
    std::lock_guard lock(mutex_);
    return removeMethodNode(nodePath(components));
}

bool OSCAddressSpace::unregisterMethod(const std::vector<std::string>& localAddressPathComponents) {
    if (localAddressPathComponents.empty()) return false;
    std::lock_guard lock(mutex_);
    return removeMethodNode(nodePath(views(localAddressPathComponents)));
}

bool OSCAddressSpace::unregisterMethod(const MethodID& id) {
    std::lock_guard lock(mutex_);
    return removeMethodNode(nodePath(id));
}

void OSCAddressSpace::unregisterAllMethods() {
    std::lock_guard lock(mutex_);
    root_ = makeRoot();
}

std::vector<NodePtr> OSCAddressSpace::methodsMatching(const OSCAddressPattern& pattern) const {
    std::vector<OSCAddressPattern::Component> components =
        tokenizedComponents(pattern.rawAddress());
    if (components.empty()) return {};
    std::vector<NodePtr> level{root_};
    for (std::size_t i = 0; i < components.size() && !level.empty(); ++i) {
        bool last = i + 1 == components.size();
        std::vector<NodePtr> next;
        for (const NodePtr& node : level)
            for (const NodePtr& child : node->children)
                if ((!last || child->nodeType == Node::NodeType::method) &&
                    matchComponent(child->name, components[i]))
                    next.push_back(child);
        level.swap(next);
    }
    return level;
}

std::vector<OSCAddressSpace::MethodID> OSCAddressSpace::methodIDs(
    const OSCAddressPattern& pattern) const {
    std::lock_guard lock(mutex_);
    std::vector<MethodID> ids;
    for (const NodePtr& node : methodsMatching(pattern)) ids.push_back(node->id);
    return ids;
}

std::vector<OSCAddressSpace::MethodID> OSCAddressSpace::dispatchMessage(const OSCMessage& message,
                                                                        const std::string& host,
                                                                        std::uint16_t port) {
    std::vector<MethodID> ids;
    std::vector<MethodBlock> blocks;
    {
        std::lock_guard lock(mutex_);
        for (const NodePtr& node : methodsMatching(message.addressPattern())) {
            ids.push_back(node->id);
            if (node->block) blocks.push_back(node->block);
        }
    }
    for (MethodBlock& block : blocks)
        queue_->async([block = std::move(block), values = message.values(), host, port] {
            block(values, host, port);
        });
    return ids;
}

}  // namespace rozuri
