#pragma once

#include <memory>
#include <utility>

// Creates a Qt object whose parent, passed among `args`, owns it and destroys it with itself.
template <class T, class... Args> T* ParentOwned(Args&&... args) {
    return std::make_unique<T>(std::forward<Args>(args)...).release();
}
