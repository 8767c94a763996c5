#include "platform/linux/NvidiaGPUs.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <new>
#include <optional>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

namespace tessly::hwmon {
namespace {

using Steady = std::chrono::steady_clock;
using namespace std::chrono_literals;

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
// How long a failure keeps NVML from being started again.
constexpr double retryAfter = 60.0;
// More GPUs than any machine holds: a count beyond is garbled.
constexpr unsigned maximumGpus = 64;
// A reading older than this is left out of a listing. The sampler lists at most every 2.0 s and
// the worker reads every second, so only a worker held in a call lets a reading grow this old.
constexpr double freshFor = 2.0;
// The worker's cadence, kept up while the source was read within keepReadingFor.
constexpr auto readEvery = 1s;
constexpr auto keepReadingFor = 5s;
// How long the trial load of the library in a child process may run before it is killed.
constexpr auto trialLoadLimit = 10s;
// How long destroying the source waits for the worker to close NVML and leave.
constexpr auto leaveWait = 500ms;

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

enum class TrialLoad {
    loadable,  // the loader survived it: dlopen here may map it
    refused,   // the loader died on it (or hung): treated as no library
    untried,   // the trial could not be run: tried again with the next start of NVML
};

// Waits for the trial's child, draining its output, until `deadline`, when it is killed.
TrialLoad awaitTrial(pid_t child, int output, Steady::time_point deadline) noexcept {
    bool draining = true;
    for (;;) {
        int status = 0;
        const pid_t ended = ::waitpid(child, &status, WNOHANG);
        if (ended == child) return WIFSIGNALED(status) ? TrialLoad::refused : TrialLoad::loadable;
        if (ended < 0 && errno != EINTR) return TrialLoad::untried;  // reaped elsewhere
        const auto left = deadline - Steady::now();
        if (left <= Steady::duration::zero()) break;
        const auto step =
            std::chrono::ceil<std::chrono::milliseconds>(std::min<Steady::duration>(left, 10ms));
        pollfd ready{output, POLLIN, 0};
        if (::poll(draining ? &ready : nullptr, draining ? 1 : 0, static_cast<int>(step.count())) >
            0) {
            std::array<char, 512> sink;
            draining = ::read(output, sink.data(), sink.size()) != 0;
        }
    }
    ::kill(child, SIGKILL);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return TrialLoad::refused;
}

// Loads `library` in a child process before this process maps it: /bin/true started with the
// library in LD_PRELOAD, so that the dynamic loader resolves the name exactly as dlopen does here
// (LD_LIBRARY_PATH, ld.so.cache, the default directories) and maps the same file. A truncated or
// half-written library has segments that reach past the end of its file; the loader touching them
// dies of SIGBUS, which here would end the agent. An ELF check of the file would have to repeat
// the loader's search to find it, and would still miss a library that crashes the loader some
// other way; the child is the loader itself.
//
// Only death by a signal, or a child still running at the limit, refuses the library. An exit
// status says nothing against it: the loader skips a preload it cannot open or parse (dlopen then
// fails cleanly here), and a library built with a sanitizer makes a program built without one
// exit with a failure status, the library being sound.
//
// The child's standard output and error go to a pipe drained and dropped here, never to a
// terminal; it gets no input and none of this process's other descriptors. The environment is
// read as it is: the programs that use this never change theirs.
TrialLoad trialLoad(const std::string& library) noexcept {
    // LD_PRELOAD splits its list at spaces and colons: such a name cannot be tried.
    if (library.empty() || library.find_first_of(" :") != std::string::npos) {
        return TrialLoad::refused;
    }
    std::vector<char*> environment;
    std::string preload;
    try {
        preload = "LD_PRELOAD=" + library;
        for (char** variable = environ; variable != nullptr && *variable != nullptr; ++variable) {
            if (!std::string_view(*variable).starts_with("LD_PRELOAD=")) {
                environment.push_back(*variable);
            }
        }
        environment.push_back(preload.data());
        environment.push_back(nullptr);
    } catch (const std::bad_alloc&) {
        return TrialLoad::untried;
    }

    int output[2];
    if (::pipe2(output, O_CLOEXEC) != 0) return TrialLoad::untried;
    posix_spawn_file_actions_t actions;
    if (::posix_spawn_file_actions_init(&actions) != 0) {
        ::close(output[0]);
        ::close(output[1]);
        return TrialLoad::untried;
    }
    char name[] = "true";
    char* const arguments[] = {name, nullptr};
    pid_t child = -1;
    const bool spawned =
        ::posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO) == 0 &&
        ::posix_spawn_file_actions_adddup2(&actions, output[1], STDERR_FILENO) == 0 &&
        ::posix_spawn_file_actions_addclose(&actions, STDIN_FILENO) == 0 &&
        ::posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1) == 0 &&
        ::posix_spawn(&child, "/bin/true", &actions, nullptr, arguments, environment.data()) == 0;
    ::posix_spawn_file_actions_destroy(&actions);
    ::close(output[1]);
    const TrialLoad trial =
        spawned ? awaitTrial(child, output[0], Steady::now() + trialLoadLimit) : TrialLoad::untried;
    ::close(output[0]);
    return trial;
}

