#pragma once
// The preview window: a small tool window that stays on top, sized to the
// first picture, captioned with the picture's time and dragged from any
// point inside it. Closing it ends previewing for its task. Links Qt
// Widgets; the rest of the encoder does not.
#include <atomic>
#include <memory>

#include "engine/Previewer.h"

class QWidget;

namespace encoder {

class TPreviewWindow;

class TPreviewer : public engine::TPreviewer {
 public:
  TPreviewer();
  // The window goes on the main thread (the caller waits when it is
  // another thread).
  ~TPreviewer() override;
  TPreviewer(const TPreviewer&) = delete;
  TPreviewer& operator=(const TPreviewer&) = delete;

  // From any thread: the painting runs on the main thread, which this call
  // waits for. False once the user has closed the window.
  bool PaintFrame(platform::TBitmap& ABitmap, int AFrameNumber, std::int64_t APTS) override;

  bool Closed() const { return FClosed; }
  // nullptr before the first picture; main thread only.
  QWidget* Window() const;

 private:
  void Paint(platform::TBitmap& ABitmap, std::int64_t APTS);

  std::unique_ptr<TPreviewWindow> FForm;
  std::atomic<bool> FClosed{false};
};

// Makes the engine show its previews in TPreviewer windows.
void InstallPreviewWindow();

}  // namespace encoder
