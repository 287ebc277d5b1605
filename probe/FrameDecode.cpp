// Decoding pictures one at a time, keeping a copy of the current one, and
// handing it out as a bitmap.
#include <cinttypes>
#include <cstring>
#include <stdexcept>

#include "ffbind/AVCodecStubs.h"
#include "ffbind/AVUtilStubs.h"
#include "probe/FFDecode.h"
#include "platform/TextFormat.h"
#include "util/FFUtils.h"

namespace probe {

using platform::Format;

bool TFFDecoder::Decode(int streamIndex) {
  if (!PrepareVideo(streamIndex)) return false;
  // A still image is decoded once and then kept.
  if (FFrameInfo.Ready && IsImage2()) return true;
  if (FEOF && FEOFpkt) {
    Report(fflog::llInfo, "stream eof reached.");
    return false;
  }
  AVCodecContext* codec = FCodec.get();
  for (;;) {
    int ret = ff::avcodec_receive_frame(codec, FFrame.get());
    if (ret >= 0) {
      const AVFrame* frame = FFrame.get();
      fflog::GetLogger()->Log(this, fflog::llDebug,
                              "pkt.st_idx=%d, dts=%" PRId64 ", pts=%" PRId64 ", flags=%d, pict_type=%d(%c)",
                              FDesireVideoIndex, frame->pkt_dts, frame->pts, frame->key_frame, frame->pict_type,
                              ff::av_get_picture_type_char(frame->pict_type));
      if (FDeinterlace) {
        // No deinterlacer exists in the libraries here: say so once and go
        // on with the picture as decoded.
        Report(fflog::llError, "deinterlacing failed.");
        FDeinterlace = false;
      }
      StorePicture(frame);
      ff::av_frame_unref(FFrame.get());
      return true;
    }
    if (ret == AVERROR_EOF || (ret == AVERROR(EAGAIN) && FEOFpkt)) return ReportEnd();
    if (ret != AVERROR(EAGAIN)) {
      Report(fflog::llError, ffutil::ErrorText(Format("Error while decoding video stream #%d", FDesireVideoIndex), ret));
      return false;
    }
    const int got = ReadPacket(FDesireVideoIndex);
    if (got < 0) return false;
    // At the end of the packets the empty packet makes the codec give out
    // the pictures it still holds.
    ret = ff::avcodec_send_packet(codec, got ? FPacket.get() : nullptr);
    if (got) ff::av_packet_unref(FPacket.get());
    if (ret < 0 && ret != AVERROR_EOF)
      Report(fflog::llError, ffutil::ErrorText(Format("Error while decoding video stream #%d", FDesireVideoIndex), ret));
  }
}

void TFFDecoder::StorePicture(const AVFrame* frame) {
  const auto format = static_cast<AVPixelFormat>(frame->format);
  const int size = ff::av_image_get_buffer_size(format, frame->width, frame->height, 1);
  if (size < 0) throw std::runtime_error(ffutil::ErrorText("picture size", size));
  if (FPictureBuffer.size() < static_cast<std::size_t>(size)) FPictureBuffer.resize(static_cast<std::size_t>(size));

  // The frame's own best guess: the codecs here reorder the times with the
  // pictures, so the last packet's times would belong to another picture.
  std::int64_t ts = frame->best_effort_timestamp;
  if (ts == kNoTime) ts = frame->pts;
  if (ts == kNoTime) ts = frame->pkt_dts;
  const std::int64_t previous = FFrameInfo.PTS;
  std::int64_t pts = StreamTime(ts, FDesireVideoIndex);
  if (pts == kNoTime && FEOFpkt && previous != kNoTime && FLastPTS != kNoTime) pts = previous + (previous - FLastPTS);
  if (previous != kNoTime) FLastPTS = previous;

  FFrameInfo.PixFmt = format;
  FFrameInfo.Width = frame->width;
  FFrameInfo.Height = frame->height;
  FFrameInfo.IsKeyFrame = frame->key_frame == 1;
  FFrameInfo.PictureType = frame->pict_type;
  FFrameInfo.PTS = pts;
  FFrameInfo.OriginalDTS = frame->pkt_dts;
  FFrameInfo.OriginalPTS = frame->pts;
  FFrameInfo.StreamIndex = FDesireVideoIndex;
  FFrameInfo.Position = frame->pkt_pos;
  FFrameInfo.Buffer = FPictureBuffer.data();
  FFrameInfo.Size = static_cast<std::int32_t>(FPictureBuffer.size());
  ff::av_image_fill_arrays(FFrameInfo.Picture.data, FFrameInfo.Picture.linesize, FFrameInfo.Buffer, format,
                           frame->width, frame->height, 1);
  ff::av_image_copy(FFrameInfo.Picture.data, FFrameInfo.Picture.linesize, const_cast<const std::uint8_t**>(frame->data),
                    frame->linesize, format, frame->width, frame->height);
  FFrameInfo.Ready = true;
}

const ffutil::TDIB* TFFDecoder::GetBitmapPtr() {
  if (!FFrameInfo.Ready) {
    Report(fflog::llError, "picture not ready, please decode first");
    return nullptr;
  }
  if (!FFormatConv.PictureToRGB(&FFrameInfo.Picture, FFrameInfo.PixFmt, FFrameInfo.Width, FFrameInfo.Height, false)) {
    Report(fflog::llError, FFormatConv.LastErrMsg());
    return nullptr;
  }
  return &FFormatConv.DIB();
}

bool TFFDecoder::CopyToBitmap(platform::TBitmap& bitmap) {
  if (!FFrameInfo.Ready) {
    Report(fflog::llError, "picture not ready, please decode first");
    return false;
  }
  if (!FFormatConv.PictureToRGB(&FFrameInfo.Picture, FFrameInfo.PixFmt, FFrameInfo.Width, FFrameInfo.Height, true)) {
    bitmap.SetSize(FFrameInfo.Width, FFrameInfo.Height);
    std::memset(bitmap.Bits(), 0, bitmap.ByteSize());
    Report(fflog::llError, FFormatConv.LastErrMsg());
    return false;
  }
  platform::TBitmap& source = FFormatConv.Bitmap();
  bitmap.SetPixelFormat(source.PixelFormat());
  bitmap.SetSize(source.Width(), source.Height());
  std::memcpy(bitmap.Bits(), source.Bits(), source.ByteSize());
  bitmap.Palette() = source.Palette();
  return true;
}

}  // namespace probe
