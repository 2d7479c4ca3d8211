#pragma once

#include <functional>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <vector>

namespace orv {

// Ends a tool's command with exit status 1 and this text.
struct TCliFailure {
  std::string text;
};
// Ends a tool's command with exit status 2, the text and the usage text.
struct TCliUsageError {
  std::string text;
};

// An option with a value, written "--name VALUE" or "--name=VALUE".
struct TCliValueOption {
  const char* name;
  std::optional<std::string>* slot;
};
// An option without a value.
struct TCliFlagOption {
  const char* name;
  bool* slot;
};

// The operands of args[1..] (args[0] is the command), filling the options on the way. "-" and
// everything after "--" are operands. An unknown option or a missing value raises
// TCliUsageError.
std::vector<std::string> ParseCliArguments(const std::vector<std::string>& args,
                                           std::span<const TCliValueOption> values,
                                           std::span<const TCliFlagOption> flags = {});

// Command-line text (UTF-8) as the engine's 8-bit text; refuses (TCliFailure) what the code
// page cannot hold rather than using a different name.
std::string CliToEngineText(const std::string& utf8, const char* what);

// Runs one command of a tool and gives its exit status: "help" (or --help, -h) prints usage
// and gives 0; TCliUsageError gives 2 with the usage text; TCliFailure and any other exception
// give 1 with "tool: command: text"; otherwise run's result.
int RunCliCommand(const char* tool, const std::vector<std::string>& args, const char* usage,
                  std::ostream& out, std::ostream& err, const std::function<int()>& run);

}  // namespace orv
