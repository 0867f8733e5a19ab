#include "kavrel/ui/gdi_image.h"

#include <cstring>

namespace kavrel::ui {

namespace gp = platform::Gdiplus;

platform::HBITMAP LoadModuleBitmap(uint32_t id, const resources::ResourceSource& module) {
  resources::ResourceBytes bytes = module.Find(id, resources::kTypeBitmap);
  if (!bytes) return nullptr;
  std::unique_ptr<gp::Bitmap> decoded(gp::Bitmap::FromMemory(bytes.data, bytes.size));
  if (decoded == nullptr || decoded->GetLastStatus() != gp::Ok) return nullptr;
  int width = static_cast<int>(decoded->GetWidth());
  int height = static_cast<int>(decoded->GetHeight());
  platform::BITMAPINFO info{};
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  void* bits = nullptr;
  platform::HBITMAP bitmap = platform::CreateDIBSection(nullptr, &info, platform::DIB_RGB_COLORS, &bits, nullptr, 0);
  if (bitmap == nullptr || bits == nullptr) return bitmap;
  auto* pixels = static_cast<uint32_t*>(bits);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      gp::Color c;
      decoded->GetPixel(x, y, &c);
      pixels[y * width + x] = 0xFF000000u | (static_cast<uint32_t>(c.GetR()) << 16) |
                              (static_cast<uint32_t>(c.GetG()) << 8) | c.GetB();
    }
  }
  return bitmap;
}

CGDIImageEx::~CGDIImageEx() { Release(); }

void CGDIImageEx::Release() {
  m_image.reset();
  m_block.clear();
  m_block.shrink_to_fit();
  m_status = gp::GenericError;
}

bool CGDIImageEx::Load(uint32_t id, const resources::ResourceSource& module) {
  Release();
  // A bitmap resource of that identifier comes first; the PNG resources are not looked at then.
  if (platform::HBITMAP bitmap = LoadModuleBitmap(id, module)) {
    m_image.reset(gp::Bitmap::FromHBITMAP(bitmap, nullptr));
    platform::DeleteObject(bitmap);  // the GDI+ bitmap holds its own copy
    m_status = m_image != nullptr ? m_image->GetLastStatus() : gp::GenericError;
    if (m_status != gp::Ok) m_image.reset();
    return m_status == gp::Ok;
  }
  resources::ResourceBytes bytes = module.Find(id, resources::kTypePng);
  if (!bytes) return false;
  m_block.assign(bytes.data, bytes.data + bytes.size);
  m_image.reset(gp::Bitmap::FromMemory(m_block.data(), m_block.size()));
  m_status = m_image != nullptr ? m_image->GetLastStatus() : gp::GenericError;
  if (m_status != gp::Ok) {
    Release();
    return false;
  }
  return true;
}

uint32_t CGDIImageEx::width() const { return m_image != nullptr ? m_image->GetWidth() : 0; }
uint32_t CGDIImageEx::height() const { return m_image != nullptr ? m_image->GetHeight() : 0; }

}  // namespace kavrel::ui
