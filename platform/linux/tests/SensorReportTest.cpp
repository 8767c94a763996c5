#include "platform/linux/SensorReport.h"
#include "thermal/TemperatureCategory.h"

#include <cerrno>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/linux/tests/SysfsTree.h"
#include "thermal/ThermalSampler.h"

namespace tessly::hwmon::testing {
namespace {

std::optional<std::string_view> payloadField(std::string_view name) noexcept {
    return payloadFieldOf(SensorNaming::hwmon, name);
}

// "<path below the root> | <chip> | <label> | <feeds, or ignored> | <value, errno or no value>",
// one line for each entry.
std::string summary(SysfsTree& tree) {
    std::ostringstream out;
    for (const auto& e : reportSensors(tree.root(), payloadField, tree.reader())) {
        EXPECT_NE(e.feeds.empty(), e.whyIgnored.empty()) << e.path;
        out << e.path.substr(tree.root().size() + 1) << " | " << e.chip << " | " << e.label << " | "
            << (e.feeds.empty() ? "ignored" : e.feeds) << " | ";
        if (e.value) {
            out << *e.value << "\n";
        } else {
            out << (e.readError != 0 ? "errno " + std::to_string(e.readError) : "no value") << "\n";
        }
    }
    return out.str();
}

TEST(SensorReport, EverySensorFileWithWhatItFeedsAndItsValueOrError) {
    SysfsTree tree(R"(
[class/hwmon]
hwmon0 -> ../../devices/platform/coretemp.0/hwmon/hwmon0
stray/
[devices/platform/coretemp.0/hwmon/hwmon0]
name = coretemp
temp1_label = Package id 0
temp1_input = 45000
temp2_label = Core 0
temp2_input ! EIO
[class/hwmon/hwmon1]
name = jc42
temp1_input = 40250
[class/hwmon/hwmon2]
name = k10temp
temp1_label = Tctl
temp1_input = 70000
temp2_label = Tdie
temp2_input = 60000
[class/hwmon/hwmon3]
name = thinkpad
fan1_input = 2100
fan1_min = 1000
fan1_max = N/A
[class/hwmon/hwmon4]
temp1_input = 30000
[class/power_supply/BAT0]
type = Battery
temp = 305
)");
    EXPECT_EQ(summary(tree),
              "class/hwmon/hwmon0/temp1_input | coretemp | Package id 0 | cpuTemperatureC | 45\n"
              "class/hwmon/hwmon0/temp2_input | coretemp | Core 0 | cpuTemperatureC | errno 5\n"
              "class/hwmon/hwmon2/temp2_input | k10temp | Tdie | cpuTemperatureC | 60\n"
              "class/power_supply/BAT0/temp | power_supply | BAT0 | batteryTemperatureC | 30.5\n"
              "class/hwmon/hwmon1/temp1_input | jc42 | temp1 | TRD0 | 40.25\n"
              "class/hwmon/hwmon3/fan1_input | thinkpad | fan1 | F0Ac | 2100\n"
              "class/hwmon/hwmon3/fan1_min | thinkpad | fan1 | F0Mn | 1000\n"
              "class/hwmon/hwmon3/fan1_max | thinkpad | fan1 | F0Mx | no value\n"
              "class/hwmon/hwmon2/temp1_input | k10temp | Tctl | ignored | 70\n"
              "class/hwmon/hwmon4/temp1_input |  | temp1 | ignored | 30\n"
              "class/hwmon/stray |  |  | ignored | no value\n");
}

TEST(SensorReport, AnUnreadableHwmonDirectoryIsOneEntryAMissingOneNone) {
    SysfsTree tree;
    EXPECT_TRUE(reportSensors(tree.root(), payloadField, tree.reader()).empty());
    tree.add("[class/hwmon]\n");
    tree.reader().failListing(tree.path("class/hwmon"), EACCES);
    const auto entries = reportSensors(tree.root(), payloadField, tree.reader());
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].path, tree.path("class/hwmon"));
    EXPECT_EQ(entries[0].readError, EACCES);
    EXPECT_FALSE(entries[0].whyIgnored.empty());
}

}  // namespace
}  // namespace tessly::hwmon::testing
