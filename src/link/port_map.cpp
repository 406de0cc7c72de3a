#include "link/port_map.h"

#include <algorithm>
#include <charconv>
#include <filesystem>

namespace varnok {

void PortMap::set(int number, std::string path) { explicit_[number] = std::move(path); }

int PortMap::number_of(const std::string& name)
{
    if (name.size() < 4 || name.compare(0, 3, "COM") != 0)
        return 0;
    int n = 0;
    const char* first = name.data() + 3;
    const char* last = name.data() + name.size();
    auto [ptr, ec] = std::from_chars(first, last, n);
    if (ec != std::errc() || ptr != last || n < 1)
        return 0;
    return n;
}

#ifdef _WIN32
// Windows names its ports itself: COMn is the device \\.\COMn.
std::vector<std::string> PortMap::present_devices(const std::string& /*dev_dir*/)
{
    std::vector<std::string> result;
    for (int n = 1; n <= 16; ++n)
        result.push_back("\\\\.\\COM" + std::to_string(n));
    return result;
}
#else
std::vector<std::string> PortMap::present_devices(const std::string& dev_dir)
{
    static const char* const families[] = {"ttyUSB", "ttyACM", "ttyS"};
    std::vector<std::string> result;
    std::error_code ec;
    for (const char* family : families) {
        const std::string prefix = family;
        std::vector<std::pair<int, std::string>> found;
        // Stepping through a directory can fail too (a device vanishing, a read error): the
        // non-throwing increment ends the listing with what was found.
        std::filesystem::directory_iterator it(dev_dir, ec);
        for (; !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
            const std::filesystem::directory_entry& entry = *it;
            const std::string file = entry.path().filename().string();
            if (file.size() <= prefix.size() || file.compare(0, prefix.size(), prefix) != 0)
                continue;
            int index = 0;
            auto [ptr, err] = std::from_chars(file.data() + prefix.size(), file.data() + file.size(), index);
            if (err == std::errc() && ptr == file.data() + file.size())
                found.emplace_back(index, entry.path().string());
        }
        std::sort(found.begin(), found.end());
        for (auto& f : found)
            result.push_back(std::move(f.second));
    }
    return result;
}
#endif

std::string PortMap::resolve(const std::string& name) const { return resolve(name, present_devices()); }

std::string PortMap::resolve(const std::string& name, const std::vector<std::string>& present) const
{
    if (!name.empty() && (name.front() == '/' || name.rfind("\\\\", 0) == 0))
        return name;
    const int n = number_of(name);
    if (n == 0)
        return {};
    if (auto it = explicit_.find(n); it != explicit_.end())
        return it->second;
    if (static_cast<size_t>(n) <= present.size())
        return present[size_t(n) - 1];
    return {};
}

}  // namespace varnok
