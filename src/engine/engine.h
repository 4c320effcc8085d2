#pragma once
// One relay: everything the engine keeps, and every operation on it. A
// program, a plugin instance or a test makes as many as it needs; nothing is
// shared between two.
//
// The records are declared with the headers that describe them (settings.h,
// scale_in_force.h, tuning_table.h, note_allocation.h, midi_ports.h,
// port_opening.h); the operations are defined in the source named after
// their group, where the header of that group documents them.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/engine_lock.h"
#include "engine/keyboard_snapshot.h"
#include "engine/message_reporter.h"
#include "engine/midi_device.h"
#include "engine/midi_ports.h"
#include "engine/midi_system.h"
#include "engine/mpe_input.h"
#include "engine/note_allocation.h"
#include "engine/port_opening.h"
#include "engine/settings.h"
#include "engine/tuning_dump.h"
#include "engine/tuning_table.h"
#include "scale/keyboard_mapping.h"
#include "scale/scale.h"

class Engine : public MidiInputHandler {
public:
    // The records as at a program start: default settings, no scale (call
    // setDefaultScale or load one), an empty table, nothing open.
    Engine();
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    // Guards every record below but the clock and the device services.
    mutable EngineMutex engineMutex;

    Settings settings GUARDED_BY_ENGINE_LOCK;
    // The scale and keyboard mapping in force, and the working centre that
    // modulation moves.
    Scale scale GUARDED_BY_ENGINE_LOCK{};
    KeyboardMapping keyboardMapping GUARDED_BY_ENGINE_LOCK{};
    double currentPitch GUARDED_BY_ENGINE_LOCK = 0.0;
    uint16_t currentCentre GUARDED_BY_ENGINE_LOCK = 0;  // a key index
    TuningTable tuningTable GUARDED_BY_ENGINE_LOCK{};
    NoteAllocation noteAllocation GUARDED_BY_ENGINE_LOCK;
    ControllerZone controllerZone GUARDED_BY_ENGINE_LOCK;
    MidiPorts midiPorts GUARDED_BY_ENGINE_LOCK;
    SysexInput sysexInput;
    // Set before the engine is used; tests put their own in place.
    EngineClock engineClock = steadyMilliseconds;
    // The services devices are opened through; null = none, every open fails.
    MidiSystem* midiSystem = nullptr;
    // Raised whenever what a keyboard view shows may have changed: by the
    // input thread for every message, and by table builds. A view clears it
    // when it takes a snapshot.
    std::atomic<bool> viewStale{true};

    // keyboard_snapshot.h
    KeyboardSnapshot keyboardSnapshot() const TAKES_ENGINE_LOCK;
    // Plays the key index from the window, as the input would at velocity
    // 100: Note On while down, then Note Off. Refused (false) while the
    // input itself plays that key.
    bool auditionKey(int index, bool down) TAKES_ENGINE_LOCK;

    // settings.h
    // A copy of the settings, taken under the engine lock: for the window
    // thread, which alone writes them, to read them by.
    Settings currentSettings() const TAKES_ENGINE_LOCK;
    // midi_ports.h
    // Whether an output device is open, asked under the engine lock.
    bool isOutputOpen() const TAKES_ENGINE_LOCK;
    // config_file.h
    // Writes the settings to path through a temporary file in the same folder
    // that replaces path only once everything is written. 0, or -1 on any
    // failure, in which case an existing file at path is left as it was and
    // *reason says why, in the system's words.
    int saveConfig(const char* path, std::string* reason = nullptr) const TAKES_ENGINE_LOCK;
    // The table in force as a bulk tuning dump in a .syx file (see
    // tuning_dump.h), written whole or not at all: 0, or -1 with the reason.
    int exportTuningDump(const char* path, std::string* reason = nullptr) const TAKES_ENGINE_LOCK;
    // Reads path over the live settings, under the engine lock (call it without
    // holding that lock). 0 when the file was read, with decodeConfig's note in
    // *note; -1 when it is not a regular file or could not be opened or read,
    // and -2 when it is plainly not a configuration file (the reason in
    // *problem), both with the settings untouched.
    int loadConfig(const char* path, std::string* problem = nullptr, std::string* note = nullptr) TAKES_ENGINE_LOCK;

