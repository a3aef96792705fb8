#pragma once

// What the platform says about the two permissions hosting needs.

namespace lunor {

enum class MicrophoneAuthorization { Authorized, Denied, Restricted, NotDetermined };

class PermissionChecks {
 public:
  virtual ~PermissionChecks() = default;
  // May post synthetic input; with prompt, the platform may ask the user.
  virtual bool accessibilityTrusted(bool prompt) = 0;
  // May capture the screen; never prompts.
  virtual bool screenCaptureAllowed() = 0;
  // Asks for screen capture; the platform may show its request.
  virtual void requestScreenCapture() = 0;
  virtual MicrophoneAuthorization microphone() = 0;
};

// X11 gates neither: any client of the server may capture and inject.
class X11PermissionChecks final : public PermissionChecks {
 public:
  bool accessibilityTrusted(bool) override { return true; }
  bool screenCaptureAllowed() override { return true; }
  void requestScreenCapture() override {}
  MicrophoneAuthorization microphone() override { return MicrophoneAuthorization::NotDetermined; }
};

}  // namespace lunor
