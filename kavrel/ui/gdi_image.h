// CGDIImageEx: a GDI+ image loaded from the control module's resources. A bitmap resource of the
// identifier wins; otherwise the "PNG" resource is decoded. The PNG bytes are kept for as long as
// the image lives, as a stream-based image needs them.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "kavrel/resources/module_resources.h"
#include "platform/gdi/gdiplus.h"

namespace kavrel::ui {

class CGDIImageEx {
 public:
  CGDIImageEx() = default;
  virtual ~CGDIImageEx();
  CGDIImageEx(const CGDIImageEx&) = delete;
  CGDIImageEx& operator=(const CGDIImageEx&) = delete;

  // Releases the current picture and loads resource `id` from `module`; false when there is no
  // such resource or it cannot be decoded (the image is then empty).
  bool Load(uint32_t id, const resources::ResourceSource& module = resources::module_resources());
  void Release();

  platform::Gdiplus::Image* image() const { return m_image.get(); }
  platform::Gdiplus::Status last_status() const { return m_status; }
  uint32_t width() const;
  uint32_t height() const;

 private:
  std::unique_ptr<platform::Gdiplus::Image> m_image;
  platform::Gdiplus::Status m_status = platform::Gdiplus::GenericError;
  // The PNG bytes the image was decoded from, held while it lives.
  std::vector<uint8_t> m_block;
};

// LoadBitmapW on the module's resources: a GDI bitmap made from the "BITMAP" resource `id`
// (a BMP file), null when there is none. The caller deletes it.
platform::HBITMAP LoadModuleBitmap(uint32_t id, const resources::ResourceSource& module);

}  // namespace kavrel::ui
