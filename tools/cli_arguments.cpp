#include "tools/cli_arguments.h"

#include <fmt/format.h>

#include "platform/codepage.h"

namespace orv {

std::vector<std::string> ParseCliArguments(const std::vector<std::string>& args,
                                           std::span<const TCliValueOption> values,
                                           std::span<const TCliFlagOption> flags) {
  std::vector<std::string> operands;
  const std::string command = args.empty() ? std::string() : args[0];
  bool options_end = false;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (options_end || arg == "-" || arg.empty() || arg[0] != '-') {
      operands.push_back(arg);
      continue;
    }
    if (arg == "--") {
      options_end = true;
      continue;
    }
    bool* flag = nullptr;
    for (const TCliFlagOption& candidate : flags)
      if (arg == candidate.name) flag = candidate.slot;
    if (flag != nullptr) {
      *flag = true;
      continue;
    }
    const size_t equals = arg.find('=');
    const std::string option = arg.substr(0, equals);
    std::optional<std::string>* slot = nullptr;
    for (const TCliValueOption& candidate : values)
      if (option == candidate.name) slot = candidate.slot;
    if (slot == nullptr)
      throw TCliUsageError{fmt::format("unknown option \"{}\" for {}", option, command)};
    if (equals != std::string::npos)
      *slot = arg.substr(equals + 1);
    else if (i + 1 < args.size())
      *slot = args[++i];
    else
      throw TCliUsageError{fmt::format("option {} needs a value", option)};
  }
  return operands;
}

std::string CliToEngineText(const std::string& utf8, const char* what) {
  std::string text = Utf8ToCp1251(utf8);
  if (Cp1251ToUtf8(text) != utf8)
    throw TCliFailure{
        fmt::format("{} \"{}\" has characters that code page 1251 cannot hold", what, utf8)};
  return text;
}

int RunCliCommand(const char* tool, const std::vector<std::string>& args, const char* usage,
                  std::ostream& out, std::ostream& err, const std::function<int()>& run) {
  if (!args.empty() && (args[0] == "help" || args[0] == "--help" || args[0] == "-h")) {
    out << usage;
    return 0;
  }
  const std::string command = args.empty() ? tool : args[0];
  try {
    return run();
  } catch (const TCliUsageError& e) {
    err << tool << ": " << e.text << '\n' << usage;
    return 2;
  } catch (const TCliFailure& e) {
    err << tool << ": " << command << ": " << e.text << '\n';
  } catch (const std::exception& e) {
    err << tool << ": " << command << ": " << e.what() << '\n';
  }
  return 1;
}

}  // namespace orv
