#include "agent/SensorsAgent.h"

#include <TesslyKit/PayloadStatus.h>
#include <TesslyKit/SensorBridge.h>
#include <TesslyKit/SharedContainer.h>

#include <new>
#include <string>
#include <system_error>

namespace tessly {
namespace {

constexpr std::string_view loginItemFailurePrefix = "Tessly Helper: login-item update failed: ";
constexpr std::string_view timerFailureLine = "Tessly Helper: the tick timer cannot be created";
constexpr std::string_view publishFailurePrefix = "Tessly Helper: cannot publish ";
constexpr std::string_view publishResumedPrefix = "Tessly Helper: publishing again to ";

// Temporaries of "sensors.json" left by a write that a kill interrupted are swept at launch once
// they are this old, so repeated crashes cannot fill the container. Younger ones may belong to
// another agent writing right now.
constexpr double leftoverTemporaryAge = 60.0;

}  // namespace

SensorsAgent::SensorsAgent(ThermalSampler thermal, std::unique_ptr<FanSource> fans,
                           Services services)
    : thermal_(std::move(thermal)),
      fans_(std::move(fans)),
      services_(std::move(services)),
      launchedAt_(services_.clock.wallNow()) {}

void SensorsAgent::applicationDidFinishLaunching() {
    SharedContainer::removeStaleTemporaries("sensors.json", leftoverTemporaryAge);

    tick();

    std::weak_ptr<SensorsAgent> weakAgent = weak_from_this();
    timer_ = services_.app.scheduleRepeatingTimer(tickInterval, [weakAgent] {
        const auto agent = weakAgent.lock();
        if (agent) agent->tick();
    });
    // Without its timer the agent would publish one payload and then fall silent while its
    // process lives on; it says so and ends with a failure instead.
    if (!timer_) {
        services_.log.writeLine(timerFailureLine);
        services_.app.terminateWithFailure();
    }
}

void SensorsAgent::tick() noexcept {
    try {
        applyControl();
        sampleAndWrite();
    } catch (const std::bad_alloc&) {  // nothing published; the last payload stays
    }
}

void SensorsAgent::applyControl() {
    // As SensorBridge::readControl, but a read that failed for a reason that says nothing about
    // the file (descriptors or memory ran out, an I/O error) changes nothing on this tick: taking
    // it for "no record" would unregister the login item the user asked for, and miss a stop.
    // An unchanged file costs one stat (ControlReader).
    const ControlStatus& status = control_.read();
    if (!status.isConclusive()) return;
    const auto& control = status.control;

    // A stop request addresses every agent launched before the moment it names, and no later one.
    if (control && control->stopRequestedAt && *control->stopRequestedAt > launchedAt_) {
        services_.app.terminate();
        return;
    }

    const bool desired = control ? control->autostart : false;
    if (lastAutostart_ == desired) return;

    // Recorded before the request and kept when it fails: a failed request is not retried until
    // the wish changes or the agent starts anew.
    lastAutostart_ = desired;
    const LoginItemOutcome outcome =
        desired ? services_.loginItems.registerMainApp() : services_.loginItems.unregisterMainApp();
    if (!outcome.succeeded) {
        std::string line(loginItemFailurePrefix);
        line += outcome.errorDescription;
        services_.log.writeLine(line);
    }
}

void SensorsAgent::sampleAndWrite() {
    if (auto reading = thermal_.sample()) lastThermal_ = std::move(reading);
    auto fan = fans_ ? fans_->readFans() : std::nullopt;

    SensorsPayload payload;
    payload.thermal = lastThermal_;
    payload.fan = std::move(fan);
    payload.sampledAt = services_.clock.wallNow();  // after both samplers have returned
    payload.helperVersion = version();
    notePublishing(SensorBridge::writeReporting(payload));
}

void SensorsAgent::notePublishing(const SensorBridge::WriteOutcome& outcome) {
    using State = SensorBridge::WriteOutcome::State;
    // A payload that cannot be encoded says nothing about the file: the previous one stays.
    if (outcome.state == State::notEncodable) return;
    const bool failing = outcome.state != State::written;
    if (failing == publishFailing_) return;
    // Recorded first: should the line be lost for want of memory, it is not repeated.
    publishFailing_ = failing;
    const auto* container = SharedContainer::lookUpDirectory();
    const std::string file =
        container ? (*container / "sensors.json").string() : std::string("sensors.json");
    std::string line;
    if (!failing) {
        line = std::string(publishResumedPrefix) + file;
    } else if (outcome.state == State::noContainer) {
        line = std::string(publishFailurePrefix) + "sensors.json: no home directory is known";
    } else {
        line = std::string(publishFailurePrefix) + file + ": " +
               std::generic_category().message(outcome.error);
    }
    services_.log.writeLine(line);
}

const std::optional<std::string>& SensorsAgent::version() {
    if (!version_) version_ = services_.version.versionText();
    return *version_;
}

}  // namespace tessly
