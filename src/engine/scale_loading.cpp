#include "engine/scale_loading.h"

#include "engine/engine.h"

#include <cstdio>
#include <cstring>
#include <filesystem>

#include "engine/engine_lock.h"
#include "engine/scale_in_force.h"
#include "engine/settings.h"
#include "scale/keyboard_mapping.h"
#include "scale/scala_files.h"
#include "scale/scale_parser.h"

namespace {

bool endsWithIgnoringCase(const std::string& text, const char* suffix)
{
    const size_t n = std::strlen(suffix);
    if (text.size() < n)
        return false;
    for (size_t i = 0; i < n; ++i) {
        const char c = text[text.size() - n + i];
        const char lower = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        if (lower != suffix[i])
            return false;
    }
    return true;
}


// Opens path for reading, refusing at once what is not a regular file: a
// pipe would otherwise hold the window until something wrote to it.
std::FILE* openRegularFile(const char* path, std::string& error)
{
    std::error_code ignored;
    const auto status = std::filesystem::status(path, ignored);
    if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
        error = ScaleError::NotAFile;
        return nullptr;
    }
    std::FILE* file = std::fopen(path, "rb");
    if (!file)
        error = ScaleError::FileNotFound;
    return file;
}

}  // namespace

// Reads path with parse and, when it parsed, installs the record under the
// engine lock; on any error nothing changes.
template <typename Record, typename Parse, typename Install>
std::string Engine::loadAndInstall(const char* path, Parse parse, Install install)
{
    std::string error;
    std::FILE* file = openRegularFile(path, error);
    if (!file)
        return error;
    Record loaded;
    error = parse(file, loaded);
    std::fclose(file);
    if (!error.empty())
        return error;
    EngineLock lock(engineMutex);
    install(loaded);
    return {};
}

namespace {

// Keeps the file's absolute path in stored, for the next start; a path too
// long for the configuration file is not kept.
void rememberPath(char (&stored)[MaxSettingTextLength + 1], const char* path)
{
    std::error_code error;
    const std::string absolute = std::filesystem::absolute(path, error).lexically_normal().string();
    const bool fits = !error && absolute.size() <= MaxSettingTextLength;
    std::snprintf(stored, sizeof stored, "%s", fits ? absolute.c_str() : "");
}

}  // namespace

bool isScalaScalePath(const std::string& path)
{
    return endsWithIgnoringCase(path, ".scl");
}

std::string companionMappingPath(const std::string& scalePath)
{
    if (!isScalaScalePath(scalePath))
        return {};
    const std::string base = scalePath.substr(0, scalePath.size() - 4);
    for (const char* extension : {".kbm", ".KBM"}) {
        std::error_code ignored;
        if (std::filesystem::is_regular_file(base + extension, ignored))
            return base + extension;
    }
    return {};
}

std::string parseScaleFile(std::FILE* file, const char* path, Scale& loaded, std::vector<std::string>* warnings)
{
    if (isScalaScalePath(path))
        return parseScalaScale(file, std::filesystem::path(path).stem().string(), loaded);
    ScaleReadNotes notes;
    const char* error = parseScale(file, loaded, &notes);
    if (warnings)
        *warnings = notes.warnings;
    if (!error)
        return "";
    if (notes.errorLine == 0)
        return error;
    return std::string(error) + "\nLine " + std::to_string(notes.errorLine) + ": " + notes.errorLineText;
}

std::string parseMappingFile(std::FILE* file, const char* path, KeyboardMapping& loaded)
{
    std::string error = parseKeyboardMapping(file, loaded);
    const std::string name = textAsUtf8(std::filesystem::path(path).filename().string(), MaxMappingNameLength);
    std::memcpy(loaded.name, name.c_str(), name.size() + 1);
    return error;
}

std::string readTuningFile(const char* path, std::string& text)
{
    std::string error;
    std::FILE* file = openRegularFile(path, error);
    if (!file)
        return error;
    text.clear();
    char block[4096];
    while (const size_t count = std::fread(block, 1, sizeof block, file)) {
        text.append(block, count);
        if (text.size() > MaxTuningFileSize)
            break;
    }
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed)
        return ScaleError::FileNotFound;
    if (text.size() > MaxTuningFileSize)
        return TuningFileTooLarge;
    return {};
}

std::string Engine::loadScale(const char* path, std::vector<std::string>* warnings)
{
    if (warnings)
        warnings->clear();
    return loadAndInstall<Scale>(
        path, [path, warnings](std::FILE* file, Scale& loaded) { return parseScaleFile(file, path, loaded, warnings); },
        [this, path](const Scale& loaded) NEEDS_ENGINE_LOCK {
            installScale(loaded);
            rememberPath(settings.scalePath, path);
        });
}

std::string Engine::loadKeyboardMapping(const char* path)
{
    return loadAndInstall<KeyboardMapping>(
        path,
        [path](std::FILE* file, KeyboardMapping& loaded) { return parseMappingFile(file, path, loaded); },
        [this, path](const KeyboardMapping& loaded) NEEDS_ENGINE_LOCK {
            installKeyboardMapping(loaded);
            rememberPath(settings.mappingPath, path);
        });
}

std::string Engine::tuningStatusText() const
{
    std::string text = scale.name;
    if (keyboardMapping.active)
        text += std::string("  |  ") + keyboardMapping.name;
    return text;
}
