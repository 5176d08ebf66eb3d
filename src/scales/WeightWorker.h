// Owns the scales' serial port and the reader thread that polls the scales about ten times a
// second, decodes every reply and zeroes the scales when asked.
#pragma once

#include <atomic>
#include <mutex>
#include <thread>

#include "WeightningData.h"

namespace scalesmod {

class WeightWorker {
  public:
    WeightWorker();
    // Stops the reader thread, then closes the port.
    ~WeightWorker();
    WeightWorker(const WeightWorker&) = delete;
    WeightWorker& operator=(const WeightWorker&) = delete;

    // Opens the port at 4800 baud 8N1, asks for zeroing and starts the reader thread.
    bool init(int comPortNumber);
    // A copy of the latest reading, taken under the lock: the reader thread keeps writing the
    // record while the caller works on its copy.
    WeightningData getWeightningData();
    void setCalibrate(bool needToCalibrate);
    bool getCalibrate();

  private:
    void work();
    void setZero();

    int comPortNumber = -1;
    std::atomic<bool> needToCalibrate{false};
    std::thread worker;
    std::atomic<bool> finished{true};
    WeightningData weightningData;
    // Held only while decoding, zeroing or copying, never across a sleep or serial I/O.
    std::mutex weightningDataLock;
};

}  // namespace scalesmod
