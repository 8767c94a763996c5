// NVIDIA GPUs through NVML, against a fake libnvidia-ml.so.1 scripted through the same loaded copy:
// what the services list and when NVML is started, restarted and left alone.

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <utility>

#include "FakeNvml.h"
#include "SysfsTree.h"
#include "base/ManualClock.h"
#include "platform/linux/HwmonSensors.h"
#include "platform/linux/NvidiaGPUs.h"
#include "thermal/TemperatureCategory.h"
#include "thermal/ThermalSampler.h"

namespace tessly::hwmon::testing {
namespace {

constexpr int gpuIsLost = 15;
constexpr int unknownError = 999;
constexpr int driverNotLoaded = 9;

using Listing = std::vector<std::pair<std::string, std::optional<double>>>;

Listing listingOf(TemperatureServices& services) {
    Listing listing;
    const auto list = services.copyServices();
    for (std::size_t i = 0; list && i < list->count(); ++i) {
        listing.emplace_back(std::string(list->productName(i).value_or("")), list->temperature(i));
    }
    return listing;
}

class NvidiaGPUsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        handle_ = ::dlopen(TESSLY_FAKE_NVML, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(handle_, nullptr) << ::dlerror();
        nvml = reinterpret_cast<FakeNvml* (*)()>(::dlsym(handle_, "fakeNvml"))();
        *nvml = FakeNvml{};
        services = makeNvidiaTemperatureServices(clock, TESSLY_FAKE_NVML);
    }
    void TearDown() override {
        services.reset();
        if (handle_ == nullptr) return;
        EXPECT_EQ(nvml->staleHandleUses, 0);
        ::dlclose(handle_);
    }

    FakeNvml* nvml = nullptr;
    ManualClock clock;
    std::unique_ptr<TemperatureServices> services;

