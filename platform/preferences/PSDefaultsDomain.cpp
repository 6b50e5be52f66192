#include "PSDefaultsDomain.h"

#include "DevicePath.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

using platform::PlistValue;

namespace {
constexpr const char *kPreferencesFolder = "/var/mobile/Library/Preferences/";
}

PSDefaultsDomain::PSDefaultsDomain(const QString &domain) {
    if (domain.isEmpty() || domain == "." || domain == ".." || domain.contains('/') ||
        domain.contains(QChar(0)))
        return;
    path_ = platform::devicePath(kPreferencesFolder + domain.toStdString() + ".plist");
}

QVariant PSDefaultsDomain::valueForKey(const QString &key) const {
    if (!isValid())
        return {};
    const auto dictionary = platform::readPlistDictionary(path_);
    if (!dictionary)
        return {};
    auto found = dictionary->find(key.toStdString());
    return found == dictionary->end() ? QVariant() : variantFromPlist(found->second);
}

bool PSDefaultsDomain::setValueForKey(const QVariant &value, const QString &key) const {
    if (!isValid() || key.isEmpty())
        return false;
    PlistValue::Dictionary dictionary =
        platform::readPlistDictionary(path_).value_or(PlistValue::Dictionary{});
    if (value.isValid()) {
        auto stored = plistFromVariant(value);
        if (!stored)
            return false;
        dictionary[key.toStdString()] = std::move(*stored);
    } else {
        dictionary.erase(key.toStdString());
    }
    QDir().mkpath(QFileInfo(QString::fromStdString(path_)).absolutePath());
    return platform::writePlistAtomically(path_, PlistValue(std::move(dictionary)),
                                          platform::PlistFormat::Binary);
}

std::int64_t PSDefaultsDomain::integerValueOf(const QVariant &value) {
    const auto stored = plistFromVariant(value);
    return stored ? stored->integerValue().value_or(0) : 0;
}

bool PSDefaultsDomain::boolValueOf(const QVariant &value) {
    const auto stored = plistFromVariant(value);
    return stored && stored->boolValue().value_or(false);
}

QVariant PSDefaultsDomain::variantFromPlist(const PlistValue &value) {
    switch (value.type()) {
    case PlistValue::Type::Dictionary: {
        QVariantMap map;
        for (const auto &[key, entry] : *value.dictionary())
            map.insert(QString::fromStdString(key), variantFromPlist(entry));
        return map;
    }
    case PlistValue::Type::Array: {
        QVariantList list;
        for (const PlistValue &entry : *value.array())
            list.append(variantFromPlist(entry));
        return list;
    }
    case PlistValue::Type::String:
        return QString::fromStdString(*value.string());
    case PlistValue::Type::Data: {
        const auto &bytes = *value.data();
        return QByteArray(reinterpret_cast<const char *>(bytes.data()),
                          static_cast<qsizetype>(bytes.size()));
    }
    case PlistValue::Type::Integer:
        return QVariant::fromValue<qlonglong>(*value.integer());
    case PlistValue::Type::Real:
        return *value.real();
    case PlistValue::Type::Boolean:
        return *value.boolean();
    case PlistValue::Type::Date:
        return QDateTime::fromSecsSinceEpoch(978307200, Qt::UTC)
            .addMSecs(static_cast<qint64>(value.date()->secondsSinceReferenceDate * 1000));
    }
    return {};
}

std::optional<PlistValue> PSDefaultsDomain::plistFromVariant(const QVariant &value) {
    switch (value.typeId()) {
    case QMetaType::Bool:
        return PlistValue(value.toBool());
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::ULongLong:
        return PlistValue(value.toLongLong());
    case QMetaType::Double:
    case QMetaType::Float:
        return PlistValue(value.toDouble());
    case QMetaType::QString:
        return PlistValue(value.toString().toStdString());
    case QMetaType::QByteArray: {
        const QByteArray bytes = value.toByteArray();
        return PlistValue(PlistValue::Data(bytes.begin(), bytes.end()));
    }
    case QMetaType::QVariantList: {
        PlistValue::Array array;
        for (const QVariant &entry : value.toList()) {
            auto converted = plistFromVariant(entry);
            if (!converted)
                return std::nullopt;
            array.push_back(std::move(*converted));
        }
        return PlistValue(std::move(array));
    }
    case QMetaType::QVariantMap: {
        PlistValue::Dictionary dictionary;
        const QVariantMap map = value.toMap();
        for (auto it = map.begin(); it != map.end(); ++it) {
            auto converted = plistFromVariant(it.value());
            if (!converted)
                return std::nullopt;
            dictionary[it.key().toStdString()] = std::move(*converted);
        }
        return PlistValue(std::move(dictionary));
    }
    default:
        return std::nullopt;
    }
}