// One GPU's latest reading.
struct Reading {
    std::optional<double> celsius;
    double takenAt = 0.0;  // when its call began, on the source's monotonic timeline
    bool taken = false;
};

// What the source and their worker share, under `mutex`. The worker holds it through a
// shared_ptr of its own, so that it outlives the source when the worker is left in a call.
struct Exchange {
    explicit Exchange(std::string name) : library(std::move(name)) {}

    const std::string library;
    std::mutex mutex;
    std::condition_variable wake;      // for the worker: a round asked for, or stop
    std::condition_variable finished;  // for the source: a round ended, or the worker left

    // Written by the source, on the thread that lists them.
    bool stop = false;
    double listedAt = 0.0;                // the source's clock at the last listing or request,
    Steady::time_point listedAtSteady{};  // and this process's steady clock at that moment
    std::uint64_t asked = 0;              // rounds asked for at once, counted

    // Written by the worker.
    std::uint64_t answered = 0;  // `asked` as it was when the last finished round began
    std::shared_ptr<const std::vector<std::string>> names;  // the GPUs now; null: none
    std::array<Reading, maximumGpus> readings{};            // by the index into `names`
    bool left = false;                                      // the worker has returned
    std::atomic<bool> unusable{false};  // no library, or a refused one: nothing, ever

    // Now on the source's monotonic timeline, as the worker tells it: the clock's value at the
    // last listing carried forward by the steady clock. The worker never calls the source's
    // clock, which is called from one thread at a time. With the system clock the two agree (its
    // monotonic time is the steady clock's); a clock that leaps ahead between listings, as a
    // test's does, only makes the worker's readings look older on it, never younger.
    double timelineNow() const noexcept {
        return listedAt + std::chrono::duration<double>(Steady::now() - listedAtSteady).count();
    }
};

// Everything NVML, on the worker thread only: the library, its initialisation and the GPU
// handles live here and nowhere else.
class Worker {
  public:
    explicit Worker(Exchange& exchange) noexcept : x_(exchange) {}
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    void run() noexcept {
        std::unique_lock lock(x_.mutex);
        auto nextRound = Steady::time_point{};
        while (awaitRound(lock, nextRound)) {
            const std::uint64_t request = x_.asked;
            const double listedAt = x_.listedAt;
            nextRound = Steady::now() + readEvery;
            lock.unlock();
            round(lock, listedAt);
            lock.lock();
            x_.answered = request;
            x_.finished.notify_all();
            if (libraryMissing_) {
                x_.unusable.store(true, std::memory_order_release);
                break;
            }
        }
        lock.unlock();
        if (nvml_) {
            if (initialised_) nvml_->shutdown();
            ::dlclose(nvml_->handle);
        }
        lock.lock();
        x_.left = true;
        x_.finished.notify_all();
    }

  private:
    struct Gpu {
        NvmlDevice device;
        bool lost = false;
    };

    // Waits until a round is asked for, or is due by the cadence while there are GPUs and the
    // the source was read lately; false once told to stop.
    bool awaitRound(std::unique_lock<std::mutex>& lock, Steady::time_point nextRound) {
        for (;;) {
            if (x_.stop) return false;
            if (x_.asked != x_.answered) return true;
            const auto now = Steady::now();
            const auto idleFrom = x_.listedAtSteady + keepReadingFor;
            const bool reading = x_.names != nullptr && now < idleFrom;
            if (reading && now >= nextRound) return true;
            if (reading) {
                x_.wake.wait_until(lock, std::min(nextRound, idleFrom));
            } else {
                x_.wake.wait(lock);
            }
        }
    }

    // Starts NVML when due, then reads every GPU, handing each reading over as it comes.
    void round(std::unique_lock<std::mutex>& lock, double listedAt) noexcept {
        if (due(listedAt)) discover(lock, listedAt);
        for (std::size_t i = 0; i < gpus_.size(); ++i) {
            lock.lock();
            const double takenAt = x_.timelineNow();
            const bool stop = x_.stop;
            lock.unlock();
            if (stop) return;
            const auto celsius = temperature(gpus_[i]);
            lock.lock();
            x_.readings[i] = {celsius, takenAt, true};
            lock.unlock();
        }
    }

