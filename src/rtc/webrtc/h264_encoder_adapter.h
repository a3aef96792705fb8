// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The video encoder factory the peer connections use: the library's own,
// with its H264 encoder replaced by one of ours (x264 by default, OpenH264
// set up as the library would) unless "library" is chosen.

#include <memory>
#include <string>

#include "api/video_codecs/video_encoder_factory.h"

namespace lunor::rtc::adapter {

// encoder: "x264", "openh264" or "library"; anything else falls back to the
// default with a log line.
std::unique_ptr<webrtc::VideoEncoderFactory> createVideoEncoderFactory(const std::string& encoder);

// The next picture each of our encoders makes is a key frame. Any thread.
// (A process hosts one session: every encoder it runs is that session's.)
void requestKeyFrames();

// Whether an encoder of ours is sharpening a still picture pass by pass (it
// wants the still screen's repeats at the frame rate). Any thread.
bool refiningStillPicture();

}  // namespace lunor::rtc::adapter
