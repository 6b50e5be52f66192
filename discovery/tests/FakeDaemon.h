#pragma once

#include "BTstackCodec.h"

#include <string>
#include <vector>

// The daemon's end of the socket for engine tests: takes the engine's connection and hands
// back, as text, every command it has written so far. It answers nothing; the test plays the
// controller by handing packets to the engine itself.
class FakeDaemon {
  public:
    FakeDaemon(); // listens on "/tmp/BTstack" under the current device root
    ~FakeDaemon();
    FakeDaemon(const FakeDaemon &) = delete;
    FakeDaemon &operator=(const FakeDaemon &) = delete;

    // The commands received since the last call, each as describeCommand writes it.
    std::vector<std::string> commands();
    // Frames of any other type received since the last call.
    std::vector<platform::btstack::Frame> otherFrames();

  private:
    void drain();
    int listen_ = -1;
    int client_ = -1;
    std::vector<std::string> commands_;
    std::vector<platform::btstack::Frame> other_;
};
