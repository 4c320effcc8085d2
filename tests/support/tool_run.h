#pragma once
// Runs a built command-line tool through the shell and keeps what it printed.

#include <sys/wait.h>

#include <cstdio>
#include <string>
#include <vector>

struct ToolRun {
    int exitCode;
    std::vector<std::string> lines;  // standard output and error, without line breaks
};

inline ToolRun runTool(const std::string& tool, const std::string& arguments)
{
    const std::string command = tool + " " + arguments + " 2>&1";
    std::FILE* pipe = ::popen(command.c_str(), "r");
    ToolRun run{-1, {}};
    if (!pipe)
        return run;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe)) {
        std::string line(buffer);
        if (!line.empty() && line.back() == '\n')
            line.pop_back();
        run.lines.push_back(line);
    }
    const int status = ::pclose(pipe);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}
