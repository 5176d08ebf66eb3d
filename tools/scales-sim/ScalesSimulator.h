// Scales on a pseudo-terminal: answers every request byte 0x4A with a five-byte reply for a
// weight, settled flag and discreteness code, or with a fault chosen for the next requests.
#pragma once

#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "UniqueFd.h"

namespace scalessim {

struct Reading {
    double weightKg = 0;
    bool settled = true;
    int code = 0;  // discreteness code: 0 grams, 1 tenths of grams, 4 tens of grams, ...
};

enum class Fault {
    kNone,     // the reply, at once
    kSilent,   // no reply
    kLate,     // the reply is held back and sent when the next request arrives, before its reply
    kPartial,  // only the first three bytes of the reply
    kGarbage,  // seven bytes that are no reply, longer than one
};

// A fault for the next `count` requests; `reading`, when given, is answered from the first of
// them on.
struct Step {
    Fault fault = Fault::kNone;
    int count = 1;
    std::optional<Reading> reading;
};

struct Status {
    Reading reading;
    Fault fault = Fault::kNone;
    int faultCount = 0;  // requests the current fault still applies to
    int requests = 0;    // request bytes received
    int staleBytes = 0;  // the most unread bytes found on the line when a request arrived
    bool unplugged = false;
};

const char* FaultName(Fault fault);
std::optional<Fault> FaultFromName(const std::string& name);
// The five bytes that report `reading`.
std::vector<unsigned char> EncodeReply(const Reading& reading);

class ScalesSimulator {
  public:
    // Opens a pseudo-terminal in raw mode and starts answering; throws std::system_error.
    explicit ScalesSimulator(const Reading& initial = {});
    // Stops answering, removes its own link and closes the pseudo-terminal.
    ~ScalesSimulator();
    ScalesSimulator(const ScalesSimulator&) = delete;
    ScalesSimulator& operator=(const ScalesSimulator&) = delete;

    // The device path a serial port opens.
    const std::string& SlavePath() const { return slavePath_; }

    // Makes `path` a symbolic link to the pseudo-terminal. Throws std::runtime_error, leaving
    // the path alone, when anything already stands there.
    void Link(const std::string& path);

    void SetWeight(double kg);
    void SetSettled(bool settled);
    void SetCode(int code);
    // Replaces any pending fault; kNone clears it.
    void SetFault(Fault fault, int count);
    // Replaces any pending fault with these steps, applied in order to the next requests.
    // Returns the number of requests received before the first step applies.
    int Script(const std::vector<Step>& steps);
    // The pseudo-terminal goes away, as scales whose cable is pulled; there is no way back.
    void Unplug();

    Status GetStatus() const;
    int Requests() const;

  private:
    void Serve();
    void Answer();
    void Close();
    void RemoveLink();

    UniqueFd master_;
    // Held open so that the pseudo-terminal does not hang up when the port user closes it.
    UniqueFd slave_;
    UniqueFd wake_;
    std::string slavePath_;
    std::string linkPath_;
    std::vector<unsigned char> held_;

    mutable std::mutex mutex_;
    Reading reading_;
    std::deque<Step> steps_;
    int requests_ = 0;
    int staleBytes_ = 0;
    bool unplugged_ = false;
    std::thread server_;
};

}  // namespace scalessim
