// Entry point of the core process: settings, command line, the three modules and the stop order.
#include <cstdlib>
#include <iostream>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

#include "Configuration.h"
#include "CoreParams.h"
#include "NumberConversion.h"
#include "Scales2.h"
#include "ServerJson.h"
#include "SettingsFile.h"
#include "Vision.h"

namespace {

// A thread that cannot be created leaves the process unable to serve: it says so and ends.
template <typename... Args>
bool StartThread(std::thread& thread, const char* name, Args&&... args) {
    try {
        thread = std::thread(std::forward<Args>(args)...);
        return true;
    } catch (const std::system_error& error) {
        std::cout << "CORE: Unable to start the " << name << " thread: " << error.what()
                  << std::endl;
        return false;
    }
}

}  // namespace

int main(int argc, char* argv[]) {
    bool disable_lidar = false;
    bool disable_scales = false;
    CoreParams* coreParams = CoreParams::getInstance();
    if (!LoadSettingsFile(kSettingsFilePath, *coreParams)) {
        std::cout << "CORE: Failed to parse toml file!" << std::endl;
        return 0;
    }

    Configuration* configuration = Configuration::getInstance();
    configuration->SetRegionOffset(
        {TruncateToInt(coreParams->RegionOffsetX), TruncateToInt(coreParams->RegionOffsetY)});
    configuration->SetRegion({coreParams->RegionWidth, coreParams->RegionHeight});
    std::cout << "CORE: 22Region Offset found X=" << coreParams->RegionOffsetX
              << " Y=" << coreParams->RegionOffsetY << std::endl;

    for (int i = 0; i < argc; ++i) {
        const std::string word = argv[i];
        std::cout << i << " " << word << std::endl;
        if (word == "disable_lidar") {
            std::cout << "CORE: Disabling lidar" << std::endl;
            disable_lidar = true;
        }
        if (word == "disable_scales") {
            std::cout << "CORE: Disabling scales" << std::endl;
            disable_scales = true;
        }
        if (word == "disable_automeasure") {
            std::cout << "CORE: Mode is default" << std::endl;
            coreParams->Automeasure = false;
        } else {
            std::cout << "CORE: Mode is automeasure" << std::endl;
        }
    }

    std::thread t1;
    std::thread t2;
    if (!StartThread(t1, "request server", &servermod::ServerJson::Start,
                     servermod::ServerJson())) {
        return EXIT_FAILURE;
    }
    if (!StartThread(t2, "scales", &scalesmod::Scales2::Run, scalesmod::Scales2(),
                     disable_scales)) {
        coreParams->APPLICATION_STOP_REQUEST = true;
        t1.join();
        return EXIT_FAILURE;
    }

    visionmod::Vision vis;
    vis.Run(disable_lidar);

    std::cout << "CORE: APPLICATION EXITING" << std::endl;
    coreParams->APPLICATION_STOP_REQUEST = true;
    t1.join();
    t2.join();
    std::cout << "\n\n\nCORE: ---------------------------SHUTDOWN "
                 "DEVICE---------------------------\n\n\n"
              << std::flush;
    if (coreParams->SHUTDOWN_REQUEST) {
        // The board's working directory carries the "shutdown" script that this runs.
        (void)std::system("/bin/sh shutdown -P now");
    }
    return 0;
}
