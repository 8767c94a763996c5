#pragma once
// The agent: at launch and then once a second it applies the control file and publishes one
// sample of the machine's sensors as "sensors.json" in the shared container.
//
// Everything runs on the loop's thread. The entry point owns the agent through a shared_ptr for
// the life of the process; the timer's action holds it only weakly.

#include <memory>
#include <optional>
#include <string>

#include <TesslyKit/Records.h>
#include <TesslyKit/SensorBridge.h>

#include "agent/AppHost.h"
#include "agent/ControlReader.h"
#include "agent/LoginItems.h"
#include "agent/SystemLog.h"
#include "agent/VersionSource.h"
#include "base/Clock.h"
#include "fans/FanSource.h"
#include "thermal/ThermalSampler.h"

namespace tessly {

class SensorsAgent final : public AppDelegate, public std::enable_shared_from_this<SensorsAgent> {
  public:
    // The platform services the agent talks to; each must outlive the agent.
    struct Services {
        AppHost& app;
        LoginItems& loginItems;
        SystemLog& log;
        Clock& clock;
        VersionSource& version;  // asked once, on first use, and fixed for the agent's life

        // The platform's services. Only an entry point, which links the platform, calls this.
        static Services Default() {
            return {AppHost::Default(), LoginItems::Default(), SystemLog::Default(),
                    Clock::Default(), VersionSource::Default()};
        }
    };

    // The seconds between two ticks.
    static constexpr double tickInterval = 1.0;

    // The platform's sensors and services, in the order the agent is built: the thermal sampler
    // first, then the fan source, then the launch time. Only an entry point, which links the
    // platform, calls this.
    SensorsAgent()
        : thermal_(),
          fans_(FanSource::Default()),
          services_(Services::Default()),
          launchedAt_(services_.clock.wallNow()) {}
    // An injected sampler, fan source (null: no fans) and services (tests, simulated machines).
    SensorsAgent(ThermalSampler thermal, std::unique_ptr<FanSource> fans, Services services);

    SensorsAgent(const SensorsAgent&) = delete;
    SensorsAgent& operator=(const SensorsAgent&) = delete;

    // Applies control and publishes once, then schedules the repeating tick. The agent must be
    // owned by a shared_ptr when this is called. Without a timer the agent logs why and ends the
    // process with a failure.
    void applicationDidFinishLaunching() override;

    double launchedAt() const noexcept { return launchedAt_; }
    const std::optional<ThermalReading>& lastThermal() const noexcept { return lastThermal_; }
    std::optional<bool> lastAutostart() const noexcept { return lastAutostart_; }
    bool hasTimer() const noexcept { return timer_ != nullptr; }

  private:
    // One tick: applyControl, then sampleAndWrite. A tick whose memory runs out is dropped
    // whole where it stands; the next tick starts afresh.
    void tick() noexcept;
    void applyControl();
    void sampleAndWrite();
    const std::optional<std::string>& version();
    // Says once, in the system log, when publishing starts to fail (the file and the reason),
    // and once when it works again; nothing per tick. The library's write itself stays quiet.
    void notePublishing(const SensorBridge::WriteOutcome& outcome);

    ThermalSampler thermal_;
    std::unique_ptr<FanSource> fans_;
    std::shared_ptr<RepeatingTimer> timer_;
    std::optional<ThermalReading> lastThermal_;
    Services services_;
    double launchedAt_;
    std::optional<bool> lastAutostart_;
    std::optional<std::optional<std::string>> version_;
    ControlReader control_;
    bool publishFailing_ = false;
};

}  // namespace tessly
