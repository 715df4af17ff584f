// The test program's global operator new and delete: plain malloc and free,
// plus a note when the one watched object is deleted. A freed object cannot
// be told from a live one by reading it; the delete itself can be seen.
#include "window_fixture.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<const void*> watched{nullptr};
std::atomic<bool> watchedDeleted{false};

void noteDelete(const void* address) {
    if (address && address == watched.load()) watchedDeleted = true;
}

}  // namespace

namespace qv::test {

void watchDeletion(const void* address) {
    watchedDeleted = false;
    watched = address;
}

bool watchedWasDeleted() { return watchedDeleted.load(); }

}  // namespace qv::test

void* operator new(std::size_t size) {
    void* memory = std::malloc(size ? size : 1);
    if (!memory) throw std::bad_alloc();
    return memory;
}

void operator delete(void* memory) noexcept {
    noteDelete(memory);
    std::free(memory);
}

void operator delete(void* memory, std::size_t) noexcept {
    noteDelete(memory);
    std::free(memory);
}