    // input_dispatch.h
    // Takes the engine lock for a short message; releases it before a System
    // Exclusive relay waits on the output device. With MimEngineLocked in
    // instance it takes nothing: the caller holds the lock.
    void handleMidiInput(MidiInput* port, uint32_t code, uintptr_t instance, uintptr_t param1,
                         uintptr_t param2) override;

    // note_allocation.h
    void handleNoteOn(uint8_t status, uint8_t channel, uint8_t key, uint8_t velocity) NEEDS_ENGINE_LOCK;
    void handleNoteOff(uint8_t status, uint8_t channel, uint8_t key, uint8_t velocity) NEEDS_ENGINE_LOCK;
    // Forgets every sounding note, renumbers the used channels' groups 0, 1, ...
    // and sends All Notes Off on each used channel.
    void resetChannels() NEEDS_ENGINE_LOCK;
    // Before the output closes: a Note Off for every key sounding, and the
    // pedals released on the used channels, so that nothing is left sounding.
    void endSoundingNotes() NEEDS_ENGINE_LOCK;
    // "All Notes Off": sendPanic, and every note forgotten.
    void panic() NEEDS_ENGINE_LOCK;
    // A relayed controller from the input: the pedals decide which channels
    // still sound after their keys are released.
    void handlePedal(uint8_t controller, uint8_t value) NEEDS_ENGINE_LOCK;
    void forgetChannelGroups() NEEDS_ENGINE_LOCK;
    // Called after lastKey changes, on the input thread, while enabled.
    void setLastKeyListener(LastKeyListener listener, int32_t enabled) NEEDS_ENGINE_LOCK;
    // What a freshly opened output receives: the channel reset, the pitch-wheel
    // range, and the init message when "Send on Open" is set.
    void prepareOutputInstrument() NEEDS_ENGINE_LOCK;

    // output_senders.h
    void sendToChannel(uint8_t kind, uint8_t channel, uint8_t data1, uint8_t data2) NEEDS_ENGINE_LOCK;
    void sendPitchBend(uint8_t channel, int32_t value) NEEDS_ENGINE_LOCK;
    // One message per used channel, channel 1 first.
    void sendToUsedChannels(uint8_t kind, uint8_t data1, uint8_t data2) NEEDS_ENGINE_LOCK;
    void sendController(uint8_t controller, uint8_t value) NEEDS_ENGINE_LOCK;
    void sendInitEvent(const InitEvent& event) NEEDS_ENGINE_LOCK;
    void sendInitMessage() NEEDS_ENGINE_LOCK;
    // Registered parameter 0 (pitch-bend sensitivity) on every used channel,
    // then the null parameter, so that none stays selected.
    void sendPitchWheelRange() NEEDS_ENGINE_LOCK;
    // The output mode's own opening: the pitch-wheel range on the used
    // channels, or MPE's configuration and ranges.
    void sendModeOpening() NEEDS_ENGINE_LOCK;
    // Registered parameter number on channel, then the null parameter.
    void sendRegisteredParameter(uint8_t channel, uint8_t number, uint8_t value) NEEDS_ENGINE_LOCK;
    // The player's channel-wide messages, the Control Bars and init events
    // for "All": every used channel, or MPE's manager channel alone.
    void sendToWideChannels(uint8_t kind, uint8_t data1, uint8_t data2) NEEDS_ENGINE_LOCK;
    // Every channel a note may sound on in the output mode.
    void sendToNoteChannels(uint8_t kind, uint8_t data1, uint8_t data2) NEEDS_ENGINE_LOCK;
    // What an instrument that joins the open output late needs: the pitch-wheel
    // range and, with "Send on Open", the init message. No All Notes Off: other
    // instruments on the same output may be playing.
    void greetNewListener() NEEDS_ENGINE_LOCK;
    // On all 16 channels: sustain off, All Sound Off, All Notes Off, and a Note
    // Off for every key a Note On has gone out for since the last panic.
    void sendPanic() NEEDS_ENGINE_LOCK;
    // The table in force as a bulk tuning dump, to the output.
    void sendTuningDump() NEEDS_ENGINE_LOCK;

