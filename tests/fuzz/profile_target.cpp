// Arbitrary bytes as a configuration profile. Properties: a profile is taken or refused with a
// message of its own, never anything else thrown; each setting once; what is taken,
// written back under any name and version, reads back checked, the same settings with the
// same texts.
#include <set>
#include <string>

#include "ops/profile.h"
#include "targets.h"

namespace varnok::fuzz {

int profile_file(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<Setting> settings;
    try {
        settings = parse_profile(text);
    } catch (const ValueError& e) {
        expect(std::string(e.what()).rfind("профиль", 0) == 0, "a refusal that does not say it is the profile's");
        return 0;
    }
    std::set<std::string> keys;
    for (const Setting& s : settings) {
        expect(keys.insert(s.key()).second, "a setting taken twice");
        expect(!s.no_number(), "a value that is not a number taken");
    }
    // The device's name and version come from the device: any bytes, a newline included.
    const std::string name = text.substr(0, std::min<size_t>(text.size(), 12));
    const std::string version = text.size() > 12 ? text.substr(12, 8) : "\n[interface]\nspeed=1";
    std::vector<Setting> again;
    try {
        ProfileFile written = parse_profile_file(profile_text(settings, name, version));
        expect(written.checked, "a written profile is not checked by its closing line");
        again = std::move(written.settings);
    } catch (const ValueError&) {
        expect(false, "a written profile is refused");
        return 0;
    }
    expect(again.size() == settings.size(), "a written profile reads back with other settings");
    for (size_t i = 0; i < again.size() && i < settings.size(); ++i)
        expect(again[i].key() == settings[i].key() && again[i].text() == settings[i].text(),
               "a setting reads back otherwise");
    return 0;
}

}  // namespace varnok::fuzz
