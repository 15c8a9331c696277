#include "tray_icons.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace vorlund::tray {
namespace {

struct Colour {
  std::uint8_t r, g, b;
};

// A disc in the state's colour with a microphone; muted adds a slash, no stream is a pale disc
// with a dark microphone, so that each state reads at 16 pixels without its tooltip. Every
// state covers the same pixels: a tray that does not erase between icons shows no remnant.
struct Picture {
  Colour disc;
  Colour microphone;
  bool slash;
};

Picture pictureOf(TrayState state) {
  constexpr Colour white{0xff, 0xff, 0xff};
  switch (state) {
    case TrayState::live:
      return {{0x2e, 0xa0, 0x43}, white, false};
    case TrayState::muted:
      return {{0xd0, 0x30, 0x30}, white, true};
    case TrayState::bypassed:
      return {{0xe0, 0x9a, 0x10}, white, false};
    case TrayState::stale:
      return {{0x80, 0x80, 0x80}, white, false};
    case TrayState::noStream:
      break;
  }
  return {{0xd4, 0xd4, 0xd4}, {0x70, 0x70, 0x70}, false};
}

// What covers the point (x, y), in units of the icon's size: 0 nothing, 1 disc, 2 microphone,
// 3 slash.
int layerAt(const Picture& picture, double x, double y) {
  const double dx = x - 0.5, dy = y - 0.5;
  const double r2 = dx * dx + dy * dy;
  const bool slash = picture.slash && std::abs(dx + dy) < 0.07 && r2 < 0.16;
  if (slash) return 3;
  const double cx = (x - 0.5) / 0.12, cy = (y - 0.40) / 0.20;
  const bool capsule = cx * cx + cy * cy <= 1.0;
  const bool stem = std::abs(x - 0.5) < 0.04 && y > 0.58 && y < 0.76;
  const bool foot = std::abs(x - 0.5) < 0.16 && y >= 0.72 && y < 0.79;
  if (capsule || stem || foot) return 2;
  if (r2 < 0.49 * 0.49) return 1;
  return 0;
}

}  // namespace

HICON drawStateIcon(TrayState state, int size) {
  const Picture picture = pictureOf(state);
  const Colour slash{0x40, 0x08, 0x08};
  // Four by four samples a pixel smooth the edges.
  constexpr int kSamples = 4;
  std::vector<std::uint32_t> pixels(static_cast<std::size_t>(size) * size);
  for (int py = 0; py < size; ++py) {
    for (int px = 0; px < size; ++px) {
      double r = 0, g = 0, b = 0, a = 0;
      for (int sy = 0; sy < kSamples; ++sy) {
        for (int sx = 0; sx < kSamples; ++sx) {
          const double x = (px + (sx + 0.5) / kSamples) / size;
          const double y = (py + (sy + 0.5) / kSamples) / size;
          const int layer = layerAt(picture, x, y);
          if (layer == 0) continue;
          const Colour c = layer == 1 ? picture.disc : layer == 2 ? picture.microphone : slash;
          r += c.r, g += c.g, b += c.b, a += 1;
        }
      }
      if (a == 0) continue;
      const auto channel = [&](double sum) { return static_cast<std::uint32_t>(sum / a + 0.5); };
      const auto alpha = static_cast<std::uint32_t>(255.0 * a / (kSamples * kSamples) + 0.5);
      pixels[static_cast<std::size_t>(py) * size + px] =
          alpha << 24 | channel(r) << 16 | channel(g) << 8 | channel(b);
    }
  }

  BITMAPV5HEADER header{};
  header.bV5Size = sizeof header;
  header.bV5Width = size;
  header.bV5Height = -size;  // top-down
  header.bV5Planes = 1;
  header.bV5BitCount = 32;
  header.bV5Compression = BI_BITFIELDS;
  header.bV5RedMask = 0x00ff0000;
  header.bV5GreenMask = 0x0000ff00;
  header.bV5BlueMask = 0x000000ff;
  header.bV5AlphaMask = 0xff000000;
  void* bits = nullptr;
  HDC screen = GetDC(nullptr);
  HBITMAP colour = CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS,
                                    &bits, nullptr, 0);
  ReleaseDC(nullptr, screen);
  if (colour == nullptr) return nullptr;
  std::copy(pixels.begin(), pixels.end(), static_cast<std::uint32_t*>(bits));
  // The alpha channel decides; the mask only has to be there.
  const std::vector<std::uint8_t> maskBits(static_cast<std::size_t>((size + 15) / 16) * 2 * size,
                                           0);
  HBITMAP mask = CreateBitmap(size, size, 1, 1, maskBits.data());
  ICONINFO info{TRUE, 0, 0, mask, colour};
  HICON icon = CreateIconIndirect(&info);
  DeleteObject(mask);
  DeleteObject(colour);
  return icon;
}

}  // namespace vorlund::tray
