// trislip-custom's command line, one argument a line of the input, parsed
// and checked as the program does before it writes anything. A bad option
// is CLI11's parse error; a refusal names an option of the program.
#include <string>
#include <vector>

#include "check.hpp"
#include "trislip/options/custom_command_line.hpp"
#include "trislip/runs/run_steps.hpp"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  const std::string text = fuzz::text_of(data, size);
  std::vector<std::string> args{"trislip-custom"};
  for (std::size_t at = 0; at <= text.size();) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    args.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  for (const std::string& a : args) {
    // A table is read from a path, which here could be any file at all.
    if (a.rfind("--subfaults", 0) == 0) return 0;
  }
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  trislip::custom_command_line line;
  try {
    line.app.parse(static_cast<int>(argv.size()), argv.data());
  } catch (const CLI::ParseError&) {
    return 0;
  }
  line.finish();
  // Long records only take time.
  if (line.o.p.nt > 65536) return 0;
  try {
    trislip::check_custom(line.o);
  } catch (const trislip::refusal& e) {
    const std::string message = e.what();
    const std::size_t end = message.find_first_of(" :,");
    const std::string option = message.substr(0, end);
    fuzz::expect(option.rfind("--", 0) == 0 && line.app.get_option_no_throw(option) != nullptr,
                 "a refusal that names no option: " + message);
  }
  return 0;
}
