// `tessly control`: the control record, as a main application writes it.

#include <TesslyKit/PayloadStatus.h>
#include <TesslyKit/SensorBridge.h>
#include <TesslyKit/SharedContainer.h>

#include <optional>
#include <string>

#include "agent/PublisherLock.h"
#include "cli/Commands.h"
#include "cli/Format.h"
#include "cli/PayloadText.h"
#include "cli/TextTable.h"

namespace tessly::cli {
namespace {

// The width of the labels of `show`.
constexpr int labelWidth = 13;
// How long `stop` waits for the agent's lock to be released: an agent reads the control file at
// the start of every one-second tick and ends within it.
constexpr double lockWait = 5.0;
// How often it looks.
constexpr double stopPoll = 0.1;

// A control.json temporary this old cannot belong to a write still in progress.
constexpr double leftoverTemporaryAge = 60.0;

const char* onOff(bool value) {
    return value ? "on" : "off";
}

// Writes the record and reads it back: the bridge reports nothing, so the read is the proof.
bool writeAndConfirm(Console& console, const SensorControl& control) {
    // Temporaries of control.json left by a writer killed mid-write are this side's to sweep:
    // the agent only ever removes its own.
    SharedContainer::removeStaleTemporaries("control.json", leftoverTemporaryAge);
    SensorBridge::writeControl(control);
    const auto back = SensorBridge::readControl();
    if (back && back->autostart == control.autostart &&
        back->stopRequestedAt == control.stopRequestedAt) {
        return true;
    }
    const ControlStatus status = controlStatus();
    if (status.file.empty()) {
        console.err << "tessly: cannot write the control record (no home directory is known)\n";
        return false;
    }
    const std::string blocked = blockedPathText(status.file);
    console.err << "tessly: cannot write the control record to "
                << terminalSafe(status.file.string()) << (blocked.empty() ? "" : ": " + blocked)
                << "\n";
    return false;
}

// The record to build on: the current one, or none when there is none; an unreadable or invalid
// file is replaced, which is said.
std::optional<SensorControl> currentControl(Console& console) {
    const ControlStatus status = controlStatus();
    if (status.state == ControlStatus::State::invalid ||
        status.state == ControlStatus::State::unreadable) {
        console.err << "tessly: replacing " << terminalSafe(status.file.string())
                    << ", which does not hold a valid control record\n";
    }
    return status.control;
}

}  // namespace

int runControlShow(Console& console) {
    using State = ControlStatus::State;
    const ControlStatus status = controlStatus();
    const std::string file = terminalSafe(status.file.string());
    switch (status.state) {
        case State::present:
            break;
        case State::missing:
            if (const std::string blocked = blockedPathText(status.file); !blocked.empty()) {
                console.err << "tessly: " << blocked << ", so there can be no " << file << "\n";
                return exitFailure;
            }
            console.out << "No control record: " << file
                        << " does not exist. An agent then unregisters its login item and runs "
                           "until it is stopped.\n";
            return exitFailure;
        case State::unreadable:
            console.err << "tessly: " << file
                        << " cannot be read (it must be a regular file of at most 1 MiB)\n";
            return exitFailure;
        case State::unavailable:
            console.err << "tessly: " << file << " cannot be read now: " << errorText(status.error)
                        << "\n";
            return exitFailure;
        case State::invalid:
            console.err << "tessly: " << file << " does not hold a valid control record\n";
            return exitFailure;
        case State::noContainer:
            console.err << "tessly: the shared container cannot be located (no home directory "
                           "is known)\n";
            return exitFailure;
    }

    const SensorControl& control = *status.control;
    std::string stop = "none";
    if (control.stopRequestedAt) {
        const double at = *control.stopRequestedAt;
        const double ago = console.clock.wallNow() - at;
        stop = utcTime(at, 3) + ", " +
               (ago >= 0 ? durationText(ago) + " ago" : "in " + durationText(ago)) +
               " (agents launched before it stop)";
    }
    console.out
        << TextTable({labelWidth})
               .add({"Autostart",
                     std::string(onOff(control.autostart)) +
                         (control.autostart ? " (the agent keeps itself registered as a login item)"
                                            : " (the agent keeps itself unregistered)")})
               .add({"Stop request", stop})
               .add({"File", file})
               .add({"Payload", terminalSafe(payloadStatus(console.clock.wallNow()).file.string())})
               .text();
    return exitOK;
}

int runControlAutostart(Console& console, Autostart wish) {
    const bool autostart = wish == Autostart::on;
    const auto previous = currentControl(console);
    SensorControl control;
    control.autostart = autostart;
    if (previous) control.stopRequestedAt = previous->stopRequestedAt;
    if (!writeAndConfirm(console, control)) return exitFailure;
    console.out << "Autostart " << onOff(autostart) << ": a running agent "
                << (autostart ? "registers itself as a login item" : "unregisters its login item")
                << " on its next tick.\n";
    return exitOK;
}

int runControlStop(Console& console) {
    const auto previous = currentControl(console);
    const double requestedAt = console.clock.wallNow();

    SensorControl control;
    control.autostart = previous ? previous->autostart : false;
    control.stopRequestedAt = requestedAt;
    if (!writeAndConfirm(console, control)) return exitFailure;
    console.out << "Stop requested at " << utcTime(requestedAt, 3) << ".\n";

    // The agent's lock says whether one still runs, whatever it publishes: one stuck in a slow
    // tick, or one whose writes fail, publishes nothing and yet has not stopped.
    PublisherLock::Holder holder = PublisherLock::probe();
    if (holder == PublisherLock::Holder::unknown) {
        // Only a process out of descriptors or memory gets here: the container was just written.
        console.out << "Whether an agent still runs cannot be told now. The request stands for "
                       "every agent launched before it.\n";
        return exitOK;
    }
    if (holder == PublisherLock::Holder::none) {
        console.out << "No agent was running. The request stands for every agent launched "
                       "before it.\n";
        return exitOK;
    }
    while (holder == PublisherLock::Holder::agent &&
           console.clock.wallNow() < requestedAt + lockWait) {
        console.pause(stopPoll);
        holder = PublisherLock::probe();
    }
    if (holder == PublisherLock::Holder::agent) {
        console.err << "tessly: an agent still runs " << durationText(lockWait)
                    << " after the request: one launched after it, or one that cannot read "
                       "control.json\n";
        return exitFailure;
    }
    console.out << "The agent stopped";
    const PayloadStatus last = payloadStatus(console.clock.wallNow());
    if (last.payload) {
        const double lastBefore = requestedAt - last.payload->sampledAt;
        console.out << ": its last sample was taken " << durationText(lastBefore)
                    << (lastBefore >= 0 ? " before" : " after") << " the request";
    }
    console.out << ".\n";
    return exitOK;
}

}  // namespace tessly::cli
