#include "engine/config_file.h"

#include "engine/engine.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#if defined(__unix__) || defined(__APPLE__)
#include <unistd.h>
#endif

#include "engine/engine_lock.h"
#include "scale/scale.h"

namespace {

uint64_t readLittle(const uint8_t* at, int size)
{
    uint64_t u = 0;
    for (int i = 0; i < size; ++i)
        u |= uint64_t{at[i]} << (8 * i);
    return u;
}

void writeLittle(uint8_t* at, uint64_t value, int size)
{
    for (int i = 0; i < size; ++i)
        at[i] = static_cast<uint8_t>(value >> (8 * i));
}

// Walks the file layout field by field, in order; the same walk writes a
// file image and reads one, so the two cannot drift apart.
class Writer {
public:
    explicit Writer(uint8_t* out) : out_(out) {}
    void u8(uint8_t v) { out_[at_++] = v; }
    void i32(int32_t v) { put(static_cast<uint32_t>(v), 4); }
    void f64(double v)
    {
        uint64_t u;
        std::memcpy(&u, &v, sizeof u);
        put(u, 8);
    }
    int size() const { return at_; }

private:
    void put(uint64_t value, int size)
    {
        writeLittle(out_ + at_, value, size);
        at_ += size;
    }

    uint8_t* out_;
    int at_ = 0;
};

class Reader {
public:
    Reader(const uint8_t* in, int length) : in_(in), length_(length) {}
    void u8(uint8_t& v)
    {
        if (take(1))
            v = in_[at_ - 1];
    }
    void i32(int32_t& v)
    {
        if (take(4))
            v = static_cast<int32_t>(readLittle(in_ + at_ - 4, 4));
    }
    void f64(double& v)
    {
        if (take(8)) {
            const uint64_t u = readLittle(in_ + at_ - 8, 8);
            std::memcpy(&v, &u, sizeof v);
        }
    }
    bool reachedEnd() const { return at_ > length_; }

private:
    // Advances over a field; true when the field lies wholly in the data.
    bool take(int size)
    {
        at_ += size;
        return at_ <= length_;
    }

