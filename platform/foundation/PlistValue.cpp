#include "PlistValue.h"

#include "AtomicFile.h"

#include <cmath>
#include <memory>
#include <plist/plist.h>

namespace platform {
namespace {

// Deeper nesting than any real preferences file is refused rather than risking the stack.
constexpr int kMaxDepth = 256;
constexpr std::size_t kMaxFileSize = 64u << 20;

struct PlistDeleter {
    void operator()(plist_t node) const { plist_free(node); }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

std::optional<PlistValue> fromNode(plist_t node, int depth) {
    if (node == nullptr || depth > kMaxDepth)
        return std::nullopt;
    switch (plist_get_node_type(node)) {
    case PLIST_DICT: {
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
            std::string name = key ? key : "";
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
    case PLIST_ARRAY: {
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
    case PLIST_STRING: {
        char *text = nullptr;
        plist_get_string_val(node, &text);
        std::string value = text ? text : "";
        free(text);
        return PlistValue(std::move(value));
    }
    case PLIST_DATA: {
        char *bytes = nullptr;
        uint64_t length = 0;
        plist_get_data_val(node, &bytes, &length);
        PlistValue::Data value(reinterpret_cast<std::uint8_t *>(bytes),
                               reinterpret_cast<std::uint8_t *>(bytes) + (bytes ? length : 0));
        free(bytes);
        return PlistValue(std::move(value));
    }
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
    case PLIST_DATE: {
        int32_t seconds = 0, micros = 0;
        plist_get_date_val(node, &seconds, &micros);
        return PlistValue(PlistDate{seconds + micros / 1e6});
    }
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
        double when = value.date()->secondsSinceReferenceDate;
        double seconds = std::floor(when);
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
    return std::nullopt;
}

const PlistValue *PlistValue::find(const std::string &key) const {
    const Dictionary *entries = dictionary();
    if (entries == nullptr)
        return nullptr;
    auto it = entries->find(key);
    return it == entries->end() ? nullptr : &it->second;
}

std::optional<PlistValue> plistFromBytes(std::span<const std::uint8_t> bytes) {
    if (bytes.empty() || bytes.size() > kMaxFileSize)
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
