// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "system/permission_checks.h"

namespace lunor {

// Answers what the test sets, and counts the prompts and requests.
class FakePermissionChecks final : public PermissionChecks {
 public:
  bool accessibilityTrusted(bool prompt) override {
    prompts += prompt ? 1 : 0;
    return trusted;
  }
  bool screenCaptureAllowed() override { return capture; }
  void requestScreenCapture() override {
    ++requests;
    capture = true;  // the user says yes
  }
  MicrophoneAuthorization microphone() override { return mic; }

  bool trusted = false;
  bool capture = false;
  MicrophoneAuthorization mic = MicrophoneAuthorization::NotDetermined;
  int prompts = 0;
  int requests = 0;
};

}  // namespace lunor
