#include "scale/scala_files.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string_view>

const double ScalaDefaultPitch = 261.6255653005986;

namespace {

constexpr size_t MaxLineLength = 65536;

namespace Text {
constexpr const char* ReadError = "Could not read the file.";
constexpr const char* LineTooLong = "Line too long.";
constexpr const char* NoteCountMissing = "The number of notes is missing.";
constexpr const char* NoteCountNotNumber = "The number of notes must be a whole number.";
constexpr const char* NoNotes = "A scale of no notes has nothing to play.";
constexpr const char* TooManyNotes = "More than 2048 notes: Vanto plays at most 2048.";
constexpr const char* Inaudible = "This pitch aims outside 1 Hz to 100 kHz.";
constexpr const char* NotAPitch = "Not a pitch: write cents with a point (701.955) or a ratio (3/2).";
constexpr const char* NotPositive = "A ratio must be greater than zero.";
constexpr const char* ZeroDenominator = "A ratio cannot have a denominator of 0.";
constexpr const char* OutOfRange = "Interval out of range.";
constexpr const char* BadEntry = "A mapping entry must be a scale degree or x.";
}  // namespace Text

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

std::string atLine(int line, const std::string& text)
{
    return "Line " + std::to_string(line) + ": " + text;
}

// Lines of a Scala file with the comments left out, numbered as an editor
// numbers them.
class ScalaLines {
public:
    enum class Read { Line, End, TooLong, Failed };

    explicit ScalaLines(std::FILE* file) : file_(file) {}

    Read next(std::string& line)
    {
        for (;;) {
            const Read read = physical(line);
            if (read != Read::Line || line.empty() || line[0] != '!')
                return read;
        }
    }
    // The line last read; after End, the line that would have come next.
    int number() const { return ended_ ? number_ + 1 : number_; }

private:
    Read physical(std::string& line)
    {
        line.clear();
        int c = std::getc(file_);
        if (c == EOF) {
            ended_ = true;
            return std::ferror(file_) ? Read::Failed : Read::End;
        }
        ++number_;
        for (; c != EOF; c = std::getc(file_)) {
            if (c == '\n')
                return dropByteOrderMark(line);
            if (c == '\r') {
                const int after = std::getc(file_);
                if (after != '\n' && after != EOF)
                    std::ungetc(after, file_);
                return dropByteOrderMark(line);
            }
            if (line.size() >= MaxLineLength)
                return Read::TooLong;
            line.push_back(static_cast<char>(c));
        }
        return std::ferror(file_) ? Read::Failed : dropByteOrderMark(line);
    }

    // Editors that save UTF-8 with a byte-order mark put it before line 1.
    Read dropByteOrderMark(std::string& line) const
    {
        if (number_ == 1 && line.starts_with("\xEF\xBB\xBF"))
            line.erase(0, 3);
        return Read::Line;
    }

    std::FILE* file_;
    int number_ = 0;
    bool ended_ = false;
};

size_t skipBlanks(std::string_view text, size_t from = 0)
{
    while (from < text.size() && isBlank(text[from]))
        ++from;
    return from;
}

bool isBlankLine(const std::string& line)
{
    return skipBlanks(line) == line.size();
}

// The first word of a line: leading blanks skipped, ended by a blank.
std::string_view firstWord(const std::string& line)
{
    const size_t start = skipBlanks(line);
    size_t end = start;
    while (end < line.size() && !isBlank(line[end]))
        ++end;
    return std::string_view(line).substr(start, end - start);
}

// A whole number at the start of word (a sign allowed, text after the digits
// ignored), saturated to a range no field needs.
bool readWholeNumber(std::string_view word, int64_t& value)
{
    size_t i = 0;
    const bool negative = !word.empty() && word[0] == '-';
    if (!word.empty() && (word[0] == '-' || word[0] == '+'))
        ++i;
    if (i >= word.size() || !isDigit(word[i]))
        return false;
    value = 0;
    for (; i < word.size() && isDigit(word[i]); ++i)
        value = std::min<int64_t>(value * 10 + (word[i] - '0'), int64_t{1} << 40);
    if (negative)
        value = -value;
    return true;
}

// The digits at the start of text as a number; large ones lose precision
// rather than overflow.
bool readDigits(std::string_view text, size_t& at, double& value)
{
    const size_t start = at;
    value = 0.0;
    for (; at < text.size() && isDigit(text[at]); ++at)
        value = value * 10.0 + (text[at] - '0');
    return at > start;
}

const char* centsRatio(std::string_view word, double& ratio)
{
    const std::string text(word);
    char* end = nullptr;
    const double cents = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || *end != '\0')
        return Text::NotAPitch;
    ratio = std::exp2(cents / 1200.0);
    return std::isfinite(ratio) && ratio > 0.0 ? nullptr : Text::OutOfRange;
}

