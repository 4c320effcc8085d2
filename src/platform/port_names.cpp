#include "platform/port_names.h"

#include "engine/device_names.h"

bool isOwnPortName(const std::string& portName)
{
    // Without the numbers the system adds: JACK renames a second client of
    // the same name "Name-01".
    const std::string key = deviceKey(portName);
    const std::string client = key.substr(0, key.find(':'));
    return client == OutputClientName || client == InputClientName;
}
