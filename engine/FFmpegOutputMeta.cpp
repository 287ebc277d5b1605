// What an output carries besides media: chapters, mapped and automatic
// metadata, and -metadata strings.
#include "engine/EngineText.h"
#include "engine/FFmpeg.h"
#include "ffbind/AVUtilStubs.h"
#include "util/OptionWords.h"

namespace engine {

int TCustomFFmpeg::copy_chapters(int ifile, int ofile, bool copyMetadata) {
  const TInputFile& in = Finput_files[ifile];
  const TOutputFile& out = Foutput_files[ofile];
  AVFormatContext* is = in.ctx.get();
  AVFormatContext* os = out.ctx.get();
  for (unsigned i = 0; i < is->nb_chapters; ++i) {
    const AVChapter* in_ch = is->chapters[i];
    const std::int64_t ts_off = ff::av_rescale_q(out.start_time - in.ts_offset, AV_TIME_BASE_Q, in_ch->time_base);
    const std::int64_t rt = out.recording_time == kNoTimeLimit
                                ? INT64_MAX
                                : ff::av_rescale_q(out.recording_time, AV_TIME_BASE_Q, in_ch->time_base);
    if (in_ch->end < ts_off) continue;
    if (rt != INT64_MAX && in_ch->start > rt + ts_off) break;

    auto* ch = static_cast<AVChapter*>(ff::av_mallocz(sizeof(AVChapter)));
    if (!ch) return AVERROR(ENOMEM);
    ch->id = in_ch->id;
    ch->time_base = in_ch->time_base;
    ch->start = std::max<std::int64_t>(0, in_ch->start - ts_off);
    ch->end = std::min(rt, in_ch->end - ts_off);
    if (copyMetadata) ff::av_dict_copy(&ch->metadata, in_ch->metadata, 0);
    auto* grown = static_cast<AVChapter**>(ff::av_realloc(os->chapters, sizeof(AVChapter*) * (os->nb_chapters + 1)));
    if (!grown) {
      ff::av_dict_free(&ch->metadata);
      ff::av_free(ch);
      return AVERROR(ENOMEM);
    }
    os->chapters = grown;
    os->chapters[os->nb_chapters++] = ch;
  }
  return 0;
}

bool TCustomFFmpeg::apply_output_metadata(TOptionsContext* o, int fileIndex) {
  AVFormatContext* oc = Foutput_files[fileIndex].ctx.get();
  const int nbInputs = static_cast<int>(Finput_files.size());
  auto fail = [&](const std::string& text) {
    FLastErrMsg = text;
    Log(fflog::llError, text);
    return false;
  };

  int chapters = o->chapters_input_file;
  if (chapters >= nbInputs) {
    if (chapters != kChaptersAuto) return fail(Format("Invalid input file index %d in chapter mapping.", chapters));
    chapters = -1;
    for (int i = 0; i < nbInputs && chapters < 0; ++i)
      if (Finput_files[i].ctx->nb_chapters) chapters = i;
  }
  if (chapters >= 0) copy_chapters(chapters, fileIndex, !o->metadata_chapters_manual);

  // The dictionary a metadata map side names in a file; nullptr with the
  // text set when its index is invalid.
  auto metadataOf = [&](AVFormatContext* s, const TMetadataMap& m, std::string& error) -> AVDictionary** {
    auto bad = [&](const char* what) {
      error = Format("Invalid %s index %d while processing metadata maps", what, m.index);
      return nullptr;
    };
    switch (m.type_) {
      case 'c':
        if (m.index < 0 || m.index >= static_cast<int>(s->nb_chapters)) return bad("chapter");
        return &s->chapters[m.index]->metadata;
      case 'p':
        if (m.index < 0 || m.index >= static_cast<int>(s->nb_programs)) return bad("program");
        return &s->programs[m.index]->metadata;
      case 's':
        if (m.index < 0 || m.index >= static_cast<int>(s->nb_streams)) return bad("stream");
        return &s->streams[m.index]->metadata;
      default: return &s->metadata;
    }
  };
  for (const TAMetadataMap& map : o->meta_data_maps) {
    const int in_file = map[1].file_idx;
    if (in_file >= nbInputs)
      return fail(Format("Invalid %s index %d while processing metadata maps", "input file", in_file));
    if (in_file < 0) continue;
    std::string error;
    AVDictionary** dst = metadataOf(oc, map[0], error);
    AVDictionary** src = dst ? metadataOf(Finput_files[in_file].ctx.get(), map[1], error) : nullptr;
    if (!src) return fail(error);
    ff::av_dict_copy(dst, *src, AV_DICT_DONT_OVERWRITE);
  }

  if (!o->metadata_global_manual && nbInputs > 0) {
    ff::av_dict_copy(&oc->metadata, Finput_files[0].ctx->metadata, AV_DICT_DONT_OVERWRITE);
    if (Foutput_files[fileIndex].recording_time != kNoTimeLimit) ff::av_dict_set(&oc->metadata, "duration", nullptr, 0);
  }
  if (!o->metadata_streams_manual)
    for (auto& ost : Foutput_streams)
      if (ost->file_index == fileIndex && ost->source_index >= 0)
        ff::av_dict_copy(&ost->st->metadata, Finput_streams[ost->source_index]->st->metadata, AV_DICT_DONT_OVERWRITE);

  for (const TSpecifierOpt& m : o->metadata) {
    const std::size_t eq = m.str.find('=');
    if (eq == std::string::npos) return fail(Format("No \"=\" character in metadata string %s.", m.str.c_str()));
    const std::string key = m.str.substr(0, eq), value = m.str.substr(eq + 1);
    const std::string& spec = m.specifier;
    const char type = spec.empty() ? 'g' : spec[0];
    const int index = spec.size() > 2 && spec[1] == ':' ? ffutil::ReadCInt(spec.c_str() + 2) : 0;
    AVDictionary** dict = nullptr;
    switch (type) {
      case 'g': dict = &oc->metadata; break;
      case 's':
        if (index < 0 || index >= static_cast<int>(oc->nb_streams))
          return fail(Format("Invalid stream index %d in metadata specifier.", index));
        dict = &oc->streams[index]->metadata;
        break;
      case 'c':
        if (index < 0 || index >= static_cast<int>(oc->nb_chapters))
          return fail(Format("Invalid chapter index %d in metadata specifier.", index));
        dict = &oc->chapters[index]->metadata;
        break;
      case 'p': return fail(Format("Invalid metadata specifier %s.", spec.c_str()));
      default: return fail(Format("Invalid metadata type %c.", type));
    }
    ff::av_dict_set(dict, key.c_str(), value.empty() ? nullptr : value.c_str(), 0);
  }
  return true;
}

}  // namespace engine