    // port_opening.h
    // Closes both devices, then opens the input (with the System Exclusive
    // buffer queued) and the output, and prepares the instrument: channel reset,
    // pitch-wheel range, and the init message with "Send on Open". A device
    // remembered by name is found by it wherever it now stands; when it is not
    // there, nothing is opened in its place and it is awaited (see
    // deviceWaitText). A device remembered by position only gets its name
    // remembered once it opens. Failures are shown through owner. Call without
    // holding the engine lock.
    void openPorts(MessageReporter& owner) TAKES_ENGINE_LOCK;
    // Closes whatever is open, input first. Call without holding the engine lock:
    // closing the input waits for the input thread.
    void closePorts() TAKES_ENGINE_LOCK;
    // For the window thread, about once a second: when an awaited device has
    // appeared, one that went away has come back, or the MIDI service answers
    // again after it went away, reopens the devices and returns true. Notices a
    // device or the service going away as well.
    bool reopenWhenDevicesReturn(MessageReporter& owner) TAKES_ENGINE_LOCK;
    // Where notes go, in a line: "Keyboard → Vanto → FluidSynth" (the devices'
    // client names), "Vanto Out is not connected" when nothing listens to the
    // program's own output, or what deviceWaitText says while something is
    // awaited or the service has gone.
    std::string routeText() const;
    // Whether both devices are open and nothing is awaited.
    bool isRouteComplete() const;
    // Whether the MIDI service went away while devices were open or awaited,
    // and has not come back.
    bool serviceHasGone() const;
    // For the status line: that the MIDI service has gone away, or "Waiting for
    // <name>" for each device awaited; then how many messages the platform lost,
    // when any. "" when all is well.
    std::string deviceWaitText() const;

    // mpe_input.h
    // For the status line: the output mode other than the pitch bend, and an
    // MPE controller at the input, with the zone it announced.
    std::string modesText() const NEEDS_ENGINE_LOCK;

    // scale_in_force.h
    // Installs the built-in "12 tone equal temperament" and its working centre.
    void setDefaultScale() NEEDS_ENGINE_LOCK;
    // Replaces the scale in force with s and discards any modulation.
    void installScale(const Scale& s) NEEDS_ENGINE_LOCK;
    // Installs m (or, with clearKeyboardMapping, none) and restores the home
    // tuning. The caller rebuilds the table.
    void installKeyboardMapping(const KeyboardMapping& m) NEEDS_ENGINE_LOCK;
    void clearKeyboardMapping() NEEDS_ENGINE_LOCK;
    // Puts the working centre back where the scale (or the keyboard mapping in
    // force) places it, discarding any modulation.
    void restoreHomeTuning() NEEDS_ENGINE_LOCK;

    // scale_loading.h
    // A path ending in ".scl" (any case) is a Scala scale; every other path is
    // read in the native scale language. Returns "" or the error text. A loaded
    // scale's path is kept in the settings (as a mapping's is by
    // loadKeyboardMapping), so that a saved configuration brings it back.
    // A native scale's error gives the message, then "Line N: <the line>";
    // warnings, when given, get what its reading warns of (leftover characters
    // after a number).
    std::string loadScale(const char* path, std::vector<std::string>* warnings = nullptr) TAKES_ENGINE_LOCK;
    // Loads a .kbm keyboard mapping and puts it in force. Returns "" or the error.
    std::string loadKeyboardMapping(const char* path) TAKES_ENGINE_LOCK;
    // The scale's name and, with a mapping in force, the mapping's file name.
    // The caller holds the engine lock.
    std::string tuningStatusText() const NEEDS_ENGINE_LOCK;

