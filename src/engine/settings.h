#pragma once
// The persistent settings record: one per engine, saved whole to
// the configuration file.

#include <cstdint>
#include <string>

#include "engine/engine_lock.h"

constexpr int MaxInitEvents = 40;
constexpr int RelaySwitchCount = 9;
constexpr int ControlBarCount = 8;
constexpr int ChannelCount = 16;
constexpr uint8_t AllChannels = 16;  // "All": every used channel, or every input channel
constexpr uint8_t NoKey = 128;       // matches no incoming key
constexpr int MaxSettingTextLength = 255;  // bytes of UTF-8 in a text setting
constexpr int MaxDeviceNameLength = MaxSettingTextLength;

// One event of the init message.
struct InitEvent {
    uint8_t status;   // kind with the low nibble clear, or a system status 0xF1..0xFF
    uint8_t channel;  // 0..15, or AllChannels for every used channel
    uint8_t param1;
    uint8_t param2;
};

// Indices into Settings::relay, in the order of the "Relay Messages" list.
enum RelaySwitch : int {
    RelayAftertouch = 0,
    RelayControl = 1,
    RelayProgramChange = 2,
    RelayChannelPressure = 3,
    RelaySystemExclusive = 4,
    RelaySequencing = 5,
    RelayTuneRequest = 6,
    RelayActiveSense = 7,
    RelayReset = 8,
};

// How notes leave: the nearest key with a pitch bend on rotating channels,
// an MPE lower zone (a member channel per note), or keys retuned on one
// channel by MIDI Tuning Standard single-note changes.
enum OutputMode : int32_t {
    OutputPitchBend = 0,
    OutputMpe = 1,
    OutputMidiTuning = 2,
};
constexpr int32_t OutputModeCount = 3;
inline constexpr const char* OutputModeNames[OutputModeCount] = {"Pitch Bend", "MPE", "MIDI Tuning"};

// What the player's pitch wheel does: nothing (the output's wheels carry the
// tuning), or bend the notes on top of their tuning.
enum PitchWheelUse : int32_t {
    PitchWheelIgnore = 0,
    PitchWheelBendNotes = 1,
};
inline constexpr const char* PitchWheelUseNames[2] = {"Ignore", "Bend Notes"};

// How a key number and its channel give the key's index, which the tuning
// table is looked up by: the key number alone, or the key plus "Keys per
// Channel" for each channel above the first, for a board that spreads its
// keys over several channels.
enum KeyLayout : int32_t {
    KeyLayoutOneChannel = 0,
    KeyLayoutChannelOffset = 1,
};
inline constexpr const char* KeyLayoutNames[2] = {"One Channel", "Channel Offset"};
constexpr int32_t MaxKeysPerChannel = 128;

struct Settings {
    int32_t inputDevice;
    int32_t outputDevice;  // -1 = the system's MIDI mapper ("Midi Mapper")
    uint8_t pitchWheelRange;
    uint8_t inputChannel;  // 0..15, or AllChannels
    uint8_t referenceKey;
    double referenceFrequency;
    int32_t useChannel[ChannelCount];
    int32_t relay[RelaySwitchCount];
    uint8_t controlBarController[ControlBarCount];
    uint8_t commandKey;
    uint8_t demodulateKey;
    uint8_t resetPitchKey;
    uint8_t initMessageKey;
    int32_t shiftCentre;
    int32_t sendInitOnOpen;
    int32_t initEventCount;  // 0..MaxInitEvents
    InitEvent initMessage[MaxInitEvents];
    // Settings kept in the configuration file's extension block.
    int32_t releaseTime;  // ms a released channel is spared; 0 = off, up to MaxReleaseTime
    // The chosen devices by name (UTF-8), so that they are found again when
    // their position in the list moves; empty = remembered by position only.
    char inputDeviceName[MaxDeviceNameLength + 1];
    char outputDeviceName[MaxDeviceNameLength + 1];
    // The scale and keyboard mapping last loaded, as absolute paths, loaded
    // again at a start without a scale argument; "" for none (or a path too
    // long to keep).
    char scalePath[MaxSettingTextLength + 1];
    char mappingPath[MaxSettingTextLength + 1];
    int32_t outputMode;      // an OutputMode
    int32_t mpeBendRange;    // semitones of the MPE members' wheels, 1..MaxMpeBendRange
    int32_t tuningDeviceId;  // MIDI Tuning device ID, 0..127; 127 = all devices
    int32_t tuningProgram;   // the tuning program MIDI Tuning changes and dumps fill, 0..127
    int32_t pitchWheelUse;   // a PitchWheelUse
    int32_t playerBendRange;  // semitones the player's wheel bends, 1..MaxMpeBendRange
    // The input is an MPE controller: a note's identity is its channel and
    // key, and its channel's bend, pressure and controller 74 are its own.
    int32_t mpeController;
    int32_t inputBendRange;  // semitones of the controller's per-note bends, 1..MaxMpeBendRange
    int32_t keyLayout;       // a KeyLayout
    int32_t keysPerChannel;  // the channel offset, 1..MaxKeysPerChannel
    // The main window's size when it last closed; 0 = its own.
    int32_t windowWidth;
    int32_t windowHeight;
};

constexpr int32_t MaxReleaseTime = 10000;
constexpr int32_t MaxWindowSide = 16384;
constexpr int32_t MaxMpeBendRange = 96;
constexpr uint8_t MpeManagerChannel = 0;
constexpr uint8_t MaxPitchWheelRange = 24;  // semitones
// Device positions beyond any real list; larger stored numbers are limited to it.
constexpr int32_t MaxDeviceNumber = 9999;

// "  |  MPE output" or "  |  MIDI Tuning output" for an output mode other
// than the pitch bend; "" for it.
std::string outputModeSuffix(const Settings& s);

// A command line's "offset:N": keysPerChannel = N, 1..MaxKeysPerChannel.
bool parseKeyLayout(const std::string& text, int32_t& keysPerChannel);

// The defaults of a program start: every channel in use except channel 10.
Settings defaultSettings();

