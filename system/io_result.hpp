#pragma once
// The system layer's result: a value, or how a file operation failed.

#include "expected.hpp"

namespace sys {

enum class IoError {
    failed,        // the system refused, or the file ended before the bytes asked for
    out_of_memory  // a buffer for the bytes could not be had
};

template <class T = void>
using IoResult = common::Expected<T, IoError>;
using common::failure;

}  // namespace sys
