// Timing through the relay on a private JACK server, beside a direct
// connection, at periods 128 and 1024: 500 Note Ons at random frames, one a
// cycle, each answered by a Note Off in the next cycle. The player's port
// feeds both paths, so both hear the same events in the same run. Delay is
// the frame a Note On is heard minus the frame it was written, on the
// server's clock.

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "engine/engine.h"
#include "engine/message_reporter.h"
#include "engine/output_senders.h"
#include "engine/port_opening.h"
#include "engine/scale_in_force.h"
#include "engine/settings.h"
#include "engine/tuning_table.h"
#include "platform/jack_system.h"
#include "platform/rtmidi_system.h"
#include "scale/scale.h"
#include "support/jack_probe.h"
#include "support/jack_server.h"

namespace {

using namespace std::chrono_literals;

constexpr int NoteCount = 500;

class PrintingReporter : public MessageReporter {
public:
    void showMessage(const char* title, const char* text, MessageIcon) override
    {
        std::fprintf(stderr, "%s: %s\n", title, text);
    }
};

// Note i is key 36 + i % 48 at velocity 1 + i / 48, so that every Note On
// is known by its bytes even when the server drops some.
unsigned char keyOf(int i) { return static_cast<unsigned char>(36 + i % 48); }
unsigned char velocityOf(int i) { return static_cast<unsigned char>(1 + i / 48); }

// The frame each note was heard at, by note number; 0 when not heard.
std::vector<uint64_t> noteOnFrames(const std::vector<TimedEvent>& events)
{
    std::vector<uint64_t> frames(NoteCount, 0);
    for (const TimedEvent& event : events) {
        const MidiBytes& bytes = event.bytes;
        if (bytes.size() == 3 && (bytes[0] & 0xF0) == 0x90 && bytes[2] != 0 && bytes[1] >= 36 && bytes[1] < 84) {
            const int note = (bytes[2] - 1) * 48 + (bytes[1] - 36);
            if (note < NoteCount)
                frames[static_cast<size_t>(note)] = event.frame;
        }
    }
    return frames;
}

void report(const char* path, int period, const std::vector<uint64_t>& sent, const std::vector<uint64_t>& heard)
{
    std::vector<long> delays;
    for (size_t i = 0; i < sent.size() && i < heard.size(); ++i) {
        if (heard[i] != 0)
            delays.push_back(static_cast<long>(heard[i] - sent[i]));
    }
    std::sort(delays.begin(), delays.end());
    if (delays.empty()) {
        std::printf("| %-18s | %6d | nothing heard |\n", path, period);
        return;
    }
    const long p99 = delays[std::min(delays.size() - 1, delays.size() * 99 / 100)];
    std::printf("| %-18s | %6d | %6ld | %3ld | %9ld | %3zu of %d |\n", path, period, delays[delays.size() / 2], p99,
                delays.back() - delays.front(), delays.size(), NoteCount);
}

// viaRtMidi: through RtMidi's JACK layer instead of the program's own JACK
// client, as earlier versions relayed, for comparison.
bool measure(int period, bool viaRtMidi)
{
    JackServer server(JackServer::Mode::Timed, period);
    if (!server.running()) {
        std::fprintf(stderr, "jackd did not start\n");
        return false;
    }
    Engine engine;
    JackMidiSystem system(engine);
    RtMidiSystem rtMidi(true);
    engine.midiSystem = viaRtMidi ? static_cast<MidiSystem*>(&rtMidi) : &system;
    JackProbe player("Player");
    JackProbe throughVanto("Vanto Listener");
    JackProbe direct("Direct Listener");
    engine.settings = defaultSettings();
    const std::vector<std::string> inputs = engine.midiSystem->inputDeviceNames();
    engine.settings.inputDevice = static_cast<int32_t>(std::find(inputs.begin(), inputs.end(), player.outName()) - inputs.begin());
    engine.settings.outputDevice = MidiMapperDevice;
    engine.buildInstrumentFrequencies();
    engine.setDefaultScale();
    engine.buildTuningTable();
    PrintingReporter reporter;
    engine.openPorts(reporter);
    if (!throughVanto.connect("Vanto:Vanto Out", throughVanto.inName()) || !player.connect(player.outName(), direct.inName())) {
        std::fprintf(stderr, "could not connect the clients\n");
        return false;
    }
    std::this_thread::sleep_for(300ms);
    throughVanto.clear();
    direct.clear();
    const int xrunsBefore = player.xruns();

    std::mt19937 random(2026);
    player.limitEventsPerCycle(1);
    for (int i = 0; i < NoteCount; ++i) {
        player.send({0x90, keyOf(i), velocityOf(i)}, static_cast<jack_nframes_t>(random() % static_cast<unsigned>(period)));
        player.send({0x80, keyOf(i), 0}, static_cast<jack_nframes_t>(random() % static_cast<unsigned>(period)));
    }
    while (!player.allSent())
        std::this_thread::sleep_for(10ms);
    std::this_thread::sleep_for(200ms);

    std::vector<uint64_t> sentOn;
    const std::vector<uint64_t> sent = player.sentFrames();
    for (size_t i = 0; i < sent.size(); i += 2)
        sentOn.push_back(sent[i]);
    report("direct connection", period, sentOn, noteOnFrames(direct.waitFor(0)));
    report(viaRtMidi ? "through RtMidi" : "through vanto", period, sentOn, noteOnFrames(throughVanto.waitFor(0)));
    std::printf("|   xruns during the run: %d; messages lost by vanto: %llu; cycles deferred: %llu\n",
                player.xruns() - xrunsBefore, static_cast<unsigned long long>(system.lostMessages()),
                static_cast<unsigned long long>(system.deferredCycles()));
    engine.closePorts();
    engine.midiSystem = nullptr;
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    const bool viaRtMidi = argc > 1 && std::string(argv[1]) == "--rtmidi";
    std::printf("delay of %d Note Ons in frames, sent at random offsets, 48 kHz\n", NoteCount);
    std::printf("| path               | period | median | p99 | max - min | heard |\n");
    for (int period : {128, 1024}) {
        if (!measure(period, viaRtMidi))
            return 1;
    }
    return 0;
}