const char* fractionRatio(std::string_view word, double& ratio)
{
    if (word[0] == '-')
        return Text::NotPositive;
    size_t at = 0;
    double numerator = 0.0;
    if (!readDigits(word, at, numerator))
        return Text::NotAPitch;
    double denominator = 1.0;
    if (at < word.size() && word[at] == '/') {
        ++at;
        if (at < word.size() && word[at] == '-')
            return Text::NotPositive;
        if (!readDigits(word, at, denominator))
            return Text::NotAPitch;
    }
    if (at != word.size())
        return Text::NotAPitch;  // "701,955" is no ratio of 701
    if (denominator == 0.0)
        return Text::ZeroDenominator;
    if (numerator == 0.0)
        return Text::NotPositive;
    ratio = numerator / denominator;
    return std::isfinite(ratio) && ratio > 0.0 ? nullptr : Text::OutOfRange;
}

// A pitch word: cents when it holds a point, else a ratio a/b or a whole a.
const char* pitchRatio(std::string_view word, double& ratio)
{
    if (word.find('.') != std::string_view::npos)
        return centsRatio(word, ratio);
    return fractionRatio(word, ratio);
}

std::string trimmed(const std::string& text)
{
    const size_t start = skipBlanks(text);
    size_t end = text.size();
    while (end > start && isBlank(text[end - 1]))
        --end;
    return text.substr(start, end - start);
}

void setScalaDefaults(Scale& s)
{
    s = Scale{};
    s.pitch = ScalaDefaultPitch;
    s.centre = 60;
    for (double& r : s.ratio)
        r = 1.0;
}

// The text for a read that did not give a line where one was needed.
std::string readFailure(ScalaLines::Read read, const ScalaLines& lines, const char* missing)
{
    if (read == ScalaLines::Read::Failed)
        return Text::ReadError;
    return atLine(lines.number(), read == ScalaLines::Read::TooLong ? Text::LineTooLong : missing);
}

std::string readNoteCount(ScalaLines& lines, int32_t& count)
{
    std::string line;
    const ScalaLines::Read read = lines.next(line);
    if (read != ScalaLines::Read::Line)
        return readFailure(read, lines, Text::NoteCountMissing);
    int64_t value = 0;
    if (!readWholeNumber(firstWord(line), value) || value < 0)
        return atLine(lines.number(), Text::NoteCountNotNumber);
    if (value == 0)
        return atLine(lines.number(), Text::NoNotes);
    if (value > MaxScalaDegrees)
        return atLine(lines.number(), Text::TooManyNotes);
    count = static_cast<int32_t>(value);
    return {};
}

std::string readPitches(ScalaLines& lines, Scale& s)
{
    std::string line;
    for (int degree = 1; degree <= s.degrees; ++degree) {
        const std::string which = "pitch " + std::to_string(degree) + " of " + std::to_string(s.degrees);
        const ScalaLines::Read read = lines.next(line);
        if (read != ScalaLines::Read::Line)
            return readFailure(read, lines, ("The " + which + " is missing.").c_str());
        if (isBlankLine(line))
            return atLine(lines.number(), "Blank line where " + which + " belongs.");
        if (const char* error = pitchRatio(firstWord(line), s.ratio[degree]))
            return atLine(lines.number(), error);
        if (!isAudibleFrequency(s.pitch * s.ratio[degree]))
            return atLine(lines.number(), Text::Inaudible);
    }
    return {};
}

// One header field of a keyboard mapping: a whole number in first..last.
std::string readMappingNumber(ScalaLines& lines, const char* field, int64_t first, int64_t last, int64_t& value)
{
    std::string line;
    const ScalaLines::Read read = lines.next(line);
    if (read != ScalaLines::Read::Line)
        return readFailure(read, lines, (std::string("The ") + field + " is missing.").c_str());
    if (!readWholeNumber(firstWord(line), value) || value < first || value > last) {
        return atLine(lines.number(), std::string("The ") + field + " must be a whole number from " +
                                          std::to_string(first) + " to " + std::to_string(last) + ".");
    }
    return {};
}

std::string readMappingKey(ScalaLines& lines, const char* field, uint16_t& key)
{
    int64_t value = 0;
    std::string error = readMappingNumber(lines, field, 0, MaxKeyIndex, value);
    key = static_cast<uint16_t>(value);
    return error;
}

std::string readReferenceFrequency(ScalaLines& lines, double& frequency)
{
    std::string line;
    const ScalaLines::Read read = lines.next(line);
    if (read != ScalaLines::Read::Line)
        return readFailure(read, lines, "The reference frequency is missing.");
    const std::string word(firstWord(line));
    char* end = nullptr;
    frequency = std::strtod(word.c_str(), &end);
    if (end == word.c_str() || !(frequency > 0.0) || !std::isfinite(frequency))
        return atLine(lines.number(), "The reference frequency must be a number of Hz above 0.");
    return {};
}

