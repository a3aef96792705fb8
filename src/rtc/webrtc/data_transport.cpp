// SPDX-License-Identifier: GPL-3.0-or-later
#include "rtc/webrtc/data_transport.h"

#include <algorithm>
#include <cstdlib>

#include "media/sctp/dcsctp_transport.h"
#include "net/dcsctp/public/dcsctp_socket_factory.h"
#include "system_wrappers/include/clock.h"

namespace lunor::rtc::adapter {
namespace {

class TunedSocketFactory final : public dcsctp::DcSctpSocketFactory {
 public:
  std::unique_ptr<dcsctp::DcSctpSocketInterface> Create(absl::string_view prefix, dcsctp::DcSctpSocketCallbacks& callbacks,
                                                        std::unique_ptr<dcsctp::PacketObserver> observer,
                                                        const dcsctp::DcSctpOptions& given) override {
    dcsctp::DcSctpOptions options = given;
    options.max_receiver_window_buffer_size = kReceiveWindowBytes;
    // For measuring: LUNOR_SCTP_WINDOW (bytes) replaces the window.
    if (const char* window = std::getenv("LUNOR_SCTP_WINDOW")) {
      options.max_receiver_window_buffer_size = std::max<size_t>(std::strtoul(window, nullptr, 10), 300 * 1024);
    }
    options.disable_checksum_verification = true;
    return DcSctpSocketFactory::Create(prefix, callbacks, std::move(observer), options);
  }
};

class TunedTransportFactory final : public webrtc::SctpTransportFactoryInterface {
 public:
  explicit TunedTransportFactory(::rtc::Thread* network) : network_(network) {}
  std::unique_ptr<cricket::SctpTransportInternal> CreateSctpTransport(::rtc::PacketTransportInternal* channel) override {
    return std::make_unique<webrtc::DcSctpTransport>(network_, channel, webrtc::Clock::GetRealTimeClock(),
                                                     std::make_unique<TunedSocketFactory>());
  }

 private:
  ::rtc::Thread* network_;
};

}  // namespace

std::unique_ptr<webrtc::SctpTransportFactoryInterface> createDataTransportFactory(::rtc::Thread* network) {
  return std::make_unique<TunedTransportFactory>(network);
}

}  // namespace lunor::rtc::adapter
