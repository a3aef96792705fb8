// SPDX-License-Identifier: GPL-3.0-or-later
#include "system/linux/event_sound_canberra.h"

#include <canberra.h>

#include "system/console_log.h"
#include "system/system_log.h"

namespace lunor {

struct CanberraEventSound::Context {
  ca_context* context = nullptr;
  bool failed = false;  // no sound server: not tried again

  ~Context() {
    if (context) ca_context_destroy(context);
  }
  bool open() {
    if (context || failed) return context != nullptr;
    int result = ca_context_create(&context);
    if (result == CA_SUCCESS) {
      ca_context_change_props(context, CA_PROP_APPLICATION_NAME, "Lunor Remote", CA_PROP_APPLICATION_ID,
                              "lunor-remote", nullptr);
      result = ca_context_open(context);
    }
    if (result != CA_SUCCESS) {
      consoleLine(lcSystem(),
                  QStringLiteral("ℹ️ Pas de son d’événement : ") + QString::fromUtf8(ca_strerror(result)));
      if (context) ca_context_destroy(context);
      context = nullptr;
      failed = true;
    }
    return context != nullptr;
  }
};

CanberraEventSound::CanberraEventSound()
    : context_(std::make_unique<Context>()), worker_(QStringLiteral("lunor-sound")) {}

CanberraEventSound::~CanberraEventSound() = default;

void CanberraEventSound::joinRequest() {
  Context* context = context_.get();
  worker_.post([context] {
    if (!context->open()) return;
    ca_context_play(context->context, 0, CA_PROP_EVENT_ID, "message-new-instant", CA_PROP_EVENT_DESCRIPTION,
                    "Demande de connexion", nullptr);
  });
}

}  // namespace lunor
