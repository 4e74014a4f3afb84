// keyherald: prints a line each time one of up to four trigger keys goes down or up.
#include <string>
#include <vector>

#include "common/output.h"
#include "keyherald/config.h"
#include "keyherald/keyboard_platform.h"
#include "keyherald/watcher.h"

int main(int argc, char** argv) {
  guardStandardStreams();
  // A host that closes stdout must not kill us with SIGPIPE: the next line fails and we end.
  ignoreBrokenPipe();
  Herald herald;
  herald.config = buildChannels(std::vector<std::string>(argv, argv + argc), herald.errFd);
  std::unique_ptr<Keyboard> keyboard = makePlatformKeyboard();
  startWatching(herald, *keyboard);
  return 0;
}
