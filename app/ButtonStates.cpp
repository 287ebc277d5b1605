#include "app/ButtonStates.h"

namespace app {

namespace {

constexpr TButtonRule K = brKeep, I = brOn, O = brOff, C = brWhenPictures;

// Columns: Start, Open, Stop, Pause, Resume, Pictures, Clear, Audio, FrameDelay.
constexpr TButtonRow kRows[] = {
    /* bmDesign           */ {O, O, O, O, O, I, O, I, I},
    /* bmPictureDialog    */ {C, C, C, K, K, K, C, K, K},
    /* bmAudioDialog      */ {K, C, K, K, K, K, C, K, K},
    /* bmClear            */ {K, O, K, K, K, K, K, K, K},
    /* bmStarted          */ {O, O, I, I, O, O, O, O, O},
    /* bmStopClicked      */ {K, K, O, K, K, K, K, K, K},
    /* bmPauseClicked     */ {K, K, K, O, I, K, K, K, K},
    /* bmResumeClicked    */ {K, K, K, I, O, K, K, K, K},
    /* bmFinalTermination */ {O, I, O, O, O, I, I, I, I},
};
static_assert(sizeof kRows / sizeof kRows[0] == bmFinalTermination + 1);

}  // namespace

const TButtonRow& ButtonRules(TButtonMoment moment) { return kRows[moment]; }

bool ApplyButtonRule(TButtonRule rule, bool current, int pictureCount) {
  switch (rule) {
    case brOn: return true;
    case brOff: return false;
    case brWhenPictures: return pictureCount > 0;
    case brKeep: break;
  }
  return current;
}

}  // namespace app
