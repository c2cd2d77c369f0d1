#pragma once

#include <string>

namespace platform {

// Value of an environment variable, empty when unset.
std::string getEnvironmentVariable(const std::string& name);

// Text the system gives for an error code (Windows error codes, errno on
// Linux), without trailing line breaks.
std::string systemErrorText(unsigned long code);

}  // namespace platform
