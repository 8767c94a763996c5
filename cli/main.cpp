// tessly: the command for people and scripts beside the Tessly sensor agent.
#include <chrono>
#include <iostream>
#include <string_view>
#include <thread>

#include "agent/AppHost.h"
#include "base/Clock.h"
#include "cli/Commands.h"
#include "cli/Console.h"

int main(int argc, char** argv) {
    tessly::cli::Console console{
        std::cout,
        std::cerr,
        tessly::Clock::Default(),
        [](double seconds) { std::this_thread::sleep_for(std::chrono::duration<double>(seconds)); },
        tessly::AppHost::Default(),
    };
    // Started by a path (not found through PATH): suggestions name that path, so that they run
    // as typed where "tessly" alone is no command.
    if (argc > 0 && argv[0] != nullptr &&
        std::string_view(argv[0]).find('/') != std::string_view::npos)
        console.program = argv[0];
    const int status = tessly::cli::tesslyMain(argc, argv, console);
    std::cout.flush();
    return status;
}