    // tuning_table.h
    // Key frequencies of a 12-tone equal instrument anchored at
    // referenceFrequency on referenceKey.
    void buildInstrumentFrequencies() NEEDS_ENGINE_LOCK;
    // The instrument key nearest to frequency in ratio; the lower key on a tie.
    // A key whose frequency is not positive never qualifies, nor does any key for
    // a target that is not a positive number: the result is then 60.
    int findNearestKey(double frequency) const NEEDS_ENGINE_LOCK;
    // Fills outputKey, bendValue and bendGroup from the scale, the keyboard
    // mapping in force and the working centre. A scale whose degrees lie outside 1..127 is refused and the table
    // keeps its contents; the result tells which.
    bool buildTuningTable() NEEDS_ENGINE_LOCK;
    // Modulates to key, demodulates by key, or resets to the scale's own centre,
    // then rebuilds the table. Refuses (returns false, changes nothing) for a
    // scale whose degrees lie outside 1..127, or a key the mapping leaves silent.
    bool moveCentre(int index, uint8_t mode, int32_t shift) NEEDS_ENGINE_LOCK;
    // How many key indices the key layout gives (128 with "One Channel"),
    // which the table is built for.
    int indexCount() const NEEDS_ENGINE_LOCK;
    // The index of key on channel (0-based) in the key layout.
    int indexOf(uint8_t channel, uint8_t key) const NEEDS_ENGINE_LOCK;
    int keysPerChannel() const NEEDS_ENGINE_LOCK;
    // The key index a sounding note's tuning was looked up by.
    int indexOfNote(NoteId note) const NEEDS_ENGINE_LOCK;

private:
    // The devices behind midiPorts' handles, and what is awaited.
    PortOpening opening;

    // input_dispatch.cpp
    void relayToUsedChannels(int relaySwitch, uint8_t kind, uint8_t data1, uint8_t data2) NEEDS_ENGINE_LOCK;
    void dispatchShortMessage(uint32_t message) NEEDS_ENGINE_LOCK;
    void relaySystemExclusive(MidiInput* port, SysexBuffer* received, MidiOutput* output);
    MidiOutput* handleLocked(uint32_t code, uintptr_t param1, SysexBuffer*& sysex) NEEDS_ENGINE_LOCK;
    MidiOutput* handleUnderTheCallersLock(uint32_t code, uintptr_t param1, SysexBuffer*& sysex);

    // note_allocation.cpp
    bool isUsed(int channel) const NEEDS_ENGINE_LOCK;
    bool isFree(int channel) const NEEDS_ENGINE_LOCK;
    bool holdsNoKey(int channel) const NEEDS_ENGINE_LOCK;
    uint32_t sinceRelease(int channel, uint32_t now) const NEEDS_ENGINE_LOCK;
    template <typename Clock>
    bool isRecentlyReleased(int channel, Clock& now) const NEEDS_ENGINE_LOCK;
    template <typename Accept>
    int firstInRotation(Accept accept) const NEEDS_ENGINE_LOCK;
    template <typename Accept>
    int longestReleased(Accept accept, uint32_t now) const NEEDS_ENGINE_LOCK;
    void sendPedalAgain(uint8_t channel, uint8_t controller, uint8_t value) NEEDS_ENGINE_LOCK;
    void endPedalHold(int channel) NEEDS_ENGINE_LOCK;
    // With shareGroup, a channel already tuned to the group first.
    int chooseChannel(uint16_t group, bool shareGroup) NEEDS_ENGINE_LOCK;
    void releasePedal(uint8_t ChannelSlot::*held, uint8_t ChannelSlot::*handOverTo) NEEDS_ENGINE_LOCK;
    // The released notes a pedal holds: those held as from become held as
    // to; 0 = no longer held.
    void passPedalHold(uint8_t from, uint8_t to) NEEDS_ENGINE_LOCK;
    // Nothing on channel is held by a pedal any longer: its counts and its
    // notes' marks are cleared.
    void dropPedalHold(int channel) NEEDS_ENGINE_LOCK;
    void moveAndForget(int index, uint8_t mode) NEEDS_ENGINE_LOCK;
    void handleCommandKey(uint8_t key, int index) NEEDS_ENGINE_LOCK;
    void notifyLastKey() NEEDS_ENGINE_LOCK;
    // How a note leaves, by output mode: the one place that chooses.
    void soundKey(uint8_t status, NoteId note, uint8_t velocity) NEEDS_ENGINE_LOCK;
    void soundKeyWithBend(uint8_t status, NoteId note, uint8_t velocity) NEEDS_ENGINE_LOCK;
    // What holds a sounding note: its channel, or in MIDI Tuning output its
    // output key.
    ChannelSlot& slotHolding(NoteId note) NEEDS_ENGINE_LOCK;
    void forgetSoundingNotes() NEEDS_ENGINE_LOCK;

