#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "modbus/register_sink.h"

namespace varnok::test {

// Keeps what an answer check decoded; addresses listed in `unknown` are outside its map.
class RecordingSink : public RegisterSink {
public:
    uint8_t holding_register(uint16_t a, uint16_t v) override { return store(holding, a, v); }
    uint8_t input_register(uint16_t a, uint16_t v) override { return store(input, a, v); }
    void input_data(std::span<const uint8_t> bytes) override { text.assign(bytes.begin(), bytes.end()); }
    void coil_byte(uint8_t bits) override { coils.push_back(bits); }
    void input_byte(uint8_t bits) override { inputs.push_back(bits); }

    bool nothing_decoded() const
    {
        return holding.empty() && input.empty() && text.empty() && coils.empty() && inputs.empty();
    }

    std::set<uint16_t> unknown;
    std::map<uint16_t, uint16_t> holding, input;
    std::string text;
    std::vector<uint8_t> coils, inputs;

private:
    uint8_t store(std::map<uint16_t, uint16_t>& into, uint16_t a, uint16_t v)
    {
        if (unknown.count(a))
            return kIllegalAddress;
        into[a] = v;
        return kOk;
    }
};

}  // namespace varnok::test
