#pragma once
// The core's one way to allocate: an array (zero-filled) or an object that
// owns itself, or none when the memory cannot be had. Nothing in the core throws for
// memory, so every caller turns none into QLX_OUT_OF_MEMORY.

#include <cstddef>
#include <memory>
#include <new>
#include <utility>

#include "result.hpp"

namespace qlx {

template <class T>
Result<std::unique_ptr<T[]>> allocate_array(std::size_t count) {
    if (count > SIZE_MAX / sizeof(T)) return failure(QLX_OUT_OF_MEMORY);
    std::unique_ptr<T[]> block(new (std::nothrow) T[count == 0 ? 1 : count]());
    if (!block) return failure(QLX_OUT_OF_MEMORY);
    return block;
}

// One object, made from `arguments`; its constructor may not throw.
template <class T, class... Arguments>
Result<std::unique_ptr<T>> allocate_object(Arguments&&... arguments) {
    std::unique_ptr<T> object(new (std::nothrow) T{std::forward<Arguments>(arguments)...});
    if (!object) return failure(QLX_OUT_OF_MEMORY);
    return object;
}

}  // namespace qlx
