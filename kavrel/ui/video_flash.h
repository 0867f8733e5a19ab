// CVideoFlash: the pane's connecting indicator, a spinner turning every 200 ms over the pane's
// last-frame picture (or a plain grey face without one).
//
// Threads: the window lives on the user-interface thread. The picture is guarded by its own lock,
// taken by SetPicture, ClearPicture and painting, so a worker may hand a picture over.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "kavrel/ui/window_wnd.h"
#include "platform/gdi/gdiplus.h"

namespace kavrel::ui {

class CVideoFlash final : public CWindowWnd {
 public:
  LRESULT ProcessMessage(platform::UINT message, WPARAM wparam, LPARAM lparam) override;
  void OnWindowDestroyed(HWND window) override;

  // Starts the animation (unless it runs) and shows the window.
  void Start();
  // Hides the window, stops the animation and drops the picture.
  void Stop();
  // Loads the picture from a file (UTF-8 path); a file that cannot be read leaves none.
  void SetPicture(const std::string& path);
  void ClearPicture();
  bool has_picture() const;

  int angle() const { return m_angle; }
  bool running() const { return m_timerId != -1; }
  // One animation step: the angle moves on by 30 degrees, back to 0 after 330.
  void Advance();

 private:
  void Paint() override;

  int m_angle = 0;
  intptr_t m_timerId = -1;
  mutable std::mutex m_pictureLock;
  std::unique_ptr<platform::Gdiplus::Bitmap> m_picture;  // guarded by m_pictureLock
};

// CVideoBackupProgress: the export progress indicator, a 120 x 120 spinner whose spokes count
// the percentage done, with the percentage written in its middle.
class CVideoBackupProgress final : public CWindowWnd {
 public:
  LRESULT ProcessMessage(platform::UINT message, WPARAM wparam, LPARAM lparam) override;
  // Repaints only when the value changes.
  void SetPercent(int percent);
  int percent() const { return m_percent; }

 private:
  void Paint() override;
  int m_percent = 0;
};

}  // namespace kavrel::ui
