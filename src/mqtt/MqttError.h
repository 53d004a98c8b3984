#pragma once

#include <stdexcept>

namespace ostrel::mqtt {

// Settings of the MQTT link that cannot be used (a broker address that is no mqtt:// or
// mqtts:// URL, a password on the command line); the message says what is wrong.
class MqttSettingsError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace ostrel::mqtt
