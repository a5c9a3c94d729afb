// The fault points of a PAL_FAULT_INJECTION build: system calls counted by
// injected_failure(), allocations by the replaced operator new.
#include "fault_injection.hpp"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>

namespace sys::platform {
namespace {

// Constant-initialised, so that allocations made before main (by the
// runtime's own static objects) are counted too.
struct FaultPlan {
    std::atomic<std::uint64_t> system_calls{0};
    std::atomic<std::uint64_t> allocations{0};
    std::atomic<bool> read{false};
    std::uint64_t failing_system_call = 0;  // 0: none
    std::uint64_t failing_allocation = 0;
};
constinit FaultPlan plan;

std::uint64_t number_from_environment(const char* name) {
    const char* text = std::getenv(name);
    return text == nullptr ? 0 : std::strtoull(text, nullptr, 10);
}

// Writes the counts at exit, for a test to read.
struct CountReport {
    ~CountReport() {
        const char* path = std::getenv("PAL_FAULT_COUNTS");
        if (path == nullptr) return;
        if (std::FILE* file = std::fopen(path, "w")) {
            std::fprintf(file, "%llu %llu\n", static_cast<unsigned long long>(plan.system_calls.load()),
                         static_cast<unsigned long long>(plan.allocations.load()));
            std::fclose(file);
        }
    }
} count_report;

void read_plan() {
    // getenv allocates nothing, so this is safe inside operator new.
    if (plan.read.load(std::memory_order_acquire)) return;
    plan.failing_system_call = number_from_environment("PAL_FAIL_SYSTEM_CALL");
    plan.failing_allocation = number_from_environment("PAL_FAIL_ALLOCATION");
    plan.read.store(true, std::memory_order_release);
}

bool allocation_fails() {
    read_plan();
    return ++plan.allocations == plan.failing_allocation;
}

void* allocate(std::size_t size) noexcept {
    if (allocation_fails()) return nullptr;
    return std::malloc(size == 0 ? 1 : size);
}

}  // namespace

bool injected_failure() {
    read_plan();
    return ++plan.system_calls == plan.failing_system_call;
}

}  // namespace sys::platform

// Every plain allocation of the program, counted and failed as asked.
void* operator new(std::size_t size) {
    void* block = sys::platform::allocate(size);
    if (block == nullptr) throw std::bad_alloc();
    return block;
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return sys::platform::allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return sys::platform::allocate(size); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { std::free(block); }
