#pragma once

#include "simboard/PtyBoard.h"

#include <stdexcept>
#include <string>
#include <string_view>

namespace simboard {

extern const std::string_view kUsage;

// What the command line asks the program to do.
struct CommandLine {
    enum class Request { Serve, Help, Version };

    Request request = Request::Serve;
    Options options;
    std::string link;
    std::string preload;
    bool verbose = false;
};

// A command line that makes no sense; the message says why.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Reads the options; "--help" and "--version" end the reading at once. Throws UsageError.
CommandLine parseCommandLine(int argc, const char *const *argv);

} // namespace simboard