    bool due(double listedAt) const noexcept {
        if (!lastDiscovery_) return true;
        if (libraryMissing_ || (listed_ && !failed_)) return false;
        return listedAt - *lastDiscovery_ >= retryAfter;
    }

    void publish(std::unique_lock<std::mutex>& lock,
                 std::shared_ptr<const std::vector<std::string>> names) noexcept {
        lock.lock();
        x_.names = std::move(names);
        x_.readings = {};
        lock.unlock();
    }

    // (Re)starts NVML and lists its GPUs; on any failure there are none until the next try.
    void discover(std::unique_lock<std::mutex>& lock, double listedAt) noexcept {
        lastDiscovery_ = listedAt;
        gpus_.clear();
        listed_ = false;
        failed_ = false;
        publish(lock, nullptr);
        // A library that is not there is not looked for again (the search costs dozens of
        // system calls and a process): a driver installed later is seen when the agent next
        // starts.
        if (!nvml_ && !libraryMissing_) {
            const TrialLoad trial = trialLoad(x_.library);
            lock.lock();
            const bool stop = x_.stop;  // not loaded for a source that is gone
            lock.unlock();
            if (stop) return;
            switch (trial) {
                case TrialLoad::untried:
                    return;
                case TrialLoad::refused:
                    libraryMissing_ = true;
                    return;
                case TrialLoad::loadable:
                    nvml_ = Nvml::load(x_.library);
                    libraryMissing_ = !nvml_;
                    break;
            }
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
        try {
            auto names = std::make_shared<std::vector<std::string>>();
            for (unsigned i = 0; i < count && i < maximumGpus; ++i) {
                NvmlDevice device = nullptr;
                if (nvml_->byIndex(i, &device) != nvmlSuccess) continue;
                // NVML writes at most the length given, terminator included; the extra byte
                // keeps a name that came back unterminated from running on.
                std::array<char, nvmlDeviceNameBufferSize + 1> name{};
                if (nvml_->name(device, name.data(), nvmlDeviceNameBufferSize) != nvmlSuccess) {
                    name[0] = '\0';
                }
                std::string productName = "nvidia " + std::to_string(i);
                if (name[0] != '\0') productName += " " + std::string(name.data());
                names->push_back(std::move(productName));
                gpus_.push_back({device});
            }
            listed_ = true;
            if (!names->empty()) publish(lock, std::move(names));
        } catch (const std::bad_alloc&) {
            gpus_.clear();  // tried again a minute on
        }
    }

    std::optional<double> temperature(Gpu& gpu) noexcept {
        if (gpu.lost) return std::nullopt;
        unsigned celsius = 0;
        const NvmlReturn result = nvml_->temperature(gpu.device, nvmlTemperatureGpu, &celsius);
        if (result != nvmlSuccess) {
            failed_ = true;
            if (result == nvmlErrorGpuIsLost) gpu.lost = true;
            return std::nullopt;
        }
        if (celsius < lowestCelsius || celsius > highestCelsius) return std::nullopt;
        return static_cast<double>(celsius);
    }

    Exchange& x_;
    std::optional<Nvml> nvml_;
    bool libraryMissing_ = false;
    bool initialised_ = false;
    std::vector<Gpu> gpus_;
    bool listed_ = false;  // the last discovery listed the GPUs
    bool failed_ = false;  // a call failed since: discover again when due
    std::optional<double> lastDiscovery_;
};

void work(std::shared_ptr<Exchange> exchange) noexcept {
    Worker(*exchange).run();
}

class NvidiaTemperatureSource final : public TemperatureSource {
  public:
    NvidiaTemperatureSource(Clock& clock, std::string library, NvmlStart start)
        : clock_(clock),
          exchange_(std::make_shared<Exchange>(std::move(library))),
          startsAtOnce_(start == NvmlStart::firstReading),
          started_(startsAtOnce_) {}

    NvidiaTemperatureSource(const NvidiaTemperatureSource&) = delete;
    NvidiaTemperatureSource& operator=(const NvidiaTemperatureSource&) = delete;

    // The worker is told to stop and given a moment to close NVML. One held in a driver call (a
    // GPU that fell off the bus can hold it for seconds, or for good) cannot be interrupted, and
    // waiting for it would stop the agent's tick, or its exit, with it: it is detached instead,
    // and finishes alone when the call returns, closing NVML and leaving. That is safe because
    // everything it touches (the library handle, NVML's handles, the exchange) it owns itself,
    // through its shared_ptr; nothing of this source. Should the process end first, the call
    // ends with it.
    ~NvidiaTemperatureSource() override {
        if (!worker_.joinable()) return;
        Exchange& x = *exchange_;
        bool left = false;
        {
            std::unique_lock lock(x.mutex);
            x.stop = true;
            x.wake.notify_all();
            left = x.finished.wait_for(lock, leaveWait, [&] { return x.left; });
        }
        if (left) {
            worker_.join();
        } else {
            worker_.detach();
        }
    }

