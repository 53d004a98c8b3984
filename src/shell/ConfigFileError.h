#pragma once

#include <stdexcept>

namespace ostrel::shell {

// A configuration file that cannot be read or written: the file cannot be opened, created or
// written, it is not a text file of sane size, or a value in it cannot be taken.
class ConfigFileError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

}  // namespace ostrel::shell
