#include "cli/Simulation.h"

#include <utility>

#include "cli/Format.h"
#include "thermal/ThermalSampler.h"

namespace tessly::cli {

Simulation::Simulation(sim::SimulatedMachine machine, AppHost& host, Clock& clock,
                       std::ostream& report, std::optional<std::string> version)
    : machine_(std::move(machine)),
      version_(std::move(version)),
      clock_(clock),
      report_(report),
      startedAt_(clock.monotonicNow()),
      host_(*this, host),
      loginItems_(report),
      log_(report) {
    // The same construction order as the agent's own: thermal sampler, then fan source.
    ThermalSampler thermal(machine_.temperatureSource(), clock_);
    auto fans = machine_.fanSource();
    agent_ = std::make_shared<SensorsAgent>(
        std::move(thermal), std::move(fans),
        SensorsAgent::Services{host_, loginItems_, log_, clock_, version_});
}

std::optional<std::string> Simulation::run() {
    moveToPresent();
    host_.setDelegate(agent_.get());
    host_.setActivationPolicyAccessory();
    return host_.run();
}

void Simulation::moveToPresent() {
    machine_.advanceTo(clock_.monotonicNow() - startedAt_);
}

std::shared_ptr<RepeatingTimer> Simulation::DrivenHost::scheduleRepeatingTimer(
    double interval, std::function<void()> action) {
    return inner_.scheduleRepeatingTimer(interval, [this, action = std::move(action)] {
        simulation_.moveToPresent();
        action();
    });
}

void Simulation::DrivenHost::terminate() noexcept {
    // The stream throws nothing: a report that cannot be written sets its error state only.
    simulation_.report_ << "tessly simulate: a stop was requested in control.json; the "
                           "simulation ends\n"
                        << std::flush;
    inner_.terminate();
}

LoginItemOutcome Simulation::ReportingLoginItems::registerMainApp() {
    report_ << "tessly simulate: the agent would register itself as a login item now "
               "(a simulation leaves the real login item alone)\n"
            << std::flush;
    return LoginItemOutcome::success();
}

LoginItemOutcome Simulation::ReportingLoginItems::unregisterMainApp() {
    report_ << "tessly simulate: the agent would unregister its login item now "
               "(a simulation leaves the real login item alone)\n"
            << std::flush;
    return LoginItemOutcome::success();
}

void Simulation::ReportingLog::writeLine(std::string_view line) {
    report_ << "tessly simulate: log: " << terminalSafe(line) << '\n' << std::flush;
}

}  // namespace tessly::cli