    // Each GPU's latest reading at most freshFor old is a GPU temperature. False, with nothing
    // added, when no GPU has one (also on the first call, which starts nothing).
    bool readTemperatures(TemperatureSink& sink) noexcept override {
        if (!started_) {
            started_ = true;
            return false;
        }
        if (exchange_->unusable.load(std::memory_order_acquire)) return false;
        std::size_t added = 0;
        return request(&sink, &added, false) && added > 0;
    }

    bool await(double limitSeconds) noexcept {
        if (!startsAtOnce_ && !worker_.joinable()) return false;
        const auto target = request(nullptr, nullptr, true);
        if (!target) return false;
        Exchange& x = *exchange_;
        std::unique_lock lock(x.mutex);
        return x.finished.wait_for(lock, std::chrono::duration<double>(limitSeconds),
                                   [&] { return x.answered >= *target || x.left; });
    }

    // Every GPU of the latest discovery with its reading, if one was taken.
    std::vector<std::pair<std::string, std::optional<double>>> readings() {
        Exchange& x = *exchange_;
        std::lock_guard lock(x.mutex);
        std::vector<std::pair<std::string, std::optional<double>>> all;
        for (std::size_t i = 0; x.names && i < x.names->size(); ++i) {
            const Reading& reading = x.readings[i];
            all.emplace_back((*x.names)[i], reading.taken ? reading.celsius : std::nullopt);
        }
        return all;
    }

  private:
    bool startWorker() noexcept {
        if (worker_.joinable()) return true;
        try {
            worker_ = std::thread(work, exchange_);
            return true;
        } catch (const std::system_error&) {
        } catch (const std::bad_alloc&) {
        }
        return false;
    }

    // Tells the worker the time on the source's clock, adds the readings at most freshFor old to
    // `sink` (where given, counting them in `added`), and asks for a round at once when `now` is
    // set or a GPU has no such reading. The number of that request (or of the last one); nothing
    // when no worker can run.
    std::optional<std::uint64_t> request(TemperatureSink* sink, std::size_t* added,
                                         bool now) noexcept {
        if (!startWorker()) return std::nullopt;
        const double time = clock_.monotonicNow();
        Exchange& x = *exchange_;
        std::lock_guard lock(x.mutex);
        x.listedAt = time;
        x.listedAtSteady = Steady::now();
        bool complete = x.names != nullptr;
        for (std::size_t i = 0; sink != nullptr && x.names && i < x.names->size(); ++i) {
            const Reading& reading = x.readings[i];
            if (!reading.taken || time - reading.takenAt > freshFor) {
                complete = false;
                continue;
            }
            if (reading.celsius) {
                sink->add(TemperatureCategory::gpu, *reading.celsius);
                ++*added;
            }
        }
        if (now || !complete) {
            ++x.asked;
            x.wake.notify_one();
        }
        return x.asked;
    }

    Clock& clock_;
    std::shared_ptr<Exchange> exchange_;
    const bool startsAtOnce_;
    bool started_;  // the next listing may start the worker
    std::thread worker_;
};

}  // namespace

std::unique_ptr<TemperatureSource> makeNvidiaTemperatureSource(Clock& clock, std::string library,
                                                               NvmlStart start) {
    return std::make_unique<NvidiaTemperatureSource>(clock, std::move(library), start);
}

bool awaitNvidiaReading(TemperatureSource& source, double limitSeconds) noexcept {
    auto* nvidia = dynamic_cast<NvidiaTemperatureSource*>(&source);
    return nvidia != nullptr && nvidia->await(limitSeconds);
}

std::vector<SensorReportEntry> reportNvidiaSensors(std::string library, double limitSeconds) {
    std::vector<SensorReportEntry> entries;
    {
        NvidiaTemperatureSource source(Clock::Default(), std::move(library),
                                       NvmlStart::firstReading);
        // A GPU whose call has not returned by then is listed without a value; when NVML did not
        // even start, there is nothing to list.
        source.await(limitSeconds);
        const auto readings = source.readings();
        for (std::size_t i = 0; i < readings.size(); ++i) {
            const auto& [name, celsius] = readings[i];
            const auto space = name.find(' ');
            SensorReportEntry entry;
            entry.path = "NVML GPU " + std::to_string(i);
            entry.chip = name.substr(0, space);
            entry.label = space == std::string::npos ? std::string() : name.substr(space + 1);
            entry.feeds = payloadField(TemperatureCategory::gpu);
            entry.value = celsius;
            entries.push_back(std::move(entry));
        }
    }
    return entries;
}

}  // namespace tessly::hwmon
