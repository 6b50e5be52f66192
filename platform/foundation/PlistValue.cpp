#include "PlistValue.h"

#include "AtomicFile.h"
#include "TextScanning.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <memory>
#include <plist/plist.h>
#include <string_view>

namespace platform {
namespace {

// Deeper nesting than any real preferences file is refused rather than risking the stack.
constexpr int kMaxDepth = 256;
constexpr std::size_t kMaxFileSize = 64u << 20;

struct PlistDeleter {
    void operator()(plist_t node) const { plist_free(node); }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

bool isUtf8(const std::string &text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = lead < 0x80         ? 1
                             : (lead >> 5) == 6  ? 2
                             : (lead >> 4) == 14 ? 3
                             : (lead >> 3) == 30 ? 4
                                                 : 0;
        if (length == 0 || i + length > text.size())
            return false;
        std::uint32_t code = length == 1 ? lead : lead & (0x3F >> (length - 1));
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next >> 6) != 2)
                return false;
            code = code << 6 | (next & 0x3F);
        }
        // Overlong forms, surrogates and values past the last code point are not UTF-8.
        static constexpr std::uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (code < kSmallest[length] || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF)
            return false;
        i += length;
    }
    return true;
}

// Text as this side holds it: UTF-8. A file may carry other bytes in a string (an "ASCII"
// string of the binary format with bytes past 127, say); they are read as Latin-1, so the text
// survives and whatever is written back from it can be read again.
std::string textFrom(const char *bytes) {
    std::string text = bytes ? bytes : "";
    if (isUtf8(text))
        return text;
    std::string converted;
    converted.reserve(text.size() * 2);
    for (unsigned char c : text) {
        if (c < 0x80) {
            converted += static_cast<char>(c);
        } else {
            converted += static_cast<char>(0xC0 | c >> 6);
            converted += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return converted;
}

std::uint64_t bigEndian(std::span<const std::uint8_t> bytes) {
    std::uint64_t value = 0;
    for (std::uint8_t b : bytes)
        value = value << 8 | b;
    return value;
}

// Whether a binary property list holds a string with a NUL in it. The library stops the
// process (an assertion) when it is asked for such a string or key, so these lists are refused
// before it sees them. Anything this scan cannot follow is left to the library's own checks.
bool binaryHoldsStringWithNul(std::span<const std::uint8_t> bytes) {
    constexpr std::size_t kHeader = 8, kTrailer = 32;
    if (bytes.size() < kHeader + kTrailer)
        return false;
    const auto trailer = bytes.subspan(bytes.size() - kTrailer);
    const std::size_t offsetSize = trailer[6];
    const std::uint64_t count = bigEndian(trailer.subspan(8, 8));
    const std::uint64_t table = bigEndian(trailer.subspan(24, 8));
    if (offsetSize < 1 || offsetSize > 8 || table >= bytes.size() ||
        count > (bytes.size() - table) / offsetSize)
        return false;
    for (std::uint64_t n = 0; n < count; ++n) {
        const std::uint64_t at = bigEndian(bytes.subspan(table + n * offsetSize, offsetSize));
        if (at >= bytes.size())
            continue;
        const std::uint8_t marker = bytes[at] >> 4;
        if (marker != 0x5 && marker != 0x6)
            continue;
        std::uint64_t length = bytes[at] & 0x0F, start = at + 1;
        if (length == 0x0F) { // the length follows as an integer object
            if (start >= bytes.size() || (bytes[start] >> 4) != 0x1)
                continue;
            const std::size_t size = std::size_t{1} << (bytes[start] & 0x0F);
            if (size > 8 || start + 1 + size > bytes.size())
                continue;
            length = bigEndian(bytes.subspan(start + 1, size));
            start += 1 + size;
        }
        const std::uint64_t unit = marker == 0x5 ? 1 : 2;
        if (start > bytes.size() || length > (bytes.size() - start) / unit)
            continue;
        for (std::uint64_t k = 0; k < length; ++k) {
            const std::size_t p = start + k * unit;
            if (bytes[p] == 0 && (unit == 1 || bytes[p + 1] == 0))
                return true;
        }
    }
    return false;
}

// The same for XML: a character reference to NUL ("&#0;", "&#x00;").
bool xmlHoldsNulReference(std::span<const std::uint8_t> bytes) {
    const std::string_view text(reinterpret_cast<const char *>(bytes.data()), bytes.size());
    for (std::size_t at = text.find("&#"); at != std::string_view::npos;
         at = text.find("&#", at + 2)) {
        std::size_t p = at + 2;
        if (p < text.size() && (text[p] == 'x' || text[p] == 'X'))
            ++p;
        const std::size_t digits = p;
        while (p < text.size() && text[p] == '0')
            ++p;
        if (p > digits && p < text.size() && text[p] == ';')
            return true;
    }
    return false;
}

std::optional<PlistValue> fromNode(plist_t node, int depth);

std::optional<PlistValue> dictionaryFromNode(plist_t node, int depth) {
    PlistValue::Dictionary dictionary;
    plist_dict_iter it = nullptr;
    plist_dict_new_iter(node, &it);
    for (;;) {
        char *key = nullptr;
        plist_t item = nullptr;
        plist_dict_next_item(node, it, &key, &item);
        if (item == nullptr) {
            free(key);
            break;
        }
        auto value = fromNode(item, depth + 1);
        std::string name = textFrom(key);
        free(key);
        if (!value) {
            free(it);
            return std::nullopt;
        }
        dictionary.insert_or_assign(std::move(name), std::move(*value));
    }
    free(it);
    return PlistValue(std::move(dictionary));
}

std::optional<PlistValue> arrayFromNode(plist_t node, int depth) {
    PlistValue::Array array;
    uint32_t count = plist_array_get_size(node);
    array.reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
        auto value = fromNode(plist_array_get_item(node, i), depth + 1);
        if (!value)
            return std::nullopt;
        array.push_back(std::move(*value));
    }
    return PlistValue(std::move(array));
}

std::optional<PlistValue> stringFromNode(plist_t node) {
    uint64_t length = 0;
    const char *text = plist_get_string_ptr(node, &length);
    if (text && std::strlen(text) != length)
        return std::nullopt; // a NUL inside: no text this side can hold
    return PlistValue(textFrom(text));
}

PlistValue dataFromNode(plist_t node) {
    char *bytes = nullptr;
    uint64_t length = 0;
    plist_get_data_val(node, &bytes, &length);
    PlistValue::Data value(reinterpret_cast<std::uint8_t *>(bytes),
                           reinterpret_cast<std::uint8_t *>(bytes) + (bytes ? length : 0));
    free(bytes);
    return PlistValue(std::move(value));
}

PlistValue dateFromNode(plist_t node) {
    int32_t seconds = 0, micros = 0;
    plist_get_date_val(node, &seconds, &micros);
    // The library truncates toward zero and gives the fraction without its sign, so a date
    // before the reference date is the seconds less the fraction. The result stays within
    // the range the writer can store, so a date read is a date written back.
    const double fraction = std::abs(micros) / 1e6;
    const double when = seconds < 0 ? seconds - fraction : seconds + fraction;
    return PlistValue(PlistDate{std::clamp(when, double(INT32_MIN), double(INT32_MAX))});
}

std::optional<PlistValue> fromNode(plist_t node, int depth) {
    if (node == nullptr || depth > kMaxDepth)
        return std::nullopt;
    switch (plist_get_node_type(node)) {
    case PLIST_DICT:
        return dictionaryFromNode(node, depth);
    case PLIST_ARRAY:
        return arrayFromNode(node, depth);
    case PLIST_STRING:
        return stringFromNode(node);
    case PLIST_DATA:
        return dataFromNode(node);
    case PLIST_UINT: {
        uint64_t value = 0;
        plist_get_uint_val(node, &value);
        return PlistValue(static_cast<std::int64_t>(value));
    }
    case PLIST_UID: {
        uint64_t value = 0;
        plist_get_uid_val(node, &value);
        return PlistValue(static_cast<std::int64_t>(value));
    }
    case PLIST_REAL: {
        double value = 0;
        plist_get_real_val(node, &value);
        return PlistValue(value);
    }
    case PLIST_BOOLEAN: {
        uint8_t value = 0;
        plist_get_bool_val(node, &value);
        return PlistValue(value != 0);
    }
    case PLIST_DATE:
        return dateFromNode(node);
    default:
        return std::nullopt;
    }
}

plist_t toNode(const PlistValue &value) {
    switch (value.type()) {
    case PlistValue::Type::Dictionary: {
        plist_t node = plist_new_dict();
        for (const auto &[key, item] : *value.dictionary())
            plist_dict_set_item(node, key.c_str(), toNode(item));
        return node;
    }
    case PlistValue::Type::Array: {
        plist_t node = plist_new_array();
        for (const auto &item : *value.array())
            plist_array_append_item(node, toNode(item));
        return node;
    }
    case PlistValue::Type::String:
        return plist_new_string(value.string()->c_str());
    case PlistValue::Type::Data: {
        const auto &bytes = *value.data();
        return plist_new_data(reinterpret_cast<const char *>(bytes.data()), bytes.size());
    }
    case PlistValue::Type::Integer:
        return plist_new_uint(static_cast<uint64_t>(*value.integer()));
    case PlistValue::Type::Real:
        return plist_new_real(*value.real());
    case PlistValue::Type::Boolean:
        return plist_new_bool(*value.boolean() ? 1 : 0);
    case PlistValue::Type::Date: {
        // The library holds whole seconds in 32 bits: later or earlier dates are held to its
        // range (and a date that is not a number to the reference date) instead of wrapping.
        double when = value.date()->secondsSinceReferenceDate;
        if (std::isnan(when))
            when = 0;
        when = std::clamp(when, double(INT32_MIN), double(INT32_MAX));
        const double seconds = std::floor(when);
        return plist_new_date(static_cast<int32_t>(seconds),
                              static_cast<int32_t>(std::lround((when - seconds) * 1e6)));
    }
    }
    return plist_new_dict();
}

} // namespace

