#pragma once

#include <QImage>

// Pixel memory for large bitmaps. Fresh pages are costly to fault in (tens of milliseconds for
// a full-screen bitmap on a virtual machine), so the pixels of a released image go back to a
// small store and the next bitmap of the same byte size takes them over. Thread-safe; an image
// may be released on any thread.
class BitmapStore {
public:
    // A bitmap whose pixels are undefined: the caller writes every one of them.
    static QImage take(int width, int height, QImage::Format format);
    // Returns the memory of every stored bitmap to the system.
    static void purge();
    // Bytes held for reuse at the moment.
    static size_t storedBytes();
};