    // player_bend.cpp
    void handlePitchWheel(int32_t value) NEEDS_ENGINE_LOCK;
    int32_t bendWithPlayer(int32_t tuningBend, int32_t noteBend) NEEDS_ENGINE_LOCK;
    // The player's wheel range on channel, when the wheel bends notes.
    void sendPlayerBendRange(uint8_t channel) NEEDS_ENGINE_LOCK;

    // mpe_input.cpp
    NoteId noteIdOf(uint8_t channel, uint8_t key) const NEEDS_ENGINE_LOCK;
    // The controller's own messages: its configuration message and bend
    // ranges, and while it is read as MPE, what its channels say of their
    // notes. True when the message was taken and goes no further.
    void readConfigurationMessage(uint8_t channel, uint8_t controller, uint8_t value) NEEDS_ENGINE_LOCK;
    void announceZone(uint8_t channel, uint8_t members) NEEDS_ENGINE_LOCK;
    void readControllerBendRange(uint8_t channel, uint8_t semitones) NEEDS_ENGINE_LOCK;
    bool takeZoneMessage(uint8_t kind, uint8_t channel, uint8_t data1, uint8_t data2) NEEDS_ENGINE_LOCK;
    void followNotesOn(uint8_t channel, uint8_t kind, uint8_t data1, uint8_t data2) NEEDS_ENGINE_LOCK;
    // How a held note's own bend, pressure or timbre leaves, by output mode.
    void sendNoteExpression(NoteId note, uint8_t kind, uint8_t data1, uint8_t data2) NEEDS_ENGINE_LOCK;
    // A new note's expression so far, on the channel it alone takes, before
    // its Note On; and its own bend, from the centre.
    void sendStartingExpression(NoteId note, uint8_t channel) NEEDS_ENGINE_LOCK;
    int32_t startingBend(NoteId note) const NEEDS_ENGINE_LOCK;
    // A note's own bend in semitones, and as a frequency ratio.
    double noteBendSemitones(int32_t noteBend) const NEEDS_ENGINE_LOCK;
    double noteBendRatio(int32_t noteBend) const NEEDS_ENGINE_LOCK;
    // A Note Off for every held note: the controller reset its zone.
    void endHeldNotes() NEEDS_ENGINE_LOCK;
    void handlePolyPressure(uint8_t channel, uint8_t key, uint8_t value) NEEDS_ENGINE_LOCK;

    // mpe_output.cpp
    // A member's bend onto the note's target plus its own bend.
    int32_t memberBend(const ChannelSlot& slot, uint8_t outputKey) NEEDS_ENGINE_LOCK;
    bool isMember(int channel) const NEEDS_ENGINE_LOCK;
    int chooseMember() NEEDS_ENGINE_LOCK;
    int stealOldestNote() NEEDS_ENGINE_LOCK;
    void silenceHeldMember(int channel) NEEDS_ENGINE_LOCK;
    void soundKeyOnMember(uint8_t status, NoteId note, uint8_t velocity) NEEDS_ENGINE_LOCK;
    void sendMpeOpening() NEEDS_ENGINE_LOCK;

