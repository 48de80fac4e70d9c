// Program entry: the command-line gate and the application start-up.
#include <string>
#include <vector>

#include "platform/platform.h"
#include "release/pinned_key.h"
#include "ui/window.h"
#include "umain/form.h"

#ifdef _WIN32
#include <windows.h>

#include "platform/command_line.h"
#include "platform/win32/system_library.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  // Before anything can load a DLL by name: from the system directory only.
  platform::restrictDllSearch();
  std::vector<std::string> args = platform::splitCommandLine(GetCommandLineA());
#else
int main(int argc, char** argv) {
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
#endif
  if (!UMain::IsUpdateArgument(args)) return 0;

  platform::Platform& platform = platform::systemPlatform();
  auto app =
      ui::createApplication(ui::applicationTitle(platform.modulePath(), platform.charRule()));
  UMain::TTFrmUpdate form(platform, *app, std::move(args));
  form.run().PinnedKey = release::kPinnedKey;
  const int code = app->run(form);
  return code != 0 ? code : form.ExitCode();
}
