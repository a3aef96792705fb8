// SPDX-License-Identifier: GPL-3.0-or-later
#include "rtc/webrtc/pipewire_library.h"

#include <map>
#include <string>
#include <vector>

// The WebRTC library's loader for PipeWire (generated with the library; its
// header is not installed).
namespace modules_desktop_capture_linux_wayland {
enum StubModules { kModulePipewire = 0, kNumStubModules };
using StubPathMap = std::map<StubModules, std::vector<std::string>>;
bool InitializeStubs(const StubPathMap& path_map);
}  // namespace modules_desktop_capture_linux_wayland

namespace lunor::rtc {

bool loadPipeWireLibrary() {
  static const bool loaded = [] {
    namespace stubs = modules_desktop_capture_linux_wayland;
    return stubs::InitializeStubs({{stubs::kModulePipewire, {"libpipewire-0.3.so.0"}}});
  }();
  return loaded;
}

}  // namespace lunor::rtc