std::optional<std::int64_t> PlistValue::integer() const {
    if (auto v = std::get_if<std::int64_t>(&value_))
        return *v;
    return std::nullopt;
}

std::optional<double> PlistValue::real() const {
    if (auto v = std::get_if<double>(&value_))
        return *v;
    return std::nullopt;
}

std::optional<bool> PlistValue::boolean() const {
    if (auto v = std::get_if<bool>(&value_))
        return *v;
    return std::nullopt;
}

std::optional<PlistDate> PlistValue::date() const {
    if (auto v = std::get_if<PlistDate>(&value_))
        return *v;
    return std::nullopt;
}

std::optional<bool> PlistValue::boolValue() const {
    if (auto v = boolean())
        return v;
    if (auto v = integer())
        return *v != 0;
    if (auto v = real())
        return *v != 0.0;
    if (const std::string *text = string())
        return boolValueOfText(*text);
    return std::nullopt;
}

std::optional<std::int64_t> PlistValue::integerValue() const {
    if (auto v = integer())
        return v;
    if (auto v = boolean())
        return *v ? 1 : 0;
    if (auto v = real()) {
        if (std::isfinite(*v) && std::fabs(*v) < 9.2e18)
            return static_cast<std::int64_t>(*v);
        return std::nullopt;
    }
    if (const std::string *text = string())
        return integerValueOfText(*text);
    return std::nullopt;
}

