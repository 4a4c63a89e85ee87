// Shared windows of a source, replaced least recently used first.
#include "WindowCache.h"

#include <new>

WindowCache::WindowCache(int32_t slots, int32_t size) : windowSize(size)
{
    for (int32_t k = 0; k < slots && size > 0; ++k) {
        Window window;
        window.bytes.reset(new (std::nothrow) uint8_t[static_cast<size_t>(size)]);
        if (!window.bytes) {
            break;
        }
        windows.push_back(std::move(window));
    }
}

WindowCache::Window* WindowCache::Find(int64_t position, int32_t count)
{
    for (Window& window : windows) {
        if (window.length > 0 && window.Holds(position, count)) {
            Touch(&window);
            return &window;
        }
    }
    return nullptr;
}

WindowCache::Window* WindowCache::Victim()
{
    Window* victim = nullptr;
    for (Window& window : windows) {
        if (victim == nullptr || window.lastUse < victim->lastUse) {
            victim = &window;
        }
    }
    if (victim != nullptr) {
        victim->length = 0;
        Touch(victim);
    }
    return victim;
}