bool onlyBlankLinesFollow(ScalaLines& lines)
{
    std::string line;
    ScalaLines::Read read;
    while ((read = lines.next(line)) == ScalaLines::Read::Line) {
        if (!isBlankLine(line))
            return false;
    }
    return read == ScalaLines::Read::End;
}

// Up to size entries; the ones left out at the end stay unmapped. A blank
// line ends the list only where nothing but blank lines follows it.
std::string readMappingEntries(ScalaLines& lines, KeyboardMapping& m)
{
    std::string line;
    for (int i = 0; i < m.size; ++i) {
        const ScalaLines::Read read = lines.next(line);
        if (read == ScalaLines::Read::End)
            return {};
        if (read != ScalaLines::Read::Line)
            return readFailure(read, lines, "");
        const std::string_view word = firstWord(line);
        if (word.empty()) {
            const int blankLine = lines.number();
            return onlyBlankLinesFollow(lines) ? std::string() : atLine(blankLine, Text::BadEntry);
        }
        int64_t degree = 0;
        if (word == "x" || word == "X")
            continue;
        if (!readWholeNumber(word, degree) || degree < -MaxMappedDegree || degree > MaxMappedDegree)
            return atLine(lines.number(), Text::BadEntry);
        m.entry[i] = static_cast<int32_t>(degree);
    }
    return {};
}

std::string readMappingHeader(ScalaLines& lines, KeyboardMapping& m, int& referenceLine)
{
    int64_t size = 0;
    int64_t octave = 0;
    std::string error = readMappingNumber(lines, "map size", 0, MaxMapSize, size);
    m.size = static_cast<int32_t>(size);
    if (error.empty())
        error = readMappingKey(lines, "first key", m.firstKey);
    if (error.empty())
        error = readMappingKey(lines, "last key", m.lastKey);
    if (error.empty())
        error = readMappingKey(lines, "middle key", m.middleKey);
    if (error.empty())
        error = readMappingKey(lines, "reference key", m.referenceKey);
    referenceLine = lines.number();
    if (error.empty())
        error = readReferenceFrequency(lines, m.referenceFrequency);
    if (error.empty())
        error = readMappingNumber(lines, "formal octave degree", 0, MaxMappedDegree, octave);
    m.octaveDegree = static_cast<int32_t>(octave);
    return error;
}

bool isValidUtf8(std::string_view text)
{
    for (size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
        if (length == 0 || i + length > text.size())
            return false;
        for (size_t k = 1; k < length; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) >> 6) != 0x2)
                return false;
        }
        i += length;
    }
    return true;
}

std::string latin1ToUtf8(std::string_view text)
{
    std::string result;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            result.push_back(c);
        } else {
            result.push_back(static_cast<char>(0xC0 | (byte >> 6)));
            result.push_back(static_cast<char>(0x80 | (byte & 0x3F)));
        }
    }
    return result;
}

}  // namespace

std::string textAsUtf8(const std::string& bytes, size_t maxBytes)
{
    std::string text = isValidUtf8(bytes) ? bytes : latin1ToUtf8(bytes);
    if (text.size() <= maxBytes)
        return text;
    size_t cut = maxBytes;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) >> 6) == 0x2)
        --cut;
    text.resize(cut);
    return text;
}

std::string parseScalaScale(std::FILE* file, const std::string& fallbackName, Scale& result)
{
    setScalaDefaults(result);
    ScalaLines lines(file);
    std::string description;
    const ScalaLines::Read read = lines.next(description);
    if (read != ScalaLines::Read::Line)
        return readFailure(read, lines, Text::NoteCountMissing);
    std::string error = readNoteCount(lines, result.degrees);
    if (error.empty())
        error = readPitches(lines, result);
    if (!error.empty())
        return error;
    description = trimmed(description);
    const std::string name = textAsUtf8(description.empty() ? fallbackName : description, MaxScaleNameLength);
    std::memcpy(result.name, name.c_str(), name.size() + 1);
    result.octavePeriod = result.ratio[result.degrees] == 2.0 ? 1 : 0;
    return {};
}

std::string parseKeyboardMapping(std::FILE* file, KeyboardMapping& result)
{
    result = KeyboardMapping{};
    for (int32_t& e : result.entry)
        e = UnmappedEntry;
    ScalaLines lines(file);
    int referenceLine = 0;
    std::string error = readMappingHeader(lines, result, referenceLine);
    if (error.empty())
        error = readMappingEntries(lines, result);
    if (!error.empty())
        return error;
    int64_t degree = 0;
    if (!patternDegree(result, 1, result.middleKey, result.referenceKey, degree)) {
        return atLine(referenceLine, "The reference key " + std::to_string(result.referenceKey) +
                                         " is unmapped, so the mapping cannot set the tuning.");
    }
    return {};
}
