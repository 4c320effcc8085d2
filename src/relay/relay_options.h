#pragma once
// What vanto-relay is asked to do, from its command line, and how a device
// named there is found in a device list.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

inline constexpr const char* RelayUsage =
    "usage: vanto-relay [--config FILE] [--in DEVICE] [--out DEVICE] [--kbm FILE] [--output-mode MODE] [--list]\n"
    "                   [--pitch-wheel ignore|bend] [--player-bend-range N] [--mpe-input [RANGE]]\n"
    "                   [--layout offset:N] [SCALE]\n"
    "       vanto-relay --help | --version\n"
    "  DEVICE: a number from --list, or part of a device's name (any case); --out virtual opens \"Vanto Out\"\n"
    "  MODE: bend (a pitch bend per channel, the default), mpe or mts (MIDI Tuning)\n"
    "  --pitch-wheel bend: your wheel bends the notes, over --player-bend-range semitones (1 to 96)\n"
    "  --layout offset:N: a board's keys over channels, N keys per channel (1 to 128)\n"
    "  --mpe-input: the input is an MPE controller, its per-note bends spanning RANGE semitones (1 to 96)\n";

struct RelayOptions {
    std::string configPath = "vanto.cfg";
    std::optional<std::string> input;
    std::optional<std::string> output;
    std::string mappingPath;
    std::string scalePath;
    std::optional<int32_t> outputMode;  // an OutputMode
    std::optional<int32_t> pitchWheelUse;  // a PitchWheelUse
    std::optional<int32_t> playerBendRange;
    bool mpeInput = false;
    std::optional<int32_t> inputBendRange;
    std::optional<int32_t> keysPerChannel;  // a layout with this channel offset
    bool list = false;
    bool help = false;
    bool version = false;
};

// False when the arguments are not what the usage says.
bool parseRelayOptions(int argc, const char* const* argv, RelayOptions& options);

// The input device position a DEVICE text names: its number in the list, or
// the first device whose name holds the text, in any case. Nothing when none.
std::optional<int32_t> findInputDevice(const std::string& text, const std::vector<std::string>& names);

// The same for outputs, numbered as the output list shows them: 0 is the
// program's own port "Vanto Out" (also named by "virtual"), 1 the first device.
std::optional<int32_t> findOutputDevice(const std::string& text, const std::vector<std::string>& names);

// The lists as --list prints them.
std::string deviceListing(const std::vector<std::string>& inputs, const std::vector<std::string>& outputs);
