// NVIDIA GPUs through NVML, against a fake libnvidia-ml.so.1 scripted through the same loaded copy.

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

#include "FakeNvml.h"
#include "base/ManualClock.h"
#include "platform/linux/NvidiaGPUs.h"
#include "testing/SanitizedPreload.h"
#include "testing/Scratch.h"

namespace tessly::hwmon::testing {
namespace {

using namespace std::chrono_literals;

[[maybe_unused]] const bool preloads = tessly::testing::letSanitizedLibrariesPreload();

constexpr int gpuIsLost = 15;
constexpr int unknownError = 999;
constexpr int driverNotLoaded = 9;
// Generous bounds on waits for the worker, so that a fault fails instead of hanging.
constexpr double workerLimit = 10.0;

// The GPU temperatures one reading hands over, in GPU order.
using Listing = std::vector<double>;

class RecordingSink final : public TemperatureSink {
  public:
    void add(TemperatureCategory category, double celsius) noexcept override {
        EXPECT_EQ(category, TemperatureCategory::gpu);
        listing.push_back(celsius);
    }
    Listing listing;
};

Listing listingOf(TemperatureSource& source) {
    RecordingSink sink;
    const bool listed = source.readTemperatures(sink);
    EXPECT_EQ(listed, !sink.listing.empty());
    return sink.listing;
}

bool eventually(const std::function<bool()>& condition) {
    for (const auto deadline = std::chrono::steady_clock::now() + 10s;
         std::chrono::steady_clock::now() < deadline; std::this_thread::sleep_for(2ms)) {
        if (condition()) return true;
    }
    return condition();
}

class NvidiaGPUsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        handle_ = ::dlopen(TESSLY_FAKE_NVML, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(handle_, nullptr) << ::dlerror();
        nvml = reinterpret_cast<FakeNvml* (*)()>(::dlsym(handle_, "fakeNvml"))();
        *script() = {};
        gpus = makeNvidiaTemperatureSource(clock, TESSLY_FAKE_NVML, NvmlStart::firstReading);
    }
    void TearDown() override {
        if (handle_ == nullptr) return;
        script()->hang = false;
        gpus.reset();
        EXPECT_EQ(script()->staleHandleUses, 0);
        ::dlclose(handle_);
    }

    FakeNvmlScript script() { return FakeNvmlScript(*nvml); }
    // The listing once the worker has read every GPU at the clock's time now.
    Listing settledListing() {
        EXPECT_TRUE(awaitNvidiaReading(*gpus, workerLimit));
        return listingOf(*gpus);
    }

