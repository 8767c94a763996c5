#include "platform/linux/NvidiaGPUs.h"

#include <dlfcn.h>

#include <array>
#include <cstring>
#include <new>
#include <optional>
#include <vector>

namespace tessly::hwmon {
namespace {

// The few NVML declarations used, as NVIDIA documents them (nvml.h is not vendored).
using NvmlReturn = int;
using NvmlDevice = struct NvmlDeviceOpaque*;
constexpr NvmlReturn nvmlSuccess = 0;
constexpr NvmlReturn nvmlErrorGpuIsLost = 15;
constexpr int nvmlTemperatureGpu = 0;
constexpr unsigned nvmlDeviceNameBufferSize = 96;  // NVML_DEVICE_NAME_V2_BUFFER_SIZE

// A GPU reading outside this range is no temperature (an unset or garbled value).
constexpr unsigned lowestCelsius = 1;
constexpr unsigned highestCelsius = 200;
// How long a failure keeps NVML from being asked again.
constexpr double retryAfter = 60.0;
// More GPUs than any machine holds: a count beyond is garbled.
constexpr unsigned maximumGpus = 64;

struct Nvml {
    void* handle = nullptr;
    NvmlReturn (*init)() = nullptr;
    NvmlReturn (*shutdown)() = nullptr;
    NvmlReturn (*count)(unsigned*) = nullptr;
    NvmlReturn (*byIndex)(unsigned, NvmlDevice*) = nullptr;
    NvmlReturn (*name)(NvmlDevice, char*, unsigned) = nullptr;
    NvmlReturn (*temperature)(NvmlDevice, int, unsigned*) = nullptr;

    // The library with every function, or nothing.
    static std::optional<Nvml> load(const std::string& library) noexcept {
        Nvml nvml;
        nvml.handle = ::dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (nvml.handle == nullptr) return std::nullopt;
        const auto bind = [&](auto& function, const char* symbol) {
            void* address = ::dlsym(nvml.handle, symbol);
            std::memcpy(&function, &address, sizeof function);
            return address != nullptr;
        };
        if (bind(nvml.init, "nvmlInit_v2") && bind(nvml.shutdown, "nvmlShutdown") &&
            bind(nvml.count, "nvmlDeviceGetCount_v2") &&
            bind(nvml.byIndex, "nvmlDeviceGetHandleByIndex_v2") &&
            bind(nvml.name, "nvmlDeviceGetName") &&
            bind(nvml.temperature, "nvmlDeviceGetTemperature")) {
            return nvml;
        }
        ::dlclose(nvml.handle);
        return std::nullopt;
    }
};

struct Gpu {
    NvmlDevice device;
    std::string productName;  // "nvidia <index> <name>"
    bool lost = false;
};

// The GPUs of one discovery, shared with the lists handed out.
struct GpuSet {
    std::vector<Gpu> gpus;
    bool failed = false;  // a call failed since: discover again
};

class NvidiaServiceList final : public TemperatureServiceList {
  public:
    NvidiaServiceList(std::shared_ptr<GpuSet> set, const Nvml& nvml) noexcept
        : set_(std::move(set)), nvml_(nvml) {}

    std::size_t count() const noexcept override { return set_->gpus.size(); }

    std::optional<std::string_view> productName(std::size_t index) noexcept override {
        if (index >= count()) return std::nullopt;
        return set_->gpus[index].productName;
    }

    std::optional<double> temperature(std::size_t index) noexcept override {
        if (index >= count() || set_->gpus[index].lost) return std::nullopt;
        unsigned celsius = 0;
        const NvmlReturn result =
            nvml_.temperature(set_->gpus[index].device, nvmlTemperatureGpu, &celsius);
        if (result != nvmlSuccess) {
            set_->failed = true;
            if (result == nvmlErrorGpuIsLost) set_->gpus[index].lost = true;
            return std::nullopt;
        }
        if (celsius < lowestCelsius || celsius > highestCelsius) return std::nullopt;
        return static_cast<double>(celsius);
    }

  private:
    std::shared_ptr<GpuSet> set_;
    const Nvml& nvml_;
};

class NvidiaTemperatureServices final : public TemperatureServices {
  public:
    NvidiaTemperatureServices(Clock& clock, std::string library, NvmlStart start) noexcept
        : clock_(clock),
          library_(std::move(library)),
          listings_(start == NvmlStart::firstListing ? 1 : 0) {}

    NvidiaTemperatureServices(const NvidiaTemperatureServices&) = delete;
    NvidiaTemperatureServices& operator=(const NvidiaTemperatureServices&) = delete;

