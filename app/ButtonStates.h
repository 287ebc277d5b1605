#pragma once
// Which buttons the window enables at each moment of its life, as data:
// one row per moment, one rule per button (or button pair).
#include <array>

namespace app {

enum TButtonMoment {
  bmDesign,            // start-up
  bmPictureDialog,     // after the picture dialog, confirmed or not
  bmAudioDialog,       // after the audio dialog, confirmed or not
  bmClear,             // list cleared
  bmStarted,           // a conversion was started
  bmStopClicked,
  bmPauseClicked,
  bmResumeClicked,
  bmFinalTermination,  // the last event of a run
};

enum TButtonRule { brKeep, brOn, brOff, brWhenPictures };

// chkFrameDelay and edtFrameDelay always move together: one slot.
enum TButtonSlot { bsStart, bsOpen, bsStop, bsPause, bsResume, bsPictures, bsClear, bsAudio, bsFrameDelay };
inline constexpr int kButtonSlotCount = bsFrameDelay + 1;

using TButtonRow = std::array<TButtonRule, kButtonSlotCount>;

const TButtonRow& ButtonRules(TButtonMoment moment);

// The enabled state a rule gives; pictureCount feeds brWhenPictures and
// current is kept by brKeep.
bool ApplyButtonRule(TButtonRule rule, bool current, int pictureCount);

}  // namespace app
