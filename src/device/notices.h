#pragma once
// The device model's message boxes (the link tells of the port through its own): the console
// shows them over its window, the tool prints them on standard error.

#include <string>

namespace varnok {

class DeviceNotices {
public:
    virtual ~DeviceNotices() = default;
    virtual void message_box(const std::string& text, const std::string& informative = {}) = 0;
};

}  // namespace varnok
