// `tessly simulate`: the agent over a built-in simulated machine.

#include <TesslyKit/PayloadStatus.h>

#include <string>

#include "agent/PublisherLock.h"
#include "cli/Commands.h"
#include "cli/Format.h"
#include "cli/PayloadText.h"
#include "cli/Simulation.h"
#include "cli/TextTable.h"

namespace tessly::cli {

int runSimulateList(Console& console) {
    TextTable table({22});
    for (const auto& machine : sim::SimulatedMachine::catalog()) {
        const bool first = &machine == sim::SimulatedMachine::catalog().data();
        table.add({std::string(machine.name),
                   std::string(machine.description) + (first ? " (the default)" : "")});
    }
    console.out << table.text();
    return exitOK;
}

int runSimulate(Console& console, std::string_view machineName, WhilePublishing whilePublishing) {
    auto machine = sim::SimulatedMachine::make(machineName);
    if (!machine) {
        console.err << "tessly: there is no simulated machine named " << machineName
                    << "\nRun 'tessly simulate --list' to see them.\n";
        return exitUsage;
    }

    // Two writers of one payload file would interleave their samples; refuse unless asked.
    const PayloadStatus status = payloadStatus(console.clock.wallNow());
    if (const std::string blocked = blockedPathText(status.file); !blocked.empty()) {
        console.err << "tessly: " << blocked << ", so there is nowhere to publish\n";
        return exitFailure;
    }
    if (status.state == PayloadStatus::State::noContainer) {
        console.err << "tessly: the shared container cannot be located (no home directory is "
                       "known), so there is nowhere to publish\n";
        return exitFailure;
    }
    if (status.state == PayloadStatus::State::current &&
        whilePublishing == WhilePublishing::refuse) {
        console.err << "tessly: fresh payloads are being published already (the last one is "
                    << durationText(status.age.value_or(0))
                    << " old): an agent or another simulation is running. Stop it with 'tessly "
                       "control stop' (or wait until its payload is stale), or pass --force.\n";
        return exitFailure;
    }

    // A simulation publishes as an agent does, so it holds the agent's lock while it runs: a real
    // agent started meanwhile leaves, and `tessly control stop` waits for the simulation to end.
    // Where an agent holds the lock already, its payload may be stale (a tick stuck in a driver)
    // but it still runs.
    const PublisherLock lock = PublisherLock::acquire();
    if (lock.outcome() == PublisherLock::Outcome::heldElsewhere &&
        whilePublishing == WhilePublishing::refuse) {
        console.err << "tessly: an agent or another simulation is running (it holds the lock on "
                    << terminalSafe(status.file.parent_path().string())
                    << "). Stop it with 'tessly control stop', or pass --force.\n";
        return exitFailure;
    }

    console.err << "tessly simulate: " << machine->info().name << " publishing to "
                << terminalSafe(status.file.string())
                << " every second; Ctrl-C or 'tessly control stop' ends it\n"
                << std::flush;
    // Marked as simulated in the build metadata, which does not change the version's precedence.
    Simulation simulation(std::move(*machine), console.host, console.clock, console.err,
                          std::string(versionText()) + std::string(simulatedSuffix));
    if (const auto failure = simulation.run()) {
        console.err << "tessly simulate: " << terminalSafe(*failure) << "\n";
        return exitFailure;
    }
    return exitOK;
}

}  // namespace tessly::cli