    const uint8_t* in_;
    int length_;
    int at_ = 0;
};

template <typename Walker, typename S>
void walkHeader(Walker& w, S& s)
{
    w.i32(s.inputDevice);
    w.i32(s.outputDevice);
    w.u8(s.pitchWheelRange);
    w.u8(s.inputChannel);
    w.u8(s.referenceKey);
    w.f64(s.referenceFrequency);
    for (auto& used : s.useChannel)
        w.i32(used);
    for (auto& relay : s.relay)
        w.i32(relay);
    for (auto& controller : s.controlBarController)
        w.u8(controller);
    w.u8(s.commandKey);
    w.u8(s.demodulateKey);
    w.u8(s.resetPitchKey);
    w.u8(s.initMessageKey);
    w.i32(s.shiftCentre);
    w.i32(s.sendInitOnOpen);
    w.i32(s.initEventCount);
}

template <typename Walker, typename E>
void walkEvent(Walker& w, E& e)
{
    w.u8(e.status);
    w.u8(e.channel);
    w.u8(e.param1);
    w.u8(e.param2);
}

// The settings beyond the original record, each under its own tag in the
// extension block: a number (u32, limited to low..high) or a text (UTF-8,
// at most MaxSettingTextLength bytes). Tags are never reused.
using SettingText = char[MaxSettingTextLength + 1];
struct ExtensionField {
    uint16_t tag;
    int32_t Settings::*number;
    SettingText Settings::*text;
    int32_t low;
    int32_t high;
};
constexpr ExtensionField ExtensionFields[] = {
    {1, &Settings::releaseTime, nullptr, 0, MaxReleaseTime},
    {2, nullptr, &Settings::inputDeviceName, 0, 0},
    {3, nullptr, &Settings::outputDeviceName, 0, 0},
    {4, nullptr, &Settings::scalePath, 0, 0},
    {5, nullptr, &Settings::mappingPath, 0, 0},
    {6, &Settings::outputMode, nullptr, 0, OutputModeCount - 1},
    {7, &Settings::mpeBendRange, nullptr, 1, MaxMpeBendRange},
    {8, &Settings::tuningDeviceId, nullptr, 0, 127},
    {9, &Settings::tuningProgram, nullptr, 0, 127},
    {10, &Settings::pitchWheelUse, nullptr, 0, 1},
    {11, &Settings::playerBendRange, nullptr, 1, MaxMpeBendRange},
    {12, &Settings::mpeController, nullptr, 0, 1},
    {13, &Settings::inputBendRange, nullptr, 1, MaxMpeBendRange},
    {14, &Settings::keyLayout, nullptr, 0, 1},
    {15, &Settings::keysPerChannel, nullptr, 1, MaxKeysPerChannel},
    {16, &Settings::windowWidth, nullptr, 0, MaxWindowSide},
    {17, &Settings::windowHeight, nullptr, 0, MaxWindowSide},
};
constexpr uint8_t ExtensionMagic[4] = {'V', 'N', 'T', 'X'};
constexpr uint16_t ExtensionVersion = 1;
constexpr int ExtensionHeaderSize = 10;

bool isDefault(const ExtensionField& f, const Settings& s)
{
    return f.number ? s.*f.number == defaultSettings().*f.number : (s.*f.text)[0] == '\0';
}

void setDefault(const ExtensionField& f, Settings& s)
{
    if (f.number)
        s.*f.number = defaultSettings().*f.number;
    else
        (s.*f.text)[0] = '\0';
}

bool hasExtensionSettings(const Settings& s)
{
    for (const ExtensionField& f : ExtensionFields) {
        if (!isDefault(f, s))
            return true;
    }
    return false;
}

// Writes one field at out; returns its length.
int encodeField(const ExtensionField& f, const Settings& s, uint8_t* out)
{
    writeLittle(out, f.tag, 2);
    if (f.number) {
        writeLittle(out + 2, 4, 2);
        writeLittle(out + 4, static_cast<uint32_t>(s.*f.number), 4);
        return 8;
    }
    const size_t length = strnlen(s.*f.text, MaxSettingTextLength);
    writeLittle(out + 2, static_cast<uint32_t>(length), 2);
    std::memcpy(out + 4, s.*f.text, length);
    return 4 + static_cast<int>(length);
}

// Appends the block at out, with the fields that differ from their
// defaults; returns its length.
int encodeExtension(const Settings& s, uint8_t* out)
{
    std::memcpy(out, ExtensionMagic, 4);
    writeLittle(out + 4, ExtensionVersion, 2);
    int at = ExtensionHeaderSize;
    for (const ExtensionField& f : ExtensionFields) {
        if (!isDefault(f, s))
            at += encodeField(f, s, out + at);
    }
    writeLittle(out + 6, static_cast<uint32_t>(at - ExtensionHeaderSize), 4);
    return at;
}

void applyExtensionField(uint16_t tag, const uint8_t* bytes, uint16_t length, Settings& s)
{
    for (const ExtensionField& f : ExtensionFields) {
        if (f.tag != tag)
            continue;
        if (f.number && length == 4) {
            s.*f.number = std::clamp(static_cast<int32_t>(readLittle(bytes, 4)), f.low, f.high);
        } else if (f.text && length <= MaxSettingTextLength) {
            std::memcpy(s.*f.text, bytes, length);
            (s.*f.text)[length] = '\0';
        }
    }
}

// The block at data, or the defaults where it is absent, cut or malformed.
void decodeExtension(const uint8_t* data, int length, Settings& s)
{
    for (const ExtensionField& f : ExtensionFields)
        setDefault(f, s);
    Settings read = s;
    if (length < ExtensionHeaderSize || std::memcmp(data, ExtensionMagic, 4) != 0)
        return;
    const uint32_t count = readLittle(data + 6, 4);
    if (count > static_cast<uint32_t>(length - ExtensionHeaderSize))
        return;
    const uint8_t* at = data + ExtensionHeaderSize;
    const uint8_t* end = at + count;
    while (at < end) {
        if (end - at < 4 || readLittle(at + 2, 2) > static_cast<uint32_t>(end - at - 4))
            return;
        const auto fieldLength = static_cast<uint16_t>(readLittle(at + 2, 2));
        applyExtensionField(static_cast<uint16_t>(readLittle(at, 2)), at + 4, fieldLength, read);
        at += 4 + fieldLength;
    }
    s = read;
}

int clampedEventCount(int32_t count)
{
    return std::clamp(count, 0, MaxInitEvents);
}

bool writeAll(std::FILE* file, const uint8_t* data, int length)
{
    return std::fwrite(data, 1, static_cast<size_t>(length), file) == static_cast<size_t>(length) &&
           std::fflush(file) == 0;
}

// Asks the system to put the bytes on disk before the rename makes them the
// configuration, so that a crash cannot leave an empty file behind.
bool syncToDisk(std::FILE* file)
{
#if defined(__unix__) || defined(__APPLE__)
    return ::fsync(::fileno(file)) == 0;
#else
    (void)file;
    return true;
#endif
}

bool writeFile(const std::string& path, const uint8_t* data, int length)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    const bool written = writeAll(file, data, length) && syncToDisk(file);
    const bool closed = std::fclose(file) == 0;
    return written && closed;
}

