#include "scale/scale_parser.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "scale/scala_files.h"

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

char foldCase(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equalsIgnoringCase(const std::string& word, const char* command)
{
    size_t i = 0;
    for (; i < word.size() && command[i]; ++i) {
        if (foldCase(word[i]) != command[i])
            return false;
    }
    return i == word.size() && command[i] == '\0';
}

// As atoi reads, but saturating instead of overflowing.
int32_t readInteger(const char* text)
{
    errno = 0;
    const long long value = std::strtoll(text, nullptr, 10);
    if (value > INT32_MAX)
        return INT32_MAX;
    if (value < INT32_MIN)
        return INT32_MIN;
    return static_cast<int32_t>(value);
}

double readDecimal(const char* text)
{
    return std::strtod(text, nullptr);
}

size_t skipBlanks(const std::string& line, size_t from)
{
    while (from < line.size() && isBlank(line[from]))
        ++from;
    return from;
}

double powerOfTwo(double exponent)
{
    return std::pow(10.0, exponent * std::log10(2.0));
}

void setFileDefaults(Scale& s)
{
    s = Scale{};
    std::strcpy(s.name, "Default Scale");
    s.pitch = 261.626;
    s.centre = 60;
    s.octavePeriod = 0;
    s.degrees = 12;
    for (double& r : s.ratio)
        r = 1.0;
}

// The ratio a degree line asks for, or the error that refuses it.
const char* degreeRatio(char type, const char* value, double& ratio)
{
    switch (foldCase(type)) {
    case 'c':
        ratio = powerOfTwo(readDecimal(value) / 1200.0);
        return nullptr;
    case 'e': {
        const NumberPair p = splitNumberPair(value, ':');
        if (p.b == 0)
            return ScaleError::DivideByZero;
        if (p.b < 0)
            return ScaleError::NegativeEqualTempered;
        ratio = powerOfTwo(static_cast<double>(p.a) / p.b);
        return nullptr;
    }
    case 'j': {
        const NumberPair p = splitNumberPair(value, '/');
        if (p.b == 0)
            return ScaleError::DivideByZero;
        if (p.a < 1 || p.b < 1)
            return ScaleError::NegativeJustInterval;
        ratio = static_cast<double>(p.a) / p.b;
        return nullptr;
    }
    case 'r':
        ratio = readDecimal(value);
        return ratio > 0.0 ? nullptr : ScaleError::NegativeRatio;
    default:
        return ScaleError::UnrecognisedDegreeType;
    }
}

// What splits a value of the type: j3/2, e3:12, c701.955 (and r1.5).
char separatorOf(char type)
{
    return type == 'j' ? '/' : type == 'e' ? ':' : '.';
}

// The separator typed for it by mistake: j3:2, e3/12, c701,955.
char mistypedSeparatorOf(char type)
{
    return type == 'j' ? ':' : type == 'e' ? '/' : ',';
}

// The first word of the value after a degree's letter.
std::string valueWord(const char* value)
{
    while (isBlank(*value))
        ++value;
    const char* end = value;
    while (*end && !isBlank(*end))
        ++end;
    return std::string(value, end);
}

bool isWholeNumber(const std::string& text, size_t from, size_t to)
{
    if (from < to && (text[from] == '+' || text[from] == '-'))
        ++from;
    if (from >= to)
        return false;
    for (size_t i = from; i < to; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
    }
    return true;
}

// Whether the word is all number: A or A/B (A:B for steps), or a decimal.
bool isWholeValue(char type, const std::string& word)
{
    if (type == 'j' || type == 'e') {
        const size_t split = word.find(separatorOf(type));
        if (split == std::string::npos)
            return isWholeNumber(word, 0, word.size());
        return isWholeNumber(word, 0, split) && isWholeNumber(word, split + 1, word.size());
    }
    char* end = nullptr;
    std::strtod(word.c_str(), &end);
    return end != word.c_str() && *end == '\0';
}

// "3" or "3/2", "701.955", as the value was read.
std::string readValueText(char type, const char* value)
{
    char text[64];
    if (type == 'j' || type == 'e') {
        const NumberPair p = splitNumberPair(value, separatorOf(type));
        if (p.b == 1)
            std::snprintf(text, sizeof text, "%d", p.a);
        else
            std::snprintf(text, sizeof text, "%d%c%d", p.a, separatorOf(type), p.b);
    } else {
        std::snprintf(text, sizeof text, "%.12g", readDecimal(value));
    }
    return text;
}

// A value with characters left over after its number is read as the number
// alone, as it always was, so that existing files play unchanged; the
// warning says so, with the likely meaning where a separator was mistyped.
std::string leftoverWarning(char type, const char* value)
{
    type = foldCase(type);
    const std::string word = valueWord(value);
    if (word.empty() || isWholeValue(type, word))
        return {};
    std::string meant = word;
    std::replace(meant.begin(), meant.end(), mistypedSeparatorOf(type), separatorOf(type));
    std::string warning = "'" + word + "' was read as " + readValueText(type, value);
    if (meant != word && isWholeValue(type, meant))
        return warning + " \u2014 did you mean " + type + meant + "?";
    return warning + ".";
}

const char* parseDegreeLine(const std::string& line, size_t afterWord, int32_t number, Scale& s, std::string& warning)
{
    if (number < 1 || number > MaxDegrees)
        return ScaleError::DegreeOutOfRange;
    // A number running straight into its letter (1r1.5) leaves nothing
    // after the first word, like a line with no letter at all.
    const size_t letter = skipBlanks(line, afterWord);
    if (letter >= line.size())
        return ScaleError::UnrecognisedDegreeType;
    double ratio = 1.0;
    if (const char* error = degreeRatio(line[letter], line.c_str() + letter + 1, ratio))
        return error;
    warning = leftoverWarning(line[letter], line.c_str() + letter + 1);
    // Cents or steps so large that the ratio overflows, or vanishes.
    if (!(ratio > 0.0) || !std::isfinite(ratio))
        return ScaleError::IntervalOutOfRange;
    s.ratio[number] = ratio;
    return nullptr;
}

void setName(Scale& s, const std::string& line, size_t afterWord)
{
    const size_t start = skipBlanks(line, afterWord);
    const std::string name = textAsUtf8(line.substr(start), MaxScaleNameLength);
    std::memcpy(s.name, name.c_str(), name.size() + 1);
}

// One examined line; sets ended on an end command, and degree to the
// degree it set.
const char* parseLine(const std::string& line, Scale& s, bool& ended, int32_t& degree, std::string& warning)
{
    const size_t wordStart = skipBlanks(line, 0);
    size_t wordEnd = wordStart;
    while (wordEnd < line.size() && !isBlank(line[wordEnd]))
        ++wordEnd;
    const std::string word = line.substr(wordStart, wordEnd - wordStart);
    const char* rest = line.c_str() + wordEnd;
    int32_t number = 0;
    switch (classifyToken(word, number)) {
    case LineKind::End:
        ended = true;
        return nullptr;
    case LineKind::Name:
        setName(s, line, wordEnd);
        return nullptr;
    case LineKind::Degrees:
        s.degrees = readInteger(rest);
        return s.degrees >= 1 && s.degrees <= MaxDegrees ? nullptr : ScaleError::DegreesOutOfRange;
    case LineKind::Pitch:
        s.pitch = readDecimal(rest);
        return isAudibleFrequency(s.pitch) ? nullptr : ScaleError::PitchOutOfRange;
    case LineKind::Centre: {
        const int32_t centre = readInteger(rest);
        if (centre < 0 || centre > 127)
            return ScaleError::CentreOutOfRange;
        s.centre = static_cast<uint8_t>(centre);
        return nullptr;
    }
    case LineKind::Blank:
    case LineKind::Comment:
        return nullptr;
    case LineKind::Unrecognised:
        return ScaleError::UnrecognisedCommand;
    case LineKind::Degree:
        degree = number;
        return parseDegreeLine(line, wordEnd, number, s, warning);
    }
    return ScaleError::UnrecognisedCommand;
}

}  // namespace

