// tessly: the command for people and scripts beside the Tessly sensor agent.
#include <chrono>
#include <iostream>
#include <thread>

#include "cli/Commands.h"
#include "cli/Console.h"
#include "platform/AppHost.h"
#include "platform/Clock.h"

int main(int argc, char** argv) {
    tessly::cli::Console console{
        std::cout,
        std::cerr,
        tessly::Clock::system(),
        [](double seconds) { std::this_thread::sleep_for(std::chrono::duration<double>(seconds)); },
        tessly::AppHost::shared(),
    };
    const int status = tessly::cli::tesslyMain(argc, argv, console);
    std::cout.flush();
    return status;
}
