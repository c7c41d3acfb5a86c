#include "sensor_values.h"

#include <charconv>
#include <string_view>
#include <type_traits>
#include <variant>

#include "sensor_key_names.h"

namespace zntr::tools {

std::optional<double> NumberOf(const Value& value) {
    return std::visit(
        [](const auto& v) -> std::optional<double> {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, float>) {
                // Through its shortest text, so that 0.9f reads 0.9 and not 0.89999997615814209.
                char text[32];
                const auto written = std::to_chars(text, text + sizeof(text), v);
                double wide = v;
                std::from_chars(text, written.ptr, wide);
                return wide;
            } else if constexpr (std::is_arithmetic_v<T> && !std::is_same_v<T, bool>) {
                return static_cast<double>(v);
            } else {
                return std::nullopt;
            }
        },
        value);
}

std::optional<double> NumberAt(const ValueList& values, const PROPERTYKEY& key) {
    const Value* value = sensor_message::FindValue(values, key);
    return value == nullptr ? std::nullopt : NumberOf(*value);
}

std::vector<std::uint32_t> PrnsOf(const sensor_message::Bytes& bytes) {
    std::vector<std::uint32_t> prns;
    for (std::size_t i = 0; i + 4 <= bytes.size(); i += 4) {
        prns.push_back(static_cast<std::uint32_t>(bytes[i]) |
                       (static_cast<std::uint32_t>(bytes[i + 1]) << 8) |
                       (static_cast<std::uint32_t>(bytes[i + 2]) << 16) |
                       (static_cast<std::uint32_t>(bytes[i + 3]) << 24));
    }
    return prns;
}

std::string ShortStateName(std::uint32_t state) {
    constexpr std::string_view kPrefix = "SENSOR_STATE_";
    const std::string name = client::SensorStateName(state);
    return name.starts_with(kPrefix) ? name.substr(kPrefix.size()) : name;
}

std::string IsoTime(sensor_message::FileTime time) {
    return client::FormatValue(Value{time});
}

std::string IsoTime(std::chrono::system_clock::time_point time) {
    // FILETIME counts 100 ns ticks from 1601-01-01, 11644473600 s before the Unix epoch.
    constexpr std::int64_t kTicksFrom1601To1970 = 116444736000000000;
    const auto ticks =
        std::chrono::duration_cast<std::chrono::microseconds>(time.time_since_epoch()).count() *
            10 +
        kTicksFrom1601To1970;
    return IsoTime(sensor_message::FileTime{static_cast<std::uint64_t>(ticks)});
}

}  // namespace zntr::tools
