#pragma once

#include <QTimer>
#include <chrono>
#include <functional>
#include <optional>
#include <string>

// Where the colours a finger drags across the picker go in the preferences file: up to 15 come
// a second, and the file's fsync'd rewrite must not hold each of them up. A dragged colour is
// held and stored at most every `kInterval`; a colour picked at rest, the one the user ends on,
// is stored at once and replaces any held one.
class NBRDraggedColorSaver {
public:
    static constexpr std::chrono::milliseconds kInterval{500};

    // `store` writes a colour ("rrggbb") to the file and shows it.
    explicit NBRDraggedColorSaver(std::function<void(const std::string &hex)> store);
    NBRDraggedColorSaver(const NBRDraggedColorSaver &) = delete;
    NBRDraggedColorSaver &operator=(const NBRDraggedColorSaver &) = delete;

    void picked(const std::string &hex, bool dragging);
    // Stores a held colour now.
    void save();
    // The colour held, not in the file yet.
    const std::optional<std::string> &unsaved() const { return unsaved_; }

private:
    std::function<void(const std::string &)> store_;
    std::optional<std::string> unsaved_;
    QTimer timer_;
};