  private:
    void* handle_ = nullptr;
};

// The launch's listing never waits for NVML; the second starts it, and from then each GPU is a
// GPU temperature, reduced with hwmon's GPUs by maximum.
TEST_F(NvidiaGPUsTest, TwoGpusAreGpuTemperaturesFromTheSecondSample) {
    nvml->gpus.push_back({"NVIDIA GeForce RTX 4090", 0, 71});
    nvml->gpus.push_back({"NVIDIA RTX A2000", 0, 64});
    SysfsTree tree(R"(
[class/hwmon/hwmon0]
name = amdgpu
temp1_input = 68000
)");
    ThermalSampler sampler(
        joinTemperatureServices(makeHwmonTemperatureServices(tree.root(), tree.reader(), clock),
                                std::exchange(services, nullptr)),
        nullptr, clock);
    EXPECT_EQ(sampler.sample()->gpuTemperatureC, 68.0);
    EXPECT_EQ(nvml->inits, 0);
    clock.advance(ThermalSampler::minimumInterval);
    EXPECT_EQ(sampler.sample()->gpuTemperatureC, 71.0);
    EXPECT_EQ(nvml->inits, 1);
    clock.advance(ThermalSampler::minimumInterval);
    nvml->gpus[0].celsius = 40;
    EXPECT_EQ(sampler.sample()->gpuTemperatureC, 68.0);
    EXPECT_EQ(nvml->inits, 1);
    EXPECT_EQ(payloadFieldOf(SensorNaming::hwmon, "nvidia 0 NVIDIA GeForce RTX 4090"),
              "gpuTemperatureC");
}

TEST_F(NvidiaGPUsTest, ServicesAreNamedByIndexAndProduct) {
    nvml->gpus.push_back({"NVIDIA GeForce RTX 4090", 0, 71});
    nvml->gpus.push_back({"NVIDIA RTX A2000", 0, 64});
    EXPECT_EQ(listingOf(*services), Listing{});
    EXPECT_EQ(listingOf(*services), (Listing{{"nvidia 0 NVIDIA GeForce RTX 4090", 71.0},
                                             {"nvidia 1 NVIDIA RTX A2000", 64.0}}));
    const auto report = reportNvidiaSensors(
        [](std::string_view n) noexcept { return payloadFieldOf(SensorNaming::hwmon, n); },
        TESSLY_FAKE_NVML);
    ASSERT_EQ(report.size(), 2u);
    EXPECT_EQ(report[1].path, "NVML GPU 1");
    EXPECT_EQ(report[1].chip, "nvidia");
    EXPECT_EQ(report[1].label, "1 NVIDIA RTX A2000");
    EXPECT_EQ(report[1].feeds, "gpuTemperatureC");
    EXPECT_EQ(report[1].value, 64.0);
}

// Values NVML gives that are no temperature are dropped alone; the GPU stays listed.
TEST_F(NvidiaGPUsTest, AFailedOrImplausibleReadingIsNoValue) {
    const std::pair<int, unsigned> readings[] = {
        {0, 0}, {0, 201}, {0, 4'000'000'000u}, {unknownError, 50}, {0, 200}};
    for (const auto& [result, celsius] : readings)
        nvml->gpus.push_back({"GPU", result, celsius});
    listingOf(*services);
    const Listing listing = listingOf(*services);
    ASSERT_EQ(listing.size(), std::size(readings));
    for (std::size_t i = 0; i + 1 < listing.size(); ++i) {
        EXPECT_EQ(listing[i].second, std::nullopt) << i;
    }
    EXPECT_EQ(listing.back().second, 200.0);
}

// A lost GPU is asked no more; NVML is restarted a minute after it was started, and the GPU is
// back once NVML finds it again. The other GPU is read throughout.
TEST_F(NvidiaGPUsTest, ALostGpuIsLeftOutUntilNvmlIsRestarted) {
    nvml->gpus.push_back({"A", 0, 60});
    nvml->gpus.push_back({"B", 0, 70});
    listingOf(*services);
    EXPECT_EQ(listingOf(*services)[1].second, 70.0);
    nvml->gpus[1].result = gpuIsLost;
    EXPECT_EQ(listingOf(*services), (Listing{{"nvidia 0 A", 60.0}, {"nvidia 1 B", std::nullopt}}));
    const int calls = nvml->temperatureCalls;
    clock.advance(59);
    EXPECT_EQ(listingOf(*services), (Listing{{"nvidia 0 A", 60.0}, {"nvidia 1 B", std::nullopt}}));
    EXPECT_EQ(nvml->temperatureCalls, calls + 1);
    EXPECT_EQ(nvml->inits, 1);
    nvml->gpus[1] = {"B", 0, 72};
    clock.advance(1);
    EXPECT_EQ(listingOf(*services), (Listing{{"nvidia 0 A", 60.0}, {"nvidia 1 B", 72.0}}));
    EXPECT_EQ(nvml->inits, 2);
}

// No library, an NVML that will not start, or one whose calls all fail, as after a driver update
// under the running agent: no services, a retry at most once a minute, and the GPUs back once
// NVML starts again.
TEST_F(NvidiaGPUsTest, WithoutAWorkingNvmlThereAreNoServicesAndARetryAMinuteLater) {
    EXPECT_EQ(listingOf(*makeNvidiaTemperatureServices(clock, "/nonexistent/libnvidia-ml.so.1",
                                                       NvmlStart::firstListing)),
              Listing{});

    nvml->gpus.push_back({"A", 0, 60});
    nvml->initResult = driverNotLoaded;
    listingOf(*services);
    EXPECT_EQ(services->copyServices(), nullptr);
    clock.advance(30);
    EXPECT_EQ(services->copyServices(), nullptr);
    EXPECT_EQ(nvml->inits, 1);
    nvml->initResult = 0;
    clock.advance(30);
    EXPECT_EQ(listingOf(*services), (Listing{{"nvidia 0 A", 60.0}}));

    // The driver is replaced: every call fails until NVML is started again.
    nvml->gpus[0].result = unknownError;
    nvml->initResult = driverNotLoaded;
    EXPECT_EQ(listingOf(*services), (Listing{{"nvidia 0 A", std::nullopt}}));
    clock.advance(60);
    EXPECT_EQ(services->copyServices(), nullptr);
    nvml->initResult = 0;
    nvml->gpus[0] = {"A", 0, 61};
    clock.advance(60);
    EXPECT_EQ(listingOf(*services), (Listing{{"nvidia 0 A", 61.0}}));
    EXPECT_EQ(nvml->inits, 4);
}

}  // namespace
}  // namespace tessly::hwmon::testing
