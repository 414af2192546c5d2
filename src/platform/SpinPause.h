// A pause inside a busy-wait loop: tells the processor that the thread is
// spinning, so that it saves power and lets a sibling hardware thread run.
#pragma once

namespace kes::platform {

inline void SpinPause()
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
}

} // namespace kes::platform
