#pragma once

#include "PlistValue.h"

#include <QString>
#include <QVariant>
#include <cstdint>
#include <optional>

// A preferences domain kept as one property-list file, "<domain>.plist" in the mobile user's
// preferences folder under the device root. Every read goes to the file, so other writers'
// changes show at once; every write replaces the whole file atomically.
class PSDefaultsDomain {
public:
    explicit PSDefaultsDomain(const QString &domain);

    // False for a name that could leave the folder ("", ".", "..", anything with a slash).
    bool isValid() const { return !path_.empty(); }
    const std::string &path() const { return path_; }

    // The stored value, nil (invalid) when the key, the file or a readable dictionary is missing.
    QVariant valueForKey(const QString &key) const;
    // Sets `key` (removes it for nil) in the file's dictionary, which a missing or unreadable
    // file starts empty. False when the file could not be written.
    bool setValueForKey(const QVariant &value, const QString &key) const;

    static QVariant variantFromPlist(const platform::PlistValue &value);
    static std::optional<platform::PlistValue> plistFromVariant(const QVariant &value);
    // A stored value read as a number or a switch, as the platform's number and string objects
    // read themselves (text "3" is 3, "NO" is off, a real truncates); 0 or off for anything else.
    static std::int64_t integerValueOf(const QVariant &value);
    static bool boolValueOf(const QVariant &value);

private:
    std::string path_;
};