// The file a path names in the end: a symbolic link is followed, so that
// saving replaces the file it points to and the link stays.
std::string linkTarget(const char* path)
{
    std::filesystem::path target(path);
    std::error_code error;
    for (int hops = 0; hops < 40 && std::filesystem::is_symlink(target, error); ++hops) {
        const std::filesystem::path next = std::filesystem::read_symlink(target, error);
        if (error)
            break;
        target = next.is_absolute() ? next : target.parent_path() / next;
    }
    return target.string();
}

// Every field within what a dialog could have stored, whatever a short or
// old file held; a reference frequency that no instrument could be tuned
// to is the default's, with a note that says so.
std::string limitToBounds(Settings& s)
{
    s.inputDevice = std::min(s.inputDevice, MaxDeviceNumber);
    s.outputDevice = std::min(s.outputDevice, MaxDeviceNumber);
    s.pitchWheelRange = std::min<uint8_t>(s.pitchWheelRange, MaxPitchWheelRange);
    s.inputChannel = std::min(s.inputChannel, AllChannels);
    s.referenceKey = std::min<uint8_t>(s.referenceKey, 127);
    for (uint8_t* key : {&s.commandKey, &s.demodulateKey, &s.resetPitchKey, &s.initMessageKey})
        *key = std::min(*key, NoKey);
    for (uint8_t& controller : s.controlBarController)
        controller = std::min<uint8_t>(controller, 127);
    if (isAudibleFrequency(s.referenceFrequency))
        return {};
    char text[160];
    std::snprintf(text, sizeof text, "The reference frequency %g Hz in the configuration is outside 1 Hz to 100 kHz: %g Hz is used.",
                  s.referenceFrequency, defaultSettings().referenceFrequency);
    s.referenceFrequency = defaultSettings().referenceFrequency;
    return text;
}

}  // namespace

int encodeConfig(const Settings& s, uint8_t (&image)[MaxConfigFileSize])
{
    Settings copy = s;
    copy.initEventCount = clampedEventCount(s.initEventCount);
    Writer w(image);
    walkHeader(w, copy);
    for (int i = 0; i < copy.initEventCount; ++i)
        walkEvent(w, copy.initMessage[i]);
    if (!hasExtensionSettings(s))
        return w.size();
    return w.size() + encodeExtension(s, image + w.size());
}

std::string decodeConfig(const uint8_t* image, int length, Settings& s)
{
    Reader header(image, length);
    walkHeader(header, s);
    const std::string note = limitToBounds(s);
    if (header.reachedEnd()) {
        s.initEventCount = 0;
        decodeExtension(image, 0, s);
        return note;
    }
    s.initEventCount = clampedEventCount(s.initEventCount);
    Reader events(image + ConfigHeaderSize, length - ConfigHeaderSize);
    for (int i = 0; i < s.initEventCount; ++i) {
        InitEvent e = s.initMessage[i];
        walkEvent(events, e);
        if (!events.reachedEnd())
            s.initMessage[i] = e;
    }
    const int blockStart = ConfigHeaderSize + ConfigEventSize * s.initEventCount;
    decodeExtension(image + std::min(blockStart, length), std::max(length - blockStart, 0), s);
    return note;
}

