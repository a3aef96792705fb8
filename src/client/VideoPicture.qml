// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick
import QtMultimedia
import Lunor.Client

// The host's picture: the container that places it, and the VideoOutput
// that draws it (I420 frames, turned into RGB on the GPU); a scene drawn in
// software has the container draw it.
VideoView {
    id: view
    videoSink: drawsPicture ? null : output.videoSink

    VideoOutput {
        id: output
        x: view.pictureRect.x
        y: view.pictureRect.y
        width: view.pictureRect.width
        height: view.pictureRect.height
        fillMode: VideoOutput.Stretch
        visible: !view.drawsPicture
    }
}
