#pragma once

#include <new>
#include <utility>

namespace dispatch {

// Holds a process-wide object that is never destroyed, so detached runtime threads may use it
// during and after static destruction.
template <class T>
class Immortal {
  public:
    template <class... Args>
    explicit Immortal(Args&&... args) {
        ::new (static_cast<void*>(storage_)) T(std::forward<Args>(args)...);
    }
    Immortal(const Immortal&) = delete;
    Immortal& operator=(const Immortal&) = delete;

    T& get() { return *std::launder(reinterpret_cast<T*>(storage_)); }
    T* operator->() { return &get(); }

  private:
    alignas(T) unsigned char storage_[sizeof(T)];
};

}  // namespace dispatch
