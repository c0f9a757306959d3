// zorbelu's command line: each command with the options it accepts, read
// with CLI11. Unknown options and extra arguments are errors (with a
// suggestion), numbers and enumerations are checked before anything runs,
// and `zorbelu CMD --help` and `zorbelu help CMD` print the command's help.
#pragma once

#include <optional>
#include <string>

#include "cli_support.h"

namespace zorbelu::cli {

struct Invocation {
    std::string command;
    Arguments args;
};

// Reads argv. Nothing when help or the version was asked for (and printed);
// throws UsageError on wrong arguments. --lang is filled from LC_ALL,
// LC_MESSAGES or LANG when not given.
std::optional<Invocation> ParseCommandLine(int argc, char** argv);

// The language module code ("DEU") that the locale variables ask for, ""
// for English.
std::string LanguageFromEnvironment();

}  // namespace zorbelu::cli
