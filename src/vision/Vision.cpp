#include "Vision.h"

#include <unistd.h>

#include <cstdio>
#include <exception>
#include <fstream>
#include <iostream>

#include "FreshFile.h"

namespace visionmod {

namespace {

constexpr useconds_t kLoopPause = 100 * 1000;
constexpr float kMockX = 123000;
constexpr float kMockY = 456000;
constexpr float kMockZ = 789000;

// After an error the operator at a console gets a chance to read it; without input it goes on.
void WaitForOperator() {
    const int ignored = std::scanf("a");
    (void)ignored;
}

}  // namespace

Vision::Vision()
    : errror_parser(::VISION),
      measurement(Measurement::getInstance()),
      coreParams(CoreParams::getInstance()),
      configuration(Configuration::getInstance()) {}

int Vision::Run(bool disable_lidar) {
    try {
        if (disable_lidar) {
            return RunMock();
        }
        errror_parser.Print(1);
        return 1;
    } catch (const std::exception& error) {
        std::cerr << error.what() << std::endl;
        WaitForOperator();
        return 2;
    }
}

int Vision::RunMock() {
    std::cout << VISION << "Start Mock Lidar" << std::endl;
    while (true) {
        if (coreParams->APPLICATION_STOP_REQUEST) {
            return 0;
        }
        if (!measurement->is_calibrated.load(std::memory_order_acquire)) {
            measurement->is_calibrated.store(true, std::memory_order_release);
        }
        if (!measurement->is_measured.load(std::memory_order_acquire)) {
            // The copy is made line by line, each line ended by "\n"; the stored picture's
            // last line thus gains a line end if it had none.
            std::ifstream source(coreParams->MockPngFile, std::ios::binary);
            std::string copy;
            for (std::string line; std::getline(source, line);) {
                copy += line;
                copy += '\n';
            }
            if (source.eof() && WriteFreshFile(coreParams->MockPngFile2, copy)) {
                std::cout << VISION << "Copy Finished \n" << std::flush;
            } else {
                WriteFreshFile(coreParams->MockPngFile2, "");
                std::cout << VISION << "Cannot read mock file" << std::endl;
            }
            if (std::rename(coreParams->MockPngFile2.c_str(), coreParams->PhotoPath.c_str()) != 0) {
                std::cout << VISION << "Error in renaming" << std::endl;
                return 1;
            }
            measurement->x = kMockX;
            measurement->y = kMockY;
            measurement->z = kMockZ;
            measurement->is_measured.store(true, std::memory_order_release);
        }
        usleep(kLoopPause);
    }
}

}  // namespace visionmod
