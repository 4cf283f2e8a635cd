// What the programs' command lines share: parsing with CLI11, where --help
// and --version end the program with status 0 and a bad option with a
// one-line message and status 2.
#pragma once

#include <CLI/CLI.hpp>

#include <cstdio>
#include <optional>

namespace trislip {

// Parses the command line; returns the exit status when the program ends
// here (help, version, or a bad option said as "PROGRAM: ... (see --help)").
inline std::optional<int> parse_command_line(CLI::App& app, int argc, char** argv, const char* program) {
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    std::fprintf(stderr, "%s: %s (see --help)\n", program, e.what());
    return 2;
  }
  return std::nullopt;
}

}  // namespace trislip
