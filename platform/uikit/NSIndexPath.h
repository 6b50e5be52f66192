#pragma once

#include <QtGlobal>
#include <compare>

// A row of a table: its section and its row within the section.
struct NSIndexPath {
    qsizetype section = 0;
    qsizetype row = 0;

    static constexpr NSIndexPath indexPathForRow(qsizetype row, qsizetype section) {
        return NSIndexPath{section, row};
    }
    constexpr auto operator<=>(const NSIndexPath &) const = default;
};
