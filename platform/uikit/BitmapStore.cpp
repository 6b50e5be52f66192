#include "BitmapStore.h"

#include <deque>
#include <mutex>
#include <sys/mman.h>

namespace {

// Smaller bitmaps come from the ordinary allocator, which reuses their memory well enough.
constexpr size_t kMinimumBytes = 256 * 1024;
// About two colour maps' worth of images at a phone's size and scale.
constexpr size_t kCapacityBytes = 40 * 1024 * 1024;

struct Block {
    void *memory;
    size_t bytes;
};

struct Store {
    std::mutex mutex;
    std::deque<Block> free; // oldest first
    size_t freeBytes = 0;
};

// Never destroyed: images may still be released while the process exits.
Store &store() {
    static Store *instance = new Store;
    return *instance;
}

void unmap(const Block &block) {
    munmap(block.memory, block.bytes);
}

void recycle(void *info) {
    auto *block = static_cast<Block *>(info);
    Store &s = store();
    std::deque<Block> evicted;
    {
        std::lock_guard lock(s.mutex);
        s.free.push_back(*block);
        s.freeBytes += block->bytes;
        while (s.freeBytes > kCapacityBytes) {
            evicted.push_back(s.free.front());
            s.freeBytes -= s.free.front().bytes;
            s.free.pop_front();
        }
    }
    for (const Block &b : evicted)
        unmap(b);
    delete block;
}

} // namespace

QImage BitmapStore::take(int width, int height, QImage::Format format) {
    if (width <= 0 || height <= 0)
        return QImage(width, height, format);
    const int depth = QImage::toPixelFormat(format).bitsPerPixel();
    const size_t bytesPerLine = (size_t(width) * depth + 31) / 32 * 4;
    const size_t bytes = bytesPerLine * size_t(height);
    if (bytes < kMinimumBytes)
        return QImage(width, height, format);

    Block block{nullptr, bytes};
    {
        Store &s = store();
        std::lock_guard lock(s.mutex);
        for (auto it = s.free.rbegin(); it != s.free.rend(); ++it) {
            if (it->bytes == bytes) {
                block = *it;
                s.freeBytes -= bytes;
                s.free.erase(std::next(it).base());
                break;
            }
        }
    }
    if (!block.memory) {
        void *memory =
            mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (memory == MAP_FAILED)
            return QImage(width, height, format);
        block.memory = memory;
    }
    return QImage(static_cast<uchar *>(block.memory), width, height, qsizetype(bytesPerLine),
                  format, recycle, new Block(block));
}

void BitmapStore::purge() {
    Store &s = store();
    std::deque<Block> released;
    {
        std::lock_guard lock(s.mutex);
        released.swap(s.free);
        s.freeBytes = 0;
    }
    for (const Block &b : released)
        unmap(b);
}

size_t BitmapStore::storedBytes() {
    Store &s = store();
    std::lock_guard lock(s.mutex);
    return s.freeBytes;
}
