// The property-list reader as the system uses it on the preferences file: the file read into
// a dictionary, the keys each part reads, and the two whole-file rewrites (the pairing tool's
// address in XML, the keymap editor's keymap in binary), which must keep every other entry.
#include "FuzzCheck.h"
#include "NBRConstants.h"
#include "NBRSupport.h"
#include "PlistValue.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

using platform::PlistValue;

namespace {

std::string filePath;

// NaN is never equal to itself, so such a value cannot be compared after a round trip.
bool holdsNaN(const PlistValue &value) {
    if (auto *d = value.dictionary()) {
        for (const auto &[key, entry] : *d)
            if (holdsNaN(entry))
                return true;
    } else if (auto *a = value.array()) {
        for (const auto &entry : *a)
            if (holdsNaN(entry))
                return true;
    } else if (value.type() == PlistValue::Type::Real) {
        return std::isnan(*value.real());
    } else if (value.type() == PlistValue::Type::Date) {
        return std::isnan(value.date()->secondsSinceReferenceDate);
    }
    return false;
}

// Equal but for dates, which the library passes on in whole microseconds (and XML in whole
// seconds, truncated toward zero): those may differ by that much.
bool same(const PlistValue &a, const PlistValue &b, double dateTolerance) {
    if (a.type() != b.type())
        return false;
    if (auto *d = a.dictionary()) {
        const auto *e = b.dictionary();
        if (d->size() != e->size())
            return false;
        for (auto i = d->begin(), j = e->begin(); i != d->end(); ++i, ++j)
            if (i->first != j->first || !same(i->second, j->second, dateTolerance))
                return false;
        return true;
    }
    if (auto *x = a.array()) {
        const auto *y = b.array();
        if (x->size() != y->size())
            return false;
        for (std::size_t i = 0; i < x->size(); ++i)
            if (!same((*x)[i], (*y)[i], dateTolerance))
                return false;
        return true;
    }
    if (auto date = a.date())
        return std::abs(date->secondsSinceReferenceDate - b.date()->secondsSinceReferenceDate) <=
               dateTolerance;
    return a == b;
}

void checkRewrite(PlistValue::Dictionary preferences, const char *key, PlistValue entry,
                  platform::PlistFormat format) {
    preferences[key] = std::move(entry);
    const PlistValue whole(std::move(preferences));
    const auto bytes = platform::plistToBytes(whole, format);
    NBR_FUZZ_CHECK(!bytes.empty());
    const auto back = platform::plistFromBytes(bytes);
    NBR_FUZZ_CHECK(back.has_value());
    if (!holdsNaN(whole))
        NBR_FUZZ_CHECK(same(*back, whole, format == platform::PlistFormat::XML ? 1.0 : 2e-6));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    char pattern[] = "/tmp/nbr-fuzz-plist.XXXXXX";
    const int fd = mkstemp(pattern);
    if (fd >= 0)
        ::close(fd);
    filePath = pattern;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (FILE *file = std::fopen(filePath.c_str(), "wb")) {
        std::fwrite(data, 1, size, file);
        std::fclose(file);
    }
    const auto preferences = platform::readPlistDictionary(filePath);
    const auto parsed = platform::plistFromBytes({data, size});
    NBR_FUZZ_CHECK(preferences.has_value() == (parsed && parsed->dictionary()));
    if (!preferences)
        return 0;
    NBR_FUZZ_CHECK(*preferences == *parsed->dictionary());

    auto find = [&](const char *key) -> const PlistValue * {
        auto it = preferences->find(key);
        return it == preferences->end() ? nullptr : &it->second;
    };
    if (auto *suppress = find(NBRSuppressNotificationKey))
        (void)suppress->boolValue();
    if (auto *type = find(NBRControllerTypeKey))
        (void)type->integerValue();
    if (auto *color = find(NBRLEDColorKey); color && color->string())
        NBR_FUZZ_CHECK(NBRColorPixelForHexString(color->string()->c_str()) <= 0xFFFFFF);
    if (auto *keymap = find(NBRKeyboardKeymapKey); keymap && keymap->dictionary())
        for (const auto &[key, button] : *keymap->dictionary())
            (void)button.integerValue();

    const std::uint8_t address[6] = {0x00, 0x1B, 0xDC, 0x0F, 0xAB, 0x01};
    checkRewrite(*preferences, NBRBluetoothAddressKey,
                 PlistValue::Data(address, address + sizeof address), platform::PlistFormat::XML);
    checkRewrite(*preferences, NBRKeyboardKeymapKey, PlistValue::Dictionary{{"4", 1}, {"44", 7}},
                 platform::PlistFormat::Binary);
    return 0;
}
