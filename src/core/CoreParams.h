// What the settings file says, plus the flags that stop the process and power off the board.
#pragma once

#include <atomic>
#include <string>

#include "Singleton.h"

class CoreParams : public Singleton<CoreParams> {
  public:
    static CoreParams* getInstance();

    // Written once by the entry point before any module thread starts; read-only afterwards.
    std::string RequestJsonFilePath;
    std::string ResponseJsonFilePath;
    std::string AutomesureJsonFilePath;
    std::string RequestTempJsonFilePath;
    std::string ResponseTempJsonFilePath;
    std::string AutomesureTempJsonFilePath;
    std::string MockPngFile;
    std::string MockPngFile2;
    std::string PhotoPath;
    float RegionOffsetX = 0;
    float RegionOffsetY = 0;
    float RegionWidth = 680;
    float RegionHeight = 550;

    // Polled by every module thread.
    std::atomic<bool> APPLICATION_STOP_REQUEST{false};
    std::atomic<bool> SHUTDOWN_REQUEST{false};
    std::atomic<bool> Automeasure{true};

  private:
    CoreParams() = default;
};
