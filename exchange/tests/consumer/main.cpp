// Round-trips a payload and a control record through the installed TesslyKit.
#include <TesslyKit/TesslyKit.h>

#include <cstdio>
#include <string_view>

int main() {
    const tessly::SensorsPayload payload{
        .thermal = tessly::ThermalReading{.cpuTemperatureC = 44},
        .fan = tessly::FanReading{.rpm = 1320, .fanCount = 2, .rpms = {{1320, 1275.5}}},
        .sampledAt = 1767225601.5,
        .helperVersion = "1.4.0",
    };
    const auto text = tessly::encodeJSON(payload);
    if (!text) {
        std::fputs("encodeJSON failed\n", stderr);
        return 1;
    }
    const auto back = tessly::decodeSensorsPayload(*text);
    if (!back || back->thermal != payload.thermal || back->fan != payload.fan ||
        back->sampledAt != payload.sampledAt || back->helperVersion != payload.helperVersion) {
        std::fprintf(stderr, "round trip failed for %s\n", text->c_str());
        return 1;
    }
    const auto control = tessly::decodeSensorControl(R"({"autostart":true})");
    if (!control || !control->autostart || control->stopRequestedAt) {
        std::fputs("decodeSensorControl failed\n", stderr);
        return 1;
    }
    std::printf("%s %.*s\n", text->c_str(), static_cast<int>(tessly::SensorBridge::groupID.size()),
                tessly::SensorBridge::groupID.data());
    return 0;
}