    // tuning_dump.cpp: the table in force, under the settings' device and
    // program, as sendTuningDump and exportTuningDump both give it.
    void encodeTuningDumpInForce(uint8_t (&dump)[TuningDumpSize]) const NEEDS_ENGINE_LOCK;

    // tuning_output.cpp
    uint8_t tuningChannel() const NEEDS_ENGINE_LOCK;
    bool isKeyRetunable(int key, uint32_t now, bool anyRelease) const NEEDS_ENGINE_LOCK;
    int chooseTuningKey(int index) const NEEDS_ENGINE_LOCK;
    void soundRetunedKey(uint8_t status, NoteId note, uint8_t velocity) NEEDS_ENGINE_LOCK;
    // A real-time single-note tuning change of outputKey to frequency, or to
    // the frequency data given.
    void retuneKey(uint8_t outputKey, double frequency) NEEDS_ENGINE_LOCK;
    void retuneKey(uint8_t outputKey, const uint8_t (&data)[3]) NEEDS_ENGINE_LOCK;
    void sendTuningSelection() NEEDS_ENGINE_LOCK;

    // output_senders.cpp
    uint64_t& keySentWord(uint8_t channel, uint8_t key) NEEDS_ENGINE_LOCK;
    void noteKeySent(uint32_t message) NEEDS_ENGINE_LOCK;
    void sendWord(uint32_t message) NEEDS_ENGINE_LOCK;

    // port_opening.cpp
    bool queueSysexBuffer(MidiInputDevice& input);
    void noteFailedOpening(std::string& awaited, const char* remembered, int32_t position,
                           const std::vector<std::string>& names);
    std::optional<MidiSystem::OtherRelay> otherRelayOn(int32_t position) const;
    bool leaveToAnother(MessageReporter& owner, int32_t position, const std::vector<std::string>& names);
    void openInput(MessageReporter& owner, const std::vector<std::string>& names) TAKES_ENGINE_LOCK;
    bool openOutput(MessageReporter& owner, const std::vector<std::string>& names) TAKES_ENGINE_LOCK;
    bool inputIsFree(const std::vector<std::string>& names) const;
    bool shouldReopen(const MidiSystem::DeviceLists& lists) const TAKES_ENGINE_LOCK;
    std::string listenersText() const;

    // scale_loading.cpp
    template <typename Record, typename Parse, typename Install>
    std::string loadAndInstall(const char* path, Parse parse, Install install) TAKES_ENGINE_LOCK;

    // tuning_table.cpp
    double bendUnitsPerOctave() const NEEDS_ENGINE_LOCK;
    KeyTuning tuningFor(double target, double unitsPerOctave) const NEEDS_ENGINE_LOCK;
    void writeKey(int key, int outputKey, int32_t bend, int group, double target, double octaves) NEEDS_ENGINE_LOCK;
    void writeUnmappedKey(int key) NEEDS_ENGINE_LOCK;
    void buildOctaveMode(double unitsPerOctave) NEEDS_ENGINE_LOCK;
    void writeLinearKey(int key, double target, double unitsPerOctave) NEEDS_ENGINE_LOCK;
    void buildLinearMode(double unitsPerOctave) NEEDS_ENGINE_LOCK;
    void buildMappedOctaveMode(double unitsPerOctave) NEEDS_ENGINE_LOCK;
    void buildMappedLinearMode(double unitsPerOctave) NEEDS_ENGINE_LOCK;
    bool mappedIntervalToKey(int key, double& interval) const NEEDS_ENGINE_LOCK;
    double intervalToKey(int key) const NEEDS_ENGINE_LOCK;
    int scanNearestKey(double frequency, int first, int last, double& best) const NEEDS_ENGINE_LOCK;
};
