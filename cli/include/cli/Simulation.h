#pragma once
// The real agent over a simulated machine: the same SensorsAgent, timer, thermal sampler and
// bridge as tessly-helper, publishing into the real container, with two differences. Before the
// first sample and before every tick the machine is moved to the current moment of the simulation
// (the seconds on the clock's monotonic time since the simulation was built), and the login-item
// service only reports what it would do: a simulation never touches the user's login item.
//
// Everything runs on the host's loop thread, like the agent itself.

#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "agent/AppHost.h"
#include "agent/LoginItems.h"
#include "agent/SensorsAgent.h"
#include "agent/SystemLog.h"
#include "base/Clock.h"
#include "platform/sim/HandDrivenHost.h"
#include "platform/sim/SimulatedMachine.h"

namespace tessly::cli {

class Simulation {
  public:
    // `host` runs the loop and `clock` stamps the payloads; both must outlive the simulation.
    // `report` receives one line for each login-item request and each log line of the agent.
    // `version` is published as the agent's version text.
    Simulation(sim::SimulatedMachine machine, AppHost& host, Clock& clock, std::ostream& report,
               std::optional<std::string> version);

    Simulation(const Simulation&) = delete;
    Simulation& operator=(const Simulation&) = delete;

    // Moves the machine to moment 0, publishes the first payload, schedules the ticks and runs
    // the host's loop. On the platform's host this returns only if the loop ends (with what
    // failed, if anything); a stop request in control.json newer than the simulation's start ends
    // the process, as it ends the agent.
    std::optional<std::string> run();

    const sim::SimulatedMachine& machine() const noexcept { return machine_; }

  private:
    // The host, with the machine moved to the present before every tick.
    class DrivenHost final : public AppHost {
      public:
        DrivenHost(Simulation& simulation, AppHost& inner)
            : simulation_(simulation), inner_(inner) {}
        void setDelegate(AppDelegate* delegate) noexcept override { inner_.setDelegate(delegate); }
        void setActivationPolicyAccessory() noexcept override {
            inner_.setActivationPolicyAccessory();
        }
        std::optional<std::string> run() override { return inner_.run(); }
        std::shared_ptr<RepeatingTimer> scheduleRepeatingTimer(
            double interval, std::function<void()> action) override;
        void terminate() noexcept override;
        void terminateWithFailure() noexcept override { inner_.terminateWithFailure(); }

      private:
        Simulation& simulation_;
        AppHost& inner_;
    };

    // Says what the platform's service would have been asked, and succeeds.
    class ReportingLoginItems final : public LoginItems {
      public:
        explicit ReportingLoginItems(std::ostream& report) : report_(report) {}
        LoginItemOutcome registerMainApp() override;
        LoginItemOutcome unregisterMainApp() override;

      private:
        std::ostream& report_;
    };

    class ReportingLog final : public SystemLog {
      public:
        explicit ReportingLog(std::ostream& report) : report_(report) {}
        void writeLine(std::string_view line) override;

      private:
        std::ostream& report_;
    };

    void moveToPresent();

    sim::SimulatedMachine machine_;
    sim::FixedVersion version_;
    Clock& clock_;
    std::ostream& report_;
    double startedAt_;  // monotonic
    DrivenHost host_;
    ReportingLoginItems loginItems_;
    ReportingLog log_;
    std::shared_ptr<SensorsAgent> agent_;
};

}  // namespace tessly::cli
