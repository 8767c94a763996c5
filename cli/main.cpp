// tessly: the command for people and scripts beside the Tessly sensor agent.
#include <chrono>
#include <iostream>
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
    const int status = tessly::cli::tesslyMain(argc, argv, console);
    std::cout.flush();
    return status;
}
