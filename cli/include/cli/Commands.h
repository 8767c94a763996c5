#pragma once
// The `tessly` command line and each of its commands. Every command returns the process's exit
// status: 0 when it did what was asked, 1 when the thing asked for is not there or could not be
// done (no current payload, no control record, a file that cannot be written, fresh payloads
// already being published), 2 for a command line that cannot be understood.

#include <string>
#include <string_view>

#include <TesslyKit/Records.h>

#include "cli/Console.h"

namespace tessly::cli {

inline constexpr int exitOK = 0;
inline constexpr int exitFailure = 1;
inline constexpr int exitUsage = 2;

// What `tessly simulate` appends to the version it publishes ("0.1.0+sim"), by which readers tell
// a simulated payload from a real one.
inline constexpr std::string_view simulatedSuffix = "+sim";

// The version text of this build of tessly.
std::string_view versionText() noexcept;

// Parses `argv` (argv[0] is the program name) and runs the command it names. Where memory runs
// out anywhere in the command, it ends with "tessly: out of memory" and status 1.
int tesslyMain(int argc, const char* const* argv, Console& console);

// How a command prints what it found.
enum class Output { text, json };
// What the login item is to be.
enum class Autostart { off, on };
// What `simulate` does while fresh payloads are being published already.
enum class WhilePublishing { refuse, startAnyway };

int runRead(Console& console, Output output);
int runExport(Console& console, const std::string& outputFile);  // "" for standard output
int runControlShow(Console& console);
int runControlAutostart(Console& console, Autostart autostart);
int runControlStop(Console& console);
int runSimulateList(Console& console);
int runSimulate(Console& console, std::string_view machine, WhilePublishing whilePublishing);
int runSensors(Console& console, Output output, const std::string& sysfsRoot);
// Copies the hwmon chips and power supplies under `sysfsRoot` into the new or empty `directory`.
int runCapture(Console& console, const std::string& directory, const std::string& sysfsRoot);
// Reads the terminal's own descriptors: standard input for keys, standard output for the view.
int runWatch(Console& console, double interval);

// Whether a payload holds no temperature and no fan reading.
bool holdsNoReadings(const SensorsPayload& payload) noexcept;
// What to tell someone whose payload holds no readings, in lines: why, and what to do. Empty where
// this machine has sensors that feed the payload (the reason then lies elsewhere). Each OS says it
// its own way; on Linux, from the sensors found under `sysfsRoot`.
// `program` is the command as the user can type it (Console::program).
std::string sensorlessHint(const std::string& sysfsRoot, std::string_view program);

// The command `program` as it can be typed into a shell: as it is when it holds nothing a shell
// would act on, else in single quotes.
std::string shellWord(std::string_view program);

}  // namespace tessly::cli
