#pragma once
// Reads scale files: a small line-oriented language of commands (name,
// degrees, pitch, centre, end) and degree lines in cents (c), equal steps (e),
// just intervals (j) or ratios (r).

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "scale/scale.h"

// The error texts, as the user sees them.
namespace ScaleError {
inline constexpr const char* FileNotFound = "File not found.";
inline constexpr const char* NotAFile = "This is not a file that can be read: it is a folder, a device or a pipe.";
inline constexpr const char* UnrecognisedCommand = "Unrecognised command.";
inline constexpr const char* DegreeOutOfRange = "Scale degree out of range.";
inline constexpr const char* UnrecognisedDegreeType = "Unrecognised degree type.";
inline constexpr const char* DivideByZero = "Cannot divide by zero.";
inline constexpr const char* NegativeEqualTempered = "Negative equal tempered scales do not exist.";
inline constexpr const char* NegativeJustInterval = "Negative just intervals do not exist.";
inline constexpr const char* NegativeRatio = "Negative interval ratios do not exist.";
inline constexpr const char* DegreesOutOfRange = "Number of degrees out of range.";
inline constexpr const char* CentreOutOfRange = "Centre key out of range.";
inline constexpr const char* PitchOutOfRange = "Pitch out of range.";
inline constexpr const char* IntervalOutOfRange = "Interval out of range.";
inline constexpr const char* LineTooLong = "Line too long.";
inline constexpr const char* ReadError = "Could not read the file.";
}  // namespace ScaleError

// Lines longer than this are refused rather than held in memory.
constexpr size_t MaxScaleLineLength = 65536;

enum class LineKind { End, Name, Degrees, Pitch, Centre, Blank, Comment, Unrecognised, Degree };

struct NumberPair {
    int32_t a;
    int32_t b;
};

enum class LineRead { Line, LastLine, TooLong, Failed };

// Reads one line (up to a carriage return or line feed, neither kept).
// LastLine: the text read ends at the end of the file; it may be empty.
LineRead readScaleLine(std::FILE* file, std::string& line);

// The kind of a line from its first word; for a degree line, number is set.
LineKind classifyToken(const std::string& word, int32_t& number);

// A:B or A/B: the first separator anywhere in text splits it; without one,
// B is 1.
NumberPair splitNumberPair(const char* text, char separator);

// What a reading says beyond its result: the line an error stands on
// (0 for none), and a warning for each value with characters left over
// after its number, which is read as the number alone.
struct ScaleReadNotes {
    int errorLine = 0;
    std::string errorLineText;
    std::vector<std::string> warnings;  // "Line 8: '3:2' was read as 3 — did you mean j3/2?"
};

// Parses a whole scale file from an open stream into result. Returns nullptr
// on success, else one of the ScaleError texts; notes, when given, get the
// line of the error and the warnings.
const char* parseScale(std::FILE* file, Scale& result, ScaleReadNotes* notes = nullptr);
