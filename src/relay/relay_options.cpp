#include "relay/relay_options.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "engine/midi_system.h"
#include "engine/settings.h"

namespace {

std::string lowered(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

bool isDigits(const std::string& text)
{
    return !text.empty() && std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); });
}

// A whole number in 0..count-1, or nothing.
std::optional<int32_t> listNumber(const std::string& text, size_t count)
{
    if (!isDigits(text))
        return std::nullopt;
    if (text.size() > 6)
        return std::nullopt;
    const long number = std::strtol(text.c_str(), nullptr, 10);
    if (number < 0 || static_cast<size_t>(number) >= count)
        return std::nullopt;
    return static_cast<int32_t>(number);
}

std::optional<int32_t> nameMatch(const std::string& text, const std::vector<std::string>& names)
{
    const std::string wanted = lowered(text);
    for (size_t i = 0; i < names.size(); ++i) {
        if (!wanted.empty() && lowered(names[i]).find(wanted) != std::string::npos)
            return static_cast<int32_t>(i);
    }
    return std::nullopt;
}

// A number of semitones, 1..MaxMpeBendRange, or nothing.
std::optional<int32_t> bendRange(const std::string& text)
{
    const auto number = listNumber(text, MaxMpeBendRange + 1);
    if (number && *number >= 1)
        return number;
    return std::nullopt;
}

}  // namespace

bool parseRelayOptions(int argc, const char* const* argv, RelayOptions& options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (a == "--config" && hasValue)
            options.configPath = argv[++i];
        else if (a == "--in" && hasValue)
            options.input = argv[++i];
        else if (a == "--out" && hasValue)
            options.output = argv[++i];
        else if (a == "--kbm" && hasValue)
            options.mappingPath = argv[++i];
        else if (a == "--output-mode" && hasValue) {
            const std::string mode = argv[++i];
            if (mode != "bend" && mode != "mpe" && mode != "mts")
                return false;
            options.outputMode = mode == "mpe" ? OutputMpe : mode == "mts" ? OutputMidiTuning : OutputPitchBend;
        } else if (a == "--pitch-wheel" && hasValue) {
            const std::string use = argv[++i];
            if (use != "ignore" && use != "bend")
                return false;
            options.pitchWheelUse = use == "bend" ? PitchWheelBendNotes : PitchWheelIgnore;
        } else if (a == "--player-bend-range" && hasValue) {
            options.playerBendRange = bendRange(argv[++i]);
            if (!options.playerBendRange)
                return false;
        } else if (a == "--mpe-input") {
            options.mpeInput = true;
            if (hasValue && isDigits(argv[i + 1])) {
                options.inputBendRange = bendRange(argv[++i]);
                if (!options.inputBendRange)
                    return false;
            }
        } else if (a == "--layout" && hasValue) {
            int32_t keys = 0;
            if (!parseKeyLayout(argv[++i], keys))
                return false;
            options.keysPerChannel = keys;
        } else if (a == "--list")
            options.list = true;
        else if (a == "--help")
            options.help = true;
        else if (a == "--version")
            options.version = true;
        else if (a.starts_with("--") || !options.scalePath.empty())
            return false;
        else
            options.scalePath = a;
    }
    return true;
}

std::optional<int32_t> findInputDevice(const std::string& text, const std::vector<std::string>& names)
{
    if (const auto number = listNumber(text, names.size()))
        return number;
    return nameMatch(text, names);
}

std::optional<int32_t> findOutputDevice(const std::string& text, const std::vector<std::string>& names)
{
    if (lowered(text) == "virtual")
        return MidiMapperDevice;
    if (const auto number = listNumber(text, names.size() + 1))
        return *number - 1;
    return nameMatch(text, names);
}

std::string deviceListing(const std::vector<std::string>& inputs, const std::vector<std::string>& outputs)
{
    std::string text = "Input devices:\n";
    for (size_t i = 0; i < inputs.size(); ++i)
        text += "  " + std::to_string(i) + "  " + inputs[i] + "\n";
    if (inputs.empty())
        text += "  (none)\n";
    text += "Output devices:\n  0  Vanto Out (virtual: connect it yourself)\n";
    for (size_t i = 0; i < outputs.size(); ++i)
        text += "  " + std::to_string(i + 1) + "  " + outputs[i] + "\n";
    return text;
}
