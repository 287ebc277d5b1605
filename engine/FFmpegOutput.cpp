// Opening an output: the muxer, the choice of input streams (maps or
// automatic), attachments, the file itself; a failure leaves nothing
// behind.
#include <sys/stat.h>

#include "engine/EngineText.h"
#include "engine/FFmpeg.h"
#include "ffbind/AVFormatStubs.h"
#include "ffbind/AVUtilStubs.h"
#include "util/FFUtils.h"

namespace engine {
namespace {

constexpr std::size_t kMaxFileNameBytes = 2048;

bool TypeDisabled(const TOptionsContext* o, AVMediaType type) {
  return (type == AVMEDIA_TYPE_VIDEO && o->video_disable) || (type == AVMEDIA_TYPE_AUDIO && o->audio_disable) ||
         (type == AVMEDIA_TYPE_SUBTITLE && o->subtitle_disable) || (type == AVMEDIA_TYPE_DATA && o->data_disable);
}

}  // namespace

AVFormatContext* TCustomFFmpeg::OutputFileContext(int n) const {
  return n >= 0 && n < static_cast<int>(Foutput_files.size()) ? Foutput_files[n].ctx.get() : nullptr;
}

int TCustomFFmpeg::OpenOutput(const std::string& fileName) {
  TOptionsContext* o = &optctx;
  if (fileName.size() >= kMaxFileNameBytes) {
    FLastErrMsg = ffutil::ErrorText(fileName, AVERROR(ENAMETOOLONG));
    Log(fflog::llError, FLastErrMsg);
    return -1;
  }

  AVFormatContext* oc = nullptr;
  int err = ff::avformat_alloc_output_context2(&oc, nullptr, o->format.empty() ? nullptr : o->format.c_str(),
                                               fileName.c_str());
  if (!oc) {
    FLastErrMsg = ffutil::ErrorText(fileName, err < 0 ? err : AVERROR(EINVAL));
    Log(fflog::llError, FLastErrMsg);
    return -1;
  }
  TOutputContext output(oc);
  oc->interrupt_callback = FWriteCallback;

  // Until the file is complete, every way out (a failure or a fatal
  // option) removes its streams and the context and clears the options.
  const std::size_t firstStream = Foutput_streams.size();
  struct TUndo {
    TCustomFFmpeg* self;
    std::size_t firstStream;
    bool done = false;
    ~TUndo() {
      if (done) return;
      self->Foutput_streams.resize(firstStream);
      self->ResetOptionsContext(&self->optctx, false);
    }
  } undo{this, firstStream};
  auto fail = [&](const std::string& text) {
    FLastErrMsg = text;
    Log(fflog::llError, text);
    return -1;
  };

  if (o->recording_time != kNoTimeLimit && o->recording_time > FOutputDuration) FOutputDuration = o->recording_time;

  if (!select_output_streams(o, oc)) return -1;
  if (!add_attachments(o, oc)) return -1;

  TOutputFile of;
  of.ctx = std::move(output);
  of.ost_index = static_cast<std::int32_t>(Foutput_streams.size() - oc->nb_streams);
  of.recording_time = o->recording_time;
  of.start_time = o->start_time;
  of.limit_filesize = o->limit_filesize;
  {
    TDictionaryRef opts(of.opts);
    ff::av_dict_copy(&opts, FOptions.format_opts, 0);
  }
  Foutput_files.push_back(std::move(of));
  const int fileIndex = static_cast<int>(Foutput_files.size()) - 1;
  auto undoFile = [&](const std::string& text) {
    Foutput_files.pop_back();  // closes the sink, deletes an empty file, frees the context
    return fail(text);
  };

  if ((oc->oformat->flags & AVFMT_NEEDNUMBER) && !ff::av_filename_number_test(oc->url))
    return undoFile(ffutil::ErrorText(fileName, AVERROR(EINVAL)));

  if (!(oc->oformat->flags & AVFMT_NOFILE)) {
    FLastWrite = ff::av_gettime();
    TDictionaryRef opts(Foutput_files.back().opts);
    err = ff::avio_open2(&oc->pb, fileName.c_str(), AVIO_FLAG_WRITE, &oc->interrupt_callback, &opts);
    if (err < 0) return undoFile(ffutil::ErrorText(fileName, err));
  }

  if (o->mux_preload != 0) {
    TDictionaryRef opts(Foutput_files.back().opts);
    ff::av_dict_set(&opts, "preload", Format("%d", static_cast<int>(o->mux_preload * 1000000)).c_str(), 0);
  }
  oc->max_delay = static_cast<int>(o->mux_max_delay * 1000000);
  if (Floop_output >= 0) {
    // The repeat count is a private option of the muxers that loop.
    Log(fflog::llWarning, "-loop_output is deprecated, use -loop");
    TDictionaryRef opts(Foutput_files.back().opts);
    ff::av_dict_set(&opts, "loop", Format("%d", Floop_output).c_str(), 0);
  }

  if (!apply_output_metadata(o, fileIndex)) {
    const std::string text = FLastErrMsg;
    return undoFile(text);
  }

  undo.done = true;
  ResetOptionsContext(o, false);
  return fileIndex;
}

bool TCustomFFmpeg::select_output_streams(TOptionsContext* o, AVFormatContext* oc) {
  auto take = [&](int source, TOutputStream* ost, TInputStream* sync) {
    ost->source_index = source;
    ost->sync_ist = sync;
    Finput_streams[source]->discard = 0;
  };
  auto create = [&](AVMediaType type, int source) -> TOutputStream* {
    switch (type) {
      case AVMEDIA_TYPE_VIDEO: return new_video_stream(o, oc, source);
      case AVMEDIA_TYPE_AUDIO: return new_audio_stream(o, oc, source);
      case AVMEDIA_TYPE_DATA: {
        TOutputStream* ost = new_output_stream(o, oc, type, source);
        if (!ost->stream_copy) FatalError("Data stream encoding not supported yet (only streamcopy)");
        return ost;
      }
      case AVMEDIA_TYPE_ATTACHMENT: {
        TOutputStream* ost = new_output_stream(o, oc, type, source);
        ost->stream_copy = 1;
        return ost;
      }
      default: return new_output_stream(o, oc, type, source);
    }
  };

  if (!o->stream_maps.empty()) {
    for (const TStreamMap& map : o->stream_maps) {
      if (map.disabled) continue;
      const int source = Finput_files[map.file_index].ist_index + map.stream_index;
      TInputStream* ist = Finput_streams[source].get();
      const AVMediaType type = ist->st->codecpar->codec_type;
      if (TypeDisabled(o, type)) continue;
      if (type != AVMEDIA_TYPE_VIDEO && type != AVMEDIA_TYPE_AUDIO && type != AVMEDIA_TYPE_DATA &&
          type != AVMEDIA_TYPE_SUBTITLE && type != AVMEDIA_TYPE_ATTACHMENT) {
        FLastErrMsg = Format("Cannot map stream #%d:%d - unsupported type.", map.file_index, map.stream_index);
        Log(fflog::llError, FLastErrMsg);
        return false;
      }
      const int sync = Finput_files[map.sync_file_index].ist_index + map.sync_stream_index;
      take(source, create(type, source), Finput_streams[sync].get());
    }
    return true;
  }

  const AVOutputFormat* fmt = oc->oformat;
  const int count = static_cast<int>(Finput_streams.size());
  if (!o->video_disable && fmt->video_codec != AV_CODEC_ID_NONE) {
    int best = -1;
    std::int64_t area = 0;
    for (int i = 0; i < count; ++i) {
      const AVStream* st = Finput_streams[i]->st;
      const AVCodecParameters* par = st->codecpar;
      const std::int64_t a = static_cast<std::int64_t>(par->width) * par->height;
      // The cover picture of a song is not a video, however large it is.
      if (st->disposition & AV_DISPOSITION_ATTACHED_PIC) continue;
      if (par->codec_type == AVMEDIA_TYPE_VIDEO && a > area) {
        area = a;
        best = i;
      }
    }
    if (best >= 0) take(best, create(AVMEDIA_TYPE_VIDEO, best), Finput_streams[best].get());
  }
  if (!o->audio_disable && fmt->audio_codec != AV_CODEC_ID_NONE) {
    int best = -1, channels = 0;
    for (int i = 0; i < count; ++i) {
      const AVCodecParameters* par = Finput_streams[i]->st->codecpar;
      if (par->codec_type == AVMEDIA_TYPE_AUDIO && par->ch_layout.nb_channels > channels) {
        channels = par->ch_layout.nb_channels;
        best = i;
      }
    }
    if (best >= 0) take(best, create(AVMEDIA_TYPE_AUDIO, best), Finput_streams[best].get());
  }
  if (!o->subtitle_disable && (fmt->subtitle_codec != AV_CODEC_ID_NONE || !Fsubtitle_codec_name.empty())) {
    for (int i = 0; i < count; ++i)
      if (Finput_streams[i]->st->codecpar->codec_type == AVMEDIA_TYPE_SUBTITLE) {
        take(i, create(AVMEDIA_TYPE_SUBTITLE, i), Finput_streams[i].get());
        break;
      }
  }
  return true;
}

bool TCustomFFmpeg::add_attachments(TOptionsContext* o, AVFormatContext* oc) {
  for (const std::string& name : o->attachments) {
    auto fail = [&](const char* fmt) {
      FLastErrMsg = Format(fmt, name.c_str());
      Log(fflog::llError, FLastErrMsg);
      return false;
    };
    FLastRead = ff::av_gettime();
    AVIOContext* pb = nullptr;
    if (ff::avio_open2(&pb, name.c_str(), AVIO_FLAG_READ, &FReadCallback, nullptr) < 0)
      return fail("Could not open attachment file %s.");
    struct TCloser {
      AVIOContext*& pb;
      ~TCloser() { ff::avio_closep(&pb); }
    } closer{pb};
    const std::int64_t size = ff::avio_size(pb);
    if (size <= 0) return fail("Could not get size of the attachment %s.");
    if (size > INT32_MAX - AV_INPUT_BUFFER_PADDING_SIZE) return fail("Attachment %s too large to fit into memory.");
    auto* data = static_cast<std::uint8_t*>(ff::av_mallocz(size + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!data) return fail("Attachment %s too large to fit into memory.");
    FLastRead = ff::av_gettime();
    ff::avio_read(pb, data, static_cast<int>(size));

    TOutputStream* ost = new_output_stream(o, oc, AVMEDIA_TYPE_ATTACHMENT, -1);
    ost->stream_copy = 0;
    ost->source_index = -1;
    ost->attachment_filename = name;
    AVCodecParameters* par = ost->st->codecpar;
    par->extradata = data;
    par->extradata_size = static_cast<int>(size);
    std::size_t slash = name.find_last_of('/');
    if (slash == std::string::npos) slash = name.find_last_of('\\');
    const std::string base = slash == std::string::npos ? name : name.substr(slash + 1);
    ff::av_dict_set(&ost->st->metadata, "filename", base.c_str(), AV_DICT_DONT_OVERWRITE);
  }
  return true;
}

}  // namespace engine
