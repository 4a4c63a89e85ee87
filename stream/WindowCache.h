// WindowCache: windows of one source held in memory and shared by the
// streams that read it, so that bytes one stream fetched from the host serve
// the others too (the file object's walk and both read cursors move through
// the same clusters).
#ifndef MKV_STREAM_WINDOWCACHE_H
#define MKV_STREAM_WINDOWCACHE_H

#include <cstdint>
#include <memory>
#include <vector>

class WindowCache {
public:
    struct Window {
        std::unique_ptr<uint8_t[]> bytes;
        int64_t start = 0;  // source offset of bytes[0]
        int32_t length = 0; // valid bytes
        uint64_t lastUse = 0;

        bool Holds(int64_t position, int32_t count) const
        {
            return position >= start && count <= length && position - start <= length - count;
        }
    };

    // `slots` windows of `size` bytes each; a window that cannot be
    // allocated is left out (with none, streams read straight from the host).
    WindowCache(int32_t slots, int32_t size);

    int32_t WindowSize() const { return windowSize; }
    bool Empty() const { return windows.empty(); }
    // A window holding [position, position + count), or null.
    Window* Find(int64_t position, int32_t count);
    // The window to fill next: the one used least recently, emptied (its
    // bytes stay until overwritten).
    Window* Victim();
    // Forgets what every window holds.
    void Clear()
    {
        for (Window& window : windows) {
            window.length = 0;
        }
    }
    // Marks a window as just used.
    void Touch(Window* window) { window->lastUse = ++clock; }

private:
    std::vector<Window> windows;
    int32_t windowSize;
    uint64_t clock = 0;
};

#endif
