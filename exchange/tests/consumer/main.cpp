// Round-trips a payload and a control record through the installed TesslyKit.
#include <TesslyKit/TesslyKit.h>

#include <cstdio>

int main() {
    const tessly::SensorsPayload payload{
        .thermal = tessly::ThermalReading{.cpuTemperatureC = 44},
        .fan = tessly::FanReading{.rpm = 1320, .fanCount = 2, .rpms = {{1320, 1275.5}}},
        .sampledAt = 1767225601.5,
        .helperVersion = "1.4.0",
    };
    const auto text = tessly::encodeJSON(payload);
    const auto back = text ? tessly::decodeSensorsPayload(*text) : std::nullopt;
    const auto control = tessly::decodeSensorControl(R"({"autostart":true})");
    if (!back || back->thermal != payload.thermal || back->fan != payload.fan ||
        back->sampledAt != payload.sampledAt || back->helperVersion != payload.helperVersion ||
        !control || !control->autostart || control->stopRequestedAt) {
        std::fprintf(stderr, "round trip failed for %s\n", text ? text->c_str() : "(not encoded)");
        return 1;
    }
    std::printf("%s %.*s\n", text->c_str(), static_cast<int>(tessly::SensorBridge::groupID.size()),
                tessly::SensorBridge::groupID.data());
    return 0;
}
