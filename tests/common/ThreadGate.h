// A gate that holds threads passing it while it is closed; open by default.
// Tests and benchmarks close it to let a watcher thread's reading wait.
#pragma once

#include <condition_variable>
#include <mutex>

namespace kestest {

class ThreadGate {
public:
    void Set(bool open)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_open = open;
        m_cv.notify_all();
    }
    void Pass()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_cv.wait(lock, [this] { return m_open; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_open = true;
};

} // namespace kestest
