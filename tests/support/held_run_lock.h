// Another setup run, as far as the run lock can tell: holds the setup's
// named mutex on a thread of its own for the scope. (A mutex is owned per
// thread, so the test's own thread could take it again.)
#pragma once

#include "foundation/handles.h"

#include <windows.h>

#include <thread>

namespace qv::test {

class HeldRunLock {
public:
    HeldRunLock()
        : thread_([this] {
              KernelHandle mutex(CreateMutexW(nullptr, FALSE, L"Local\\QuorvelAI-Setup"));
              WaitForSingleObject(mutex.get(), INFINITE);
              SetEvent(held_.get());
              WaitForSingleObject(release_.get(), INFINITE);
              ReleaseMutex(mutex.get());
          }) {
        WaitForSingleObject(held_.get(), 10000);
    }
    ~HeldRunLock() {
        SetEvent(release_.get());
        thread_.join();
    }
    HeldRunLock(const HeldRunLock&) = delete;
    HeldRunLock& operator=(const HeldRunLock&) = delete;

private:
    KernelHandle held_{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    KernelHandle release_{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    std::thread thread_;
};

}  // namespace qv::test
