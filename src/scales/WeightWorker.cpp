#include "WeightWorker.h"

#include <unistd.h>

#include <cstring>
#include <iostream>
#include <string>
#include <system_error>

#include "rs232.h"

namespace scalesmod {

namespace {

constexpr int kBaudRate = 4800;
constexpr char kMode[] = "8N1";
constexpr unsigned char kRequest = 0x4A;
constexpr int kReplySize = 5;
// The scales answer within this time; the reader's other pauses are of the same length.
constexpr useconds_t kPause = 50 * 1000;

}  // namespace

WeightWorker::WeightWorker() = default;

WeightWorker::~WeightWorker() {
    if (!worker.joinable()) {
        return;
    }
    finished = true;
    worker.join();
    RS232_CloseComport(comPortNumber);
}

bool WeightWorker::init(int comPortNumber_) {
    comPortNumber = comPortNumber_;
    if (RS232_OpenComport(comPortNumber, kBaudRate, kMode, 0) != 0) {
        std::cout << "Can not open comport" << std::endl;
        return false;
    }
    finished = false;
    needToCalibrate = true;
    try {
        worker = std::thread(&WeightWorker::work, this);
    } catch (const std::system_error& error) {
        RS232_CloseComport(comPortNumber);
        std::cout << std::string("Can not start the scales reader: ") + error.what() << std::endl;
        return false;
    }
    return true;
}

WeightningData WeightWorker::getWeightningData() {
    std::lock_guard<std::mutex> guard(weightningDataLock);
    return weightningData;
}

void WeightWorker::setCalibrate(bool needToCalibrate_) {
    needToCalibrate = needToCalibrate_;
}

bool WeightWorker::getCalibrate() {
    return needToCalibrate;
}

void WeightWorker::work() {
    unsigned char receiveBuffer[kReplySize];
    while (!finished) {
        if (needToCalibrate) {
            setZero();
            usleep(kPause);
            usleep(kPause);
        }
        // Whatever is queued now belongs to an earlier request (a late reply, the rest of a
        // garbled one); read after this request it would shift every later reply.
        RS232_flushRX(comPortNumber);
        RS232_SendByte(comPortNumber, kRequest);
        usleep(kPause);
        std::memset(receiveBuffer, 0, sizeof receiveBuffer);
        const int received = RS232_PollComport(comPortNumber, receiveBuffer, kReplySize);
        // A short reply has lost some of its weight bytes; the previous reading stays in force.
        if (received == kReplySize) {
            std::lock_guard<std::mutex> guard(weightningDataLock);
            weightningData.parse(receiveBuffer);
        }
        usleep(kPause);
    }
}

void WeightWorker::setZero() {
    bool zeroed;
    {
        std::lock_guard<std::mutex> guard(weightningDataLock);
        zeroed = weightningData.setZero();
    }
    if (zeroed) {
        needToCalibrate = false;
    }
}

}  // namespace scalesmod
