#pragma once
// The core's result: a value or the qlx_status of its failure.

#include "expected.hpp"
#include "qlx.h"

namespace qlx {

template <class T = void>
using Result = common::Expected<T, qlx_status>;
using common::failure;

}  // namespace qlx
