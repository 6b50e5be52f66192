#pragma once

#include <compare>
#include <concepts>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

namespace platform {

// A property-list date: seconds since 2001-01-01 00:00:00 UTC, as the format stores it.
struct PlistDate {
    double secondsSinceReferenceDate = 0;
    auto operator<=>(const PlistDate &) const = default;
};

// The value of a property list: dictionary, array, string, data, integer, real, boolean or date.
class PlistValue {
public:
    using Dictionary = std::map<std::string, PlistValue>;
    using Array = std::vector<PlistValue>;
    using Data = std::vector<std::uint8_t>;
    enum class Type { Dictionary, Array, String, Data, Integer, Real, Boolean, Date };

    PlistValue() : value_(Dictionary{}) {}
    PlistValue(Dictionary value) : value_(std::move(value)) {}
    PlistValue(Array value) : value_(std::move(value)) {}
    PlistValue(std::string value) : value_(std::move(value)) {}
    PlistValue(const char *value) : value_(std::string(value)) {}
    PlistValue(Data value) : value_(std::move(value)) {}
    template <std::integral T>
    requires(!std::same_as<T, bool>) PlistValue(T value)
        : value_(static_cast<std::int64_t>(value)) {}
    PlistValue(double value) : value_(value) {}
    PlistValue(bool value) : value_(value) {}
    PlistValue(PlistDate value) : value_(value) {}

    Type type() const { return static_cast<Type>(value_.index()); }

    // Pointers into the value: none from a temporary, which would leave them dangling.
    const Dictionary *dictionary() const & { return std::get_if<Dictionary>(&value_); }
    Dictionary *dictionary() & { return std::get_if<Dictionary>(&value_); }
    const Dictionary *dictionary() const && = delete;
    const Array *array() const & { return std::get_if<Array>(&value_); }
    const Array *array() const && = delete;
    const std::string *string() const & { return std::get_if<std::string>(&value_); }
    const std::string *string() const && = delete;
    const Data *data() const & { return std::get_if<Data>(&value_); }
    const Data *data() const && = delete;
    std::optional<std::int64_t> integer() const;
    std::optional<double> real() const;
    std::optional<bool> boolean() const;
    std::optional<PlistDate> date() const;

    // integerValue and boolValue as the platform's number and string objects answer them:
    // integers, reals (truncated toward zero; nothing when out of range) and booleans as
    // numbers, strings by the rules of TextScanning.h ("3" is 3, "YES" true, "NO" false).
    // Anything else (data, a date, a dictionary, an array) gives nothing.
    std::optional<bool> boolValue() const;
    std::optional<std::int64_t> integerValue() const;

    // The entry for `key` when this is a dictionary holding it.
    const PlistValue *find(const std::string &key) const &;
    const PlistValue *find(const std::string &key) const && = delete;

    bool operator==(const PlistValue &) const = default;

private:
    std::variant<Dictionary, Array, std::string, Data, std::int64_t, double, bool, PlistDate>
        value_;
};

enum class PlistFormat { XML, Binary };

// Parses either encoding (detected from the bytes). Nothing for bytes that are not a property
// list or use a kind of value this type does not hold.
std::optional<PlistValue> plistFromBytes(std::span<const std::uint8_t> bytes);
std::vector<std::uint8_t> plistToBytes(const PlistValue &value, PlistFormat format);

// Reads a property-list file whose root is a dictionary. A missing, unreadable or unparsable
// file, or one whose root is something else, gives no dictionary.
std::optional<PlistValue::Dictionary> readPlistDictionary(const std::string &path);

// Serialises `value` and writes it with writeFileAtomically.
bool writePlistAtomically(const std::string &path, const PlistValue &value, PlistFormat format);

} // namespace platform