    ~NvidiaTemperatureServices() override {
        if (!nvml_) return;
        if (initialised_) nvml_->shutdown();
        ::dlclose(nvml_->handle);
    }

    SensorNaming naming() const noexcept override { return SensorNaming::hwmon; }

    // Lists are used within one sample and gone before the next listing, which is the only
    // place NVML is restarted: no list outlives the handles it reads through.
    std::unique_ptr<TemperatureServiceList> copyServices() noexcept override {
        try {
            if (listings_ > 0 && due()) discover();
            if (listings_ < 2) ++listings_;
            if (!set_ || set_->gpus.empty()) return nullptr;
            return std::make_unique<NvidiaServiceList>(set_, *nvml_);
        } catch (const std::bad_alloc&) {
            return nullptr;
        }
    }

  private:
    bool due() const noexcept {
        if (!lastDiscovery_) return true;
        if (libraryMissing_ || (set_ && !set_->failed)) return false;
        return clock_.monotonicNow() - *lastDiscovery_ >= retryAfter;
    }

    // (Re)starts NVML and lists its GPUs; on any failure there are none until the next try.
    void discover() {
        lastDiscovery_ = clock_.monotonicNow();
        set_.reset();
        // A library that is not there is not looked for again (the search costs dozens of
        // system calls): a driver installed later is seen when the agent next starts.
        if (!nvml_ && !libraryMissing_) {
            nvml_ = Nvml::load(library_);
            libraryMissing_ = !nvml_;
        }
        if (!nvml_) return;
        if (initialised_) {
            nvml_->shutdown();
            initialised_ = false;
        }
        if (nvml_->init() != nvmlSuccess) return;
        initialised_ = true;
        unsigned count = 0;
        if (nvml_->count(&count) != nvmlSuccess) return;
        auto set = std::make_shared<GpuSet>();
        for (unsigned i = 0; i < count && i < maximumGpus; ++i) {
            NvmlDevice device = nullptr;
            if (nvml_->byIndex(i, &device) != nvmlSuccess) continue;
            // NVML writes at most the length given, terminator included; the extra byte keeps
            // a name that came back unterminated from running on.
            std::array<char, nvmlDeviceNameBufferSize + 1> name{};
            if (nvml_->name(device, name.data(), nvmlDeviceNameBufferSize) != nvmlSuccess) {
                name[0] = '\0';
            }
            std::string productName = "nvidia " + std::to_string(i);
            if (name[0] != '\0') productName += " " + std::string(name.data());
            set->gpus.push_back({device, std::move(productName)});
        }
        set_ = std::move(set);
    }

    Clock& clock_;
    std::string library_;
    std::optional<Nvml> nvml_;
    bool libraryMissing_ = false;
    bool initialised_ = false;
    std::shared_ptr<GpuSet> set_;  // null: no GPUs now
    std::optional<double> lastDiscovery_;
    int listings_;  // listings made, counted up to 2
};

}  // namespace

std::unique_ptr<TemperatureServices> makeNvidiaTemperatureServices(Clock& clock,
                                                                   std::string library,
                                                                   NvmlStart start) noexcept {
    try {
        return std::make_unique<NvidiaTemperatureServices>(clock, std::move(library), start);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

std::vector<SensorReportEntry> reportNvidiaSensors(PayloadFieldOf fieldOf,
                                                   std::string library) noexcept {
    std::vector<SensorReportEntry> entries;
    try {
        const auto services = makeNvidiaTemperatureServices(Clock::Default(), std::move(library),
                                                            NvmlStart::firstListing);
        const auto list = services ? services->copyServices() : nullptr;
        for (std::size_t i = 0; list && i < list->count(); ++i) {
            const std::string name(list->productName(i).value_or("nvidia"));
            const auto space = name.find(' ');
            SensorReportEntry entry;
            entry.path = "NVML GPU " + std::to_string(i);
            entry.chip = name.substr(0, space);
            entry.label = space == std::string::npos ? std::string() : name.substr(space + 1);
            if (const auto field = fieldOf != nullptr ? fieldOf(name) : std::nullopt) {
                entry.feeds = *field;
            } else {
                entry.whyIgnored = "not a CPU, GPU, storage or battery sensor";
            }
            entry.value = list->temperature(i);
            entries.push_back(std::move(entry));
        }
    } catch (const std::bad_alloc&) {
        // What was gathered before memory ran out is still true.
    }
    return entries;
}

}  // namespace tessly::hwmon