std::string configFileProblem(const uint8_t* image, int length)
{
    if (length < ConfigHeaderSize)
        return {};
    Settings s{};
    Reader header(image, length);
    walkHeader(header, s);
    const auto says = [](const char* field, long value, long most) {
        return std::string("its ") + field + " is " + std::to_string(value) + ", where at most " + std::to_string(most) +
               " is possible";
    };
    const uint8_t highestKey = std::max({s.commandKey, s.demodulateKey, s.resetPitchKey, s.initMessageKey});
    std::string why;
    const int64_t expected = ConfigHeaderSize + int64_t{ConfigEventSize} * s.initEventCount;
    if (s.initEventCount < 0 || s.initEventCount > MaxInitEvents)
        why = "it names " + std::to_string(s.initEventCount) + " init events, where 0 to 40 are possible";
    else if (length < expected)
        why = "it ends within its init events";
    else if (length > expected && (length - expected < 4 || std::memcmp(image + expected, ExtensionMagic, 4) != 0))
        why = "it is longer than what it holds";
    else if (s.pitchWheelRange > MaxPitchWheelRange)
        why = says("pitch-wheel range", s.pitchWheelRange, MaxPitchWheelRange);
    else if (s.inputChannel > AllChannels)
        why = says("input channel", s.inputChannel, AllChannels);
    else if (s.referenceKey > 127)
        why = says("reference key", s.referenceKey, 127);
    else if (highestKey > NoKey)
        why = says("highest command key", highestKey, NoKey);
    else if (!std::isfinite(s.referenceFrequency))
        why = "its reference frequency is not a number";
    else if (s.inputDevice < -1 || s.outputDevice < -1)
        why = "a device number in it is below -1";
    return why.empty() ? why : "This is not a Vanto configuration file: " + why + ".";
}

int Engine::saveConfig(const char* path, std::string* reason) const
{
    uint8_t image[MaxConfigFileSize];
    const int length = encodeConfig(currentSettings(), image);
    return writeWholeFile(path, image, length, reason);
}

int writeWholeFile(const char* path, const uint8_t* data, int length, std::string* reason)
{
    const std::string target = linkTarget(path);
    const std::string temporary = target + ".saving";
    const auto fail = [&](const std::string& why) {
        std::remove(temporary.c_str());
        if (reason)
            *reason = why;
        return -1;
    };
    errno = 0;
    if (!writeFile(temporary, data, length))
        return fail(errno ? std::strerror(errno) : "it could not be written");
    std::error_code error;
    std::filesystem::rename(temporary, target, error);
    if (error)
        return fail(error.message());
    return 0;
}

bool readConfig(std::FILE* file, Settings& s)
{
    uint8_t image[MaxConfigFileSize];
    const size_t length = std::fread(image, 1, sizeof image, file);
    if (std::ferror(file))
        return false;
    decodeConfig(image, static_cast<int>(length), s);
    return true;
}

int Engine::loadConfig(const char* path, std::string* problem, std::string* note)
{
    // A pipe or device would hold the window until something wrote to it.
    std::error_code ignored;
    if (std::filesystem::exists(path, ignored) && !std::filesystem::is_regular_file(path, ignored))
        return -1;
    std::FILE* file = std::fopen(path, "rb");
    if (!file)
        return -1;
    // One byte more than any configuration file, so that a longer one shows.
    std::vector<uint8_t> image(MaxConfigFileSize + 1);
    const size_t length = std::fread(image.data(), 1, image.size(), file);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed)
        return -1;
    const std::string why = configFileProblem(image.data(), static_cast<int>(length));
    if (!why.empty()) {
        if (problem)
            *problem = why;
        return -2;
    }
    Settings loaded = currentSettings();
    const std::string said = decodeConfig(image.data(), static_cast<int>(length), loaded);
    if (note)
        *note = said;
    EngineLock lock(engineMutex);
    settings = loaded;
    return 0;
}
