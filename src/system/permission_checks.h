// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the platform says about the two permissions hosting needs.

#include <functional>
#include <mutex>

#include <QString>

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
  // Why accessibility is not granted, when the platform says (French, for
  // the person); empty otherwise.
  virtual QString accessibilityProblem() { return {}; }
};

// For platforms that gate neither (X11: any client of the server may
// capture and inject; GNOME's remote desktop, which needs no dialog). But a
// platform that cannot be driven at all (an X server without XTEST) is what
// a missing accessibility permission means to the person.
class OpenPermissionChecks final : public PermissionChecks {
 public:
  // injectionProbe says why input cannot be injected (empty when it can);
  // asked once, when the answer is first needed. None: it can.
  explicit OpenPermissionChecks(std::function<QString()> injectionProbe = {})
      : injectionProbe_(std::move(injectionProbe)) {}
  bool accessibilityTrusted(bool) override { return injectionProblem().isEmpty(); }
  QString accessibilityProblem() override { return injectionProblem(); }
  bool screenCaptureAllowed() override { return true; }
  void requestScreenCapture() override {}
  MicrophoneAuthorization microphone() override { return MicrophoneAuthorization::NotDetermined; }

 private:
  // Any thread.
  const QString& injectionProblem() {
    std::call_once(probed_, [this] {
      if (injectionProbe_) injectionProblem_ = injectionProbe_();
    });
    return injectionProblem_;
  }

  std::function<QString()> injectionProbe_;
  std::once_flag probed_;
  QString injectionProblem_;
};

}  // namespace lunor