LineRead readScaleLine(std::FILE* file, std::string& line)
{
    line.clear();
    for (;;) {
        const int c = std::getc(file);
        if (c == EOF)
            return std::ferror(file) ? LineRead::Failed : LineRead::LastLine;
        if (c == '\r' || c == '\n')
            return LineRead::Line;
        if (line.size() >= MaxScaleLineLength)
            return LineRead::TooLong;
        line.push_back(static_cast<char>(c));
    }
}

LineKind classifyToken(const std::string& word, int32_t& number)
{
    static const struct {
        const char* word;
        LineKind kind;
    } commands[] = {{"end", LineKind::End},
                    {"name", LineKind::Name},
                    {"degrees", LineKind::Degrees},
                    {"pitch", LineKind::Pitch},
                    {"centre", LineKind::Centre}};
    for (const auto& command : commands) {
        if (equalsIgnoringCase(word, command.word))
            return command.kind;
    }
    if (word.empty())
        return LineKind::Blank;
    if (word[0] == '/' || word[0] == ';')
        return LineKind::Comment;
    if (word[0] < '0' || word[0] > '9')
        return LineKind::Unrecognised;
    number = readInteger(word.c_str());
    return LineKind::Degree;
}

NumberPair splitNumberPair(const char* text, char separator)
{
    const char* split = std::strchr(text, separator);
    if (!split)
        return {readInteger(text), 1};
    const std::string before(text, split);
    return {readInteger(before.c_str()), readInteger(split + 1)};
}

namespace {

const char* noteError(const char* error, ScaleReadNotes* notes, int line, const std::string& text)
{
    if (notes && line > 0) {
        notes->errorLine = line;
        notes->errorLineText = text;
    }
    return error;
}

}  // namespace

const char* parseScale(std::FILE* file, Scale& result, ScaleReadNotes* notes)
{
    setFileDefaults(result);
    std::string line;
    bool ended = false;
    int number = 0;
    // Where each degree was set, for an error found once the file is read.
    int degreeLine[RatioCount] = {};
    std::string degreeText[RatioCount];
    while (!ended) {
        const LineRead read = readScaleLine(file, line);
        ++number;
        if (read == LineRead::Failed)
            return ScaleError::ReadError;
        if (read == LineRead::TooLong)
            return noteError(ScaleError::LineTooLong, notes, number, "");
        int32_t degree = 0;
        std::string warning;
        if (const char* error = parseLine(line, result, ended, degree, warning))
            return noteError(error, notes, number, line);
        if (degree > 0 && degree < RatioCount) {
            degreeLine[degree] = number;
            degreeText[degree] = line;
        }
        if (notes && !warning.empty())
            notes->warnings.push_back("Line " + std::to_string(number) + ": " + warning);
        if (read == LineRead::LastLine)
            break;
    }
    for (int degree = 1; degree <= result.degrees; ++degree) {
        if (!isAudibleFrequency(result.pitch * result.ratio[degree]))
            return noteError(ScaleError::IntervalOutOfRange, notes, degreeLine[degree], degreeText[degree]);
    }
    result.octavePeriod = result.ratio[result.degrees] == 2.0 ? 1 : 0;
    return nullptr;
}