    void* handle_ = nullptr;
    FakeNvml* nvml = nullptr;
    ManualClock clock;
    std::unique_ptr<TemperatureSource> gpus;
};

// The launch's listing starts nothing, the second starts the worker, and from the next one on
// each GPU's latest reading is handed over. A lost GPU is asked no more; NVML is restarted a
// minute after it was started, and the GPU is back once NVML finds it again, the other GPU read
// throughout. The report names each GPU by index and product.
TEST_F(NvidiaGPUsTest, TheSecondListingStartsNvmlALostGpuWaitsForARestartAndTheReportNamesEach) {
    script()->gpus = {{"NVIDIA GeForce RTX 4090", 0, 71}, {"NVIDIA RTX A2000", 0, 64}};
    gpus = makeNvidiaTemperatureSource(clock, TESSLY_FAKE_NVML);
    EXPECT_EQ(listingOf(*gpus), Listing{});
    EXPECT_FALSE(awaitNvidiaReading(*gpus, workerLimit)) << "the launch's listing started NVML";
    EXPECT_EQ(script()->inits, 0);
    EXPECT_EQ(listingOf(*gpus), Listing{});
    EXPECT_EQ(settledListing(), (Listing{71.0, 64.0}));
    script()->gpus[0].celsius = 40;
    clock.advance(1);
    EXPECT_EQ(settledListing(), (Listing{40.0, 64.0}));
    script()->gpus[1].result = gpuIsLost;
    EXPECT_EQ(settledListing(), (Listing{40.0}));
    const int calls = script()->gpus[1].temperatureCalls;
    clock.advance(58);
    EXPECT_EQ(settledListing(), (Listing{40.0}));
    EXPECT_EQ(script()->gpus[1].temperatureCalls, calls);
    EXPECT_EQ(script()->inits, 1);
    script()->gpus[1] = {"NVIDIA RTX A2000", 0, 72};
    clock.advance(1);
    EXPECT_EQ(settledListing(), (Listing{40.0, 72.0}));
    EXPECT_EQ(script()->inits, 2);

    gpus.reset();  // the report starts NVML anew, which would void the source's handles
    const auto report = reportNvidiaSensors(TESSLY_FAKE_NVML);
    ASSERT_EQ(report.size(), 2u);
    const auto& gpu = report[1];
    EXPECT_EQ(
        std::tie(gpu.path, gpu.chip, gpu.label, gpu.feeds, gpu.value),
        std::make_tuple("NVML GPU 1", "nvidia", "1 NVIDIA RTX A2000", "gpuTemperatureC", 72.0));
}

// An NVML that will not start, or one whose calls all fail, as after a driver update under the
// running agent: nothing handed over, a retry at most once a minute, and the GPUs back once NVML
// starts again. Values NVML gives that are no temperature are dropped alone.
TEST_F(NvidiaGPUsTest, ARetryAMinuteLaterBringsBackAFailedNvmlAndOnlyPlausibleValuesCount) {
    script()->gpus = {{"A", 0, 60}};
    script()->initResult = driverNotLoaded;
    EXPECT_EQ(settledListing(), Listing{});
    clock.advance(30);
    EXPECT_EQ(settledListing(), Listing{});
    EXPECT_EQ(script()->inits, 1);
    script()->initResult = 0;
    clock.advance(30);
    EXPECT_EQ(settledListing(), (Listing{60.0}));

    // The driver is replaced: every call fails until NVML is started again.
    script()->gpus[0].result = unknownError;
    script()->initResult = driverNotLoaded;
    EXPECT_EQ(settledListing(), Listing{});
    clock.advance(60);
    EXPECT_EQ(settledListing(), Listing{});
    script()->initResult = 0;
    script()->gpus = {{"A", 0, 61}, {"B", unknownError, 50}};
    for (const unsigned celsius : {0u, 201u, 4'000'000'000u, 200u})
        script()->gpus.push_back({"C", 0, celsius});
    clock.advance(60);
    EXPECT_EQ(settledListing(), (Listing{61.0, 200.0}));
    EXPECT_EQ(script()->inits, 4);
}

// A call that does not return holds up neither a listing, nor the source's end, nor a report. The
// GPU is left out once its last reading is more than 2 s old on the source's clock, and is back
// when the worker reads it again; a worker left in a call closes NVML once the call returns.
TEST_F(NvidiaGPUsTest, AHangingCallHoldsUpNoListingNoEndAndNoReport) {
    script()->gpus = {{"A", 0, 60}};
    EXPECT_EQ(settledListing(), (Listing{60.0}));
    script()->hang = true;
    clock.advance(2);
    EXPECT_EQ(listingOf(*gpus), (Listing{60.0}));
    clock.advance(0.5);
    EXPECT_EQ(listingOf(*gpus), Listing{});
    ASSERT_TRUE(eventually([&] { return script()->hanging == 1; }));
    EXPECT_EQ(listingOf(*gpus), Listing{});
    EXPECT_EQ(script()->hanging, 1) << "the listing waited for the call";
    script()->hang = false;
    EXPECT_TRUE(eventually([&] { return listingOf(*gpus) == Listing{60.0}; }));

    script()->hang = true;
    clock.advance(10);
    EXPECT_EQ(listingOf(*gpus), Listing{});
    ASSERT_TRUE(eventually([&] { return script()->hanging == 1; }));
    gpus.reset();
    EXPECT_EQ(script()->hanging, 1) << "the source's end waited for the call";
    EXPECT_EQ(script()->shutdowns, 0);
    script()->hang = false;
    EXPECT_TRUE(eventually([&] { return script()->shutdowns == 1; }));

    // A report waits no longer than it is told (5 s in `tessly sensors`).
    script()->hang = true;
    EXPECT_EQ(reportNvidiaSensors(TESSLY_FAKE_NVML, 1.0).size(), 0u);
    EXPECT_EQ(script()->hanging, 1) << "the report waited for the call";
    script()->hang = false;
    EXPECT_TRUE(eventually([&] { return script()->shutdowns == 2; }));
}

// A library the dynamic loader dies on (cut short by a half-written driver install, or garbled
// after its headers) is refused like a missing one or one dlopen rejects, by the source and
// the report alike, and this process lives on.
TEST_F(NvidiaGPUsTest, ALibraryTheLoaderCannotMapIsRefused) {
    const tessly::testing::TempDir dir;
    const std::string library = tessly::testing::readFile(TESSLY_FAKE_NVML);
    ASSERT_GT(library.size(), 4096u);
    const std::pair<const char*, std::optional<std::string>> copies[] = {
        {"missing", std::nullopt},
        {"truncated", library.substr(0, 1024)},
        {"garbled", library.substr(0, 1024) + std::string(library.size() - 1024, 'x')},
        {"garbage", std::string(library.size(), 'x')},
    };
    for (const auto& [name, bytes] : copies) {
        const std::string path = (dir / name).string();
        if (bytes) tessly::testing::writeFile(path, *bytes);
        const auto source = makeNvidiaTemperatureSource(clock, path, NvmlStart::firstReading);
        EXPECT_TRUE(awaitNvidiaReading(*source, workerLimit)) << name;
        EXPECT_EQ(listingOf(*source), Listing{}) << name;
        EXPECT_EQ(reportNvidiaSensors(path).size(), 0u) << name;
    }
}

}  // namespace
}  // namespace tessly::hwmon::testing
