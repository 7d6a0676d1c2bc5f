// The command-line scan over any arguments: the settings always match a simple model of the
// switches.
#include <cstdlib>
#include <cwchar>

#include "launcher/settings.h"
#include "tests/fakes/fake_system.h"
#include "tests/fuzz/fuzz_input.h"

namespace {

std::wstring Lower(std::wstring text) {
  for (wchar_t& c : text) c = (c >= L'A' && c <= L'Z') ? c + 32 : c;
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::wstring> arguments =
      updater::fuzzing::Split(updater::fuzzing::SmallText(data, size), L' ');
  arguments.insert(arguments.begin(), L"update.exe");
  updater::testing::FakeSystem system;
  system.SetArguments(arguments);
  const updater::Settings settings = updater::ParseCommandLine(system);

  // The model: every switch as a flag, the mode chosen from them at the end.
  updater::Settings model;
  bool apply = true, extract = false, info = false, plan = false, usage = false, refused = false;
  for (size_t i = 1; i < arguments.size(); ++i) {
    const std::wstring argument = Lower(arguments[i]);
    if (argument == L"/q") model.quiet = true;
    if (argument == L"/e") {
      apply = false;
      extract = true;
      if (i + 1 < arguments.size()) model.extractPath = arguments[++i];
    }
    if (argument == L"/log" && i + 1 < arguments.size()) model.logPath = arguments[++i];
    if (argument == L"/exitcode") model.exitCode = true;
    if (argument == L"/norestart") model.noRestart = true;
    if (argument == L"/plan") plan = true;
    if (argument == L"/?" || argument == L"/help") usage = true;
    if (argument == L"/wait") {
      const std::wstring value = i + 1 < arguments.size() ? arguments[++i] : L"";
      const bool digits = !value.empty() && value.size() <= 5 &&
                          value.find_first_not_of(L"0123456789") == std::wstring::npos;
      const unsigned long seconds = digits ? std::wcstoul(value.c_str(), nullptr, 10) : 0;
      if (digits && seconds <= updater::kLongestWaitSeconds) {
        model.waitSeconds = static_cast<uint32_t>(seconds);
      } else {
        refused = true;
      }
    }
    if (argument == L"/i" || argument == L"/pi") {
      apply = false;
      info = argument == L"/i";
      break;
    }
  }
  using updater::Mode;
  model.mode = refused   ? Mode::kRefused
               : usage   ? Mode::kUsage
               : plan    ? Mode::kPlan
               : apply   ? Mode::kApply
               : extract ? (info ? Mode::kExtractAndReport : Mode::kExtract)
               : info    ? Mode::kReport
                         : Mode::kNothing;
  if (settings.mode != model.mode || settings.quiet != model.quiet ||
      settings.extractPath != model.extractPath || settings.exitCode != model.exitCode ||
      settings.logPath != model.logPath || settings.noRestart != model.noRestart ||
      settings.waitSeconds != model.waitSeconds) {
    std::abort();
  }
  return 0;
}
