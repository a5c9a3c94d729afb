// Must not compile: a front end sees qlx.h and nothing else of the core.
// The test that builds it passes when the compiler cannot find this header.
#include "quantiser.hpp"

int main() { return 0; }