const PlistValue *PlistValue::find(const std::string &key) const & {
    const Dictionary *entries = dictionary();
    if (entries == nullptr)
        return nullptr;
    auto it = entries->find(key);
    return it == entries->end() ? nullptr : &it->second;
}

std::optional<PlistValue> plistFromBytes(std::span<const std::uint8_t> bytes) {
    if (bytes.empty() || bytes.size() > kMaxFileSize)
        return std::nullopt;
    const bool binary = bytes.size() >= 8 && std::memcmp(bytes.data(), "bplist00", 8) == 0;
    if (binary ? binaryHoldsStringWithNul(bytes) : xmlHoldsNulReference(bytes))
        return std::nullopt;
    plist_t node = nullptr;
    plist_from_memory(reinterpret_cast<const char *>(bytes.data()),
                      static_cast<uint32_t>(bytes.size()), &node);
    PlistPtr owner(node);
    return fromNode(node, 0);
}

std::vector<std::uint8_t> plistToBytes(const PlistValue &value, PlistFormat format) {
    PlistPtr node(toNode(value));
    char *out = nullptr;
    uint32_t length = 0;
    if (format == PlistFormat::Binary)
        plist_to_bin(node.get(), &out, &length);
    else
        plist_to_xml(node.get(), &out, &length);
    std::vector<std::uint8_t> bytes(out, out + (out ? length : 0));
    free(out);
    return bytes;
}

std::optional<PlistValue::Dictionary> readPlistDictionary(const std::string &path) {
    std::string contents;
    if (!readWholeFile(path, contents, kMaxFileSize))
        return std::nullopt;
    auto value = plistFromBytes(
        std::span(reinterpret_cast<const std::uint8_t *>(contents.data()), contents.size()));
    if (!value || value->dictionary() == nullptr)
        return std::nullopt;
    return std::move(*value->dictionary());
}

bool writePlistAtomically(const std::string &path, const PlistValue &value, PlistFormat format) {
    auto bytes = plistToBytes(value, format);
    if (bytes.empty())
        return false;
    return writeFileAtomically(path, bytes);
}

} // namespace platform
