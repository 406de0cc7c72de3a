#pragma once
// Resolves the port names "COM1".."COM16" to device paths.

#include <map>
#include <string>
#include <vector>

namespace varnok {

class PortMap {
public:
    // An explicit mapping, as the settings file's section of ports gives it; replaces any earlier one.
    void set(int number, std::string path);
    const std::map<int, std::string>& entries() const { return explicit_; }

    // The device path of a port name: the explicit mapping first, otherwise the n-th
    // serial device present (USB adapters, then ACM modems, then on-board UARTs; on Windows
    // \\.\COMn). A path given instead of a name is used as it is. Empty when nothing fits.
    std::string resolve(const std::string& name) const;
    // The same against a list of the devices present, for resolving many names at once.
    std::string resolve(const std::string& name, const std::vector<std::string>& present) const;

    // Serial devices present under `dev_dir`, in the order names are given to them.
    static std::vector<std::string> present_devices(const std::string& dev_dir = "/dev");

    // Port number of "COMn", 0 when the text is not such a name.
    static int number_of(const std::string& name);

private:
    std::map<int, std::string> explicit_;
};

}  // namespace varnok
